#pragma once
// Running the linear-algebra operators on matrices in tests.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "autograd/linalg/matrix_functions.hpp"
#include "autograd/op_test_util.hpp"
#include "linalg_test_support.hpp"

namespace linalg_test {

using gradix_autograd::Array;
using OpKind = gradix_autograd::error::OpError::Kind;

inline Array arr(const Matrix& m) { return gradix_autograd::tensor_ops::matrix_functions::f64_to_owned(m); }

// Output 0 of a successful compute, as a matrix.
inline Matrix run_matrix(const gradix_autograd::op::Op& op, const std::vector<Array>& inputs) {
  const Array out = gradix_test::compute1(op, inputs);
  if (out.dimension() != 2) {
    ADD_FAILURE() << "output of rank " << out.dimension();
    return zeros(0, 0);
  }
  return gradix_autograd::tensor_ops::matrix_functions::view_to_f64(out);
}

// compute fails with this variant and text and appends nothing.
inline ::testing::AssertionResult fails_with(const gradix_autograd::op::Op& op, const std::vector<Array>& inputs,
                                             OpKind kind, const std::string& text) {
  const gradix_test::OpRun run = gradix_test::run_op(op, inputs);
  if (run.result.has_value()) return ::testing::AssertionFailure() << "succeeded, expected \"" << text << "\"";
  if (!run.outputs.empty()) return ::testing::AssertionFailure() << "appended an output on failure";
  const auto& e = run.result.error();
  if (e.kind() != kind || e.text() != text) return ::testing::AssertionFailure() << "got " << e.debug();
  return ::testing::AssertionSuccess();
}

// A 2-d error table row: inputs and the expected failure.
struct ErrorRow {
  const char* label;
  std::vector<Array> inputs;
  OpKind kind;
  std::string text;
};

inline void expect_errors(const gradix_autograd::op::Op& op, const std::vector<ErrorRow>& rows) {
  for (const ErrorRow& row : rows) EXPECT_TRUE(fails_with(op, row.inputs, row.kind, row.text)) << row.label;
}

}  // namespace linalg_test

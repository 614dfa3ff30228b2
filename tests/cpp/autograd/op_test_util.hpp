#pragma once
// Test helpers: arrays from literals, running one operator's compute, and
// element comparisons that tell -0.0 from 0.0 and match NaN with NaN.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "autograd/op.hpp"
#include "autograd/shape_helpers.hpp"
#include "support/panic.hpp"

namespace gradix_test {

using gradix_autograd::Array;
using gradix_autograd::ArrayShape;

inline Array make(const ArrayShape& shape, std::vector<double> values) {
  Array a(shape);
  EXPECT_EQ(a.size(), values.size()) << "test array literal";
  std::copy(values.begin(), values.end(), a.data());
  return a;
}
inline Array vec(std::vector<double> values) {
  const ArrayShape shape{values.size()};
  return make(shape, std::move(values));
}
inline Array scalar(double v) { return gradix_autograd::shape_helpers::make_scalar(v); }

struct OpRun {
  gradix_autograd::op::OpResult result = kvel_support::Unit{};
  std::vector<Array> outputs;
};

inline OpRun run_op(const gradix_autograd::op::Op& op, const std::vector<Array>& inputs) {
  std::vector<const Array*> views;
  for (const Array& a : inputs) views.push_back(&a);
  gradix_autograd::op::ComputeContext ctx(views);
  OpRun run;
  run.result = op.compute(ctx);
  run.outputs = std::move(ctx.outputs());
  return run;
}

// Output 0 of a successful compute with exactly one output.
inline Array compute1(const gradix_autograd::op::Op& op, const std::vector<Array>& inputs) {
  OpRun run = run_op(op, inputs);
  EXPECT_TRUE(run.result.has_value()) << (run.result.has_value() ? "" : run.result.error().debug());
  EXPECT_EQ(run.outputs.size(), 1u);
  return run.outputs.empty() ? Array() : run.outputs[0];
}

// Same shape; element-wise equal bit for bit, any NaN matching any NaN.
inline ::testing::AssertionResult same_array(const Array& got, const Array& want) {
  const auto fmt = [](const Array& a) { return gradix_autograd::shape_helpers::format_shape(gradix_autograd::extents_of(a)); };
  if (got.dimension() != want.dimension() || !std::equal(got.shape().begin(), got.shape().end(), want.shape().begin())) {
    return ::testing::AssertionFailure() << "shape " << fmt(got) << " vs " << fmt(want);
  }
  for (std::size_t i = 0; i < got.size(); ++i) {
    const double g = got.data()[i];
    const double w = want.data()[i];
    const bool equal = (std::isnan(g) && std::isnan(w)) || std::bit_cast<std::uint64_t>(g) == std::bit_cast<std::uint64_t>(w);
    if (!equal) return ::testing::AssertionFailure() << "element " << i << ": " << g << " vs " << w;
  }
  return ::testing::AssertionSuccess();
}

// The message of the fatal error `f` stops with ("" when it returns).
template <class F>
std::string fatal_message(F&& f) {
  try {
    f();
  } catch (const kvel_support::FatalError& e) {
    return e.message();
  }
  return "";
}

}  // namespace gradix_test

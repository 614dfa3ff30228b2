#include <gtest/gtest.h>

#include "autograd/tensor_ops/basic_source_ops.hpp"
#include "autograd/tensor_ops/const_gen_ops.hpp"
#include "autograd/tensor_ops/scalar_ops.hpp"
#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
using gradix_autograd::Array;
using gradix_test::compute1;
using gradix_test::make;
using gradix_test::same_array;
using gradix_test::scalar;
using gradix_test::vec;

TEST(SourceOps, ScalarIsZeroDimensional) {
  const Array out = compute1(ops::const_gen_ops::Scalar(2.5), {});
  EXPECT_EQ(out.dimension(), 0u);
  EXPECT_TRUE(same_array(out, scalar(2.5)));
}

TEST(SourceOps, ConvertToTensorGivesEqualCopies) {
  const ops::const_gen_ops::ConvertToTensor op(make({2, 3}, {1, 2, 3, 4, 5, 6}));
  const Array first = compute1(op, {});
  const Array second = compute1(op, {});
  EXPECT_TRUE(same_array(first, op.array));
  EXPECT_TRUE(same_array(second, op.array));
  EXPECT_NE(first.data(), op.array.data());
}

TEST(SourceOps, ScalarMulOp) {
  const double inf = INFINITY;
  const struct {
    double factor;
    std::vector<Array> inputs;
    Array want;
  } rows[] = {
      {3.0, {make({2, 2}, {1, 2, 3, 4})}, make({2, 2}, {3, 6, 9, 12})},
      {3.0, {vec({})}, vec({})},
      {0.0, {vec({1.0, inf})}, vec({0.0, NAN})},
      {-2.0, {}, scalar(-0.0)},  // the missing input is the 0-d zero
  };
  for (const auto& row : rows) {
    EXPECT_TRUE(same_array(compute1(ops::scalar_ops::ScalarMulOp(row.factor), row.inputs), row.want));
  }
}

TEST(SourceOps, VariableAndPlaceholderCopyInputZero) {
  const ops::basic_source_ops::Variable variable;
  const ops::basic_source_ops::Placeholder placeholder;
  for (const gradix_autograd::op::Op* op : {static_cast<const gradix_autograd::op::Op*>(&variable),
                                             static_cast<const gradix_autograd::op::Op*>(&placeholder)}) {
    EXPECT_TRUE(same_array(compute1(*op, {}), scalar(0.0)));
    EXPECT_TRUE(same_array(compute1(*op, {vec({1, 2, 3, 4})}), vec({1, 2, 3, 4})));
  }
}

}  // namespace

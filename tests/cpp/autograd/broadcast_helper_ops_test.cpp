#include "autograd/tensor_ops/broadcast_helper_ops.hpp"

#include <gtest/gtest.h>

#include "autograd/constructors.hpp"
#include "autograd/graph.hpp"
#include "autograd/tensor_ops/reduction_ops.hpp"
#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
using gradix_autograd::Array;
using gradix_autograd::op::Op;
using gradix_test::make;
using gradix_test::same_array;
using gradix_test::scalar;
using gradix_test::vec;

const ops::array_ops::InferBinOpShape kInfer;
const ops::binary_ops::MaybeBroadcast kBroadcast;
const ops::binary_ops::MaybeReduceSum kReduce;

struct Row {
  const char* what;
  const Op* op;
  Array x0, x1;
  Array want;             // when `error` is empty
  std::string error = {};  // the IncompatibleShape text
};

void check(const Row& row) {
  gradix_test::OpRun run = gradix_test::run_op(*row.op, {row.x0, row.x1});
  if (row.error.empty()) {
    ASSERT_TRUE(run.result.has_value()) << row.what << ": " << run.result.error().debug();
    ASSERT_EQ(run.outputs.size(), 1u) << row.what;
    EXPECT_TRUE(same_array(run.outputs[0], row.want)) << row.what;
  } else {
    ASSERT_FALSE(run.result.has_value()) << row.what;
    EXPECT_EQ(run.result.error().kind(), gradix_autograd::error::OpError::Kind::IncompatibleShape);
    EXPECT_EQ(run.result.error().text(), row.error) << row.what;
    EXPECT_TRUE(run.outputs.empty());
  }
}

TEST(BroadcastHelpers, InferBinOpShape) {
  const Row rows[] = {
      {"[1] with [2, 3]", &kInfer, vec({1}), vec({2, 3}), vec({2, 3})},
      {"[2, 3] with []", &kInfer, vec({2, 3}), vec({}), vec({2, 3})},
      {"unknowns defer", &kInfer, vec({2, -1}), vec({-1, 3}), vec({2, 3})},
      {"two unknowns", &kInfer, vec({-1}), vec({-1}), vec({-1})},
      {"larger extent", &kInfer, vec({2, 5}), vec({4, 5}), vec({4, 5})},
      {"1 against 5", &kInfer, vec({1, 3}), vec({5, 3}), vec({5, 3})},
      {"[1] and [1] copy rhs", &kInfer, vec({1}), vec({1}), vec({1})},
      {"scalar-like rhs copies lhs with its unknowns", &kInfer, vec({-1, 3}), vec({1}), vec({-1, 3})},
      // Different ranks align their trailing axes, as NumPy broadcasts.
      {"[2, 3] with [3]", &kInfer, vec({2, 3}), vec({3}), vec({2, 3})},
      {"[3] with [4, 2, 3]", &kInfer, vec({3}), vec({4, 2, 3}), vec({4, 2, 3})},
      {"leading unknowns stay unknown", &kInfer, vec({-1, 2, 3}), vec({1, 3}), vec({-1, 2, 3})},
      {"0.5 is not scalar-like", &kInfer, vec({0.5}), vec({2, 3}), vec({2, 3})},
      {"[1] with [] keeps the axis", &kInfer, vec({1}), vec({}), vec({1})},
      {"[] with [1] keeps the axis", &kInfer, vec({}), vec({1}), vec({1})},
  };
  for (const Row& row : rows) check(row);
}

TEST(BroadcastHelpers, MaybeBroadcast) {
  const std::string refused = "PreprocessBinOpGradGrad: Can't broadcast.";
  const Row rows[] = {
      {"row to matrix", &kBroadcast, vec({1, 2, 3}), vec({2, 3}), make({2, 3}, {1, 2, 3, 1, 2, 3})},
      {"0-d fills", &kBroadcast, scalar(7), vec({2, 2}), make({2, 2}, {7, 7, 7, 7})},
      {"[1] fills", &kBroadcast, vec({7}), vec({3, 1}), make({3, 1}, {7, 7, 7})},
      {"column stretches", &kBroadcast, make({2, 1}, {1, 2}), vec({2, 2}), make({2, 2}, {1, 1, 2, 2})},
      {"already the target", &kBroadcast, make({2, 1}, {1, 2}), vec({2, 1}), make({2, 1}, {1, 2})},
      {"truncated target extents", &kBroadcast, vec({4}), vec({2.9}), vec({4, 4})},
      {"[2] to [3]", &kBroadcast, vec({1, 2}), vec({3}), {}, refused},
      {"more axes than the target", &kBroadcast, make({2, 2}, {1, 2, 3, 4}), vec({2}), {}, refused},
  };
  for (const Row& row : rows) check(row);
}

TEST(BroadcastHelpers, MaybeReduceSum) {
  const Array g23 = make({2, 3}, {1, 2, 3, 4, 5, 6});
  const Row rows[] = {
      {"[2, 3] to [3]", &kReduce, g23, vec({3}), vec({5, 7, 9})},
      {"[2, 3] to [2, 1]", &kReduce, g23, vec({2, 1}), make({2, 1}, {6, 15})},
      {"[2, 3] to []", &kReduce, g23, vec({}), scalar(21)},
      {"[2, 3] to [1]", &kReduce, g23, vec({1}), vec({21})},
      {"[4] to []", &kReduce, vec({1, 2, 3, 4.5}), vec({}), scalar(10.5)},
      {"[1, 3, 1] to [1]", &kReduce, make({1, 3, 1}, {1, 2, 3}), vec({1}), vec({6})},
      {"[3, 1] to [1, 1]", &kReduce, make({3, 1}, {1, 2, 3}), vec({1, 1}), make({1, 1}, {6})},
      {"[0, 3] to [1]", &kReduce, make({0, 3}, {}), vec({1}), {},
       "MaybeReduceSum: incompatible shapes origshape=[1, 1] gyshape=[0, 3] at dim 0"},
      {"[2, 3] to itself", &kReduce, g23, vec({2, 3}), g23},
      {"[1, 3] to [3] reshapes", &kReduce, make({1, 3}, {1, 2, 3}), vec({3}), vec({1, 2, 3})},
      {"[3] to [3, 3] is unchanged", &kReduce, vec({1, 2, 3}), vec({3, 3}), vec({1, 2, 3})},
      {"[3] to [2, 3]", &kReduce, vec({1, 2, 3}), vec({2, 3}), {},
       "MaybeReduceSum: incompatible shapes origshape=[2, 3] gyshape=[3] at dim 0"},
      {"[2, 0] to [2, 1]", &kReduce, make({2, 0}, {}), vec({2, 1}), {},
       "MaybeReduceSum: incompatible shapes origshape=[2, 1] gyshape=[2, 0] at dim 1"},
      {"[2, 3] to [4, 1] fails after a sum", &kReduce, g23, vec({4, 1}), {},
       "MaybeReduceSum: incompatible shapes origshape=[4, 1] gyshape=[2, 3] at dim 0"},
  };
  for (const Row& row : rows) check(row);
}

TEST(BroadcastHelpers, MaybeReduceSumAddsInIndexOrder) {
  // Summed from 0.0 upward: (0 + 1e16) + 1 + -1e16 is 0, not 1.
  const Row row{"order", &kReduce, make({3, 1}, {1e16, 1, -1e16}), vec({1}), vec({0})};
  check(row);
}

TEST(BroadcastHelpers, ShapeToSizes) {
  const std::vector<std::size_t> sizes =
      gradix_autograd::shape_helpers::shape_to_sizes(vec({2.9, -0.5, -1, NAN, 1.8446744073709552e19, 3}));
  EXPECT_EQ(sizes, (std::vector<std::size_t>{2, 0, 0, 0, 0, 3}));
}

// A computed shape whose element count overflows (2^96 here, which wraps to
// 0) makes no array: each operator that would make one returns the error,
// and making such an array directly is fatal.
TEST(BroadcastHelpers, ShapesBeyondAnyArrayAreRefused) {
  const double big = 4294967296.0;
  const Array huge = vec({big, big, big});
  const std::string error = "an array of shape [4294967296, 4294967296, 4294967296] has more elements than can be addressed";
  const Row rows[] = {
      {"broadcast", &kBroadcast, scalar(1), huge, {}, error},
      {"broadcast of a matching row", &kBroadcast, make({1, 1, 1}, {1}), huge, {}, error},
  };
  for (const Row& row : rows) check(row);
  namespace red = ops::reduction_ops;
  const red::ReduceSumToScalarGrad spread;
  const gradix_test::OpRun spread_run = gradix_test::run_op(spread, {scalar(1), huge});
  ASSERT_FALSE(spread_run.result.has_value());
  EXPECT_EQ(spread_run.result.error().text(), error);
  const red::ReduceGradCommon common(true, false);
  const gradix_test::OpRun common_run = gradix_test::run_op(common, {scalar(1), huge, vec({0})});
  ASSERT_FALSE(common_run.result.has_value());
  EXPECT_EQ(common_run.result.error().text(), error);
  const std::size_t shape[] = {std::size_t{1} << 32, std::size_t{1} << 32, std::size_t{1} << 32};
  EXPECT_EQ(gradix_test::fatal_message([&] { gradix_autograd::shape_helpers::make_array(shape); }), error);
  // The byte count overflows too: 2^61 doubles.
  const std::size_t bytes[] = {std::size_t{1} << 61};
  EXPECT_NE(gradix_test::fatal_message([&] { gradix_autograd::shape_helpers::make_array(bytes); }), "");
  gradix_autograd::graph::run([&](gradix_autograd::graph::Context& ctx) {
    EXPECT_EQ(gradix_test::fatal_message([&] { gradix_autograd::tensor::from_vec({}, shape, ctx.graph()); }), error);
  });
}

}  // namespace

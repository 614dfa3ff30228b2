// The gradients of DiagOp and MatrixInverseOp, built as graph nodes.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/grad_context.hpp"
#include "autograd/linalg/linalg_ops.hpp"
#include "autograd/linalg/matrix_ops.hpp"
#include "linalg_op_test_support.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
using gradix_autograd::Array;
using gradix_autograd::graph::Context;
using gradix_autograd::op::Op;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::tensor::TensorBuilder;
using gradix_test::same_array;
using gradix_test::vec;
using linalg_test::arr;
using linalg_test::mat;
using Grads = std::vector<std::optional<Tensor>>;

Tensor constant(Context& ctx, Array value) { return ops::convert_to_tensor(std::move(value), ctx.graph()); }

// Builds op over x, runs its grad with gy, and returns the input gradients.
template <class O>
Grads grad_of(Context& ctx, const Tensor& x, const Tensor& gy) {
  const Tensor y = TensorBuilder(ctx.graph()).append_input(x, false).build(O{});
  const Tensor outputs[] = {y};
  const Tensor inputs[] = {x};
  const Tensor output_grads[] = {gy};
  Grads grads;
  gradix_autograd::op::GradientContext g(outputs, inputs, ctx, output_grads, grads, 0);
  O{}.grad(g);
  return grads;
}

Array value_of(Context& ctx, const std::optional<Tensor>& t) {
  EXPECT_TRUE(t.has_value());
  if (!t) return Array();
  auto v = gradix_autograd::evaluation::Evaluator(ctx).eval(*t);
  EXPECT_TRUE(v.has_value());
  return v.has_value() ? *v : Array();
}

TEST(DiagOpGrad, DiagonalOfTheGradient) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = constant(ctx, vec({1, 2}));
    const Grads grads = grad_of<ops::linalg_ops::DiagOp>(ctx, x, constant(ctx, arr(mat({{1, 2}, {3, 4}}))));
    ASSERT_EQ(grads.size(), 1u);
    EXPECT_TRUE(same_array(value_of(ctx, grads[0]), vec({1, 4})));
  });
}

// Placeholders upstream: the gradient is a node of the graph, evaluated with
// the caller's feeds, not a constant taken at construction (which saw no
// feeds). A gy that fails makes the gradient fail to evaluate, not stop.
TEST(DiagOpGrad, NodesThatHoldUnderPlaceholders) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {2});
    const Tensor p = ctx.placeholder("g", {2, 2});
    const Tensor gy = ops::arithmetic::mul(p, ops::scalar(ctx.graph(), 2.0));
    const Grads grads = grad_of<ops::linalg_ops::DiagOp>(ctx, x, gy);
    ASSERT_EQ(grads.size(), 1u);
    ASSERT_TRUE(grads[0].has_value());
    // Feeds are views: the values must outlive the evaluation.
    const Array xv = vec({5, 6});
    const Array gv = arr(mat({{1, 2}, {3, 4}}));
    gradix_autograd::evaluation::Evaluator e(ctx);
    e.feed("x", xv);
    e.feed("g", gv);
    const auto value = e.eval(*grads[0]);
    ASSERT_TRUE(value.has_value()) << value.error().debug();
    EXPECT_TRUE(same_array(*value, vec({2, 8})));

    const Tensor failing = TensorBuilder(ctx.graph()).append_input(x, false).build(ops::matrix_ops::MatrixInverseOp{});
    const Grads failed = grad_of<ops::linalg_ops::DiagOp>(ctx, x, failing);
    ASSERT_TRUE(failed[0].has_value());
    gradix_autograd::evaluation::Evaluator f(ctx);
    f.feed("x", xv);
    EXPECT_FALSE(f.eval(*failed[0]).has_value());
  });
}

TEST(DiagOpGrad, GyOfAnotherGraphIsFatal) {
  gradix_autograd::graph::run([](Context& other) {
    const Tensor foreign = constant(other, arr(mat({{1}})));
    gradix_autograd::graph::run([&foreign](Context& ctx) {
      const Tensor x = constant(ctx, vec({1}));
      EXPECT_EQ(gradix_test::fatal_message([&] { grad_of<ops::linalg_ops::DiagOp>(ctx, x, foreign); }),
                "Detected tensors belonging to different graphs");
    });
  });
}

TEST(MatrixInverseOpGrad, NegatedSandwichProduct) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = constant(ctx, arr(mat({{2}})));
    const Grads grads = grad_of<ops::matrix_ops::MatrixInverseOp>(ctx, x, constant(ctx, arr(mat({{1}}))));
    ASSERT_EQ(grads.size(), 1u);
    EXPECT_TRUE(same_array(value_of(ctx, grads[0]), arr(mat({{-0.25}}))));

    // −Yᵀ·G·Yᵀ for a 2 × 2 matrix: Y = [[0.5, 0], [0, 0.25]], G = [[1, 2], [3, 4]].
    const Tensor x2 = constant(ctx, arr(mat({{2, 0}, {0, 4}})));
    const Grads g2 = grad_of<ops::matrix_ops::MatrixInverseOp>(ctx, x2, constant(ctx, arr(mat({{1, 2}, {3, 4}}))));
    EXPECT_TRUE(same_array(value_of(ctx, g2[0]), arr(mat({{-0.25, -0.25}, {-0.375, -0.25}}))));
  });
}

TEST(MatrixInverseOpGrad, NodesThatHoldUnderPlaceholders) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {2, 2});
    const Grads grads = grad_of<ops::matrix_ops::MatrixInverseOp>(ctx, x, constant(ctx, arr(mat({{1, 2}, {3, 4}}))));
    ASSERT_TRUE(grads[0].has_value());
    const Array xv = arr(mat({{2, 0}, {0, 4}}));
    const Array singular = arr(mat({{0, 0}, {0, 0}}));
    gradix_autograd::evaluation::Evaluator e(ctx);
    e.feed("x", xv);
    const auto value = e.eval(*grads[0]);
    ASSERT_TRUE(value.has_value()) << value.error().debug();
    EXPECT_TRUE(same_array(*value, arr(mat({{-0.25, -0.25}, {-0.375, -0.25}}))));
    // A singular x: the gradient fails to evaluate.
    gradix_autograd::evaluation::Evaluator f(ctx);
    f.feed("x", singular);
    EXPECT_FALSE(f.eval(*grads[0]).has_value());
  });
}

}  // namespace

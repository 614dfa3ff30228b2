// The eager gradients of DiagOp and MatrixInverseOp.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/linalg_ops.hpp"
#include "autograd/tensor_ops/matrix_ops.hpp"
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

TEST(DiagOpGrad, NoGradientForNonSquareOrFailingGy) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = constant(ctx, vec({1, 2}));
    EXPECT_EQ(grad_of<ops::linalg_ops::DiagOp>(ctx, x, constant(ctx, arr(mat({{1, 2, 3}, {4, 5, 6}})))), Grads(1));
    EXPECT_EQ(grad_of<ops::linalg_ops::DiagOp>(ctx, x, constant(ctx, vec({1, 2}))), Grads(1));
    // A gy whose evaluation fails: the inverse of a vector.
    const Tensor failing = TensorBuilder(ctx.graph()).append_input(x, false).build(ops::matrix_ops::MatrixInverseOp{});
    EXPECT_EQ(grad_of<ops::linalg_ops::DiagOp>(ctx, x, failing), Grads(1));
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

TEST(MatrixInverseOpGrad, NoGradientWhenAValueIsMissingOrMisfit) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor singular = constant(ctx, arr(mat({{0}})));
    EXPECT_EQ(grad_of<ops::matrix_ops::MatrixInverseOp>(ctx, singular, constant(ctx, arr(mat({{1}})))), Grads(1));
    const Tensor x = constant(ctx, arr(mat({{2}})));
    EXPECT_EQ(grad_of<ops::matrix_ops::MatrixInverseOp>(ctx, x, constant(ctx, vec({1}))), Grads(1));
    EXPECT_EQ(grad_of<ops::matrix_ops::MatrixInverseOp>(ctx, x, constant(ctx, arr(mat({{1, 2}})))), Grads(1));
  });
}

}  // namespace

#include "autograd/tensor_ops/dot_ops.hpp"

#include <gtest/gtest.h>

#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/const_gen_ops.hpp"
#include "op_test_util.hpp"

namespace {

using gradix_autograd::Array;
using gradix_autograd::ArrayShape;
using gradix_autograd::tensor_ops::dot_ops::dotshape_error;
using gradix_autograd::tensor_ops::dot_ops::MatMul;
using gradix_test::make;
using gradix_test::run_op;
using gradix_test::same_array;
using gradix_test::scalar;
using gradix_test::vec;

struct ProductCase {
  const char* label;
  bool transpose_a;
  bool transpose_b;
  Array a;
  Array b;
  Array want;
};

TEST(MatMul, ProductsOfEveryRank) {
  const Array m23 = make({2, 3}, {1, 2, 3, 4, 5, 6});
  const ProductCase cases[] = {
      {"vector dot vector is 1x1", false, false, vec({1, 2, 3}), vec({4, 5, 6}), make({1, 1}, {32})},
      {"row times matrix", false, false, vec({1, 2}), make({2, 4}, {1, 2, 3, 4, 5, 6, 7, 8}),
       make({1, 4}, {11, 14, 17, 20})},
      {"0-d times row", false, false, scalar(2.0), make({1, 3}, {1, 2, 3}), make({1, 3}, {2, 4, 6})},
      {"matrix times column", false, false, m23, vec({1, 0, -1}), make({2, 1}, {-2, -2})},
      {"a times a transposed", false, true, m23, m23, make({2, 2}, {14, 32, 32, 77})},
      {"a transposed times a", true, false, m23, m23, make({3, 3}, {17, 22, 27, 22, 29, 36, 27, 36, 45})},
      {"zero inner extent", false, false, Array(ArrayShape{2, 0}), Array(ArrayShape{0, 5}),
       make({2, 5}, std::vector<double>(10, 0.0))},
      {"zero outer extent", false, false, Array(ArrayShape{0, 3}), make({3, 2}, {1, 2, 3, 4, 5, 6}),
       Array(ArrayShape{0, 2})},
  };
  for (const ProductCase& c : cases) {
    EXPECT_TRUE(same_array(gradix_test::compute1(MatMul(c.transpose_a, c.transpose_b), {c.a, c.b}), c.want))
        << c.label;
  }
}

TEST(MatMul, OneInputGivesA1x1Zero) {
  EXPECT_TRUE(same_array(gradix_test::compute1(MatMul(false, false), {vec({1, 2})}), make({1, 1}, {0})));
}

TEST(MatMul, ShapeErrors) {
  struct ErrorCase {
    Array a;
    Array b;
    std::string want;
  };
  const ErrorCase cases[] = {
      {make({2, 3}, {1, 2, 3, 4, 5, 6}), make({2, 3}, {1, 2, 3, 4, 5, 6}),
       "IncompatibleShape(\"ndarray: inputs 2 \u00d7 3 and 2 \u00d7 3 are not compatible for matrix "
       "multiplication\")"},
      {Array(ArrayShape{2, 2, 2}), Array(ArrayShape{2, 2, 2}),
       "IncompatibleShape(\"lhs input for MatMul must be 0D, 1D, or 2D, got shape: [2, 2, 2]\")"},
      {vec({1}), Array(ArrayShape{1, 1, 1}),
       "IncompatibleShape(\"rhs input for MatMul must be 0D, 1D, or 2D, got shape: [1, 1, 1]\")"},
  };
  for (const ErrorCase& c : cases) {
    const gradix_test::OpRun run = run_op(MatMul(false, false), {c.a, c.b});
    ASSERT_FALSE(run.result.has_value());
    EXPECT_EQ(run.result.error().debug(), c.want);
    EXPECT_TRUE(run.outputs.empty());
  }
}

TEST(MatMul, DotshapeErrorTexts) {
  EXPECT_EQ(dotshape_error(2, 3, 4, 5),
            "ndarray: inputs 2 \u00d7 3 and 4 \u00d7 5 are not compatible for matrix multiplication");
  EXPECT_EQ(dotshape_error(1ULL << 32, 1, 2, 1ULL << 32), "ndarray: shape 4294967296 \u00d7 4294967296 overflows isize");
  EXPECT_EQ(dotshape_error(1ULL << 62, 1, 2, 2), "ndarray: shape 4611686018427387904 \u00d7 2 overflows isize");
}

TEST(MatMul, GradBuildsProductsReshapedToTheOperands) {
  gradix_autograd::graph::run([](gradix_autograd::graph::Context& ctx) {
    using gradix_autograd::tensor::Tensor;
    using gradix_autograd::tensor::TensorBuilder;
    namespace cg = gradix_autograd::tensor_ops::const_gen_ops;
    namespace names = gradix_autograd::op_names;
    const Tensor x0 = TensorBuilder(ctx.graph()).build(cg::Scalar(1.0));
    const Tensor x1 = TensorBuilder(ctx.graph()).build(cg::Scalar(2.0));
    const Tensor y = TensorBuilder(ctx.graph()).append_input(x0, false).append_input(x1, false).build(MatMul(false, false));
    const Tensor gy = TensorBuilder(ctx.graph()).build(cg::Scalar(3.0));
    const std::vector<Tensor> outputs{y};
    const std::vector<Tensor> inputs{x0, x1};
    const std::vector<Tensor> output_grads{gy};
    std::vector<std::optional<Tensor>> input_grads;
    gradix_autograd::op::GradientContext gctx(outputs, inputs, ctx, output_grads, input_grads, 0);
    MatMul(false, false).grad(gctx);
    ASSERT_EQ(input_grads.size(), 2u);
    const auto nodes = ctx.graph().nodes();
    // Reshape(MatMul(first, second), Shape(operand)).
    const auto check = [&](const Tensor& g, Tensor first, Tensor second, bool ta, bool tb, Tensor operand) {
      const auto& reshape = nodes[g.id()];
      ASSERT_EQ(reshape.op.get()->name(), names::kReshape);
      ASSERT_EQ(reshape.inputs.size(), 2u);
      const auto& target = nodes[reshape.inputs[1].id];
      EXPECT_EQ(target.op.get()->name(), names::kShape);
      EXPECT_EQ(target.inputs[0].id, operand.id());
      const auto& node = nodes[reshape.inputs[0].id];
      ASSERT_EQ(node.inputs.size(), 2u);
      EXPECT_EQ(node.inputs[0].id, first.id());
      EXPECT_EQ(node.inputs[1].id, second.id());
      const auto* op = dynamic_cast<const MatMul*>(node.op.get());
      ASSERT_NE(op, nullptr);
      EXPECT_EQ(op->transpose_a, ta);
      EXPECT_EQ(op->transpose_b, tb);
    };
    EXPECT_EQ(input_grads[0]->id(), 6u);
    EXPECT_EQ(input_grads[1]->id(), 9u);
    check(*input_grads[0], gy, x1, false, true, x0);
    check(*input_grads[1], x0, gy, true, false, x1);
  });
}

}  // namespace

// The single-node matrix builders: how many nodes each adds, their ids, the
// operator fields and input order, and the graph check of a second operand.
#include <gtest/gtest.h>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/op_test_util.hpp"
#include "autograd/tensor_ops/array_constructors.hpp"
#include "autograd/tensor_ops/array_ops.hpp"
#include "autograd/tensor_ops/dot_ops.hpp"
#include "autograd/linalg/linear_algebra.hpp"

namespace {

namespace la = gradix_autograd::tensor_ops::linear_algebra;
namespace names = gradix_autograd::op_names;
using gradix_autograd::graph::Context;
using gradix_autograd::graph::Graph;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::tensor::TensorId;
using gradix_test::make;

const gradix_autograd::op::Op& op_of(const Tensor& t) { return *t.graph().nodes()[t.id()].op.get(); }

std::vector<TensorId> input_ids(const Tensor& t) {
  std::vector<TensorId> ids;
  for (const auto& input : t.graph().nodes()[t.id()].inputs) ids.push_back(input.id);
  return ids;
}

TEST(LinearAlgebraBuilders, TransposeBuildsThePermutationThenTheNode) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {2, 3});
    const std::size_t before = ctx.graph().num_nodes();
    const Tensor t = la::transpose(x, {1, 0});
    ASSERT_EQ(ctx.graph().num_nodes(), before + 2);
    EXPECT_EQ(t.id(), before + 1);
    EXPECT_EQ(input_ids(t), (std::vector<TensorId>{x.id(), before}));
    const auto* op = dynamic_cast<const gradix_autograd::tensor_ops::math_ops::Transpose*>(&op_of(t));
    ASSERT_NE(op, nullptr);
    EXPECT_FALSE(op->invert_axes);
    EXPECT_EQ(op_of(Tensor(ctx.graph(), before)).name(), names::kConvertToTensor);

    const gradix_autograd::Array value = make({2, 3}, {1, 2, 3, 4, 5, 6});
    gradix_autograd::evaluation::Evaluator e(ctx);
    e.feed("x", value);
    e.push(Tensor(ctx.graph(), before)).push(t);
    const auto values = e.run();
    ASSERT_TRUE(values[0].has_value() && values[1].has_value());
    EXPECT_TRUE(gradix_test::same_array(*values[0], gradix_test::vec({1.0, 0.0})));
    EXPECT_TRUE(gradix_test::same_array(*values[1], make({3, 2}, {1, 4, 2, 5, 3, 6})));
  });
}

TEST(LinearAlgebraBuilders, MatmulIsOneNodeWithoutTransposition) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor a = ctx.placeholder("a", {2, 3});
    const Tensor b = ctx.placeholder("b", {3, 2});
    const std::size_t before = ctx.graph().num_nodes();
    const Tensor p = la::matmul(a, b);
    EXPECT_EQ(ctx.graph().num_nodes(), before + 1);
    EXPECT_EQ(p.id(), before);
    EXPECT_EQ(input_ids(p), (std::vector<TensorId>{a.id(), b.id()}));
    const auto* op = dynamic_cast<const gradix_autograd::tensor_ops::dot_ops::MatMul*>(&op_of(p));
    ASSERT_NE(op, nullptr);
    EXPECT_FALSE(op->transpose_a);
    EXPECT_FALSE(op->transpose_b);
    EXPECT_TRUE(ctx.graph().nodes()[p.id()].differentiable);
  });
}

// One input, no shape hint: a later `shape` of the node adds a Shape node.
TEST(LinearAlgebraBuilders, InverseAndDiagAreOneNodeWithoutAHint) {
  const struct {
    std::string_view name;
    Tensor (*build)(const Tensor&);
  } cases[] = {{names::kMatrixInverseOp, la::matrix_inverse}, {names::kDiagOp, la::diag}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    gradix_autograd::graph::run([&](Context& ctx) {
      const Tensor x = ctx.placeholder("x", {2, 2});
      const std::size_t before = ctx.graph().num_nodes();
      const Tensor n = c.build(x);
      EXPECT_EQ(n.id(), before);
      EXPECT_EQ(op_of(n).name(), c.name);
      EXPECT_EQ(input_ids(n), (std::vector<TensorId>{x.id()}));
      EXPECT_FALSE(ctx.graph().nodes()[n.id()].shape_hint.has_value());
      const Tensor s = gradix_autograd::tensor_ops::shape(n);
      EXPECT_EQ(s.id(), before + 1);
      EXPECT_EQ(op_of(s).name(), names::kShape);
    });
  }
}

TEST(LinearAlgebraBuilders, MatmulAcrossGraphsIsFatalBeforeAnyNode) {
  gradix_autograd::graph::run([](Context& first) {
    const Tensor a = first.placeholder("a", {2, 2});
    gradix_autograd::graph::run([&](Context& second) {
      const Tensor b = second.placeholder("b", {2, 2});
      const std::size_t first_before = first.graph().num_nodes();
      const std::size_t second_before = second.graph().num_nodes();
      EXPECT_EQ(gradix_test::fatal_message([&] { la::matmul(a, b); }),
                "Detected tensors belonging to different graphs");
      EXPECT_EQ(first.graph().num_nodes(), first_before);
      EXPECT_EQ(second.graph().num_nodes(), second_before);
    });
  });
}

}  // namespace

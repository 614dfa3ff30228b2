// The gradient operations that build no node: they only set entries of the
// input-gradient list.
#include <gtest/gtest.h>

#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/basic_source_ops.hpp"
#include "autograd/tensor_ops/broadcast_helper_ops.hpp"
#include "autograd/tensor_ops/const_gen_ops.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
using gradix_autograd::op::Op;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::tensor::TensorBuilder;
using Grads = std::vector<std::optional<Tensor>>;

TEST(GradEntries, OperatorsThatBuildNoNode) {
  gradix_autograd::graph::run([](gradix_autograd::graph::Context& ctx) {
    const Tensor a = TensorBuilder(ctx.graph()).build(ops::const_gen_ops::Scalar(1.0));
    const Tensor b = TensorBuilder(ctx.graph()).build(ops::const_gen_ops::Scalar(2.0));
    const Tensor gy = TensorBuilder(ctx.graph()).build(ops::const_gen_ops::Scalar(1.0));
    const Tensor outputs[] = {a};
    const Tensor grads[] = {gy};
    const Tensor inputs[] = {a, b};
    const auto run_grad = [&](const Op& op, std::size_t num_inputs) {
      Grads input_grads;
      gradix_autograd::op::GradientContext g(outputs, std::span<const Tensor>(inputs, num_inputs), ctx, grads,
                                             input_grads, 0);
      op.grad(g);
      return input_grads;
    };
    EXPECT_TRUE(run_grad(ops::const_gen_ops::ConvertToTensor(gradix_test::scalar(1.0)), 0).empty());
    EXPECT_EQ(run_grad(ops::const_gen_ops::Scalar(1.0), 0), Grads(1));
    EXPECT_EQ(run_grad(ops::basic_source_ops::Variable{}, 0), Grads{gy});
    EXPECT_EQ(run_grad(ops::basic_source_ops::Placeholder{}, 0), Grads{gy});
    EXPECT_EQ(run_grad(ops::math_ops::Equal{}, 2), Grads(2));
    EXPECT_EQ(run_grad(ops::math_ops::Greater{}, 2), Grads(2));
    EXPECT_EQ(run_grad(ops::array_ops::InferBinOpShape{}, 2), Grads(2));
    EXPECT_EQ(ctx.graph().num_nodes(), 3u);
  });
}

TEST(GradEntries, SettingAnEntryExtendsTheList) {
  gradix_autograd::graph::run([](gradix_autograd::graph::Context& ctx) {
    const Tensor y = TensorBuilder(ctx.graph()).build(ops::const_gen_ops::Scalar(1.0));
    const Tensor outputs[] = {y};
    Grads input_grads;
    gradix_autograd::op::GradientContext g(outputs, {}, ctx, outputs, input_grads, 0);
    g.set_input_grad(2, y);
    EXPECT_EQ(input_grads, (Grads{std::nullopt, std::nullopt, y}));
    EXPECT_EQ(gradix_test::fatal_message([&] { g.input(0); }), "index out of bounds: the len is 0 but the index is 0");
  });
}

}  // namespace

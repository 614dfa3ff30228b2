// The gradient operations that build nodes, checked against central finite
// differences of the operator's own compute: for L = sum(w * y), entry i of
// the input gradients evaluated with gy = w must match dL/dx_i.
#include <gtest/gtest.h>

#include <cmath>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/binary_ops.hpp"
#include "autograd/tensor_ops/broadcast_helper_ops.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "autograd/tensor_ops/scalar_ops.hpp"
#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
using gradix_autograd::Array;
using gradix_autograd::op::Op;
using gradix_autograd::tensor::Tensor;
using gradix_test::make;
using gradix_test::vec;

double weighted_sum(const Op& op, const std::vector<Array>& inputs, const Array& w) {
  const Array y = gradix_test::compute1(op, inputs);
  double total = 0.0;
  for (std::size_t i = 0; i < y.size(); ++i) total += w.data()[i] * y.data()[i];
  return total;
}

// Weights 0.5, 1.0, 1.5, ... over the output's shape.
Array weights_for(const Op& op, const std::vector<Array>& inputs) {
  Array w = gradix_test::compute1(op, inputs);
  for (std::size_t i = 0; i < w.size(); ++i) w.data()[i] = 0.5 * static_cast<double>(i + 1);
  return w;
}

template <class O>
void check_grad(const char* label, O op, const std::vector<Array>& inputs) {
  SCOPED_TRACE(label);
  const Array w = weights_for(op, inputs);
  gradix_autograd::graph::run([&](gradix_autograd::graph::Context& ctx) {
    auto& g = ctx.graph();
    std::vector<Tensor> xs;
    for (const Array& x : inputs) xs.push_back(ops::convert_to_tensor(x, g));
    gradix_autograd::tensor::TensorBuilder builder(g);
    for (const Tensor& x : xs) builder.append_input(x, false);
    const Tensor y = builder.build(O(op));
    const std::vector<Tensor> outputs{y};
    const std::vector<Tensor> output_grads{ops::convert_to_tensor(w, g)};
    std::vector<std::optional<Tensor>> input_grads;
    gradix_autograd::op::GradientContext gctx(outputs, xs, ctx, output_grads, input_grads, 0);
    op.grad(gctx);
    ASSERT_EQ(input_grads.size(), inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      ASSERT_TRUE(input_grads[i].has_value()) << "input " << i;
      const auto got = gradix_autograd::evaluation::Evaluator(ctx).eval(*input_grads[i]);
      ASSERT_TRUE(got.has_value()) << got.error().debug();
      ASSERT_EQ(got->shape(), inputs[i].shape()) << "input " << i;
      for (std::size_t j = 0; j < inputs[i].size(); ++j) {
        std::vector<Array> plus = inputs;
        std::vector<Array> minus = inputs;
        const double h = 1e-6;
        plus[i].data()[j] += h;
        minus[i].data()[j] -= h;
        const double numeric = (weighted_sum(op, plus, w) - weighted_sum(op, minus, w)) / (2 * h);
        EXPECT_NEAR(got->data()[j], numeric, 1e-6 * (1 + std::abs(numeric))) << "input " << i << " element " << j;
      }
    }
  });
}

TEST(NodeBuildingGrads, MatchFiniteDifferences) {
  const Array a = vec({0.5, 1.5, 2.0});
  const Array b = vec({1.25, -0.75, 3.0});
  const Array m = make({2, 3}, {0.5, 1.0, 1.5, 2.0, 2.5, 3.0});
  check_grad("add", ops::binary_ops::AddOp{}, {a, b});
  check_grad("add broadcast", ops::binary_ops::AddOp{}, {m, b});
  check_grad("sub", ops::binary_ops::SubOp{}, {a, b});
  check_grad("sub broadcast", ops::binary_ops::SubOp{}, {b, m});
  check_grad("mul", ops::binary_ops::MulOp{}, {a, b});
  check_grad("mul broadcast", ops::binary_ops::MulOp{}, {m, b});
  check_grad("div", ops::binary_ops::DivOp{}, {a, b});
  check_grad("div broadcast", ops::binary_ops::DivOp{}, {m, b});
  check_grad("exp", ops::math_ops::Exp{}, {a});
  check_grad("ln", ops::math_ops::Ln{}, {a});
  check_grad("neg", ops::math_ops::NegOp{}, {b});
  check_grad("pow 3", ops::math_ops::Pow(3.0), {b});
  check_grad("pow -0.5", ops::math_ops::Pow(-0.5), {a});
  check_grad("maximum", ops::math_ops::Maximum{}, {a, b});
  check_grad("minimum", ops::math_ops::Minimum{}, {a, b});
  check_grad("scalar_mul", ops::scalar_ops::ScalarMulOp(-2.5), {b});
}

// On a tie the first input takes the whole gradient and the second none, so
// the parts add up to gy (max(v, v) has the gradient gy, not 2·gy).
TEST(NodeBuildingGrads, TiedExtremaGiveTheFirstInputTheGradient) {
  for (const bool maximum : {true, false}) {
    SCOPED_TRACE(maximum ? "Maximum" : "Minimum");
    gradix_autograd::graph::run([&](gradix_autograd::graph::Context& ctx) {
      auto& g = ctx.graph();
      const Tensor x = ops::convert_to_tensor(vec({1, 2}), g);
      gradix_autograd::tensor::TensorBuilder b(g);
      b.append_input(x, false).append_input(x, false);
      const Tensor y = maximum ? b.build(ops::math_ops::Maximum{}) : b.build(ops::math_ops::Minimum{});
      const std::vector<Tensor> outputs{y};
      const std::vector<Tensor> inputs{x, x};
      const std::vector<Tensor> output_grads{ops::convert_to_tensor(vec({3, 4}), g)};
      std::vector<std::optional<Tensor>> input_grads;
      gradix_autograd::op::GradientContext gctx(outputs, inputs, ctx, output_grads, input_grads, 0);
      if (maximum) {
        ops::math_ops::Maximum{}.grad(gctx);
      } else {
        ops::math_ops::Minimum{}.grad(gctx);
      }
      ASSERT_EQ(input_grads.size(), 2u);
      EXPECT_TRUE(gradix_test::same_array(*gradix_autograd::evaluation::Evaluator(ctx).eval(*input_grads[0]), vec({3, 4})));
      EXPECT_TRUE(gradix_test::same_array(*gradix_autograd::evaluation::Evaluator(ctx).eval(*input_grads[1]), vec({0, 0})));
    });
  }
}

TEST(NodeBuildingGrads, BroadcastHelpersArePartners) {
  gradix_autograd::graph::run([](gradix_autograd::graph::Context& ctx) {
    auto& g = ctx.graph();
    const Tensor x = ops::convert_to_tensor(make({2, 3}, {1, 2, 3, 4, 5, 6}), g);
    const Tensor target = ops::convert_to_tensor(vec({3}), g);
    const Tensor y = ops::binary_ops::maybe_reduce(target, x, g);
    const Tensor gy = ops::convert_to_tensor(vec({1, 2, 3}), g);
    const std::vector<Tensor> outputs{y};
    const std::vector<Tensor> inputs{x, target};
    const std::vector<Tensor> output_grads{gy};
    std::vector<std::optional<Tensor>> input_grads;
    gradix_autograd::op::GradientContext gctx(outputs, inputs, ctx, output_grads, input_grads, 0);
    ops::binary_ops::MaybeReduceSum{}.grad(gctx);
    ASSERT_EQ(input_grads.size(), 2u);
    EXPECT_FALSE(input_grads[1].has_value());
    EXPECT_EQ(g.nodes()[input_grads[0]->id()].op.get()->name(), ops::binary_ops::MaybeBroadcast::kName);
    EXPECT_TRUE(gradix_test::same_array(*gradix_autograd::evaluation::Evaluator(ctx).eval(*input_grads[0]),
                                        make({2, 3}, {1, 2, 3, 1, 2, 3})));

    input_grads.clear();
    const Tensor broadcast = gradix_autograd::tensor::TensorBuilder(g)
                                 .append_input(gy, false)
                                 .append_input(ops::convert_to_tensor(vec({2, 3}), g), false)
                                 .build(ops::binary_ops::MaybeBroadcast{});
    const std::vector<Tensor> b_outputs{broadcast};
    const std::vector<Tensor> b_inputs{gy, target};
    const std::vector<Tensor> b_grads{x};
    gradix_autograd::op::GradientContext bctx(b_outputs, b_inputs, ctx, b_grads, input_grads, 0);
    ops::binary_ops::MaybeBroadcast{}.grad(bctx);
    EXPECT_FALSE(input_grads[1].has_value());
    EXPECT_TRUE(gradix_test::same_array(*gradix_autograd::evaluation::Evaluator(ctx).eval(*input_grads[0]),
                                        vec({5, 7, 9})));
  });
}

}  // namespace

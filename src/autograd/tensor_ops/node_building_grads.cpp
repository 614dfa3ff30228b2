// The `grad` operations of the arithmetic, comparison, scalar-multiple and
// broadcast-helper operators that build nodes. Nothing in the system calls
// them (gradients come from the rule table of the gradient construction);
// they are the operators' own statement of their derivatives.
#include "autograd/constructors.hpp"
#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/binary_ops.hpp"
#include "autograd/tensor_ops/broadcast_helper_ops.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "autograd/tensor_ops/scalar_ops.hpp"

namespace gradix_autograd::tensor_ops {

namespace {

using tensor::Tensor;
namespace ar = arithmetic;

// g summed down to the shape of `operand`.
Tensor reduced_to(const Tensor& operand, const Tensor& g, graph::Graph& graph) {
  const Tensor target = shape(operand);
  return binary_ops::maybe_reduce(target, g, graph);
}

// The input that supplied the extreme value takes gy; where the two tie, the
// first input takes it all, so the two parts always add up to gy. Each part
// is summed down to its input's shape.
void extremum_grad(op::GradientContext& ctx) {
  const Tensor& gy = ctx.output_grad();
  const Tensor& y = ctx.output();
  const Tensor& x0 = ctx.input(0);
  const Tensor& x1 = ctx.input(1);
  const Tensor mask0 = ar::equal(x0, y);
  const Tensor part0 = ar::mul(mask0, gy);
  const Tensor g0 = reduced_to(x0, part0, ctx.graph());
  const Tensor one = scalar(ctx.graph(), 1.0);
  const Tensor mask1 = ar::sub(one, mask0);
  const Tensor part1 = ar::mul(mask1, gy);
  const Tensor g1 = reduced_to(x1, part1, ctx.graph());
  ctx.set_input_grad(0, g0);
  ctx.set_input_grad(1, g1);
}

}  // namespace

void binary_ops::AddOp::grad(op::GradientContext& ctx) const {
  // With one input the sum is the constant [[0]]: nothing flows back.
  if (ctx.num_inputs() < 2) {
    ctx.set_input_grad(0, std::nullopt);
    return;
  }
  const Tensor& gy = ctx.output_grad();
  const Tensor g0 = reduced_to(ctx.input(0), gy, ctx.graph());
  const Tensor g1 = reduced_to(ctx.input(1), gy, ctx.graph());
  ctx.set_input_grad(0, g0);
  ctx.set_input_grad(1, g1);
}

void binary_ops::SubOp::grad(op::GradientContext& ctx) const {
  const Tensor& gy = ctx.output_grad();
  const Tensor g0 = reduced_to(ctx.input(0), gy, ctx.graph());
  // With one input the difference is x0 − 0.
  if (ctx.num_inputs() < 2) {
    ctx.set_input_grad(0, g0);
    return;
  }
  const Tensor reduced1 = reduced_to(ctx.input(1), gy, ctx.graph());
  const Tensor g1 = ar::neg(reduced1);
  ctx.set_input_grad(0, g0);
  ctx.set_input_grad(1, g1);
}

void binary_ops::MulOp::grad(op::GradientContext& ctx) const {
  // With one input the product is x0 · 0: nothing flows back.
  if (ctx.num_inputs() < 2) {
    ctx.set_input_grad(0, std::nullopt);
    return;
  }
  const Tensor& gy = ctx.output_grad();
  const Tensor& x0 = ctx.input(0);
  const Tensor& x1 = ctx.input(1);
  const Tensor target0 = shape(x0);
  const Tensor gy_x1 = ar::mul(gy, x1);
  const Tensor g0 = maybe_reduce(target0, gy_x1, ctx.graph());
  const Tensor target1 = shape(x1);
  const Tensor gy_x0 = ar::mul(gy, x0);
  const Tensor g1 = maybe_reduce(target1, gy_x0, ctx.graph());
  ctx.set_input_grad(0, g0);
  ctx.set_input_grad(1, g1);
}

void binary_ops::DivOp::grad(op::GradientContext& ctx) const {
  // With one input the quotient is x0 / 0, which has no derivative.
  if (ctx.num_inputs() < 2) {
    ctx.set_input_grad(0, std::nullopt);
    return;
  }
  const Tensor& gy = ctx.output_grad();
  const Tensor& x0 = ctx.input(0);
  const Tensor& x1 = ctx.input(1);
  const Tensor target0 = shape(x0);
  const Tensor gy_over_x1 = ar::div(gy, x1);
  const Tensor g0 = maybe_reduce(target0, gy_over_x1, ctx.graph());
  const Tensor target1 = shape(x1);
  const Tensor minus_x0 = ar::neg(x0);
  const Tensor inverse_square = ar::pow(x1, -2.0);
  const Tensor ratio = ar::mul(minus_x0, inverse_square);
  const Tensor scaled = ar::mul(ratio, gy);
  const Tensor g1 = maybe_reduce(target1, scaled, ctx.graph());
  ctx.set_input_grad(0, g0);
  ctx.set_input_grad(1, g1);
}

void binary_ops::MaybeReduceSum::grad(op::GradientContext& ctx) const {
  const Tensor& gy = ctx.output_grad();
  const Tensor target = shape(ctx.input(0));
  const Tensor g0 =
      tensor::TensorBuilder(ctx.graph()).append_input(gy, false).append_input(target, false).build(MaybeBroadcast{});
  ctx.set_input_grad(0, g0);
  ctx.set_input_grad(1, std::nullopt);
}

void binary_ops::MaybeBroadcast::grad(op::GradientContext& ctx) const {
  const Tensor g0 = reduced_to(ctx.input(0), ctx.output_grad(), ctx.graph());
  ctx.set_input_grad(0, g0);
  ctx.set_input_grad(1, std::nullopt);
}

void math_ops::NegOp::grad(op::GradientContext& ctx) const { ctx.set_input_grad(0, ar::neg(ctx.output_grad())); }

void math_ops::Exp::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, ar::mul(ctx.output(), ctx.output_grad()));
}

void math_ops::Ln::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, ar::div(ctx.output_grad(), ctx.input(0)));
}

void math_ops::Pow::grad(op::GradientContext& ctx) const {
  const Tensor& x0 = ctx.input(0);
  const Tensor s = scalar(ctx.graph(), exponent);
  const Tensor gy_s = ar::mul(ctx.output_grad(), s);
  const Tensor power = ar::pow(x0, exponent - 1.0);
  ctx.set_input_grad(0, ar::mul(gy_s, power));
}

void math_ops::Maximum::grad(op::GradientContext& ctx) const { extremum_grad(ctx); }
void math_ops::Minimum::grad(op::GradientContext& ctx) const { extremum_grad(ctx); }

void scalar_ops::ScalarMulOp::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, linear_algebra::scalar_mul(ctx.output_grad(), factor));
}

}  // namespace gradix_autograd::tensor_ops

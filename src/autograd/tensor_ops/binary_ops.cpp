#include "autograd/tensor_ops/binary_ops.hpp"

#include "autograd/shape_helpers.hpp"

namespace gradix_autograd::tensor_ops::binary_ops {

namespace {

using shape_helpers::co_broadcast_zip;
using shape_helpers::map_elements;

// Which shapes an operator reads as a single value. A [0] operand is never
// one (it has no element to apply): it is co-broadcast instead ([0] with []
// gives [0]).
enum class SingleShape { ZeroD, ZeroDOrLengthOne };

bool is_single_value(const Array& x, SingleShape rule) {
  const auto& shape = x.shape();
  if (shape.empty()) return true;
  return rule == SingleShape::ZeroDOrLengthOne && shape.size() == 1 && shape[0] == 1;
}

double single_value(const Array& x) { return x.data()[0]; }

}  // namespace

op::OpResult AddOp::compute(op::ComputeContext& ctx) const {
  if (ctx.num_inputs() < 2) {
    Array zero = shape_helpers::make_array(ArrayShape{1, 1});
    zero.data()[0] = 0.0;
    ctx.append_output(std::move(zero));
    return op::ok();
  }
  const Array& x0 = ctx.input(0);
  const Array& x1 = ctx.input(1);
  const bool single0 = is_single_value(x0, SingleShape::ZeroD);
  const bool single1 = is_single_value(x1, SingleShape::ZeroD);
  if (single0 && !single1) {
    const double s0 = single_value(x0);
    map_elements(ctx, x1, [s0](double b) { return b + s0; });
  } else if (single1 && !single0) {
    const double s1 = single_value(x1);
    map_elements(ctx, x0, [s1](double a) { return a + s1; });
  } else {
    co_broadcast_zip(ctx, x0, x1, [](double a, double b) { return a + b; });
  }
  return op::ok();
}

op::OpResult MulOp::compute(op::ComputeContext& ctx) const {
  // No input count test: a missing input reads as the 0-d zero.
  const Array& x0 = ctx.input(0);
  const Array& x1 = ctx.input(1);
  const bool single0 = is_single_value(x0, SingleShape::ZeroD);
  const bool single1 = is_single_value(x1, SingleShape::ZeroD);
  if (single0 && !single1) {
    const double s0 = single_value(x0);
    map_elements(ctx, x1, [s0](double b) { return b * s0; });
  } else if (single1 && !single0) {
    const double s1 = single_value(x1);
    map_elements(ctx, x0, [s1](double a) { return a * s1; });
  } else {
    co_broadcast_zip(ctx, x0, x1, [](double a, double b) { return a * b; });
  }
  return op::ok();
}

op::OpResult SubOp::compute(op::ComputeContext& ctx) const {
  const Array& x0 = ctx.input(0);
  const Array& x1 = ctx.input(1);
  if (is_single_value(x0, SingleShape::ZeroD)) {
    const double s0 = single_value(x0);
    map_elements(ctx, x1, [s0](double b) { return s0 - b; });
  } else {
    co_broadcast_zip(ctx, x0, x1, [](double a, double b) { return a - b; });
  }
  return op::ok();
}

op::OpResult DivOp::compute(op::ComputeContext& ctx) const {
  const Array& x0 = ctx.input(0);
  const Array& x1 = ctx.input(1);
  if (is_single_value(x0, SingleShape::ZeroD)) {
    const double s0 = single_value(x0);
    map_elements(ctx, x1, [s0](double b) { return s0 / b; });
  } else if (is_single_value(x1, SingleShape::ZeroDOrLengthOne)) {
    // One reciprocal, then products: this can differ from a true quotient in
    // the last bit, and is the defined result.
    const double r = 1.0 / single_value(x1);
    map_elements(ctx, x0, [r](double a) { return a * r; });
  } else {
    co_broadcast_zip(ctx, x0, x1, [](double a, double b) { return a / b; });
  }
  return op::ok();
}

}  // namespace gradix_autograd::tensor_ops::binary_ops

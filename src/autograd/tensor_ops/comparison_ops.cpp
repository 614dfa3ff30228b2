// compute of Maximum, Minimum, Greater and Equal (declared in math_ops.hpp).
#include <string>

#include "autograd/grad_context.hpp"
#include "autograd/shape_helpers.hpp"
#include "autograd/tensor_ops/math_ops.hpp"

namespace gradix_autograd::tensor_ops::math_ops {

namespace {

using shape_helpers::map_elements;

bool is_single_value(const Array& x) {
  return x.dimension() == 0 || (x.dimension() == 1 && x.shape()[0] == 1);
}

template <class O>
void compare(op::ComputeContext& ctx, const Array& x0, const Array& x1) {
  const bool single0 = is_single_value(x0);
  const bool single1 = is_single_value(x1);
  if (single1) {
    // Also when both are single values: the result takes x0's shape.
    const double s1 = x1.data()[0];
    map_elements(ctx, x0, [s1](double a) { return O::apply(a, s1); });
    return;
  }
  if (single0) {
    const double s0 = x0.data()[0];
    map_elements(ctx, x1, [s0](double b) { return O::apply(s0, b); });
    return;
  }
  const Extents e0 = extents_of(x0);
  const Extents e1 = extents_of(x1);
  if (e0.size() != e1.size()) {
    kvel_support::panic("Tensor ranks mismatch: " + std::to_string(e0.size()) + "(" + std::string(O::kShortName) +
                        "'s lhs input) vs " + std::to_string(e1.size()) + "(" + std::string(O::kShortName) +
                        "'s rhs input)");
  }
  // A lambda rather than the function's address, so the loop inlines it.
  const auto apply = [](double a, double b) { return O::apply(a, b); };
  if (shape_helpers::broadcasts_to(e0, e1)) {
    shape_helpers::zip_broadcast(ctx, x0, x1, e1, apply);
    return;
  }
  if (shape_helpers::broadcasts_to(e1, e0)) {
    shape_helpers::zip_broadcast(ctx, x0, x1, e0, apply);
    return;
  }
  kvel_support::panic("Cannot broadcast shapes " + shape_helpers::format_shape(e0) + " and " +
                      shape_helpers::format_shape(e1) + " for operation " + std::string(O::kShortName));
}

template <class O>
op::OpResult compute_comparison(op::ComputeContext& ctx) {
  compare<O>(ctx, ctx.input(0), ctx.input(1));
  return op::ok();
}

// Comparisons are flat: no gradient flows to either input.
void no_input_gradients(op::GradientContext& ctx) {
  ctx.set_input_grad(0, std::nullopt);
  ctx.set_input_grad(1, std::nullopt);
}

}  // namespace

op::OpResult Maximum::compute(op::ComputeContext& ctx) const { return compute_comparison<Maximum>(ctx); }
op::OpResult Minimum::compute(op::ComputeContext& ctx) const { return compute_comparison<Minimum>(ctx); }
op::OpResult Greater::compute(op::ComputeContext& ctx) const { return compute_comparison<Greater>(ctx); }
op::OpResult Equal::compute(op::ComputeContext& ctx) const { return compute_comparison<Equal>(ctx); }

void Greater::grad(op::GradientContext& ctx) const { no_input_gradients(ctx); }
void Equal::grad(op::GradientContext& ctx) const { no_input_gradients(ctx); }

}  // namespace gradix_autograd::tensor_ops::math_ops

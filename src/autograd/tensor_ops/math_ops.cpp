#include "autograd/tensor_ops/math_ops.hpp"

#include <cmath>

#include "autograd/shape_helpers.hpp"

namespace gradix_autograd::tensor_ops::math_ops {

using shape_helpers::map_elements;

op::OpResult NegOp::compute(op::ComputeContext& ctx) const {
  map_elements(ctx, ctx.input(0), [](double x) { return -x; });
  return op::ok();
}

op::OpResult Exp::compute(op::ComputeContext& ctx) const {
  map_elements(ctx, ctx.input(0), [](double x) { return std::exp(x); });
  return op::ok();
}

op::OpResult Ln::compute(op::ComputeContext& ctx) const {
  map_elements(ctx, ctx.input(0), [](double x) { return std::log(x); });
  return op::ok();
}

op::OpResult Pow::compute(op::ComputeContext& ctx) const {
  const double e = exponent;
  map_elements(ctx, ctx.input(0), [e](double x) { return std::pow(x, e); });
  return op::ok();
}

}  // namespace gradix_autograd::tensor_ops::math_ops

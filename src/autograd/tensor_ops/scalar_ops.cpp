#include "autograd/tensor_ops/scalar_ops.hpp"

#include "autograd/shape_helpers.hpp"

namespace gradix_autograd::tensor_ops::scalar_ops {

op::OpResult ScalarMulOp::compute(op::ComputeContext& ctx) const {
  const double f = factor;
  shape_helpers::map_elements(ctx, ctx.input(0), [f](double x) { return x * f; });
  return op::ok();
}

}  // namespace gradix_autograd::tensor_ops::scalar_ops

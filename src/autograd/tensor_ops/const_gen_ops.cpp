#include "autograd/tensor_ops/const_gen_ops.hpp"

#include "autograd/grad_context.hpp"
#include "autograd/shape_helpers.hpp"

namespace gradix_autograd::tensor_ops::const_gen_ops {

op::OpResult Scalar::compute(op::ComputeContext& ctx) const {
  ctx.append_output(shape_helpers::make_scalar(value));
  return op::ok();
}

void Scalar::grad(op::GradientContext& ctx) const { ctx.set_input_grad(0, std::nullopt); }

op::OpResult ConvertToTensor::compute(op::ComputeContext& ctx) const {
  ctx.append_output(array);
  return op::ok();
}

// A constant has no inputs: the list is left as it is.
void ConvertToTensor::grad(op::GradientContext&) const {}

}  // namespace gradix_autograd::tensor_ops::const_gen_ops

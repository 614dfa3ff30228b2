#include "autograd/tensor_ops/basic_source_ops.hpp"

#include "autograd/grad_context.hpp"

namespace gradix_autograd::tensor_ops::basic_source_ops {

template <class Derived>
op::OpResult SourceOp<Derived>::compute(op::ComputeContext& ctx) const {
  // input() already yields the shared 0-d zero when there is no input.
  ctx.pass_input(0);
  return op::ok();
}

template <class Derived>
void SourceOp<Derived>::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, ctx.output_grad());
}

template class SourceOp<Variable>;
template class SourceOp<Placeholder>;

}  // namespace gradix_autograd::tensor_ops::basic_source_ops

#include "autograd/linalg/linalg_ops.hpp"

#include "autograd/grad_context.hpp"

namespace gradix_autograd::tensor_ops::linalg_ops {

namespace {
op::OpResult shape_error(const char* text) {
  return kvel_support::unexpected(error::OpError::incompatible_shape(text));
}
}  // namespace

op::OpResult DiagOp::compute(op::ComputeContext& ctx) const {
  return op::without_allocation_failure(name(), [&]() -> op::OpResult {
    const Array& x = ctx.input(0);
    if (x.dimension() != 1) return shape_error("Diag op requires a 1D vector input");
    const std::size_t n = x.shape()[0];
    Array out = xt::zeros<double>({n, n});
    for (std::size_t i = 0; i < n; ++i) out.data()[i * n + i] = x.data()[i];
    ctx.append_output(std::move(out));
    return op::ok();
  });
}

op::OpResult TraceBackwardOp::compute(op::ComputeContext& ctx) const {
  return op::without_allocation_failure(name(), [&]() -> op::OpResult {
    const Array& a = ctx.input(0);
    const Array& g = ctx.input(1);
    if (a.dimension() != 2 || a.shape()[0] != a.shape()[1])
      return shape_error("TraceBackward: input must be a square matrix");
    // A 0-d array holds one value; so does any array with exactly one element.
    if (g.size() != 1) return shape_error("TraceBackward: cotangent of trace must be a scalar");
    const double s = g.data()[0];
    const std::size_t n = a.shape()[0];
    Array out = xt::zeros<double>({n, n});
    for (std::size_t i = 0; i < n; ++i) out.data()[i * n + i] = s;
    ctx.append_output(std::move(out));
    return op::ok();
  });
}

void TraceBackwardOp::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, std::nullopt);
  ctx.set_input_grad(1, std::nullopt);
}

}  // namespace gradix_autograd::tensor_ops::linalg_ops

#include "autograd/linalg/kronecker_ops.hpp"

#include "autograd/grad_context.hpp"

namespace gradix_autograd::tensor_ops::kronecker_ops {

op::OpResult KroneckerGradOp::compute(op::ComputeContext& ctx) const {
  return op::without_allocation_failure(name(), [&]() -> op::OpResult {
    const Array& gy = ctx.input(0);
    const Array& a = ctx.input(1);
    const Array& b = ctx.input(2);
    if (a.dimension() != 2 || b.dimension() != 2)
      return kvel_support::unexpected(error::OpError::incompatible_shape("KroneckerGradOp requires 2D matrices"));
    const std::size_t m = a.shape()[0], n = a.shape()[1];
    const std::size_t p = b.shape()[0], q = b.shape()[1];
    const std::size_t rows = m * p, cols = n * q;

    // G(r, c) reads either the single value or gy's entry; gy's own row length
    // is the stride, since it may be wider than a ⊗ b.
    const bool single = gy.dimension() == 0;
    if (!single && gy.dimension() != 2)
      return kvel_support::unexpected(error::OpError::incompatible_shape("KroneckerGradOp: gy must be 2D or scalar"));
    if (!single && (gy.shape()[0] < rows || gy.shape()[1] < cols))
      return kvel_support::unexpected(error::OpError::incompatible_shape("KroneckerGradOp: gy smaller than a ⊗ b"));
    const double* g = gy.data();
    const std::size_t stride = single ? 0 : gy.shape()[1];
    const auto at = [&](std::size_t r, std::size_t c) { return single ? g[0] : g[r * stride + c]; };

    if (which == 0) {
      Array da = xt::zeros<double>({m, n});
      const double* bd = b.data();
      for (std::size_t i = 0; i < m; ++i)
        for (std::size_t j = 0; j < n; ++j) {
          double sum = 0.0;
          for (std::size_t k = 0; k < p; ++k)
            for (std::size_t l = 0; l < q; ++l) sum += at(i * p + k, j * q + l) * bd[k * q + l];
          da.data()[i * n + j] = sum;
        }
      ctx.append_output(std::move(da));
    } else {
      Array db = xt::zeros<double>({p, q});
      const double* ad = a.data();
      for (std::size_t k = 0; k < p; ++k)
        for (std::size_t l = 0; l < q; ++l) {
          double sum = 0.0;
          for (std::size_t i = 0; i < m; ++i)
            for (std::size_t j = 0; j < n; ++j) sum += at(i * p + k, j * q + l) * ad[i * n + j];
          db.data()[k * q + l] = sum;
        }
      ctx.append_output(std::move(db));
    }
    return op::ok();
  });
}

void KroneckerGradOp::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, std::nullopt);
  ctx.set_input_grad(1, std::nullopt);
  ctx.set_input_grad(2, std::nullopt);
}

}  // namespace gradix_autograd::tensor_ops::kronecker_ops

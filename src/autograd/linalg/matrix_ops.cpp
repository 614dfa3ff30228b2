#include "autograd/linalg/matrix_ops.hpp"

#include <cmath>
#include <limits>
#include <utility>

namespace gradix_autograd::tensor_ops::matrix_ops {

op::OpResult MatrixInverseOp::compute(op::ComputeContext& ctx) const {
  return op::without_allocation_failure(name(), [&]() -> op::OpResult {
    const Array& a = ctx.input(0);
    if (a.dimension() != 2 || a.shape()[0] != a.shape()[1])
      return kvel_support::unexpected(error::OpError::incompatible_shape("Matrix inverse requires square matrix"));
    const std::size_t n = a.shape()[0];
    Array m = a;
    Array r = xt::zeros<double>({n, n});
    double* md = m.data();
    double* rd = r.data();
    for (std::size_t i = 0; i < n; ++i) rd[i * n + i] = 1.0;

    for (std::size_t c = 0; c < n; ++c) {
      // Strict comparison: the first of equal magnitudes wins and NaN never does.
      std::size_t p = c;
      for (std::size_t row = c + 1; row < n; ++row)
        if (std::fabs(md[row * n + c]) > std::fabs(md[p * n + c])) p = row;
      // A NaN pivot fails this test too and the elimination carries it on.
      if (std::fabs(md[p * n + c]) < std::numeric_limits<double>::epsilon())
        return kvel_support::unexpected(error::OpError::incompatible_shape("Matrix is singular"));
      if (p != c)
        for (std::size_t j = 0; j < n; ++j) {
          std::swap(md[p * n + j], md[c * n + j]);
          std::swap(rd[p * n + j], rd[c * n + j]);
        }
      const double v = md[c * n + c];
      for (std::size_t j = 0; j < n; ++j) {
        md[c * n + j] /= v;
        rd[c * n + j] /= v;
      }
      for (std::size_t row = 0; row < n; ++row) {
        if (row == c) continue;
        const double f = md[row * n + c];
        for (std::size_t j = 0; j < n; ++j) {
          md[row * n + j] -= f * md[c * n + j];
          rd[row * n + j] -= f * rd[c * n + j];
        }
      }
    }
    ctx.append_output(std::move(r));
    return op::ok();
  });
}

}  // namespace gradix_autograd::tensor_ops::matrix_ops

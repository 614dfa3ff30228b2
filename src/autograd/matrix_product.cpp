#include "autograd/matrix_product.hpp"

#include <cblas.h>

#include <algorithm>
#include <limits>
#include <string>

#include "support/panic.hpp"

namespace gradix_autograd::ndarray_ext {

namespace {
blasint to_blasint(std::size_t extent) {
  if (extent > static_cast<std::size_t>(std::numeric_limits<blasint>::max())) {
    kvel_support::panic("matrix extent " + std::to_string(extent) + " exceeds the BLAS index range");
  }
  return static_cast<blasint>(extent);
}
}  // namespace

void mat_mul(const MatrixOperand& a, const MatrixOperand& b, double* out) {
  const std::size_t m = a.used_rows();
  const std::size_t k = a.used_cols();
  const std::size_t n = b.used_cols();
  if (m == 0 || n == 0 || k == 0) {
    std::fill(out, out + m * n, 0.0);
    return;
  }
  // All extents are at least 1 here, so every leading dimension is too.
  cblas_dgemm(CblasRowMajor, a.transposed ? CblasTrans : CblasNoTrans, b.transposed ? CblasTrans : CblasNoTrans,
              to_blasint(m), to_blasint(n), to_blasint(k), 1.0, a.data, to_blasint(a.cols), b.data,
              to_blasint(b.cols), 0.0, out, to_blasint(n));
}

}  // namespace gradix_autograd::ndarray_ext

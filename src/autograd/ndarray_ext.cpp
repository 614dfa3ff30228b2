#include "autograd/ndarray_ext.hpp"

#include <cblas.h>

#include <algorithm>
#include <limits>
#include <string>

#include "support/panic.hpp"

namespace gradix_autograd::ndarray_ext {
namespace {

blasint to_blas_index(std::size_t value) {
  if (value > static_cast<std::size_t>(std::numeric_limits<blasint>::max()))
    kvel_support::panic("gemm: extent " + std::to_string(value) + " exceeds the BLAS index range");
  return static_cast<blasint>(value);
}

}  // namespace

Matrix gemm(const Matrix& a, bool transpose_a, const Matrix& b, bool transpose_b) {
  const std::size_t m = transpose_a ? a.shape()[1] : a.shape()[0];
  const std::size_t k = transpose_a ? a.shape()[0] : a.shape()[1];
  const std::size_t k2 = transpose_b ? b.shape()[1] : b.shape()[0];
  const std::size_t n = transpose_b ? b.shape()[0] : b.shape()[1];
  if (k != k2)
    kvel_support::panic("gemm: inner extents " + std::to_string(k) + " and " + std::to_string(k2) +
                        " differ");

  Matrix c = xt::zeros<double>({m, n});
  if (m == 0 || n == 0 || k == 0) return c;

  // Row-major storage: the leading dimension is the stored column count.
  const blasint lda = to_blas_index(std::max<std::size_t>(1, a.shape()[1]));
  const blasint ldb = to_blas_index(std::max<std::size_t>(1, b.shape()[1]));
  const blasint ldc = to_blas_index(std::max<std::size_t>(1, n));
  cblas_dgemm(CblasRowMajor, transpose_a ? CblasTrans : CblasNoTrans,
              transpose_b ? CblasTrans : CblasNoTrans, to_blas_index(m), to_blas_index(n),
              to_blas_index(k), 1.0, a.data(), lda, b.data(), ldb, 0.0, c.data(), ldc);
  return c;
}

}  // namespace gradix_autograd::ndarray_ext

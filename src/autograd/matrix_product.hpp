#pragma once
// The double-precision matrix product through CBLAS (dgemm).

#include <cstddef>

namespace gradix_autograd::ndarray_ext {

// A row-major matrix read in place: `rows` × `cols` as stored, optionally
// used transposed.
struct MatrixOperand {
  const double* data;
  std::size_t rows;
  std::size_t cols;
  bool transposed;

  std::size_t used_rows() const noexcept { return transposed ? cols : rows; }
  std::size_t used_cols() const noexcept { return transposed ? rows : cols; }
};

// out (m × n, row-major, m = a.used_rows(), n = b.used_cols()) = a · b; the
// inner extents must agree. With any extent 0 the result is zeros and BLAS is
// not called: CBLAS rejects leading dimensions below 1, and some builds report
// that on stderr or exit the process.
void mat_mul(const MatrixOperand& a, const MatrixOperand& b, double* out);

}  // namespace gradix_autograd::ndarray_ext

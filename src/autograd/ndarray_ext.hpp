#pragma once
// The engine's one general matrix product, C = op(A) · op(B), over owned
// row-major matrices, computed by CBLAS `dgemm`.
//
// Zero extents never reach BLAS (some builds print to stderr or end the
// process for them): any of m, n, k equal to 0 gives an m × n zero matrix.
// Leading dimensions handed to BLAS are always at least 1.

#include <cstddef>

#include "support/xtensor.hpp"

namespace gradix_autograd::ndarray_ext {

using Matrix = xt::xtensor<double, 2>;

// op(A) is A, or Aᵀ when `transpose_a`; likewise op(B). The inner extents of
// op(A) and op(B) must agree (callers check shapes first; a mismatch or an
// extent beyond BLAS's index type is a fatal error).
Matrix gemm(const Matrix& a, bool transpose_a, const Matrix& b, bool transpose_b);

// A · B.
inline Matrix dot(const Matrix& a, const Matrix& b) { return gemm(a, false, b, false); }

}  // namespace gradix_autograd::ndarray_ext

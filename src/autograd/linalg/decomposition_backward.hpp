#pragma once
// Gradient formulas (vector-Jacobian products) of the Cholesky, LU, QR and
// singular value decompositions, their triangular solvers, and the one-sided
// Jacobi SVD that the SVD gradient recomputes its factors with.
//
// The products go through the CBLAS matrix product; solvers, masks and
// divided differences are plain loops. Shapes are the caller's duty: a shape
// outside a kernel's contract is a fatal error, never an out-of-bounds access.

#include <cstddef>
#include <optional>
#include <vector>

#include "support/xtensor.hpp"

namespace gradix_autograd::tensor_ops::decomposition_backward {

using Matrix = xt::xtensor<double, 2>;

// r × k copy of the first k columns / k × c copy of the first k rows.
Matrix take_cols(const Matrix& a, std::size_t k);
Matrix take_rows(const Matrix& a, std::size_t k);

// X with U·X = B (back substitution; reads U's upper triangle). A zero on the
// diagonal gives a zero component.
Matrix solve_upper_matrix(const Matrix& u, const Matrix& b);
// X with X·L = B for lower triangular L.
Matrix right_solve_lower(const Matrix& b, const Matrix& l);

// dA for A = L·Lᵀ, given dL (n × n).
Matrix cholesky_backward(const Matrix& l, const Matrix& dl);
// dA for P·A = L·U (P a permutation), given dL and dU (n × n).
Matrix lu_backward(const Matrix& p, const Matrix& l, const Matrix& u, const Matrix& dl,
                   const Matrix& du);
// dA for A = Q·R, Q: m × q, R: r × n, dQ like Q, dR like R. Works on the
// leading k = min(q, r, n) columns of Q and rows of R: full factors of a tall
// matrix are read as its thin QR. For a wide matrix (n > k) the trailing
// columns R[:, k:] = Qᵀ·A[:, k:] contribute through both Q and A[:, k:].
Matrix qr_backward(const Matrix& q, const Matrix& r, const Matrix& dq, const Matrix& dr);
// dA for the thin SVD A = U·diag(s)·Vt (U: m × k, Vt: k × n, k = s.size()),
// given dU, dS (at least k values; the first k are used) and dVt.
Matrix svd_backward(const Matrix& u, const std::vector<double>& s, const Matrix& vt,
                    const Matrix& du, const std::vector<double>& ds, const Matrix& dvt);

}  // namespace gradix_autograd::tensor_ops::decomposition_backward

namespace gradix_autograd::tensor_ops::decomposition_ops::backward_ops {

using Matrix = xt::xtensor<double, 2>;

// Thin SVD of an m × n matrix: U (m × k), s (k values, descending under the
// IEEE total order), Vt (k × n), k = min(m, n).
struct Svd {
  Matrix u;
  std::vector<double> s;
  Matrix vt;
};

// One-sided (Hestenes) Jacobi rotations of the columns, at most 60 sweeps.
// A matrix of extreme scale (largest magnitude outside [2^-340, 2^340)) is
// rotated as an exactly rescaled copy, and the test that skips a converged
// pair, 1e-15·√(α·β) ≥ |γ|, takes √α·√β where α·β underflows to zero or
// overflows, so the result is right at every finite scale.
Svd svd_jacobi_f64(const Matrix& a);

// The factorisations the decomposition gradients recompute, plain loops in a
// fixed order. A small pivot is not an error: it leaves the column
// uneliminated.

// Q (m × m) by modified Gram–Schmidt on the columns of A (m × n), extended
// with unit vectors when m > n; R = Qᵀ·A (m × n). Q is orthogonal for every
// finite A: a column that cancels for the most part is orthogonalised a
// second time, and a dependent column (rank-deficient A, a zero column) is
// replaced by an orthonormal completion, which gives a zero (or rounding-
// sized) diagonal entry of R. A matrix of extreme scale (largest magnitude
// outside [2^-340, 2^340)) is factored as an exactly rescaled copy, so the
// rank tests see the same columns at every finite scale.
struct Qr {
  Matrix q;
  Matrix r;
};
Qr qr_gram_schmidt(const Matrix& a);

// Doolittle elimination without pivoting of a square A: P = I, L unit lower
// triangular, U upper triangular, A = L·U.
struct Lu {
  Matrix p;
  Matrix l;
  Matrix u;
};
Lu lu_doolittle(const Matrix& a);

// L with A = L·Lᵀ (Cholesky–Banachiewicz, row by row, reading A's lower
// triangle); nothing when a diagonal pivot is ≤ 0 (a NaN pivot passes).
std::optional<Matrix> cholesky_banachiewicz(const Matrix& a);

}  // namespace gradix_autograd::tensor_ops::decomposition_ops::backward_ops

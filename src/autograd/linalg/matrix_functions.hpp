#pragma once
// Dense double-precision matrix routines behind the matrix-function gradients:
// a cyclic Jacobi eigen-decomposition, a symmetry test, the principal square
// root of an SPD matrix, the Daleckii–Krein gradients of the matrix logarithm
// and power, a Sylvester solver and a few plain copies.
//
// Every routine is a pure function written as explicit loops in a fixed
// order (no BLAS), so results are reproducible bit for bit. Shapes are the
// caller's duty: a shape outside a routine's contract is a fatal error, never
// an out-of-bounds access.

#include <string>
#include <vector>

#include "support/expected.hpp"
#include "support/xtensor.hpp"

namespace gradix_autograd::tensor_ops::matrix_functions {

using Matrix = xt::xtensor<double, 2>;
// A routine that can fail returns its matrix or the text of the failure.
using MatrixOrError = kvel_support::Expected<Matrix, std::string>;

// Eigenvalues in the index order of the diagonal they came from (unsorted);
// column i of `eigenvectors` belongs to eigenvalue i.
struct Eigh {
  std::vector<double> eigenvalues;
  Matrix eigenvectors;
};

// Cyclic Jacobi on a symmetric n × n matrix (only its upper triangle and the
// rotated columns are read), at most 200 sweeps. A matrix of extreme scale
// (largest magnitude outside [2^-340, 2^340)) is rotated as an exactly
// rescaled copy, so tiny and huge matrices are diagonalised like others.
Eigh jacobi_eigh(const Matrix& a);

// Square and ‖a − aᵀ‖_F / ‖a‖_F < 1e-8 (an absolute test for a zero matrix),
// at every scale: no square overflows or underflows.
bool is_symmetric_f64(const Matrix& a);

// The principal square root of a symmetric positive definite a as an
// eigen-decomposition: a's eigenvectors with the roots √l of its eigenvalues.
// Fails on a non-symmetric matrix or an eigenvalue ≤ 0 (a NaN passes).
kvel_support::Expected<Eigh, std::string> sqrtm_spd_eigh(const Matrix& a);

// V·diag(√l)·Vᵀ; fails as sqrtm_spd_eigh does.
MatrixOrError sqrtm_spd_f64(const Matrix& a);

// Gradient of ln(a) for symmetric a, contracted with the n × n gradient g.
Matrix logm_daleckii_krein(const Matrix& a, const Matrix& g);

// Gradient of a^p for symmetric a, contracted with the n × n gradient g.
Matrix powm_spectral_backward(const Matrix& a, const Matrix& g, double p);

// X (n × m) with a·X + X·b = c for a: n × n, b: m × m, c: n × m, through the
// explicit (n·m) × (n·m) Kronecker-sum system: O((n·m)²) memory, O((n·m)³)
// time. A system too large to address is an allocation failure
// (std::bad_alloc).
MatrixOrError solve_sylvester_local(const Matrix& a, const Matrix& b, const Matrix& c);

// X (n × n) with S·X + X·S = c for a symmetric S given by its eigen-
// decomposition S = V·diag(μ)·Vᵀ: X = V·((Vᵀ·c·V) ⊘ (μ_i + μ_j))·Vᵀ, in O(n³).
// A sum μ_i + μ_j of magnitude below 1e-300 is a singular system and fails
// as solve_sylvester_local does (a NaN sum passes).
MatrixOrError solve_sylvester_eigenbasis(const Eigh& s, const Matrix& c);

// Plain triple-loop product, each sum in ascending order from 0.
Matrix matmul_f64(const Matrix& a, const Matrix& b);

Matrix transpose_f64(const Matrix& a);

// Conversions between the engine's arrays of dynamic rank and matrices; the
// array handed to `view_to_f64` must be two-dimensional.
Matrix view_to_f64(const xt::xarray<double>& a);
xt::xarray<double> f64_to_owned(const Matrix& a);

}  // namespace gradix_autograd::tensor_ops::matrix_functions

#pragma once
// Small matrix helpers shared by the linear-algebra kernel tests.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "autograd/linalg/decomposition_backward.hpp"
#include "autograd/linalg/matrix_functions.hpp"
#include "support/xtensor.hpp"

namespace linalg_test {

using Matrix = xt::xtensor<double, 2>;

inline Matrix mat(std::initializer_list<std::initializer_list<double>> rows) {
  const std::size_t r = rows.size();
  const std::size_t c = r == 0 ? 0 : rows.begin()->size();
  Matrix out = xt::zeros<double>({r, c});
  std::size_t i = 0;
  for (const auto& row : rows) {
    std::size_t j = 0;
    for (double v : row) out(i, j++) = v;
    ++i;
  }
  return out;
}

inline Matrix zeros(std::size_t r, std::size_t c) { return xt::zeros<double>({r, c}); }

inline Matrix identity(std::size_t n) {
  Matrix out = zeros(n, n);
  for (std::size_t i = 0; i < n; ++i) out(i, i) = 1.0;
  return out;
}

// Fixed pseudo-random entries in [-1, 1): the same matrix in every run.
inline Matrix fixed_random(std::size_t r, std::size_t c, std::uint64_t seed) {
  Matrix out = zeros(r, c);
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
  for (double& e : out) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    e = static_cast<double>(state >> 11) / 9007199254740992.0 * 2.0 - 1.0;
  }
  return out;
}

inline Matrix product(const Matrix& a, const Matrix& b) {
  Matrix out = zeros(a.shape()[0], b.shape()[1]);
  for (std::size_t i = 0; i < a.shape()[0]; ++i)
    for (std::size_t j = 0; j < b.shape()[1]; ++j)
      for (std::size_t l = 0; l < a.shape()[1]; ++l) out(i, j) += a(i, l) * b(l, j);
  return out;
}

inline Matrix transpose(const Matrix& a) {
  Matrix out = zeros(a.shape()[1], a.shape()[0]);
  for (std::size_t i = 0; i < a.shape()[0]; ++i)
    for (std::size_t j = 0; j < a.shape()[1]; ++j) out(j, i) = a(i, j);
  return out;
}

// B·Bᵀ + n·I: well-conditioned symmetric positive definite.
inline Matrix fixed_spd(std::size_t n, std::uint64_t seed) {
  const Matrix b = fixed_random(n, n, seed);
  Matrix out = product(b, transpose(b));
  for (std::size_t i = 0; i < n; ++i) out(i, i) += static_cast<double>(n);
  return out;
}

inline Matrix symmetrized(const Matrix& a) { return 0.5 * (a + transpose(a)); }

inline Matrix diag_of(const std::vector<double>& values) {
  Matrix out = zeros(values.size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i) out(i, i) = values[i];
  return out;
}

inline Matrix row_of(const std::vector<double>& values) {
  Matrix out = zeros(1, values.size());
  for (std::size_t i = 0; i < values.size(); ++i) out(0, i) = values[i];
  return out;
}

// V·diag(f(l))·Vᵀ: the forward matrix function the spectral gradients belong to.
template <class F>
Matrix spectral_function(const Matrix& a, F f) {
  const auto eig = gradix_autograd::tensor_ops::matrix_functions::jacobi_eigh(a);
  std::vector<double> fl;
  for (double l : eig.eigenvalues) fl.push_back(f(l));
  const Matrix& v = eig.eigenvectors;
  return product(product(v, diag_of(fl)), transpose(v));
}

using Svd = gradix_autograd::tensor_ops::decomposition_ops::backward_ops::Svd;

// The SVD of a perturbed matrix with its U columns and Vt rows turned to the
// signs of a reference decomposition, so that the factors vary smoothly.
inline Svd aligned_svd(const Matrix& a, const Svd& reference) {
  Svd out = gradix_autograd::tensor_ops::decomposition_ops::backward_ops::svd_jacobi_f64(a);
  for (std::size_t j = 0; j < out.s.size(); ++j) {
    double d = 0.0;
    for (std::size_t c = 0; c < out.vt.shape()[1]; ++c) d += out.vt(j, c) * reference.vt(j, c);
    if (d >= 0) continue;
    for (std::size_t r = 0; r < out.u.shape()[0]; ++r) out.u(r, j) = -out.u(r, j);
    for (std::size_t c = 0; c < out.vt.shape()[1]; ++c) out.vt(j, c) = -out.vt(j, c);
  }
  return out;
}

inline double inner(const Matrix& a, const Matrix& b) {
  double sum = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += a.data()[i] * b.data()[i];
  return sum;
}

inline ::testing::AssertionResult near(const Matrix& actual, const Matrix& expected, double tol) {
  if (actual.shape()[0] != expected.shape()[0] || actual.shape()[1] != expected.shape()[1])
    return ::testing::AssertionFailure()
           << "shape " << actual.shape()[0] << "x" << actual.shape()[1] << " vs "
           << expected.shape()[0] << "x" << expected.shape()[1];
  for (std::size_t i = 0; i < actual.shape()[0]; ++i)
    for (std::size_t j = 0; j < actual.shape()[1]; ++j)
      if (!(std::fabs(actual(i, j) - expected(i, j)) <= tol))
        return ::testing::AssertionFailure() << "at [" << i << "][" << j << "]: " << actual(i, j)
                                             << " vs " << expected(i, j);
  return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult exactly(const Matrix& actual, const Matrix& expected) {
  return near(actual, expected, 0.0);
}

// Checks a vector-Jacobian product against central differences:
// <G, f(A + hE) − f(A − hE)> / 2h ≈ <dA, E> for each given direction E.
inline ::testing::AssertionResult matches_finite_differences(
    const std::function<Matrix(const Matrix&)>& forward, const Matrix& a, const Matrix& g,
    const Matrix& da, const std::vector<Matrix>& directions, double tol, double h = 1e-6) {
  for (std::size_t d = 0; d < directions.size(); ++d) {
    const Matrix& e = directions[d];
    const Matrix plus = forward(a + h * e);
    const Matrix minus = forward(a - h * e);
    const double numeric = (inner(g, plus) - inner(g, minus)) / (2.0 * h);
    const double analytic = inner(da, e);
    if (!(std::fabs(numeric - analytic) <= tol * std::max(1.0, std::fabs(numeric))))
      return ::testing::AssertionFailure()
             << "direction " << d << ": analytic " << analytic << ", numeric " << numeric;
  }
  return ::testing::AssertionSuccess();
}

// A few fixed directions of a matrix's shape (optionally symmetric).
inline std::vector<Matrix> directions_like(const Matrix& a, bool symmetric) {
  std::vector<Matrix> out;
  for (std::uint64_t seed = 101; seed < 105; ++seed) {
    const Matrix e = fixed_random(a.shape()[0], a.shape()[1], seed);
    out.push_back(symmetric ? symmetrized(e) : e);
  }
  return out;
}

}  // namespace linalg_test

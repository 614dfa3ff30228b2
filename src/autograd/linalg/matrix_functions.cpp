#include "autograd/linalg/matrix_functions.hpp"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>
#include <utility>

#include "autograd/linalg/matrix_scaling.hpp"
#include "support/number_format.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::tensor_ops::matrix_functions {
namespace {

std::size_t rows(const Matrix& a) { return a.shape()[0]; }
std::size_t cols(const Matrix& a) { return a.shape()[1]; }

void require_shape(const Matrix& a, std::size_t r, std::size_t c, const char* what) {
  if (rows(a) != r || cols(a) != c)
    kvel_support::panic(std::string("matrix_functions: ") + what + " has shape " +
                        std::to_string(rows(a)) + " x " + std::to_string(cols(a)) +
                        ", expected " + std::to_string(r) + " x " + std::to_string(c));
}

std::size_t require_square(const Matrix& a, const char* what) {
  require_shape(a, rows(a), rows(a), what);
  return rows(a);
}

// V·(F∘(Vᵀ·g·V))·Vᵀ with F[i][j] = divided_difference(l_i, l_j): the common
// frame of the spectral gradients of symmetric matrix functions.
template <class DividedDifference>
Matrix spectral_backward(const Matrix& a, const Matrix& g, DividedDifference divided_difference) {
  const std::size_t n = require_square(a, "a");
  require_shape(g, n, n, "g");
  const Eigh eig = jacobi_eigh(a);
  const Matrix& v = eig.eigenvectors;
  const Matrix vt = transpose_f64(v);
  Matrix h = matmul_f64(matmul_f64(vt, g), v);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j)
      h(i, j) = divided_difference(eig.eigenvalues[i], eig.eigenvalues[j]) * h(i, j);
  return matmul_f64(matmul_f64(v, h), vt);
}

}  // namespace

Eigh jacobi_eigh(const Matrix& a_in) {
  const std::size_t n = require_square(a_in, "a");
  // Matrices of extreme scale are rotated as 2^e·a, so that the sums of
  // squares below neither underflow (no rotation at all) nor overflow; the
  // eigenvectors are those of a, the eigenvalues are scaled back at the end.
  const int e = matrix_scaling::safe_scale_exponent(a_in);
  Matrix a = matrix_scaling::scaled(a_in, e);
  Matrix v = xt::zeros<double>({n, n});
  for (std::size_t i = 0; i < n; ++i) v(i, i) = 1.0;

  // The stopping threshold is relative to the matrix's own scale, so tiny
  // matrices are still diagonalised; the Frobenius norm is invariant under
  // the rotations, so one evaluation serves every sweep.
  double frobenius_sq = 0.0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) frobenius_sq += a(i, j) * a(i, j);
  const double threshold = 1e-28 * std::min(1.0, frobenius_sq);

  for (int sweep = 1; sweep <= 200; ++sweep) {
    double off = 0.0;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = i + 1; j < n; ++j) off += a(i, j) * a(i, j);
    if (off == 0.0 || off < threshold) break;

    for (std::size_t p = 0; p + 1 < n; ++p) {
      for (std::size_t q = p + 1; q < n; ++q) {
        const double apq = a(p, q);
        if (std::fabs(apq) < 1e-300) continue;  // NaN is rotated, not skipped
        const double app = a(p, p);
        const double aqq = a(q, q);
        const double theta = (aqq - app) / (2.0 * apq);
        const double r = std::sqrt(theta * theta + 1.0);
        const double t = theta >= 0.0 ? 1.0 / (theta + r) : 1.0 / (theta - r);
        a(p, p) = app - t * apq;
        a(q, q) = aqq + t * apq;
        a(p, q) = 0.0;
        a(q, p) = 0.0;
        const double c = 1.0 / std::sqrt(t * t + 1.0);
        const double s = t * c;
        for (std::size_t k = 0; k < n; ++k) {
          if (k == p || k == q) continue;
          const double akp = a(k, p);
          const double akq = a(k, q);
          a(k, p) = a(p, k) = c * akp - s * akq;
          a(k, q) = a(q, k) = s * akp + c * akq;
        }
        for (std::size_t l = 0; l < n; ++l) {
          const double vp = v(l, p);
          const double vq = v(l, q);
          v(l, p) = c * vp - s * vq;
          v(l, q) = s * vp + c * vq;
        }
      }
    }
  }

  Eigh result{std::vector<double>(n), std::move(v)};
  for (std::size_t i = 0; i < n; ++i) result.eigenvalues[i] = std::ldexp(a(i, i), -e);
  return result;
}

bool is_symmetric_f64(const Matrix& a_in) {
  const std::size_t n = rows(a_in);
  if (cols(a_in) != n) return false;
  if (n == 0) return true;
  // The test is scale-free; a matrix of extreme scale is compared as 2^e·a so
  // that its squares neither overflow nor underflow.
  const Matrix a = matrix_scaling::scaled(a_in, matrix_scaling::safe_scale_exponent(a_in));
  double total = 0.0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) total += a(i, j) * a(i, j);
  double diff = 0.0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      const double e = a(i, j) - a(j, i);
      diff += e * e;
    }
  const double d = std::sqrt(2.0 * diff);
  const double nrm = std::sqrt(total);
  const double rel = nrm > 1e-300 ? d / nrm : d;
  return rel < 1e-8;
}

kvel_support::Expected<Eigh, std::string> sqrtm_spd_eigh(const Matrix& a) {
  if (!is_symmetric_f64(a))
    return kvel_support::unexpected(std::string("sqrtm backward: input matrix is not symmetric"));
  Eigh eig = jacobi_eigh(a);
  for (double l : eig.eigenvalues) {
    if (l <= 0.0)  // a NaN eigenvalue passes
      return kvel_support::unexpected("sqrtm backward: non-positive eigenvalue " +
                                      kvel_support::format_shortest_exponent(l) +
                                      "; input must be SPD");
  }
  for (double& l : eig.eigenvalues) l = std::sqrt(l);
  return eig;
}

MatrixOrError sqrtm_spd_f64(const Matrix& a) {
  auto root = sqrtm_spd_eigh(a);
  if (!root.has_value()) return kvel_support::unexpected(std::move(root.error()));
  const std::size_t n = rows(a);
  const Matrix& v = root->eigenvectors;
  Matrix m = xt::zeros<double>({n, n});
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) m(i, j) = root->eigenvalues[j] * v(i, j);
  return matmul_f64(m, transpose_f64(v));
}

Matrix logm_daleckii_krein(const Matrix& a, const Matrix& g) {
  // Eigenvalues at or below zero (and NaN, through fmax) are lifted to the
  // smallest positive normal double.
  return spectral_backward(a, g, [](double li, double lj) {
    const double x = std::fmax(li, DBL_MIN);
    const double y = std::fmax(lj, DBL_MIN);
    if ((x + y + 1.0) * 1e-12 > std::fabs(x - y)) return 1.0 / x;
    return (std::log(x) - std::log(y)) / (x - y);
  });
}

Matrix powm_spectral_backward(const Matrix& a, const Matrix& g, double p) {
  // At a zero eigenvalue l^p and p·l^(p−1) are taken literally where they are
  // finite (p ≥ 0, respectively p ≥ 1) and as 0 where they are not.
  return spectral_backward(a, g, [p](double li, double lj) {
    if ((std::fabs(li) + std::fabs(lj) + 1.0) * 1e-12 > std::fabs(li - lj))
      return (p >= 1.0 || std::fabs(li) > 1e-300) ? p * std::pow(li, p - 1.0) : 0.0;
    const auto power = [p](double l) {
      return (p >= 0.0 || std::fabs(l) > 1e-300) ? std::pow(l, p) : 0.0;
    };
    const double pi = power(li);
    const double pj = power(lj);
    return (pi - pj) / (li - lj);
  });
}

MatrixOrError solve_sylvester_local(const Matrix& a, const Matrix& b, const Matrix& c) {
  const std::size_t n = require_square(a, "a");
  const std::size_t m = require_square(b, "b");
  require_shape(c, n, m, "c");
  const std::size_t big_n = n * m;
  Matrix x = xt::zeros<double>({n, m});
  if (big_n == 0) return x;

  // Unknown u·n + w is X[w][u] (column-major vectorisation); the system is
  // (Iₘ ⊗ a + bᵀ ⊗ Iₙ)·vec(X) = vec(c), held as an augmented N × (N+1) array.
  const std::size_t width = big_n + 1;
  if (width > std::vector<double>().max_size() / big_n) throw std::bad_array_new_length();
  std::vector<double> sys(big_n * width, 0.0);
  const auto at = [&](std::size_t r, std::size_t col) -> double& { return sys[r * width + col]; };
  for (std::size_t i = 0; i < m; ++i)
    for (std::size_t j = 0; j < n; ++j)
      for (std::size_t k = 0; k < n; ++k) at(i * n + j, i * n + k) += a(j, k);
  for (std::size_t j = 0; j < m; ++j)
    for (std::size_t k = 0; k < m; ++k)
      for (std::size_t r = 0; r < n; ++r) at(j * n + r, k * n + r) += b(k, j);
  for (std::size_t u = 0; u < m; ++u)
    for (std::size_t w = 0; w < n; ++w) at(u * n + w, big_n) = c(w, u);

  // Gauss–Jordan with partial pivoting (first of equal maxima; NaN never wins).
  for (std::size_t p = 0; p < big_n; ++p) {
    std::size_t best = p;
    double best_abs = std::fabs(at(p, p));
    for (std::size_t r = p + 1; r < big_n; ++r) {
      const double v = std::fabs(at(r, p));
      if (v > best_abs) {
        best = r;
        best_abs = v;
      }
    }
    if (best != p)
      std::swap_ranges(sys.begin() + static_cast<std::ptrdiff_t>(p * width),
                       sys.begin() + static_cast<std::ptrdiff_t>((p + 1) * width),
                       sys.begin() + static_cast<std::ptrdiff_t>(best * width));
    const double piv = at(p, p);
    if (std::fabs(piv) < 1e-300)  // a NaN pivot passes
      return kvel_support::unexpected(std::string("Sylvester: singular coefficient matrix"));
    for (std::size_t q = p; q < width; ++q) at(p, q) = at(p, q) / piv;
    for (std::size_t r = 0; r < big_n; ++r) {
      if (r == p) continue;
      const double f = at(r, p);
      for (std::size_t q = p; q < width; ++q) at(r, q) -= at(p, q) * f;
    }
  }

  for (std::size_t u = 0; u < m; ++u)
    for (std::size_t w = 0; w < n; ++w) x(w, u) = at(u * n + w, big_n);
  return x;
}

MatrixOrError solve_sylvester_eigenbasis(const Eigh& s, const Matrix& c) {
  const Matrix& v = s.eigenvectors;
  const std::size_t n = require_square(v, "eigenvectors");
  if (s.eigenvalues.size() != n)
    kvel_support::panic("matrix_functions: " + std::to_string(s.eigenvalues.size()) +
                        " eigenvalues for " + std::to_string(n) + " eigenvectors");
  require_shape(c, n, n, "c");
  // In S's eigenbasis the equation decouples: (μ_i + μ_j)·Y[i][j] = (Vᵀ·c·V)[i][j].
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j)
      if (std::fabs(s.eigenvalues[i] + s.eigenvalues[j]) < 1e-300)
        return kvel_support::unexpected(std::string("Sylvester: singular coefficient matrix"));
  const Matrix vt = transpose_f64(v);
  Matrix y = matmul_f64(matmul_f64(vt, c), v);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) y(i, j) = y(i, j) / (s.eigenvalues[i] + s.eigenvalues[j]);
  return matmul_f64(matmul_f64(v, y), vt);
}

Matrix matmul_f64(const Matrix& a, const Matrix& b) {
  const std::size_t r = rows(a);
  const std::size_t k = cols(a);
  require_shape(b, k, cols(b), "right factor of matmul_f64");
  const std::size_t c = cols(b);
  // i-l-j order: each result entry still accumulates l = 0 … k−1 in
  // ascending order from 0, while the inner loop runs along rows.
  Matrix out = xt::zeros<double>({r, c});
  for (std::size_t i = 0; i < r; ++i)
    for (std::size_t l = 0; l < k; ++l) {
      const double ail = a(i, l);
      for (std::size_t j = 0; j < c; ++j) out(i, j) += ail * b(l, j);
    }
  return out;
}

Matrix transpose_f64(const Matrix& a) {
  Matrix out = xt::zeros<double>({cols(a), rows(a)});
  for (std::size_t i = 0; i < rows(a); ++i)
    for (std::size_t j = 0; j < cols(a); ++j) out(j, i) = a(i, j);
  return out;
}

Matrix view_to_f64(const xt::xarray<double>& a) {
  if (a.dimension() != 2)
    kvel_support::panic("view_to_f64: array of rank " + std::to_string(a.dimension()) +
                        ", expected 2");
  Matrix out = xt::zeros<double>({a.shape()[0], a.shape()[1]});
  for (std::size_t i = 0; i < a.shape()[0]; ++i)
    for (std::size_t j = 0; j < a.shape()[1]; ++j) out(i, j) = a(i, j);
  return out;
}

xt::xarray<double> f64_to_owned(const Matrix& a) {
  xt::xarray<double> out = xt::zeros<double>({rows(a), cols(a)});
  for (std::size_t i = 0; i < rows(a); ++i)
    for (std::size_t j = 0; j < cols(a); ++j) out(i, j) = a(i, j);
  return out;
}

}  // namespace gradix_autograd::tensor_ops::matrix_functions

#include "autograd/linalg/decomposition_backward.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <string>
#include <utility>

#include "autograd/linalg/matrix_scaling.hpp"
#include "autograd/ndarray_ext.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::tensor_ops::decomposition_backward {
namespace {

using ndarray_ext::gemm;

std::size_t rows(const Matrix& a) { return a.shape()[0]; }
std::size_t cols(const Matrix& a) { return a.shape()[1]; }

void require_shape(const Matrix& a, std::size_t r, std::size_t c, const char* what) {
  if (rows(a) != r || cols(a) != c)
    kvel_support::panic(std::string("decomposition_backward: ") + what + " has shape " +
                        std::to_string(rows(a)) + " x " + std::to_string(cols(a)) +
                        ", expected " + std::to_string(r) + " x " + std::to_string(c));
}

std::size_t require_square(const Matrix& a, const char* what) {
  require_shape(a, rows(a), rows(a), what);
  return rows(a);
}

Matrix transposed(const Matrix& a) {
  Matrix out = xt::zeros<double>({cols(a), rows(a)});
  for (std::size_t i = 0; i < rows(a); ++i)
    for (std::size_t j = 0; j < cols(a); ++j) out(j, i) = a(i, j);
  return out;
}

// Entries with j < i kept, the others 0.
Matrix strictly_lower(Matrix a) {
  for (std::size_t i = 0; i < rows(a); ++i)
    for (std::size_t j = i; j < cols(a); ++j) a(i, j) = 0.0;
  return a;
}

// Entries with j ≥ i kept, the others 0.
Matrix upper(Matrix a) {
  for (std::size_t i = 0; i < rows(a); ++i)
    for (std::size_t j = 0; j < std::min(i, cols(a)); ++j) a(i, j) = 0.0;
  return a;
}

// Columns [from, from + count) as a new matrix.
Matrix col_block(const Matrix& a, std::size_t from, std::size_t count) {
  Matrix out = xt::zeros<double>({rows(a), count});
  for (std::size_t i = 0; i < rows(a); ++i)
    for (std::size_t j = 0; j < count; ++j) out(i, j) = a(i, from + j);
  return out;
}

}  // namespace

Matrix take_cols(const Matrix& a, std::size_t k) {
  if (k > cols(a)) kvel_support::panic("take_cols: k exceeds the column count");
  return col_block(a, 0, k);
}

Matrix take_rows(const Matrix& a, std::size_t k) {
  if (k > rows(a)) kvel_support::panic("take_rows: k exceeds the row count");
  Matrix out = xt::zeros<double>({k, cols(a)});
  for (std::size_t i = 0; i < k; ++i)
    for (std::size_t j = 0; j < cols(a); ++j) out(i, j) = a(i, j);
  return out;
}

Matrix solve_upper_matrix(const Matrix& u, const Matrix& b) {
  const std::size_t n = rows(b);
  require_shape(u, n, n, "U");
  Matrix x = xt::zeros<double>({n, cols(b)});
  std::vector<double> rhs(n);
  std::vector<double> sol(n);
  for (std::size_t v = 0; v < cols(b); ++v) {
    for (std::size_t i = 0; i < n; ++i) rhs[i] = b(i, v);
    for (std::size_t i = n; i-- > 0;) {
      double h = rhs[i];
      for (std::size_t j = i + 1; j < n; ++j) h = h - u(i, j) * sol[j];
      const double d = u(i, i);
      sol[i] = d != 0.0 ? h / d : 0.0;  // a NaN diagonal divides
    }
    for (std::size_t i = 0; i < n; ++i) x(i, v) = sol[i];
  }
  return x;
}

Matrix right_solve_lower(const Matrix& b, const Matrix& l) {
  return transposed(solve_upper_matrix(transposed(l), transposed(b)));
}

Matrix cholesky_backward(const Matrix& l, const Matrix& dl) {
  const std::size_t n = require_square(l, "L");
  require_shape(dl, n, n, "dL");
  const Matrix p = gemm(l, true, dl, false);
  Matrix phi = xt::zeros<double>({n, n});
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < i; ++j) phi(i, j) = p(i, j);
    phi(i, i) = 0.5 * p(i, i);
  }
  const Matrix s = phi + transposed(phi);
  const Matrix y = right_solve_lower(s, l);
  Matrix z = solve_upper_matrix(transposed(l), y);
  for (double& e : z) e = 0.5 * e;
  return z;
}

Matrix lu_backward(const Matrix& p, const Matrix& l, const Matrix& u, const Matrix& dl,
                   const Matrix& du) {
  const std::size_t n = require_square(l, "L");
  require_shape(p, n, n, "P");
  require_shape(u, n, n, "U");
  require_shape(dl, n, n, "dL");
  require_shape(du, n, n, "dU");
  const Matrix lt = transposed(l);
  const Matrix ut = transposed(u);
  const Matrix f = strictly_lower(gemm(lt, false, strictly_lower(dl), false));
  const Matrix g = upper(gemm(upper(du), false, ut, false));
  const Matrix s = f + g;
  const Matrix y = solve_upper_matrix(lt, s);
  const Matrix z = right_solve_lower(y, ut);
  return gemm(p, true, z, false);
}

Matrix qr_backward(const Matrix& q, const Matrix& r, const Matrix& dq, const Matrix& dr) {
  require_shape(dq, rows(q), cols(q), "dQ");
  require_shape(dr, rows(r), cols(r), "dR");
  const std::size_t m = rows(q);
  const std::size_t n = cols(r);
  const std::size_t k = std::min({cols(q), rows(r), n});

  const Matrix dr1 = upper(take_rows(dr, k));
  const Matrix r1 = take_rows(r, k);
  const Matrix r11 = take_cols(r1, k);
  const Matrix dr11 = take_cols(dr1, k);
  const Matrix qk = take_cols(q, k);
  Matrix dqk = take_cols(dq, k);

  // Wide A = Q·[R₁₁ R₁₂]: R₁₂ = Qᵀ·A[:, k:] feeds back into Q as
  // A[:, k:]·dR₁₂ᵀ and into A[:, k:] as Q·dR₁₂.
  const std::size_t extra = n - k;
  Matrix dr12;
  if (extra > 0) {
    dr12 = col_block(dr1, k, extra);
    const Matrix a12 = gemm(qk, false, col_block(r1, k, extra), false);
    dqk = dqk + gemm(a12, false, dr12, true);
  }

  const Matrix mm = gemm(r11, false, dr11, true) - gemm(dqk, true, qk, false);
  Matrix c = xt::zeros<double>({k, k});
  for (std::size_t i = 0; i < k; ++i)
    for (std::size_t j = 0; j < k; ++j) c(i, j) = mm(std::max(i, j), std::min(i, j));
  const Matrix b = dqk + gemm(qk, false, c, false);
  const Matrix x = right_solve_lower(b, transposed(r11));
  if (extra == 0) return x;

  Matrix da = xt::zeros<double>({m, n});
  const Matrix da12 = gemm(qk, false, dr12, false);
  for (std::size_t i = 0; i < m; ++i) {
    for (std::size_t j = 0; j < k; ++j) da(i, j) = x(i, j);
    for (std::size_t j = 0; j < extra; ++j) da(i, k + j) = da12(i, j);
  }
  return da;
}

Matrix svd_backward(const Matrix& u, const std::vector<double>& s, const Matrix& vt,
                    const Matrix& du, const std::vector<double>& ds, const Matrix& dvt) {
  const std::size_t k = s.size();
  const std::size_t m = rows(u);
  const std::size_t n = cols(vt);
  require_shape(u, m, k, "U");
  require_shape(vt, k, n, "Vt");
  require_shape(du, m, k, "dU");
  require_shape(dvt, k, n, "dVt");
  if (ds.size() < k) kvel_support::panic("svd_backward: dS shorter than s");

  const Matrix v = transposed(vt);
  const Matrix dv = transposed(dvt);
  Matrix f = xt::zeros<double>({k, k});
  for (std::size_t i = 0; i < k; ++i)
    for (std::size_t j = 0; j < k; ++j) {
      const double gap = s[j] * s[j] - s[i] * s[i];
      if (i != j && std::fabs(gap) > 1e-12) f(i, j) = 1.0 / gap;
    }
  const Matrix j_mat = gemm(u, true, du, false);
  const Matrix k_mat = gemm(v, true, dv, false);
  Matrix c = xt::zeros<double>({k, k});
  for (std::size_t a = 0; a < k; ++a)
    for (std::size_t i = 0; i < k; ++i) {
      const double t1 = (j_mat(a, i) - j_mat(i, a)) * f(a, i);
      const double t2 = (k_mat(a, i) - k_mat(i, a)) * f(a, i);
      c(a, i) = s[a] * t2 + t1 * s[i];
    }
  for (std::size_t a = 0; a < k; ++a) c(a, a) = ds[a] + c(a, a);
  Matrix da = gemm(gemm(u, false, c, false), false, vt, false);

  // The parts of dU and dV outside the spans of U and V, scaled by S⁻¹
  // (0 for singular values of magnitude 1e-12 or less).
  const auto scaled_residual = [&s, k](const Matrix& d, const Matrix& base, const Matrix& proj) {
    Matrix out = d - gemm(base, false, proj, false);
    for (std::size_t i = 0; i < rows(out); ++i)
      for (std::size_t j = 0; j < k; ++j)
        out(i, j) = std::fabs(s[j]) > 1e-12 ? out(i, j) / s[j] : 0.0;
    return out;
  };
  if (m > k) da = da + gemm(scaled_residual(du, u, j_mat), false, vt, false);
  if (n > k) da = da + gemm(u, false, scaled_residual(dv, v, k_mat), true);
  return da;
}

}  // namespace gradix_autograd::tensor_ops::decomposition_backward

namespace gradix_autograd::tensor_ops::decomposition_ops::backward_ops {
namespace {

// Orders doubles as the IEEE total order does (−NaN < −inf < … < −0 < +0 <
// … < +inf < +NaN) when compared as signed integers.
std::int64_t total_order_key(double x) {
  const auto bits = std::bit_cast<std::int64_t>(x);
  return bits ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(bits >> 63) >> 1);
}

double signum(double x) {
  if (std::isnan(x)) return x;
  return std::copysign(1.0, x);
}

}  // namespace

Svd svd_jacobi_f64(const Matrix& a) {
  const std::size_t m = a.shape()[0];
  const std::size_t n = a.shape()[1];
  // A matrix of extreme scale is rotated as 2^e·a (exact), so that the sums
  // of squares neither overflow nor underflow; the singular values are scaled
  // back at the end, the singular vectors are those of a.
  const int e = matrix_scaling::safe_scale_exponent(a);

  // The working columns of W (m values each) and of V (n values each) are
  // stored one after the other, so every sum and rotation runs over
  // contiguous memory; the arithmetic and its order are those of the columns.
  std::vector<double> w(m * n);
  for (std::size_t r = 0; r < m; ++r)
    for (std::size_t j = 0; j < n; ++j) w[j * m + r] = std::ldexp(a(r, j), e);
  std::vector<double> v(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) v[i * n + i] = 1.0;

  const auto rotate = [](double* xp_col, double* xq_col, std::size_t len, double c, double s) {
    for (std::size_t r = 0; r < len; ++r) {
      const double xp = xp_col[r];
      const double xq = xq_col[r];
      xp_col[r] = c * xp - s * xq;
      xq_col[r] = s * xp + c * xq;
    }
  };

  for (int sweep = 0; sweep < 60; ++sweep) {
    bool rotated = false;
    for (std::size_t p = 0; p + 1 < n; ++p) {
      for (std::size_t q = p + 1; q < n; ++q) {
        double* wp = w.data() + p * m;
        double* wq = w.data() + q * m;
        double alpha = 0.0, beta = 0.0, gamma = 0.0;
        for (std::size_t r = 0; r < m; ++r) {
          alpha += wp[r] * wp[r];
          beta += wq[r] * wq[r];
          gamma += wp[r] * wq[r];
        }
        // √(α·β); √α·√β only where the product underflows to zero or
        // overflows, where √(α·β) would rotate every pair or skip every pair.
        // Elsewhere, a subnormal product included, the test is √(α·β) to
        // the bit.
        const double ab = alpha * beta;
        const double norms = (ab == 0.0 || std::isinf(ab)) ? std::sqrt(alpha) * std::sqrt(beta) : std::sqrt(ab);
        if (1e-15 * norms >= std::fabs(gamma)) continue;  // NaN rotates
        const double zeta = (beta - alpha) / (2.0 * gamma);
        const double t =
            zeta == 0.0 ? 1.0 : signum(zeta) / (std::sqrt(zeta * zeta + 1.0) + std::fabs(zeta));
        const double c = 1.0 / std::sqrt(t * t + 1.0);
        const double s = t * c;
        rotate(wp, wq, m, c, s);
        rotate(v.data() + p * n, v.data() + q * n, n, c, s);
        rotated = true;
      }
    }
    if (!rotated) break;
  }

  std::vector<double> sigma(n);
  for (std::size_t j = 0; j < n; ++j) {
    double sum = 0.0;
    for (std::size_t r = 0; r < m; ++r) sum += w[j * m + r] * w[j * m + r];
    sigma[j] = std::sqrt(sum);
  }
  std::vector<std::size_t> order(n);
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(), [&sigma](std::size_t x, std::size_t y) {
    return total_order_key(sigma[x]) > total_order_key(sigma[y]);
  });

  const std::size_t k = std::min(m, n);
  Svd out{xt::zeros<double>({m, k}), std::vector<double>(k), xt::zeros<double>({k, n})};
  for (std::size_t idx = 0; idx < k; ++idx) {
    const std::size_t j = order[idx];
    out.s[idx] = std::ldexp(sigma[j], -e);
    if (sigma[j] > 1e-300)
      for (std::size_t r = 0; r < m; ++r) out.u(r, idx) = w[j * m + r] / sigma[j];
    for (std::size_t c = 0; c < n; ++c) out.vt(idx, c) = v[j * n + c];
  }
  return out;
}

Qr qr_gram_schmidt(const Matrix& a_in) {
  const std::size_t m = a_in.shape()[0];
  const std::size_t n = a_in.shape()[1];
  // A matrix of extreme scale is factored as 2^e·a (exact), so that the
  // column norms neither overflow nor underflow past the rank tests; Q is
  // that of a, and R is scaled back at the end.
  const int e = matrix_scaling::safe_scale_exponent(a_in);
  const Matrix a = matrix_scaling::scaled(a_in, e);
  Matrix q = xt::zeros<double>({m, m});
  for (std::size_t i = 0; i < m; ++i)
    for (std::size_t j = 0; j < std::min(m, n); ++j) q(i, j) = a(i, j);
  for (std::size_t i = n; i < m; ++i) q(i, i) = 1.0;

  // One modified Gram–Schmidt pass over column c against columns 0 … c−1.
  const auto project_out = [&q, m](std::size_t c) {
    for (std::size_t j = 0; j < c; ++j) {
      double d = 0.0;
      for (std::size_t i = 0; i < m; ++i) d += q(i, j) * q(i, c);
      for (std::size_t i = 0; i < m; ++i) q(i, c) -= q(i, j) * d;
    }
  };
  const auto column_norm = [&q, m](std::size_t c) {
    double sum = 0.0;
    for (std::size_t i = 0; i < m; ++i) sum += q(i, c) * q(i, c);
    return std::sqrt(sum);
  };
  const auto divide_column = [&q, m](std::size_t c, double nrm) {
    for (std::size_t i = 0; i < m; ++i) q(i, c) /= nrm;
  };
  // A remainder is kept when it is a normal number and large enough against
  // what it came from that one pass leaves it orthogonal to rounding.
  const auto keeps = [](double remainder, double from, double fraction) {
    return remainder >= std::numeric_limits<double>::min() && remainder > fraction * from;
  };

  for (std::size_t c = 0; c < m; ++c) {
    const double original = column_norm(c);
    project_out(c);
    const double nrm = column_norm(c);
    if (!std::isfinite(nrm)) {  // infinite or NaN entries propagate
      if (nrm > std::numeric_limits<double>::epsilon()) divide_column(c, nrm);
      continue;
    }
    if (keeps(nrm, original, 1e-2)) {
      divide_column(c, nrm);
      continue;
    }
    // Most of the column cancelled: orthogonalise the remainder once more,
    // and keep it if that second pass left most of it.
    if (nrm >= std::numeric_limits<double>::min()) {
      project_out(c);
      const double again = column_norm(c);
      if (keeps(again, nrm, 0.5)) {
        divide_column(c, again);
        continue;
      }
    }
    // A dependent column: Q is completed with the unit vector e_k that lies
    // least in the span of the columns so far (the first such k), made
    // orthogonal to them. Its remainder has at least length √((m − c)/m), so
    // two passes leave it orthogonal to rounding.
    std::size_t best = 0;
    double best_weight = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < m; ++k) {
      double weight = 0.0;
      for (std::size_t j = 0; j < c; ++j) weight += q(k, j) * q(k, j);
      if (weight < best_weight) {
        best = k;
        best_weight = weight;
      }
    }
    for (std::size_t i = 0; i < m; ++i) q(i, c) = i == best ? 1.0 : 0.0;
    project_out(c);
    project_out(c);
    divide_column(c, column_norm(c));
  }

  Matrix r = xt::zeros<double>({m, n});
  for (std::size_t row = 0; row < m; ++row)
    for (std::size_t c = 0; c < n; ++c) {
      double sum = 0.0;
      for (std::size_t j = 0; j < m; ++j) sum += q(j, row) * a(j, c);
      r(row, c) = std::ldexp(sum, -e);
    }
  return {std::move(q), std::move(r)};
}

Lu lu_doolittle(const Matrix& a) {
  const std::size_t n = a.shape()[0];
  if (a.shape()[1] != n) kvel_support::panic("lu_doolittle: matrix is not square");
  Matrix eye = xt::zeros<double>({n, n});
  for (std::size_t i = 0; i < n; ++i) eye(i, i) = 1.0;
  Lu out{eye, eye, a};
  Matrix& l = out.l;
  Matrix& u = out.u;
  for (std::size_t k = 0; k + 1 < n; ++k) {
    if (!(std::fabs(u(k, k)) > std::numeric_limits<double>::epsilon())) continue;  // NaN too
    for (std::size_t row = k + 1; row < n; ++row) {
      l(row, k) = u(row, k) / u(k, k);
      for (std::size_t c = k; c < n; ++c) u(row, c) -= l(row, k) * u(k, c);
    }
  }
  for (std::size_t row = 0; row < n; ++row)
    for (std::size_t c = 0; c < row; ++c) u(row, c) = 0.0;
  return out;
}

std::optional<Matrix> cholesky_banachiewicz(const Matrix& a) {
  const std::size_t n = a.shape()[0];
  if (a.shape()[1] != n) kvel_support::panic("cholesky_banachiewicz: matrix is not square");
  Matrix l = xt::zeros<double>({n, n});
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < i; ++j) {
      double v = 0.0;
      for (std::size_t k = 0; k < j; ++k) v += l(i, k) * l(j, k);
      const double w = l(j, j);
      l(i, j) = w != 0.0 ? (a(i, j) - v) / w : 0.0;  // a NaN w divides
    }
    double sum = 0.0;
    for (std::size_t k = 0; k < i; ++k) sum += l(i, k) * l(i, k);
    const double d = a(i, i) - sum;
    if (d <= 0.0) return std::nullopt;  // a NaN d passes
    l(i, i) = std::sqrt(d);
  }
  return l;
}

}  // namespace gradix_autograd::tensor_ops::decomposition_ops::backward_ops

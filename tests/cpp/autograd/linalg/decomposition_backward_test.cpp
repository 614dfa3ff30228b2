#include "autograd/linalg/decomposition_backward.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

#include "linalg_test_support.hpp"
#include "support/panic.hpp"

namespace {

namespace db = gradix_autograd::tensor_ops::decomposition_backward;
using gradix_autograd::tensor_ops::decomposition_ops::backward_ops::Svd;
using gradix_autograd::tensor_ops::decomposition_ops::backward_ops::svd_jacobi_f64;
using linalg_test::exactly;
using linalg_test::identity;
using linalg_test::mat;
using linalg_test::aligned_svd;
using linalg_test::diag_of;
using linalg_test::Matrix;
using linalg_test::near;
using linalg_test::product;
using linalg_test::row_of;
using linalg_test::transpose;
using linalg_test::zeros;

// ---- factorisations (forward passes for the gradient checks) --------------

namespace bo = gradix_autograd::tensor_ops::decomposition_ops::backward_ops;

Matrix cholesky(const Matrix& a) { return bo::cholesky_banachiewicz(a).value(); }

std::pair<Matrix, Matrix> lu(const Matrix& a) {
  bo::Lu f = bo::lu_doolittle(a);
  return {std::move(f.l), std::move(f.u)};
}

// Thin QR: Q is m × k, R = Qᵀ·A is k × n.
std::pair<Matrix, Matrix> qr(const Matrix& a) {
  const std::size_t k = std::min(a.shape()[0], a.shape()[1]);
  const bo::Qr f = bo::qr_gram_schmidt(a);
  return {db::take_cols(f.q, k), db::take_rows(f.r, k)};
}

// ---- solvers and slicing ---------------------------------------------------

TEST(TriangularSolvers, ZeroPivotGivesZeroComponent) {
  EXPECT_TRUE(exactly(db::solve_upper_matrix(mat({{2, 1}, {0, 0}}), mat({{3}, {5}})),
                      mat({{1.5}, {0}})));
}

TEST(TriangularSolvers, SolveAgainstTriangularFactors) {
  const Matrix b = linalg_test::fixed_random(3, 2, 5);
  EXPECT_TRUE(exactly(db::right_solve_lower(transpose(b), identity(3)), transpose(b)));
  const Matrix l = cholesky(linalg_test::fixed_spd(3, 6));
  EXPECT_TRUE(near(product(transpose(l), db::solve_upper_matrix(transpose(l), b)), b, 1e-14));
  EXPECT_TRUE(near(product(db::right_solve_lower(transpose(b), l), l), transpose(b), 1e-14));
}

TEST(Slicing, TakeLeadingColumnsAndRows) {
  const Matrix a = mat({{1, 2, 3}, {4, 5, 6}});
  EXPECT_EQ(db::take_cols(a, 2), mat({{1, 2}, {4, 5}}));
  EXPECT_EQ(db::take_rows(a, 1), mat({{1, 2, 3}}));
  EXPECT_EQ(db::take_cols(a, 0).shape()[1], 0u);
  EXPECT_THROW(db::take_cols(a, 4), kvel_support::FatalError);
  EXPECT_THROW(db::take_rows(a, 3), kvel_support::FatalError);
}

// ---- fixed cases -----------------------------------------------------------

TEST(DecompositionBackward, ScalarCases) {
  EXPECT_TRUE(exactly(db::cholesky_backward(mat({{2}}), mat({{1}})), mat({{0.25}})));
  for (double h : {0.0, 1.0, -3.5})
    EXPECT_TRUE(exactly(db::qr_backward(mat({{1}}), mat({{2}}), mat({{h}}), mat({{0.75}})),
                        mat({{0.75}})))
        << h;
  EXPECT_TRUE(exactly(db::svd_backward(mat({{1}}), {2.0}, mat({{1}}), zeros(1, 1), {1.5},
                                       zeros(1, 1)),
                      mat({{1.5}})));
}

TEST(DecompositionBackward, LuReadsOnlyTheFactorsOwnTriangles) {
  const Matrix i2 = identity(2);
  const Matrix expected = mat({{0, 0}, {1, 0}});
  EXPECT_TRUE(exactly(db::lu_backward(i2, i2, i2, mat({{0, 0}, {1, 0}}), zeros(2, 2)), expected));
  EXPECT_TRUE(exactly(db::lu_backward(i2, i2, i2, mat({{7, 8}, {1, 9}}), mat({{0, 0}, {5, 0}})),
                      expected));
}

TEST(DecompositionBackward, SvdWithRepeatedOrZeroSingularValuesStaysFinite) {
  // Equal singular values: the divided differences are left 0.
  const Matrix da = db::svd_backward(identity(2), {1.0, 1.0}, identity(2),
                                     mat({{0, 1}, {0, 0}}), {0.0, 0.0}, zeros(2, 2));
  for (double e : da) EXPECT_TRUE(std::isfinite(e));
  // A zero singular value with m > k: its column of the residual term is 0.
  const Matrix u = mat({{1, 0}, {0, 1}, {0, 0}});
  const Matrix du = mat({{0, 0}, {0, 0}, {1, 1}});
  const Matrix out = db::svd_backward(u, {2.0, 0.0}, identity(2), du, {0.0, 0.0}, zeros(2, 2));
  EXPECT_TRUE(exactly(out, mat({{0, 0}, {0, 0}, {0.5, 0}})));
}

// ---- one-sided Jacobi SVD --------------------------------------------------

TEST(SvdJacobi, DiagonalAndZeroMatrices) {
  const Svd sorted = svd_jacobi_f64(mat({{3, 0}, {0, 2}}));
  EXPECT_EQ(sorted.s, (std::vector<double>{3, 2}));
  EXPECT_TRUE(exactly(sorted.u, identity(2)));
  EXPECT_TRUE(exactly(sorted.vt, identity(2)));

  const Svd swapped = svd_jacobi_f64(mat({{2, 0}, {0, 3}}));
  EXPECT_EQ(swapped.s, (std::vector<double>{3, 2}));
  EXPECT_TRUE(exactly(swapped.u, mat({{0, 1}, {1, 0}})));
  EXPECT_TRUE(exactly(swapped.vt, mat({{0, 1}, {1, 0}})));

  const Svd zero = svd_jacobi_f64(zeros(2, 2));
  EXPECT_EQ(zero.s, (std::vector<double>{0, 0}));
  EXPECT_TRUE(exactly(zero.u, zeros(2, 2)));
  EXPECT_TRUE(exactly(zero.vt, identity(2)));
}

TEST(SvdJacobi, ReconstructsWithOrthonormalFactors) {
  const std::pair<std::size_t, std::size_t> sizes[] = {{1, 1}, {3, 3}, {5, 5}, {4, 2}, {2, 4}};
  for (auto [m, n] : sizes) {
    const Matrix a = linalg_test::fixed_random(m, n, 7 * m + n);
    const Svd f = svd_jacobi_f64(a);
    const std::size_t k = std::min(m, n);
    ASSERT_EQ(f.s.size(), k);
    for (std::size_t i = 1; i < k; ++i) EXPECT_GE(f.s[i - 1], f.s[i]);
    EXPECT_TRUE(near(product(product(f.u, diag_of(f.s)), f.vt), a, 1e-13)) << m << "x" << n;
    EXPECT_TRUE(near(product(transpose(f.u), f.u), identity(k), 1e-13)) << m << "x" << n;
    EXPECT_TRUE(near(product(f.vt, transpose(f.vt)), identity(k), 1e-13)) << m << "x" << n;
  }
}

// numpy.linalg.svd(..., compute_uv=False) of a fixed 3 × 2 matrix.
TEST(SvdJacobi, MatchesReferenceSingularValues) {
  const Svd f = svd_jacobi_f64(mat({{1, 2}, {3, 4}, {5, 6}}));
  EXPECT_NEAR(f.s[0], 9.525518091565107, 1e-13);
  EXPECT_NEAR(f.s[1], 0.5143005806586443, 1e-13);
}

// ---- gradient checks against finite differences ----------------------------

TEST(DecompositionGradients, CholeskyMatchesFiniteDifferences) {
  for (std::size_t n : {1u, 3u, 5u}) {
    const Matrix a = linalg_test::fixed_spd(n, 90 + n);
    const Matrix g = linalg_test::fixed_random(n, n, 91 + n);
    const Matrix da = db::cholesky_backward(cholesky(a), g);
    EXPECT_TRUE(linalg_test::matches_finite_differences(
        cholesky, a, g, da, linalg_test::directions_like(a, true), 1e-7))
        << n;
  }
}

TEST(DecompositionGradients, LuMatchesFiniteDifferences) {
  for (std::size_t n : {1u, 3u, 5u}) {
    const Matrix a = linalg_test::fixed_spd(n, 100 + n) + linalg_test::fixed_random(n, n, 3);
    const auto [l, u] = lu(a);
    const auto dirs = linalg_test::directions_like(a, false);
    const Matrix gl = linalg_test::fixed_random(n, n, 110 + n);
    const Matrix gu = linalg_test::fixed_random(n, n, 120 + n);
    const Matrix p = identity(n);
    EXPECT_TRUE(linalg_test::matches_finite_differences(
        [](const Matrix& x) { return lu(x).first; }, a, gl,
        db::lu_backward(p, l, u, gl, zeros(n, n)), dirs, 1e-7))
        << "L " << n;
    EXPECT_TRUE(linalg_test::matches_finite_differences(
        [](const Matrix& x) { return lu(x).second; }, a, gu,
        db::lu_backward(p, l, u, zeros(n, n), gu), dirs, 1e-7))
        << "U " << n;
  }
}

// Square, tall (thin factors) and wide matrices; the wide rows cover the
// trailing columns of R, which depend on Q as well as on A.
TEST(DecompositionGradients, QrMatchesFiniteDifferences) {
  const std::pair<std::size_t, std::size_t> sizes[] = {{1, 1}, {3, 3}, {4, 2}, {2, 3}, {2, 4}};
  for (auto [m, n] : sizes) {
    const Matrix a = linalg_test::fixed_random(m, n, 130 + 5 * m + n);
    const auto [q, r] = qr(a);
    const auto dirs = linalg_test::directions_like(a, false);
    const Matrix gq = linalg_test::fixed_random(q.shape()[0], q.shape()[1], 140);
    const Matrix gr = linalg_test::fixed_random(r.shape()[0], r.shape()[1], 141);
    const Matrix zq = zeros(q.shape()[0], q.shape()[1]);
    const Matrix zr = zeros(r.shape()[0], r.shape()[1]);
    EXPECT_TRUE(linalg_test::matches_finite_differences(
        [](const Matrix& x) { return qr(x).first; }, a, gq, db::qr_backward(q, r, gq, zr), dirs,
        1e-7))
        << "Q " << m << "x" << n;
    EXPECT_TRUE(linalg_test::matches_finite_differences(
        [](const Matrix& x) { return qr(x).second; }, a, gr, db::qr_backward(q, r, zq, gr), dirs,
        1e-7))
        << "R " << m << "x" << n;
  }
}

// Full factors of a tall matrix (Q m × m, R m × n) are read as the thin QR.
TEST(DecompositionGradients, QrFullFactorsOfTallMatrixReadAsThin) {
  const Matrix a = linalg_test::fixed_random(4, 2, 150);
  const auto [q, r] = qr(a);
  const Matrix gq = linalg_test::fixed_random(4, 2, 151);
  Matrix q_full = zeros(4, 4), r_full = zeros(4, 2), gq_full = zeros(4, 4);
  for (std::size_t i = 0; i < 4; ++i)
    for (std::size_t j = 0; j < 2; ++j) {
      q_full(i, j) = q(i, j);
      gq_full(i, j) = gq(i, j);
    }
  for (std::size_t i = 0; i < 2; ++i)
    for (std::size_t j = 0; j < 2; ++j) r_full(i, j) = r(i, j);
  EXPECT_TRUE(near(db::qr_backward(q_full, r_full, gq_full, zeros(4, 2)),
                   db::qr_backward(q, r, gq, zeros(2, 2)), 1e-15));
}

TEST(DecompositionGradients, SvdMatchesFiniteDifferences) {
  const std::pair<std::size_t, std::size_t> sizes[] = {{1, 1}, {3, 3}, {4, 2}, {2, 4}};
  for (auto [m, n] : sizes) {
    const Matrix a = linalg_test::fixed_random(m, n, 160 + 5 * m + n);
    const Svd f = svd_jacobi_f64(a);
    const std::size_t k = f.s.size();
    const auto dirs = linalg_test::directions_like(a, false);
    const Matrix gu = linalg_test::fixed_random(m, k, 170);
    const Matrix gs = linalg_test::fixed_random(1, k, 171);
    const Matrix gvt = linalg_test::fixed_random(k, n, 172);
    const std::vector<double> ds(gs.begin(), gs.end());
    const std::vector<double> no_ds(k, 0.0);
    EXPECT_TRUE(linalg_test::matches_finite_differences(
        [&f](const Matrix& x) { return aligned_svd(x, f).u; }, a, gu,
        db::svd_backward(f.u, f.s, f.vt, gu, no_ds, zeros(k, n)), dirs, 1e-6))
        << "U " << m << "x" << n;
    EXPECT_TRUE(linalg_test::matches_finite_differences(
        [](const Matrix& x) { return row_of(svd_jacobi_f64(x).s); }, a, gs,
        db::svd_backward(f.u, f.s, f.vt, zeros(m, k), ds, zeros(k, n)), dirs, 1e-7))
        << "S " << m << "x" << n;
    EXPECT_TRUE(linalg_test::matches_finite_differences(
        [&f](const Matrix& x) { return aligned_svd(x, f).vt; }, a, gvt,
        db::svd_backward(f.u, f.s, f.vt, zeros(m, k), no_ds, gvt), dirs, 1e-6))
        << "Vt " << m << "x" << n;
  }
}

// ---- zero sizes ------------------------------------------------------------

TEST(DecompositionBackward, ZeroSizes) {
  const Matrix e = zeros(0, 0);
  EXPECT_EQ(db::cholesky_backward(e, e).size(), 0u);
  EXPECT_EQ(db::lu_backward(e, e, e, e, e).size(), 0u);
  EXPECT_EQ(db::qr_backward(e, e, e, e).size(), 0u);
  EXPECT_EQ(db::svd_backward(e, {}, e, e, {}, e).size(), 0u);
  EXPECT_EQ(db::solve_upper_matrix(e, zeros(0, 3)).shape()[1], 3u);

  const std::pair<std::size_t, std::size_t> sizes[] = {{0, 0}, {2, 0}, {0, 3}};
  for (auto [m, n] : sizes) {
    const Svd f = svd_jacobi_f64(zeros(m, n));
    EXPECT_TRUE(f.s.empty());
    EXPECT_EQ(f.u.shape()[0], m);
    EXPECT_EQ(f.vt.shape()[1], n);
    const Matrix da = db::svd_backward(f.u, f.s, f.vt, f.u, f.s, f.vt);
    EXPECT_EQ(da.shape()[0], m);
    EXPECT_EQ(da.shape()[1], n);
    // QR of an m × n matrix: Q m × m, R m × n.
    const Matrix dq = db::qr_backward(zeros(m, m), zeros(m, n), zeros(m, m), zeros(m, n));
    EXPECT_EQ(dq.shape()[0], m);
    EXPECT_EQ(dq.shape()[1], n);
  }
}

TEST(DecompositionBackward, ShapeMisuseIsFatal) {
  EXPECT_THROW(db::cholesky_backward(zeros(2, 3), zeros(2, 3)), kvel_support::FatalError);
  EXPECT_THROW(db::cholesky_backward(identity(2), zeros(3, 3)), kvel_support::FatalError);
  EXPECT_THROW(db::lu_backward(identity(2), identity(2), identity(2), zeros(2, 1), zeros(2, 2)),
               kvel_support::FatalError);
  EXPECT_THROW(db::qr_backward(identity(2), identity(2), zeros(3, 2), zeros(2, 2)),
               kvel_support::FatalError);
  EXPECT_THROW(db::svd_backward(identity(2), {1.0, 2.0}, identity(2), zeros(2, 2), {1.0},
                                zeros(2, 2)),
               kvel_support::FatalError);
}

}  // namespace

#include "autograd/linalg/matrix_functions.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "linalg_test_support.hpp"
#include "support/panic.hpp"

namespace {

namespace mf = gradix_autograd::tensor_ops::matrix_functions;
using linalg_test::exactly;
using linalg_test::identity;
using linalg_test::mat;
using linalg_test::diag_of;
using linalg_test::Matrix;
using linalg_test::spectral_function;
using linalg_test::near;
using linalg_test::zeros;

// ---- jacobi_eigh -----------------------------------------------------------

TEST(JacobiEigh, DiagonalMatrixIsNotRotatedNorSorted) {
  const mf::Eigh eig = mf::jacobi_eigh(mat({{3, 0, 0}, {0, 1, 0}, {0, 0, 2}}));
  EXPECT_EQ(eig.eigenvalues, (std::vector<double>{3, 1, 2}));
  EXPECT_TRUE(exactly(eig.eigenvectors, identity(3)));
}

TEST(JacobiEigh, TwoByTwoRotationLeavesOneThenThree) {
  const mf::Eigh eig = mf::jacobi_eigh(mat({{2, 1}, {1, 2}}));
  EXPECT_EQ(eig.eigenvalues, (std::vector<double>{1, 3}));
  const double c = 1.0 / std::sqrt(2.0);
  EXPECT_TRUE(exactly(eig.eigenvectors, mat({{c, c}, {-c, c}})));
}

TEST(JacobiEigh, EmptyAndScalar) {
  const mf::Eigh empty = mf::jacobi_eigh(zeros(0, 0));
  EXPECT_TRUE(empty.eigenvalues.empty());
  EXPECT_EQ(empty.eigenvectors.size(), 0u);
  const mf::Eigh one = mf::jacobi_eigh(mat({{-7.5}}));
  EXPECT_EQ(one.eigenvalues, (std::vector<double>{-7.5}));
  EXPECT_TRUE(exactly(one.eigenvectors, identity(1)));
}

// The stopping test is relative to the matrix's scale: a tiny matrix is
// still diagonalised (an absolute 1e-28 left it unrotated as [2e-15, 2e-15]).
TEST(JacobiEigh, TinyMatrixIsStillDiagonalised) {
  const Matrix a = 1e-15 * mat({{2, 1}, {1, 2}});
  const mf::Eigh eig = mf::jacobi_eigh(a);
  EXPECT_DOUBLE_EQ(eig.eigenvalues[0], 1e-15);
  EXPECT_DOUBLE_EQ(eig.eigenvalues[1], 3e-15);
}

TEST(JacobiEigh, ReconstructsSymmetricMatricesWithOrthonormalVectors) {
  for (std::size_t n : {1u, 3u, 5u, 8u}) {
    const Matrix a = linalg_test::symmetrized(linalg_test::fixed_random(n, n, n));
    const mf::Eigh eig = mf::jacobi_eigh(a);
    const Matrix& v = eig.eigenvectors;
    const Matrix vt = linalg_test::transpose(v);
    EXPECT_TRUE(near(linalg_test::product(linalg_test::product(v, diag_of(eig.eigenvalues)), vt),
                     a, 1e-13))
        << n;
    EXPECT_TRUE(near(linalg_test::product(vt, v), identity(n), 1e-13)) << n;
  }
}

// Eigenvalues of a fixed matrix, from numpy.linalg.eigvalsh (sorted here).
TEST(JacobiEigh, MatchesReferenceEigenvalues) {
  const Matrix a = mat({{4, 1, -2}, {1, 2, 0.5}, {-2, 0.5, 3}});
  std::vector<double> l = mf::jacobi_eigh(a).eigenvalues;
  std::sort(l.begin(), l.end());
  const double ref[] = {0.6539237684613848, 2.716348465618261, 5.629727765920352};
  for (std::size_t i = 0; i < 3; ++i) EXPECT_NEAR(l[i], ref[i], 1e-13);
}

// ---- is_symmetric_f64 ------------------------------------------------------

TEST(IsSymmetric, TableOfCases) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    Matrix a;
    bool symmetric;
    const char* what;
  };
  const Case cases[] = {
      {zeros(0, 0), true, "empty"},
      {zeros(2, 2), true, "zero"},
      {zeros(2, 3), false, "not square"},
      {zeros(0, 3), false, "0x3"},
      {mat({{0, 1e-9}, {0, 0}}), false, "relative test"},
      {mat({{1, 2}, {2 + 1e-12, 1}}), true, "within tolerance"},
      {mat({{1, 2}, {3, 4}}), false, "plainly asymmetric"},
      {mat({{1, nan}, {nan, 1}}), false, "NaN off the diagonal"},
      {mat({{nan, 0}, {0, 1}}), true, "NaN only on the diagonal"},
  };
  for (const Case& c : cases) EXPECT_EQ(mf::is_symmetric_f64(c.a), c.symmetric) << c.what;
}

// ---- sqrtm_spd_f64 ---------------------------------------------------------

TEST(SqrtmSpd, DiagonalRoot) {
  const auto s = mf::sqrtm_spd_f64(mat({{4, 0}, {0, 9}}));
  ASSERT_TRUE(s.has_value());
  EXPECT_TRUE(exactly(*s, mat({{2, 0}, {0, 3}})));
}

TEST(SqrtmSpd, Failures) {
  struct Case {
    Matrix a;
    const char* message;
  };
  const Case cases[] = {
      {mat({{1, 0}, {0, 0}}), "sqrtm backward: non-positive eigenvalue 0e0; input must be SPD"},
      {mat({{1, 0}, {0, -0.5}}), "sqrtm backward: non-positive eigenvalue -5e-1; input must be SPD"},
      {mat({{1, 2}, {3, 4}}), "sqrtm backward: input matrix is not symmetric"},
      {zeros(2, 3), "sqrtm backward: input matrix is not symmetric"},
  };
  for (const Case& c : cases) {
    const auto s = mf::sqrtm_spd_f64(c.a);
    ASSERT_FALSE(s.has_value()) << c.message;
    EXPECT_EQ(s.error(), c.message);
  }
}

TEST(SqrtmSpd, SquaresBackToTheInput) {
  for (std::size_t n : {1u, 3u, 5u}) {
    const Matrix a = linalg_test::fixed_spd(n, 10 + n);
    const auto s = mf::sqrtm_spd_f64(a);
    ASSERT_TRUE(s.has_value());
    EXPECT_TRUE(near(linalg_test::product(*s, *s), a, 1e-12)) << n;
  }
}

// scipy.linalg.sqrtm of [[5, 2], [2, 3]].
TEST(SqrtmSpd, MatchesReference) {
  const auto s = mf::sqrtm_spd_f64(mat({{5, 2}, {2, 3}}));
  ASSERT_TRUE(s.has_value());
  EXPECT_TRUE(near(*s, mat({{2.1740859955719687, 0.5228289240830504},
                            {0.5228289240830504, 1.6512570714889185}}),
                   1e-14));
}

// ---- logm / powm gradients -------------------------------------------------

TEST(SpectralBackward, IdentityGivesScaledGradient) {
  const Matrix g = mat({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  EXPECT_TRUE(exactly(mf::logm_daleckii_krein(identity(3), g), g));
  EXPECT_TRUE(exactly(mf::powm_spectral_backward(identity(3), g, 3.0), 3.0 * g));
}

// At zero eigenvalues l^p and p·l^(p−1) are taken literally where finite:
// p = 1 is the identity map and p = 0 the constant map.
TEST(SpectralBackward, PowerAtZeroEigenvalues) {
  const Matrix g = identity(2);
  struct Case {
    Matrix a;
    double p;
    Matrix expected;
  };
  const Case cases[] = {
      {mat({{1, 0}, {0, 0}}), 1.0, identity(2)},
      {mat({{1, 0}, {0, 0}}), 0.0, zeros(2, 2)},
      {zeros(2, 2), 1.0, identity(2)},
      {zeros(2, 2), 0.0, zeros(2, 2)},
      {zeros(2, 2), 0.5, zeros(2, 2)},
      {zeros(2, 2), 2.5, zeros(2, 2)},
      {zeros(2, 2), -1.0, zeros(2, 2)},
      {zeros(2, 2), 3.0, zeros(2, 2)},
      {mat({{2, 0}, {0, 0}}), 2.0, mat({{4, 0}, {0, 0}})},
  };
  for (const Case& c : cases)
    EXPECT_TRUE(exactly(mf::powm_spectral_backward(c.a, g, c.p), c.expected)) << c.p;
}

TEST(SpectralBackward, LogFloorsNonPositiveEigenvalues) {
  const Matrix out = mf::logm_daleckii_krein(mat({{0, 0}, {0, 1}}), identity(2));
  EXPECT_EQ(out(0, 0), 1.0 / std::numeric_limits<double>::min());
  EXPECT_EQ(out(1, 1), 1.0);
}

TEST(SpectralBackward, MatchFiniteDifferences) {
  for (std::size_t n : {1u, 3u, 4u}) {
    const Matrix a = linalg_test::fixed_spd(n, 20 + n);
    const Matrix g = linalg_test::fixed_random(n, n, 30 + n);
    const auto dirs = linalg_test::directions_like(a, true);
    const auto log_forward = [](const Matrix& x) {
      return spectral_function(x, [](double l) { return std::log(l); });
    };
    EXPECT_TRUE(linalg_test::matches_finite_differences(
        log_forward, a, g, mf::logm_daleckii_krein(a, g), dirs, 1e-7))
        << "log " << n;
    for (double p : {-1.0, 0.5, 2.5, 3.0}) {
      const auto pow_forward = [p](const Matrix& x) {
        return spectral_function(x, [p](double l) { return std::pow(l, p); });
      };
      EXPECT_TRUE(linalg_test::matches_finite_differences(
          pow_forward, a, g, mf::powm_spectral_backward(a, g, p), dirs, 1e-7))
          << "pow " << p << " " << n;
    }
  }
}

// The square-root gradient is the Sylvester solve S·X + X·S = g, explicit or
// in S's eigenbasis.
TEST(SpectralBackward, SqrtGradientThroughSylvesterMatchesFiniteDifferences) {
  for (std::size_t n : {1u, 3u, 4u, 5u}) {
    const Matrix a = linalg_test::fixed_spd(n, 40 + n);
    const Matrix g = linalg_test::fixed_random(n, n, 50 + n);
    const auto s = mf::sqrtm_spd_f64(a);
    const auto root = mf::sqrtm_spd_eigh(a);
    ASSERT_TRUE(s.has_value() && root.has_value());
    const auto forward = [](const Matrix& x) { return *mf::sqrtm_spd_f64(x); };
    for (const auto& da : {mf::solve_sylvester_local(*s, *s, g), mf::solve_sylvester_eigenbasis(*root, g)}) {
      ASSERT_TRUE(da.has_value());
      EXPECT_TRUE(linalg_test::matches_finite_differences(
          forward, a, g, *da, linalg_test::directions_like(a, true), 1e-7))
          << n;
    }
  }
}

// ---- solve_sylvester_local -------------------------------------------------

TEST(Sylvester, ScalarAndSingular) {
  const auto x = mf::solve_sylvester_local(mat({{1}}), mat({{1}}), mat({{2}}));
  ASSERT_TRUE(x.has_value());
  EXPECT_TRUE(exactly(*x, mat({{1}})));
  const auto singular = mf::solve_sylvester_local(mat({{0}}), mat({{0}}), mat({{2}}));
  ASSERT_FALSE(singular.has_value());
  EXPECT_EQ(singular.error(), "Sylvester: singular coefficient matrix");
}

TEST(Sylvester, ResidualVanishesOnRectangularSystems) {
  const std::pair<std::size_t, std::size_t> sizes[] = {{1, 1}, {3, 3}, {4, 2}, {2, 4}, {5, 5}};
  for (auto [n, m] : sizes) {
    const Matrix a = linalg_test::fixed_spd(n, 60 + n);
    const Matrix b = linalg_test::fixed_spd(m, 70 + m);
    const Matrix c = linalg_test::fixed_random(n, m, 80);
    const auto x = mf::solve_sylvester_local(a, b, c);
    ASSERT_TRUE(x.has_value());
    const Matrix residual = linalg_test::product(a, *x) + linalg_test::product(*x, b);
    EXPECT_TRUE(near(residual, c, 1e-12)) << n << "x" << m;
  }
}

// scipy.linalg.solve_sylvester([[3, 1], [0, 2]], [[1, 0], [2, 4]], [[1, 2], [3, 4]]).
TEST(Sylvester, MatchesReference) {
  const auto x = mf::solve_sylvester_local(mat({{3, 1}, {0, 2}}), mat({{1, 0}, {2, 4}}),
                                           mat({{1, 2}, {3, 4}}));
  ASSERT_TRUE(x.has_value());
  EXPECT_TRUE(near(*x, mat({{0.015873015873015872, 0.1904761904761905}, {0.5555555555555556, 0.6666666666666666}}), 1e-14));
}

// ---- solve_sylvester_eigenbasis --------------------------------------------

// The O(n³) eigenbasis solve agrees with the explicit Kronecker-sum system to
// rounding, for the square root of an SPD matrix and for an indefinite S.
TEST(SylvesterEigenbasis, AgreesWithTheExplicitSolve) {
  for (std::size_t n : {1u, 2u, 3u, 6u, 12u}) {
    const Matrix a = linalg_test::fixed_spd(n, 90 + n);
    const Matrix c = linalg_test::fixed_random(n, n, 100 + n);
    const auto root = mf::sqrtm_spd_eigh(a);
    const auto s = mf::sqrtm_spd_f64(a);
    ASSERT_TRUE(root.has_value() && s.has_value());
    Matrix indefinite = linalg_test::symmetrized(linalg_test::fixed_random(n, n, 110 + n));
    indefinite(0, 0) += 3.0;
    const std::pair<mf::Eigh, Matrix> systems[] = {{*root, *s}, {mf::jacobi_eigh(indefinite), indefinite}};
    for (const auto& [eig, sm] : systems) {
      const auto fast = mf::solve_sylvester_eigenbasis(eig, c);
      const auto explicit_solve = mf::solve_sylvester_local(sm, sm, c);
      ASSERT_TRUE(fast.has_value() && explicit_solve.has_value()) << n;
      double scale = 0.0;
      for (double x : *explicit_solve) scale = std::max(scale, std::fabs(x));
      EXPECT_TRUE(near(*fast, *explicit_solve, 1e-12 * scale)) << n;
    }
  }
}

// μ_i + μ_j = 0 is a singular system, reported as the explicit solve reports
// it; a NaN sum passes and propagates.
TEST(SylvesterEigenbasis, SingularSumsAndEdgeCases) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (const std::vector<double>& mu : {std::vector<double>{0, 0}, std::vector<double>{1, -1},
                                        std::vector<double>{2, 1e-301}}) {
    const auto x = mf::solve_sylvester_eigenbasis(mf::Eigh{mu, identity(2)}, identity(2));
    ASSERT_FALSE(x.has_value()) << mu[1];
    EXPECT_EQ(x.error(), "Sylvester: singular coefficient matrix");
  }
  const auto with_nan = mf::solve_sylvester_eigenbasis(mf::Eigh{{nan}, identity(1)}, mat({{1}}));
  ASSERT_TRUE(with_nan.has_value());
  EXPECT_TRUE(std::isnan((*with_nan)(0, 0)));
  const auto empty = mf::solve_sylvester_eigenbasis(mf::Eigh{{}, zeros(0, 0)}, zeros(0, 0));
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->size(), 0u);
  const auto diagonal = mf::solve_sylvester_eigenbasis(mf::Eigh{{2, 3}, identity(2)}, mat({{1, 5}, {5, 1}}));
  ASSERT_TRUE(diagonal.has_value());
  EXPECT_TRUE(exactly(*diagonal, mat({{0.25, 1}, {1, 1.0 / 6}})));
}

// ---- zero sizes and matmul_f64 ---------------------------------------------

TEST(MatrixFunctions, ZeroSizes) {
  EXPECT_EQ(mf::matmul_f64(zeros(2, 0), zeros(0, 3)), zeros(2, 3));
  EXPECT_EQ(mf::matmul_f64(zeros(0, 3), zeros(3, 0)).shape()[0], 0u);
  EXPECT_EQ(mf::transpose_f64(zeros(2, 0)).shape()[0], 0u);
  EXPECT_EQ(mf::transpose_f64(zeros(2, 0)).shape()[1], 2u);
  EXPECT_EQ(mf::logm_daleckii_krein(zeros(0, 0), zeros(0, 0)).size(), 0u);
  EXPECT_EQ(mf::powm_spectral_backward(zeros(0, 0), zeros(0, 0), 2.0).size(), 0u);
  EXPECT_EQ(mf::sqrtm_spd_f64(zeros(0, 0))->size(), 0u);
  const auto x20 = mf::solve_sylvester_local(zeros(2, 2), zeros(0, 0), zeros(2, 0));
  ASSERT_TRUE(x20.has_value());
  EXPECT_EQ(x20->shape()[0], 2u);
  const auto x03 = mf::solve_sylvester_local(zeros(0, 0), zeros(3, 3), zeros(0, 3));
  ASSERT_TRUE(x03.has_value());
  EXPECT_EQ(x03->shape()[1], 3u);
}

TEST(MatrixFunctions, ShapeMisuseIsFatal) {
  EXPECT_THROW(mf::matmul_f64(zeros(2, 3), zeros(2, 3)), kvel_support::FatalError);
  EXPECT_THROW(mf::logm_daleckii_krein(identity(2), zeros(3, 3)), kvel_support::FatalError);
  EXPECT_THROW(mf::powm_spectral_backward(identity(2), zeros(2, 1), 2.0),
               kvel_support::FatalError);
  EXPECT_THROW(mf::jacobi_eigh(zeros(2, 3)), kvel_support::FatalError);
  EXPECT_THROW(mf::solve_sylvester_local(identity(2), identity(3), zeros(3, 2)),
               kvel_support::FatalError);
}

TEST(MatrixFunctions, ArrayConversionsRoundTrip) {
  const Matrix a = mat({{1, 2, 3}, {4, 5, 6}});
  const xt::xarray<double> arr = mf::f64_to_owned(a);
  ASSERT_EQ(arr.dimension(), 2u);
  EXPECT_EQ(mf::view_to_f64(arr), a);
  EXPECT_THROW(mf::view_to_f64(xt::xarray<double>::from_shape({3})), kvel_support::FatalError);
}

}  // namespace

// The Jacobi kernels and the QR factorisation at extreme but finite scales,
// against the unit-scale result scaled by hand: s·A has the eigenvalues and
// singular values of A times s, the same eigen- and singular vectors, and
// the same symmetry.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "autograd/linalg/decomposition_backward.hpp"
#include "autograd/linalg/matrix_functions.hpp"
#include "autograd/linalg/matrix_function_ops.hpp"
#include "linalg_op_test_support.hpp"

namespace {

namespace mf = gradix_autograd::tensor_ops::matrix_functions;
namespace bo = gradix_autograd::tensor_ops::decomposition_ops::backward_ops;
using linalg_test::identity;
using linalg_test::mat;
using linalg_test::Matrix;
using linalg_test::near;
using linalg_test::product;
using linalg_test::transpose;

// 1e-200 and 1e-160: squares underflow (no rotation, or a few digits only);
// 1e80: products of two sums of squares overflow; 1e150: the sums overflow.
const double kScales[] = {1e-200, 1e-160, 1e80, 1e150};

::testing::AssertionResult relatively_near(const std::vector<double>& got, const std::vector<double>& want,
                                           double tol) {
  if (got.size() != want.size()) return ::testing::AssertionFailure() << "length " << got.size();
  for (std::size_t i = 0; i < got.size(); ++i)
    if (!(std::fabs(got[i] - want[i]) <= tol * std::fabs(want[i])))
      return ::testing::AssertionFailure() << "[" << i << "]: " << got[i] << " vs " << want[i];
  return ::testing::AssertionSuccess();
}

std::vector<double> times(const std::vector<double>& v, double s) {
  std::vector<double> out;
  for (double x : v) out.push_back(x * s);
  return out;
}

TEST(ExtremeScale, JacobiEighMatchesTheScaledUnitResult) {
  const Matrix bases[] = {mat({{2, 1}, {1, 2}}), linalg_test::symmetrized(linalg_test::fixed_random(5, 5, 81))};
  for (const Matrix& base : bases) {
    const mf::Eigh unit = mf::jacobi_eigh(base);
    for (double s : kScales) {
      const mf::Eigh eig = mf::jacobi_eigh(s * base);
      EXPECT_TRUE(relatively_near(eig.eigenvalues, times(unit.eigenvalues, s), 1e-13)) << s;
      EXPECT_TRUE(near(eig.eigenvectors, unit.eigenvectors, 1e-13)) << s;
    }
  }
  // The reported case: 1e-165·[[2, 1], [1, 2]] came back as [2e-165, 2e-165].
  EXPECT_TRUE(relatively_near(mf::jacobi_eigh(1e-165 * bases[0]).eigenvalues, {1e-165, 3e-165}, 1e-15));
}

TEST(ExtremeScale, SvdJacobiMatchesTheScaledUnitResult) {
  const Matrix bases[] = {mat({{1, 2}, {3, 4}}), linalg_test::fixed_random(5, 3, 82),
                          linalg_test::fixed_random(3, 4, 83)};
  for (const Matrix& base : bases) {
    const bo::Svd unit = bo::svd_jacobi_f64(base);
    for (double s : kScales) {
      const bo::Svd svd = bo::svd_jacobi_f64(s * base);
      EXPECT_TRUE(relatively_near(svd.s, times(unit.s, s), 1e-13)) << s;
      EXPECT_TRUE(near(svd.u, unit.u, 1e-13)) << s;
      EXPECT_TRUE(near(svd.vt, unit.vt, 1e-13)) << s;
      EXPECT_TRUE(near(product(transpose(svd.u), svd.u), identity(svd.s.size()), 1e-13)) << s;
    }
  }
  // numpy.linalg.svd(1e80 * [[1, 2], [3, 4]]): the column norms came back instead.
  EXPECT_TRUE(relatively_near(bo::svd_jacobi_f64(1e80 * bases[0]).s, {5.464985704219043e80, 3.65966190626258e79},
                              1e-14));
}

// QR has no unit-scale result to compare with (s·A rounds), so its own
// identities: Q orthogonal, Q·R = A relative to A's scale, R upper
// triangular. Full rank: at 1e-170 and below, A once came back as R with
// Q = I; at 1e160 and above, Q came back zero.
TEST(ExtremeScale, QrIsOrthogonalAndReconstructs) {
  const Matrix base = mat({{1, 2}, {3, 4}});
  for (double s : {1e-200, 1e-170, 1e-160, 1.0, 1e160, 1e170, 1e200}) {
    const Matrix a = s * base;
    const bo::Qr f = bo::qr_gram_schmidt(a);
    EXPECT_TRUE(near(product(transpose(f.q), f.q), identity(2), 1e-14)) << s;
    EXPECT_TRUE(near((1.0 / s) * product(f.q, f.r), (1.0 / s) * a, 1e-14)) << s;
    EXPECT_LE(std::fabs(f.r(1, 0)), 1e-14 * s) << s;
  }
}

// A converged pair is skipped by 1e-15·√(α·β) ≥ |γ|, with √(α·β) formed as
// such wherever α·β is neither 0 nor infinite, a subnormal product
// included. Here α·β ≈ 9.8e-311 and 1e-15·√(α·β) ≥ |γ| > 1e-15·√α·√β: the
// pair is left unrotated (√α·√β would turn it by 5e-15).
TEST(ExtremeScale, SvdSkipTestAtASubnormalProductOfNorms) {
  const double x = 3e-78;
  const double y = 3.3000000000000006e-93;
  const double z = 3.3e-78;
  const double alpha = x * x;
  const double beta = y * y + z * z;
  const double gamma = x * y;
  ASSERT_FALSE(std::isnormal(alpha * beta));
  ASSERT_GE(1e-15 * std::sqrt(alpha * beta), gamma);
  ASSERT_LT(1e-15 * (std::sqrt(alpha) * std::sqrt(beta)), gamma);
  const bo::Svd svd = bo::svd_jacobi_f64(mat({{x, y}, {0, z}}));
  EXPECT_TRUE(near(svd.vt, mat({{0, 1}, {1, 0}}), 0.0));
  EXPECT_TRUE(relatively_near(svd.s, {std::sqrt(beta), x}, 0.0));
}

TEST(ExtremeScale, SymmetryTestIsScaleFree) {
  const Matrix symmetric = mat({{1, 2}, {2, 1}});
  const Matrix asymmetric = mat({{1, 0}, {1e-5, 1}});
  for (double s : kScales) {
    EXPECT_TRUE(mf::is_symmetric_f64(s * symmetric)) << s;
    EXPECT_FALSE(mf::is_symmetric_f64(s * asymmetric)) << s;
  }
  // The reported case: the squares overflowed and the matrix passed.
  EXPECT_FALSE(mf::is_symmetric_f64(mat({{1e155, 0}, {1e150, 1e155}})));
}

// The square-root gradient of s·A is s^(-1/2) times that of A.
TEST(ExtremeScale, SquareRootGradientMatchesTheScaledUnitResult) {
  const Matrix a = mat({{2, 1}, {1, 2}});
  const Matrix g = mat({{1, 0.5}, {-0.25, 2}});
  const mf::MatrixSqrtBackwardOp op;
  const Matrix unit = linalg_test::run_matrix(op, {linalg_test::arr(a), linalg_test::arr(g)});
  for (double s : {1e-200, 1e-160, 1e150}) {
    const Matrix da = linalg_test::run_matrix(op, {linalg_test::arr(s * a), linalg_test::arr(g)});
    const double k = 1.0 / std::sqrt(s);
    EXPECT_TRUE(near(da, k * unit, 1e-13 * k)) << s;
  }
}

}  // namespace

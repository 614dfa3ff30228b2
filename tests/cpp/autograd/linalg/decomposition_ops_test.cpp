#include "autograd/linalg/decomposition_ops.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "autograd/linalg/decomposition_backward.hpp"
#include "linalg_op_test_support.hpp"

namespace {

namespace bo = gradix_autograd::tensor_ops::decomposition_ops::backward_ops;
using gradix_autograd::Array;
using gradix_test::scalar;
using gradix_test::vec;
using linalg_test::arr;
using linalg_test::exactly;
using linalg_test::identity;
using linalg_test::mat;
using linalg_test::Matrix;
using linalg_test::near;
using linalg_test::OpKind;
using linalg_test::product;
using linalg_test::run_matrix;
using linalg_test::transpose;
using linalg_test::zeros;

const std::string kDegenerate =
    "SVD backward: repeated/degenerate singular values make the U/V gradient mathematically undefined; refusing "
    "to fabricate a gradient";

TEST(DecompositionOps, Names) {
  EXPECT_EQ(bo::SVDBackwardOp(0).name(), "SVDBackward");
  EXPECT_EQ(bo::QRExtractBackwardOp(0).name(),
            "gradix_autograd::tensor_ops::decomposition_ops::backward_ops::QRExtractBackwardOp");
  EXPECT_EQ(bo::LUExtractBackwardOp(1).name(),
            "gradix_autograd::tensor_ops::decomposition_ops::backward_ops::LUExtractBackwardOp");
  EXPECT_EQ(bo::CholeskyBackwardOp{}.name(),
            "gradix_autograd::tensor_ops::decomposition_ops::backward_ops::CholeskyBackwardOp");
}

// ---- factorisations --------------------------------------------------------

TEST(Factorisations, ReconstructFixedRandomMatrices) {
  const std::pair<std::size_t, std::size_t> sizes[] = {{1, 1}, {3, 3}, {5, 5}, {4, 2}, {2, 4}};
  for (auto [m, n] : sizes) {
    const Matrix a = linalg_test::fixed_random(m, n, 40 + 3 * m + n);
    const bo::Qr qr = bo::qr_gram_schmidt(a);
    EXPECT_TRUE(near(product(qr.q, qr.r), a, 1e-14)) << m << "x" << n;
    EXPECT_TRUE(near(product(transpose(qr.q), qr.q), identity(m), 1e-14)) << m << "x" << n;
    if (m != n) continue;
    const bo::Lu lu = bo::lu_doolittle(a);
    EXPECT_TRUE(near(product(lu.l, lu.u), a, 1e-13)) << n;
    EXPECT_TRUE(exactly(lu.p, identity(n)));
    const Matrix spd = linalg_test::fixed_spd(n, 50 + n);
    const auto l = bo::cholesky_banachiewicz(spd);
    ASSERT_TRUE(l.has_value());
    EXPECT_TRUE(near(product(*l, transpose(*l)), spd, 1e-13)) << n;
  }
}

// numpy.linalg.qr / cholesky of fixed matrices (signs turned to R's positive
// diagonal, which Gram–Schmidt gives).
TEST(Factorisations, MatchReferenceValues) {
  const bo::Qr qr = bo::qr_gram_schmidt(mat({{1, 2}, {3, 4}}));
  EXPECT_TRUE(near(qr.q, mat({{0.31622776601683794, 0.9486832980505138}, {0.9486832980505138, -0.3162277660168379}}),
                   1e-15));
  EXPECT_TRUE(near(qr.r, mat({{3.1622776601683795, 4.427188724235731}, {0, 0.6324555320336757}}), 1e-14));
  const auto l = bo::cholesky_banachiewicz(mat({{4, 2, 2}, {2, 5, 3}, {2, 3, 6}}));
  ASSERT_TRUE(l.has_value());
  EXPECT_TRUE(near(*l, mat({{2, 0, 0}, {1, 2, 0}, {1, 1, 2}}), 1e-15));
}

TEST(Factorisations, SmallPivotsAndZeroColumnsAreNotErrors) {
  const bo::Lu lu = bo::lu_doolittle(mat({{0, 1}, {1, 1}}));
  EXPECT_TRUE(exactly(lu.l, identity(2)));
  EXPECT_TRUE(exactly(lu.u, mat({{0, 1}, {0, 1}})));
  // A zero column is completed to an orthonormal Q (RankDeficientInput below).
  const bo::Qr qr = bo::qr_gram_schmidt(mat({{0, 1}, {0, 1}}));
  EXPECT_TRUE(exactly(qr.q, identity(2)));
  EXPECT_TRUE(exactly(qr.r, mat({{0, 1}, {0, 1}})));
  EXPECT_FALSE(bo::cholesky_banachiewicz(mat({{1, 2}, {2, 1}})).has_value());
  EXPECT_FALSE(bo::cholesky_banachiewicz(mat({{0}})).has_value());
}

// Q stays orthogonal, Q·R = A and R upper triangular (to rounding) where
// columns are dependent, zero or tiny: plain Gram–Schmidt with an absolute
// threshold left such columns unnormalised or normalised its rounding noise,
// so that |QᵀQ − I| reached 1.
TEST(Factorisations, RankDeficientInputKeepsQOrthogonal) {
  const Matrix b = linalg_test::fixed_random(4, 2, 71);
  const Matrix c = linalg_test::fixed_random(2, 4, 72);
  struct Case {
    const char* what;
    Matrix a;
  };
  const Case cases[] = {
      {"dependent pair", mat({{1, 2}, {2, 4}})},
      {"dependent pair, large", 1e3 * mat({{1, 2}, {2, 4}})},
      {"rank one 3x3", mat({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}})},
      {"rank one, tiny scale", 1e-5 * mat({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}})},
      {"rank two 4x4", product(b, c)},
      {"zero 3x3", zeros(3, 3)},
      {"zero first column", mat({{0, 1, 2}, {0, 3, 1}, {0, 2, 2}})},
      {"tall, repeated column", mat({{1, 1}, {0, 0}, {0, 0}, {0, 0}})},
      {"tall, column equal to a unit completion", mat({{0}, {0}, {1}})},
      {"full rank below the machine epsilon", 1e-20 * linalg_test::fixed_random(3, 3, 73)},
      {"wide rank one", mat({{1, 2, 3}, {2, 4, 6}})},
  };
  for (const Case& t : cases) {
    const std::size_t m = t.a.shape()[0];
    const bo::Qr qr = bo::qr_gram_schmidt(t.a);
    double scale = 0.0;
    for (double x : t.a) scale = std::max(scale, std::fabs(x));
    EXPECT_TRUE(near(product(transpose(qr.q), qr.q), identity(m), 1e-15)) << t.what;
    EXPECT_TRUE(near(product(qr.q, qr.r), t.a, 1e-15 * std::max(scale, 1e-300))) << t.what;
    for (std::size_t i = 0; i < m; ++i)
      for (std::size_t j = 0; j < std::min(i, t.a.shape()[1]); ++j)
        EXPECT_LE(std::fabs(qr.r(i, j)), 1e-15 * scale) << t.what << " R[" << i << "][" << j << "]";
  }
}

TEST(Factorisations, ZeroSizes) {
  const std::pair<std::size_t, std::size_t> sizes[] = {{0, 0}, {2, 0}, {0, 3}};
  for (auto [m, n] : sizes) {
    const bo::Qr qr = bo::qr_gram_schmidt(zeros(m, n));
    EXPECT_EQ(qr.q.shape()[0], m);
    EXPECT_EQ(qr.r.shape()[1], n);
  }
  EXPECT_EQ(bo::lu_doolittle(zeros(0, 0)).u.size(), 0u);
  EXPECT_EQ(bo::cholesky_banachiewicz(zeros(0, 0))->size(), 0u);
}

// ---- SVD -------------------------------------------------------------------

TEST(SVDBackwardOp, FixedCases) {
  EXPECT_TRUE(exactly(run_matrix(bo::SVDBackwardOp(1), {arr(mat({{3, 0}, {0, 2}})), vec({1, 0})}),
                      mat({{1, 0}, {0, 0}})));
  // Repeated singular values are fine for the S gradient.
  EXPECT_TRUE(exactly(run_matrix(bo::SVDBackwardOp(1), {arr(identity(2)), vec({2, 5})}), mat({{2, 0}, {0, 5}})));
  // A longer g is cut to k values, a shorter one padded with zeros.
  EXPECT_TRUE(exactly(run_matrix(bo::SVDBackwardOp(1), {arr(mat({{3, 0}, {0, 2}})), vec({1, 1, 9})}), identity(2)));
  EXPECT_TRUE(exactly(run_matrix(bo::SVDBackwardOp(1), {arr(mat({{3, 0}, {0, 2}})), vec({1})}),
                      mat({{1, 0}, {0, 0}})));
  // k = 1 never refuses, whatever the component.
  EXPECT_EQ(run_matrix(bo::SVDBackwardOp(0), {arr(mat({{3, 4}})), arr(mat({{1}}))}).shape()[1], 2u);
  EXPECT_EQ(run_matrix(bo::SVDBackwardOp(2), {arr(mat({{3}, {4}})), arr(mat({{1}}))}).shape()[0], 2u);
}

// A gradient of another shape is cut or padded like the S gradient.
TEST(SVDBackwardOp, GradientIsFittedToItsFactor) {
  const Matrix a = linalg_test::fixed_random(3, 2, 60);
  Matrix big = zeros(4, 5);
  big(0, 0) = 1.0, big(2, 1) = -2.0, big(3, 4) = 7.0;
  Matrix fitted = zeros(3, 2);
  fitted(0, 0) = 1.0, fitted(2, 1) = -2.0;
  EXPECT_TRUE(exactly(run_matrix(bo::SVDBackwardOp(0), {arr(a), arr(big)}),
                      run_matrix(bo::SVDBackwardOp(0), {arr(a), arr(fitted)})));
  EXPECT_TRUE(exactly(run_matrix(bo::SVDBackwardOp(2), {arr(a), arr(mat({{0.5}}))}),
                      run_matrix(bo::SVDBackwardOp(2), {arr(a), arr(mat({{0.5, 0}, {0, 0}}))})));
}

TEST(SVDBackwardOp, ErrorOrder) {
  const Array distinct = arr(mat({{3, 0}, {0, 2}}));
  const Array repeated = arr(identity(2));
  linalg_test::expect_errors(
      bo::SVDBackwardOp(0),
      {{"vector A", {vec({1, 2}), arr(identity(2))}, OpKind::IncompatibleShape, "SVDBackward: A must be 2D"},
       {"degenerate before g", {repeated, vec({1})}, OpKind::Other, kDegenerate},
       {"missing g", {distinct}, OpKind::IncompatibleShape, "SVDBackward: dU must be 2D"}});
  linalg_test::expect_errors(bo::SVDBackwardOp(1),
                             {{"missing g", {distinct}, OpKind::IncompatibleShape, "SVDBackward: dS must be 1D"},
                              {"matrix g", {repeated, arr(identity(2))}, OpKind::IncompatibleShape,
                               "SVDBackward: dS must be 1D"}});
  linalg_test::expect_errors(
      bo::SVDBackwardOp(2),
      {{"degenerate", {repeated, arr(identity(2))}, OpKind::Other, kDegenerate},
       {"vector g", {distinct, vec({1, 2})}, OpKind::IncompatibleShape, "SVDBackward: dVt must be 2D"}});
  linalg_test::expect_errors(
      bo::SVDBackwardOp(7),
      {{"degenerate first", {repeated, scalar(0)}, OpKind::Other, kDegenerate},
       {"distinct", {distinct, scalar(0)}, OpKind::IncompatibleShape, "SVDBackward: invalid component"},
       {"k = 1", {arr(mat({{1, 2, 3}})), scalar(0)}, OpKind::IncompatibleShape, "SVDBackward: invalid component"}});
}

// Empty matrices go through the factorisations and the products (no BLAS
// call) and give an empty gradient of A's shape.
TEST(DecompositionOps, ZeroSizes) {
  const std::pair<std::size_t, std::size_t> sizes[] = {{0, 0}, {2, 0}, {0, 3}};
  for (auto [m, n] : sizes) {
    const Array a = arr(zeros(m, n));
    const Array g = arr(zeros(m, n));
    for (const Matrix& da : {run_matrix(bo::SVDBackwardOp(0), {a, g}), run_matrix(bo::SVDBackwardOp(1), {a, vec({})}),
                             run_matrix(bo::SVDBackwardOp(2), {a, g}), run_matrix(bo::QRExtractBackwardOp(0), {a, g}),
                             run_matrix(bo::QRExtractBackwardOp(1), {a, g})}) {
      EXPECT_EQ(da.shape()[0], m);
      EXPECT_EQ(da.shape()[1], n);
    }
  }
}

// ---- QR --------------------------------------------------------------------

TEST(QRExtractBackwardOp, FixedCases) {
  EXPECT_TRUE(exactly(run_matrix(bo::QRExtractBackwardOp(1), {arr(mat({{3}})), arr(mat({{1}}))}), mat({{1}})));
  for (double g : {1.0, -4.0})
    EXPECT_TRUE(exactly(run_matrix(bo::QRExtractBackwardOp(0), {arr(mat({{3}})), arr(mat({{g}}))}), mat({{0}})));
  // Wide matrix, Q gradient alone: the columns past k stay 0.
  const Matrix da = run_matrix(bo::QRExtractBackwardOp(0), {arr(linalg_test::fixed_random(2, 3, 61)),
                                                            arr(linalg_test::fixed_random(2, 2, 62))});
  ASSERT_EQ(da.shape()[1], 3u);
  EXPECT_EQ(da(0, 2), 0.0);
  EXPECT_EQ(da(1, 2), 0.0);
}

// A gradient larger than its factor is cut to the factor's shape.
TEST(QRExtractBackwardOp, LargerGradientIsCut) {
  const Matrix a = linalg_test::fixed_random(2, 2, 63);
  Matrix big = linalg_test::fixed_random(3, 4, 64);
  Matrix cut = zeros(2, 2);
  for (std::size_t i = 0; i < 2; ++i)
    for (std::size_t j = 0; j < 2; ++j) cut(i, j) = big(i, j);
  for (std::size_t component : {0u, 1u})
    EXPECT_TRUE(exactly(run_matrix(bo::QRExtractBackwardOp(component), {arr(a), arr(big)}),
                        run_matrix(bo::QRExtractBackwardOp(component), {arr(a), arr(cut)})))
        << component;
}

TEST(QRExtractBackwardOp, Errors) {
  linalg_test::expect_errors(
      bo::QRExtractBackwardOp(0),
      {{"missing inputs", {}, OpKind::IncompatibleShape, "QRExtractBackward: A must be 2D"},
       {"missing g", {arr(identity(2))}, OpKind::IncompatibleShape, "QRExtractBackward: dG must be 2D"}});
  linalg_test::expect_errors(bo::QRExtractBackwardOp(2), {{"component", {arr(identity(2)), arr(identity(2))},
                                                           OpKind::IncompatibleShape,
                                                           "QRExtractBackward: invalid component"}});
}

// ---- LU --------------------------------------------------------------------

TEST(LUExtractBackwardOp, FixedCases) {
  EXPECT_TRUE(exactly(run_matrix(bo::LUExtractBackwardOp(2), {arr(mat({{2}})), arr(mat({{1}}))}), mat({{1}})));
  EXPECT_TRUE(exactly(run_matrix(bo::LUExtractBackwardOp(1), {arr(zeros(0, 0)), arr(zeros(0, 0))}), zeros(0, 0)));
}

TEST(LUExtractBackwardOp, Errors) {
  const Array a = arr(identity(2));
  const std::string component = "LUExtractBackward: invalid component";
  const std::string fit = "LUExtractBackward: dG must have A's shape";
  linalg_test::expect_errors(bo::LUExtractBackwardOp(1),
                             {{"vector A", {vec({1}), a}, OpKind::IncompatibleShape, "LUExtractBackward: A must be 2D"},
                              {"non-square A", {arr(zeros(2, 3)), a}, OpKind::IncompatibleShape,
                               "LUExtractBackward: A must be square"},
                              {"missing g", {a}, OpKind::IncompatibleShape, "LUExtractBackward: dG must be 2D"},
                              {"g too small", {a, arr(identity(1))}, OpKind::IncompatibleShape, fit},
                              {"g too wide", {a, arr(zeros(2, 3))}, OpKind::IncompatibleShape, fit}});
  for (std::size_t c : {0u, 3u})
    linalg_test::expect_errors(bo::LUExtractBackwardOp(c),
                               {{"component before the fit", {a, arr(zeros(1, 5))}, OpKind::IncompatibleShape,
                                 component}});
}

// ---- Cholesky --------------------------------------------------------------

TEST(CholeskyBackwardOp, FixedCases) {
  EXPECT_TRUE(exactly(run_matrix(bo::CholeskyBackwardOp{}, {arr(mat({{4}})), arr(mat({{1}}))}), mat({{0.25}})));
  EXPECT_TRUE(exactly(run_matrix(bo::CholeskyBackwardOp{}, {arr(zeros(0, 0)), arr(zeros(0, 0))}), zeros(0, 0)));
}

TEST(CholeskyBackwardOp, Errors) {
  const std::string not_pd = "CholeskyBackward: matrix not positive definite";
  const std::string fit = "CholeskyBackward: dL must have A's shape";
  linalg_test::expect_errors(
      bo::CholeskyBackwardOp{},
      {{"vector A", {vec({1}), arr(identity(1))}, OpKind::IncompatibleShape, "CholeskyBackward: A must be 2D"},
       {"non-square A", {arr(zeros(3, 2)), arr(zeros(3, 2))}, OpKind::IncompatibleShape,
        "CholeskyBackward: A must be square"},
       {"missing dL", {arr(identity(2))}, OpKind::IncompatibleShape, "CholeskyBackward: dL must be 2D"},
       {"dL too small", {arr(identity(2)), arr(identity(1))}, OpKind::IncompatibleShape, fit},
       {"zero", {arr(mat({{0}})), arr(mat({{1}}))}, OpKind::Other, not_pd},
       {"indefinite", {arr(mat({{1, 2}, {2, 1}})), arr(identity(2))}, OpKind::Other, not_pd}});
}

}  // namespace

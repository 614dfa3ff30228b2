// Every gradient operator of the linear-algebra set against central
// differences of its forward function, through the operator's own compute.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "autograd/linalg/decomposition_ops.hpp"
#include "autograd/linalg/kronecker_ops.hpp"
#include "autograd/linalg/linalg_ops.hpp"
#include "autograd/linalg/matrix_function_ops.hpp"
#include "linalg_op_test_support.hpp"

namespace {

namespace bo = gradix_autograd::tensor_ops::decomposition_ops::backward_ops;
namespace mf = gradix_autograd::tensor_ops::matrix_functions;
using gradix_autograd::Array;
using gradix_autograd::op::Op;
using linalg_test::arr;
using linalg_test::fixed_random;
using linalg_test::fixed_spd;
using linalg_test::Matrix;
using linalg_test::run_matrix;
using linalg_test::Svd;
using Forward = std::function<Matrix(const Matrix&)>;

struct FdCase {
  std::string label;
  std::shared_ptr<const Op> op;
  Forward forward;
  Matrix a;
  bool symmetric_directions;
  double tol;
  bool g_is_vector = false;  // the SVD's S gradient is passed as a vector
};

Matrix thin_q(const Matrix& x) {
  const std::size_t k = std::min(x.shape()[0], x.shape()[1]);
  return gradix_autograd::tensor_ops::decomposition_backward::take_cols(bo::qr_gram_schmidt(x).q, k);
}
Matrix thin_r(const Matrix& x) {
  const std::size_t k = std::min(x.shape()[0], x.shape()[1]);
  return gradix_autograd::tensor_ops::decomposition_backward::take_rows(bo::qr_gram_schmidt(x).r, k);
}

std::vector<FdCase> cases() {
  std::vector<FdCase> out;
  for (std::size_t n : {1u, 3u, 5u}) {
    const std::string size = " " + std::to_string(n) + "x" + std::to_string(n);
    const Matrix spd = fixed_spd(n, 200 + n);
    out.push_back({"sqrt" + size, std::make_shared<mf::MatrixSqrtBackwardOp>(),
                   [](const Matrix& x) { return mf::sqrtm_spd_f64(x).value(); }, spd, true, 1e-7});
    out.push_back({"log" + size, std::make_shared<mf::MatrixLogBackwardOp>(),
                   [](const Matrix& x) { return linalg_test::spectral_function(x, [](double l) { return std::log(l); }); },
                   spd, true, 1e-7});
    for (double p : {-1.0, 0.5, 2.5, 3.0})
      out.push_back({"pow " + std::to_string(p) + size, std::make_shared<mf::MatrixPowBackwardOp>(p),
                     [p](const Matrix& x) {
                       return linalg_test::spectral_function(x, [p](double l) { return std::pow(l, p); });
                     },
                     spd, true, 1e-7});
    out.push_back({"cholesky" + size, std::make_shared<bo::CholeskyBackwardOp>(),
                   [](const Matrix& x) { return bo::cholesky_banachiewicz(x).value(); }, spd, true, 1e-7});
    const Matrix general = fixed_random(n, n, 210 + n) + static_cast<double>(n) * linalg_test::identity(n);
    out.push_back({"LU L" + size, std::make_shared<bo::LUExtractBackwardOp>(1),
                   [](const Matrix& x) { return bo::lu_doolittle(x).l; }, general, false, 1e-7});
    out.push_back({"LU U" + size, std::make_shared<bo::LUExtractBackwardOp>(2),
                   [](const Matrix& x) { return bo::lu_doolittle(x).u; }, general, false, 1e-7});
    out.push_back({"trace" + size, std::make_shared<gradix_autograd::tensor_ops::linalg_ops::TraceBackwardOp>(),
                   [](const Matrix& x) {
                     double t = 0.0;
                     for (std::size_t i = 0; i < x.shape()[0]; ++i) t += x(i, i);
                     return linalg_test::mat({{t}});
                   },
                   general, false, 1e-7});
  }
  // Square, tall (thin QR) and wide matrices; the wide R rows are the
  // regression for the trailing columns of R, which depend on Q too.
  const std::pair<std::size_t, std::size_t> shapes[] = {{1, 1}, {3, 3}, {4, 2}, {2, 3}, {2, 4}};
  for (auto [m, n] : shapes) {
    const std::string size = " " + std::to_string(m) + "x" + std::to_string(n);
    const Matrix a = fixed_random(m, n, 220 + 5 * m + n);
    out.push_back({"QR Q" + size, std::make_shared<bo::QRExtractBackwardOp>(0), thin_q, a, false, 1e-7});
    out.push_back({"QR R" + size, std::make_shared<bo::QRExtractBackwardOp>(1), thin_r, a, false, 1e-7});
    const Svd reference = bo::svd_jacobi_f64(a);
    out.push_back({"SVD U" + size, std::make_shared<bo::SVDBackwardOp>(0),
                   [reference](const Matrix& x) { return linalg_test::aligned_svd(x, reference).u; }, a, false,
                   1e-6});
    out.push_back({"SVD S" + size, std::make_shared<bo::SVDBackwardOp>(1),
                   [](const Matrix& x) { return linalg_test::row_of(bo::svd_jacobi_f64(x).s); }, a, false, 1e-7,
                   true});
    out.push_back({"SVD Vt" + size, std::make_shared<bo::SVDBackwardOp>(2),
                   [reference](const Matrix& x) { return linalg_test::aligned_svd(x, reference).vt; }, a, false,
                   1e-6});
  }
  return out;
}

TEST(BackwardOpsFiniteDifferences, EveryOperator) {
  std::uint64_t seed = 300;
  for (const FdCase& c : cases()) {
    const Matrix y = c.forward(c.a);
    const Matrix g = fixed_random(y.shape()[0], y.shape()[1], seed++);
    const Array g_input = c.g_is_vector ? gradix_test::vec(std::vector<double>(g.begin(), g.end())) : arr(g);
    const Matrix da = run_matrix(*c.op, {arr(c.a), g_input});
    EXPECT_TRUE(linalg_test::matches_finite_differences(c.forward, c.a, g, da,
                                                        linalg_test::directions_like(c.a, c.symmetric_directions),
                                                        c.tol))
        << c.label;
  }
}

Matrix kron(const Matrix& a, const Matrix& b) {
  const std::size_t p = b.shape()[0], q = b.shape()[1];
  Matrix out = linalg_test::zeros(a.shape()[0] * p, a.shape()[1] * q);
  for (std::size_t i = 0; i < a.shape()[0]; ++i)
    for (std::size_t j = 0; j < a.shape()[1]; ++j)
      for (std::size_t k = 0; k < p; ++k)
        for (std::size_t l = 0; l < q; ++l) out(i * p + k, j * q + l) = a(i, j) * b(k, l);
  return out;
}

TEST(BackwardOpsFiniteDifferences, Kronecker) {
  using gradix_autograd::tensor_ops::kronecker_ops::KroneckerGradOp;
  const Matrix a = fixed_random(2, 3, 400);
  const Matrix b = fixed_random(3, 2, 401);
  const Matrix g = fixed_random(6, 6, 402);
  const Matrix da = run_matrix(KroneckerGradOp(0), {arr(g), arr(a), arr(b)});
  const Matrix db = run_matrix(KroneckerGradOp(1), {arr(g), arr(a), arr(b)});
  EXPECT_TRUE(linalg_test::matches_finite_differences([&b](const Matrix& x) { return kron(x, b); }, a, g, da,
                                                      linalg_test::directions_like(a, false), 1e-8));
  EXPECT_TRUE(linalg_test::matches_finite_differences([&a](const Matrix& x) { return kron(a, x); }, b, g, db,
                                                      linalg_test::directions_like(b, false), 1e-8));
}

// ---- regressions of the kernels, seen through the operators ----------------

// √(s·B) = √s·√B, so its gradient is that of √B scaled by 1/√s, also for a
// tiny s, where an absolute convergence test would leave s·B unrotated.
TEST(BackwardOpsRegressions, SqrtGradientAtTinyScale) {
  const Matrix b = linalg_test::mat({{2, 1}, {1, 2}});
  const Matrix g = fixed_random(2, 2, 410);
  const Matrix unit = run_matrix(mf::MatrixSqrtBackwardOp{}, {arr(b), arr(g)});
  const Matrix tiny = run_matrix(mf::MatrixSqrtBackwardOp{}, {arr(1e-16 * b), arr(g)});
  EXPECT_TRUE(linalg_test::near(1e-8 * tiny, unit, 1e-12));
}

// A^1 has the gradient g and A^0 the gradient 0, zero eigenvalues included.
TEST(BackwardOpsRegressions, PowerAtZeroEigenvalue) {
  const Matrix a = linalg_test::mat({{1, 0}, {0, 0}});
  const Matrix g = linalg_test::identity(2);
  EXPECT_TRUE(linalg_test::exactly(run_matrix(mf::MatrixPowBackwardOp(1.0), {arr(a), arr(g)}), g));
  EXPECT_TRUE(linalg_test::exactly(run_matrix(mf::MatrixPowBackwardOp(0.0), {arr(a), arr(g)}), linalg_test::zeros(2, 2)));
}

}  // namespace

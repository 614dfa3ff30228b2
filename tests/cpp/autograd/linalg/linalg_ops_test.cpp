// The diagonal, trace-gradient and matrix-inverse operators.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "autograd/linalg/linalg_ops.hpp"
#include "autograd/linalg/matrix_ops.hpp"
#include "linalg_op_test_support.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
using linalg_test::Array;
using gradix_test::same_array;
using gradix_test::scalar;
using gradix_test::vec;
using linalg_test::arr;
using linalg_test::exactly;
using linalg_test::identity;
using linalg_test::mat;
using linalg_test::Matrix;
using linalg_test::OpKind;
using linalg_test::run_matrix;
using linalg_test::zeros;

TEST(DiagOp, BuildsDiagonalMatrix) {
  const ops::linalg_ops::DiagOp op;
  EXPECT_EQ(op.name(), "gradix_autograd::tensor_ops::linalg_ops::DiagOp");
  EXPECT_TRUE(exactly(run_matrix(op, {vec({1, 2, 3})}), mat({{1, 0, 0}, {0, 2, 0}, {0, 0, 3}})));
  EXPECT_TRUE(same_array(gradix_test::compute1(op, {vec({})}), Array(xt::zeros<double>({0, 0}))));
  const std::string text = "Diag op requires a 1D vector input";
  linalg_test::expect_errors(op, {{"matrix", {arr(identity(2))}, OpKind::IncompatibleShape, text},
                                  {"missing input", {}, OpKind::IncompatibleShape, text},
                                  {"scalar", {scalar(1)}, OpKind::IncompatibleShape, text}});
}

TEST(TraceBackwardOp, ScalarTimesIdentity) {
  const ops::linalg_ops::TraceBackwardOp op;
  EXPECT_EQ(op.name(), "gradix_autograd::tensor_ops::linalg_ops::TraceBackwardOp");
  const Array a = arr(linalg_test::fixed_random(3, 3, 1));
  EXPECT_TRUE(exactly(run_matrix(op, {a, scalar(2.5)}), 2.5 * identity(3)));
  EXPECT_TRUE(exactly(run_matrix(op, {a, vec({4.0})}), 4.0 * identity(3)));
  EXPECT_TRUE(exactly(run_matrix(op, {a, arr(mat({{4.0}}))}), 4.0 * identity(3)));
  EXPECT_TRUE(exactly(run_matrix(op, {arr(zeros(0, 0)), scalar(1)}), zeros(0, 0)));

  const std::string square = "TraceBackward: input must be a square matrix";
  const std::string one_value = "TraceBackward: cotangent of trace must be a scalar";
  linalg_test::expect_errors(
      op, {{"two values", {a, vec({1, 2})}, OpKind::IncompatibleShape, one_value},
           {"no value", {a, vec({})}, OpKind::IncompatibleShape, one_value},
           {"A checked before g", {arr(zeros(2, 3)), vec({1, 2})}, OpKind::IncompatibleShape, square},
           {"vector A", {vec({1, 2}), scalar(1)}, OpKind::IncompatibleShape, square},
           {"missing inputs", {}, OpKind::IncompatibleShape, square}});
}

TEST(MatrixInverseOp, GaussJordanValues) {
  const ops::matrix_ops::MatrixInverseOp op;
  EXPECT_EQ(op.name(), "gradix_autograd::tensor_ops::matrix_ops::MatrixInverseOp");
  struct Row {
    Matrix a;
    Matrix inverse;
  };
  const Row rows[] = {
      {mat({{4, 7}, {2, 6}}), mat({{0.6000000000000001, -0.7000000000000001}, {-0.2, 0.4}})},
      {mat({{0, 1}, {1, 0}}), mat({{0, 1}, {1, 0}})},  // row swap at the first column
      {mat({{2}}), mat({{0.5}})},
      {zeros(0, 0), zeros(0, 0)},
  };
  for (const Row& row : rows) EXPECT_TRUE(exactly(run_matrix(op, {arr(row.a)}), row.inverse));
}

TEST(MatrixInverseOp, InvertsRandomMatrices) {
  for (std::size_t n : {1u, 3u, 5u}) {
    const Matrix a = linalg_test::fixed_random(n, n, 20 + n) + 2.0 * identity(n);
    const Matrix inv = run_matrix(ops::matrix_ops::MatrixInverseOp{}, {arr(a)});
    EXPECT_TRUE(linalg_test::near(linalg_test::product(a, inv), identity(n), 1e-13)) << n;
  }
}

TEST(MatrixInverseOp, Errors) {
  const std::string singular = "Matrix is singular";
  const std::string square = "Matrix inverse requires square matrix";
  linalg_test::expect_errors(ops::matrix_ops::MatrixInverseOp{},
                             {{"rank 1", {arr(mat({{1, 2}, {2, 4}}))}, OpKind::IncompatibleShape, singular},
                              // The test is absolute, not relative to the scale.
                              {"tiny", {arr(mat({{1e-17}}))}, OpKind::IncompatibleShape, singular},
                              {"2 x 3", {arr(zeros(2, 3))}, OpKind::IncompatibleShape, square},
                              {"vector", {vec({1, 2})}, OpKind::IncompatibleShape, square},
                              {"missing", {}, OpKind::IncompatibleShape, square}});
}

// A NaN pivot is never chosen and does not count as singular.
TEST(MatrixInverseOp, NanPivotCarriesOn) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const Matrix inv = run_matrix(ops::matrix_ops::MatrixInverseOp{}, {arr(mat({{nan, 1}, {0, 1}}))});
  for (double v : inv) EXPECT_TRUE(std::isnan(v));
}

}  // namespace

#include "autograd/linalg/matrix_function_ops.hpp"

#include <gtest/gtest.h>

#include "linalg_op_test_support.hpp"

namespace {

namespace mf = gradix_autograd::tensor_ops::matrix_functions;
using gradix_autograd::Array;
using gradix_autograd::op::Op;
using gradix_test::vec;
using linalg_test::arr;
using linalg_test::exactly;
using linalg_test::identity;
using linalg_test::mat;
using linalg_test::Matrix;
using linalg_test::near;
using linalg_test::OpKind;
using linalg_test::run_matrix;
using linalg_test::zeros;

TEST(MatrixFunctionOps, Names) {
  EXPECT_EQ(mf::MatrixSqrtBackwardOp{}.name(), "MatrixSqrtBackward");
  EXPECT_EQ(mf::MatrixLogBackwardOp{}.name(), "MatrixLogBackward");
  EXPECT_EQ(mf::MatrixPowBackwardOp(2.0).name(), "MatrixPowBackward");
}

TEST(MatrixFunctionOps, SqrtValues) {
  const mf::MatrixSqrtBackwardOp op;
  EXPECT_TRUE(exactly(run_matrix(op, {arr(mat({{4}})), arr(mat({{1}}))}), mat({{0.25}})));
  EXPECT_TRUE(near(run_matrix(op, {arr(mat({{4, 0}, {0, 9}})), arr(identity(2))}), mat({{0.25, 0}, {0, 1.0 / 6}}),
                   1e-15));
}

TEST(MatrixFunctionOps, IdentityArgument) {
  const Matrix g = linalg_test::fixed_random(3, 3, 4);
  EXPECT_TRUE(near(run_matrix(mf::MatrixLogBackwardOp{}, {arr(identity(3)), arr(g)}), g, 1e-15));
  EXPECT_TRUE(near(run_matrix(mf::MatrixPowBackwardOp(2.0), {arr(identity(3)), arr(g)}), 2.0 * g, 1e-15));
}

TEST(MatrixFunctionOps, EmptyMatrices) {
  const mf::MatrixSqrtBackwardOp sqrt_op;
  const mf::MatrixLogBackwardOp log_op;
  const mf::MatrixPowBackwardOp pow_op(0.5);
  for (const Op* op : {static_cast<const Op*>(&sqrt_op), static_cast<const Op*>(&log_op),
                       static_cast<const Op*>(&pow_op)})
    EXPECT_TRUE(exactly(run_matrix(*op, {arr(zeros(0, 0)), arr(zeros(0, 0))}), zeros(0, 0))) << op->name();
}

// Shape tests first (A before the gradient), then the matrix's own tests,
// then the gradient's fit to A.
TEST(MatrixFunctionOps, ErrorOrder) {
  const Array spd = arr(mat({{2, 1}, {1, 2}}));
  const Array g2 = arr(identity(2));
  const Array wrong_g = arr(zeros(2, 3));
  const Array non_symmetric = arr(mat({{1, 2}, {3, 4}}));
  struct Case {
    const Op* op;
    std::string a_text, g_text, symmetric_text, fit_text;
  };
  const mf::MatrixSqrtBackwardOp sqrt_op;
  const mf::MatrixLogBackwardOp log_op;
  const mf::MatrixPowBackwardOp pow_op(3.0);
  const Case cases[] = {
      {&sqrt_op, "MatrixSqrtBackward: A must be 2D", "MatrixSqrtBackward: dS must be 2D",
       "sqrtm backward: input matrix is not symmetric", "MatrixSqrtBackward: dS must have A's shape"},
      {&log_op, "MatrixLogBackward: A must be 2D", "MatrixLogBackward: dB must be 2D",
       "logm backward: spectral VJP requires a symmetric input; non-symmetric matrix-log gradient is not "
       "implemented",
       "MatrixLogBackward: dB must have A's shape"},
      {&pow_op, "MatrixPowBackward: A must be 2D", "MatrixPowBackward: dB must be 2D",
       "powm backward: spectral VJP requires a symmetric input; non-symmetric matrix-power gradient is not "
       "implemented",
       "MatrixPowBackward: dB must have A's shape"},
  };
  for (const Case& c : cases) {
    linalg_test::expect_errors(
        *c.op, {{"no inputs", {}, OpKind::IncompatibleShape, c.a_text},
                {"vector A, vector g", {vec({1, 2}), vec({1})}, OpKind::IncompatibleShape, c.a_text},
                {"only A", {spd}, OpKind::IncompatibleShape, c.g_text},
                {"non-symmetric A, vector g", {non_symmetric, vec({1})}, OpKind::IncompatibleShape, c.g_text},
                {"non-symmetric A, misfit g", {non_symmetric, wrong_g}, OpKind::Other, c.symmetric_text},
                {"non-square A", {arr(zeros(2, 3)), g2}, OpKind::Other, c.symmetric_text},
                {"misfit g", {spd, wrong_g}, OpKind::IncompatibleShape, c.fit_text},
                {"smaller g", {spd, arr(identity(1))}, OpKind::IncompatibleShape, c.fit_text}});
  }
}

TEST(MatrixFunctionOps, SqrtKernelFailuresPassThrough) {
  linalg_test::expect_errors(
      mf::MatrixSqrtBackwardOp{},
      {{"zero matrix", {arr(zeros(2, 2)), arr(identity(2))}, OpKind::Other,
        "sqrtm backward: non-positive eigenvalue 0e0; input must be SPD"},
       {"negative eigenvalue before the gradient's fit", {arr(mat({{-0.5}})), arr(zeros(2, 2))}, OpKind::Other,
        "sqrtm backward: non-positive eigenvalue -5e-1; input must be SPD"}});
}

}  // namespace

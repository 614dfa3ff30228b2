#include "autograd/linalg/kronecker_ops.hpp"

#include <gtest/gtest.h>

#include "linalg_op_test_support.hpp"

namespace {

using gradix_autograd::tensor_ops::kronecker_ops::KroneckerGradOp;
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

TEST(KroneckerGradOp, NamesFollowTheFactor) {
  EXPECT_EQ(KroneckerGradOp(0).name(), "KroneckerGradA");
  EXPECT_EQ(KroneckerGradOp(1).name(), "KroneckerGradB");
  EXPECT_EQ(KroneckerGradOp(5).name(), "KroneckerGradB");
}

TEST(KroneckerGradOp, ContractsWithTheOtherFactor) {
  const Matrix a = mat({{1, 2}});
  const Matrix b = mat({{3}, {4}});
  EXPECT_TRUE(exactly(run_matrix(KroneckerGradOp(0), {arr(identity(2)), arr(a), arr(b)}), mat({{3, 4}})));
  EXPECT_TRUE(exactly(run_matrix(KroneckerGradOp(1), {arr(identity(2)), arr(a), arr(b)}), mat({{1}, {2}})));
}

TEST(KroneckerGradOp, SingleValueSpreadsOverTheProduct) {
  const Matrix a = mat({{1, 2}, {3, 4}});
  const Matrix b = mat({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}});
  Matrix da = zeros(2, 2), db = zeros(3, 3);
  da.fill(2.0 * 45);
  db.fill(2.0 * 10);
  EXPECT_TRUE(exactly(run_matrix(KroneckerGradOp(0), {scalar(2.0), arr(a), arr(b)}), da));
  EXPECT_TRUE(exactly(run_matrix(KroneckerGradOp(1), {scalar(2.0), arr(a), arr(b)}), db));
}

// Rows and columns of gy past a ⊗ b are not read.
TEST(KroneckerGradOp, LargerGyReadsOnlyTheProductBlock) {
  const Matrix a = mat({{1, 2}});
  const Matrix b = mat({{3}, {4}});
  Matrix gy = zeros(3, 4);
  gy.fill(100.0);
  gy(0, 0) = 1, gy(0, 1) = 0, gy(1, 0) = 0, gy(1, 1) = 1;
  EXPECT_TRUE(exactly(run_matrix(KroneckerGradOp(0), {arr(gy), arr(a), arr(b)}), mat({{3, 4}})));
  EXPECT_TRUE(exactly(run_matrix(KroneckerGradOp(1), {arr(gy), arr(a), arr(b)}), mat({{1}, {2}})));
}

TEST(KroneckerGradOp, EmptyFactorsGiveZeros) {
  EXPECT_TRUE(exactly(run_matrix(KroneckerGradOp(0), {arr(zeros(0, 6)), arr(identity(2)), arr(zeros(0, 3))}),
                      zeros(2, 2)));
  EXPECT_TRUE(exactly(run_matrix(KroneckerGradOp(1), {scalar(1.0), arr(zeros(2, 0)), arr(identity(2))}),
                      zeros(2, 2)));
}

TEST(KroneckerGradOp, Errors) {
  const std::string two_d = "KroneckerGradOp requires 2D matrices";
  const std::string gy_rank = "KroneckerGradOp: gy must be 2D or scalar";
  const std::string smaller = "KroneckerGradOp: gy smaller than a ⊗ b";
  const Matrix a = mat({{1, 2}});
  const Matrix b = mat({{3}, {4}});
  for (std::uint64_t which : {0u, 1u}) {
    linalg_test::expect_errors(
        KroneckerGradOp(which),
        {{"vector a, bad gy too", {vec({1}), vec({1, 2}), arr(b)}, OpKind::IncompatibleShape, two_d},
         {"missing b", {scalar(1), arr(a)}, OpKind::IncompatibleShape, two_d},
         {"vector gy", {vec({1, 2, 3, 4}), arr(a), arr(b)}, OpKind::IncompatibleShape, gy_rank},
         {"gy one row short", {arr(zeros(1, 2)), arr(a), arr(b)}, OpKind::IncompatibleShape, smaller},
         {"gy one column short", {arr(zeros(2, 1)), arr(a), arr(b)}, OpKind::IncompatibleShape, smaller}});
  }
}

}  // namespace

#include "autograd/ndarray_ext.hpp"

#include <gtest/gtest.h>

#include "linalg_test_support.hpp"
#include "support/panic.hpp"

namespace {

using gradix_autograd::ndarray_ext::gemm;
using linalg_test::Matrix;
using linalg_test::transpose;
using linalg_test::zeros;

TEST(Gemm, EveryTransposeCombinationMatchesThePlainProduct) {
  const Matrix a = linalg_test::fixed_random(3, 4, 1);
  const Matrix b = linalg_test::fixed_random(4, 5, 2);
  const Matrix expected = linalg_test::product(a, b);
  EXPECT_TRUE(linalg_test::near(gemm(a, false, b, false), expected, 1e-14));
  EXPECT_TRUE(linalg_test::near(gemm(transpose(a), true, b, false), expected, 1e-14));
  EXPECT_TRUE(linalg_test::near(gemm(a, false, transpose(b), true), expected, 1e-14));
  EXPECT_TRUE(linalg_test::near(gemm(transpose(a), true, transpose(b), true), expected, 1e-14));
}

// Zero extents never reach BLAS; the result has the product's shape.
TEST(Gemm, ZeroExtentsGiveZeros) {
  struct Case {
    Matrix a, b;
    bool ta, tb;
    std::size_t m, n;
  };
  const Case cases[] = {
      {zeros(2, 0), zeros(0, 3), false, false, 2, 3},
      {zeros(0, 2), zeros(0, 3), true, false, 2, 3},
      {zeros(0, 3), zeros(3, 2), false, false, 0, 2},
      {zeros(2, 3), zeros(3, 0), false, false, 2, 0},
      {zeros(2, 3), zeros(0, 3), false, true, 2, 0},
      {zeros(0, 0), zeros(0, 0), false, false, 0, 0},
  };
  for (const Case& c : cases) {
    const Matrix out = gemm(c.a, c.ta, c.b, c.tb);
    ASSERT_EQ(out.shape()[0], c.m);
    ASSERT_EQ(out.shape()[1], c.n);
    for (double e : out) EXPECT_EQ(e, 0.0);
  }
}

TEST(Gemm, SingleRowsAndColumns) {
  const Matrix row = linalg_test::mat({{1, 2, 3}});
  const Matrix col = linalg_test::mat({{4}, {5}, {6}});
  EXPECT_EQ(gemm(row, false, col, false), linalg_test::mat({{32}}));
  EXPECT_EQ(gemm(row, true, row, false), linalg_test::product(transpose(row), row));
}

TEST(Gemm, InnerMismatchIsFatal) {
  EXPECT_THROW(gemm(zeros(2, 3), false, zeros(2, 3), false), kvel_support::FatalError);
  EXPECT_THROW(gemm(zeros(2, 0), false, zeros(1, 3), false), kvel_support::FatalError);
}

}  // namespace

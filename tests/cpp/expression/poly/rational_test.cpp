#include "expression/poly/rational.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

namespace mv = tamrix::poly::multivariate;
using mv::PolyError;
using mv::Rational;

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

TEST(Rational, FractionApproximation) {
  const struct {
    double c;
    Rational want;
  } rows[] = {
      {0.5, {1, 2}},      {0.1, {1, 10}},      {0.3333333333333333, {1, 3}}, {0.3333333333, {1, 3}},
      {-2.0, {-2, 1}},    {0.001, {1, 1000}},  {1e-10, {0, 1}},              {0.0, {0, 1}},
      {-0.25, {-1, 4}},   {0.999, {999, 1000}}, {-0.0, {0, 1}},
  };
  for (const auto& r : rows) {
    const auto got = mv::approximate_fraction(r.c);
    ASSERT_TRUE(got.has_value()) << r.c;
    EXPECT_EQ(*got, r.want) << r.c;
  }
  const double none[] = {3.141592653589793, 2.718281828459045, 1.4142135623730951, 0.0001, NAN, INFINITY, -INFINITY};
  for (double c : none) {
    EXPECT_FALSE(mv::approximate_fraction(c).has_value()) << c;
  }
}

TEST(Rational, SaturatingRound) {
  EXPECT_EQ(mv::round_to_int64_saturating(NAN), 0);
  EXPECT_EQ(mv::round_to_int64_saturating(1e300), kMax);
  EXPECT_EQ(mv::round_to_int64_saturating(-1e300), kMin);
  EXPECT_EQ(mv::round_to_int64_saturating(9223372036854775808.0), kMax);
  EXPECT_EQ(mv::round_to_int64_saturating(-9223372036854775808.0), kMin);
  EXPECT_EQ(mv::round_to_int64_saturating(2.5), 3);
  EXPECT_EQ(mv::round_to_int64_saturating(-2.5), -3);
}

TEST(Rational, ReductionAndCheckedArithmetic) {
  EXPECT_EQ(*mv::reduced(6, -4), (Rational{-3, 2}));
  EXPECT_EQ(*mv::reduced(0, -7), (Rational{0, 1}));
  EXPECT_EQ(*mv::reduced(kMin, 2), (Rational{kMin / 2, 1}));
  EXPECT_EQ(*mv::reduced(kMin, 1), (Rational{kMin, 1}));
  EXPECT_EQ(mv::reduced(1, kMin).error(), PolyError::Overflow);  // 2^63 has no positive int64

  // An exact INT64_MIN sum is representable; negating it is not.
  const Rational half_min{kMin / 2, 1};
  const auto sum = mv::checked_add(half_min, half_min);
  ASSERT_TRUE(sum.has_value());
  EXPECT_EQ(*sum, (Rational{kMin, 1}));
  EXPECT_EQ(mv::checked_neg(*sum).error(), PolyError::Overflow);

  EXPECT_EQ(mv::checked_add(Rational{kMax, 1}, Rational{1, 1}).error(), PolyError::Overflow);
  EXPECT_EQ(mv::checked_add(Rational{1, 3037000500}, Rational{1, 3037000501}).error(), PolyError::Overflow);
  EXPECT_EQ(mv::checked_mul(Rational{1LL << 62, 1}, Rational{2, 1}).error(), PolyError::Overflow);
  EXPECT_EQ(*mv::checked_mul(Rational{2, 3}, Rational{3, 4}), (Rational{1, 2}));
  EXPECT_EQ(*mv::checked_add(Rational{1, 6}, Rational{1, 3}), (Rational{1, 2}));
}

}  // namespace

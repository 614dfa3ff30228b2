#include "expression/poly/multivariate.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "helpers/lowered_build.hpp"

namespace {

namespace mv = tamrix::poly::multivariate;
using namespace kvel_test;
using mv::MultiPoly;
using mv::PolyError;
using mv::Rational;

MultiPoly poly_of(const LoweredOp& e, std::size_t n) {
  auto p = MultiPoly::from_lowered(e, n);
  EXPECT_TRUE(p.has_value());
  return p.has_value() ? *p : MultiPoly{};
}

TEST(MultiPoly, ConstantsAndVariables) {
  const MultiPoly quarter = poly_of(c(0.25), 1);
  ASSERT_EQ(quarter.terms.size(), 1u);
  EXPECT_EQ(quarter.terms.begin()->first, mv::Exponents{0});
  EXPECT_EQ(quarter.terms.begin()->second, (Rational{1, 4}));
  EXPECT_TRUE(poly_of(c(0.0), 1).terms.empty());
  EXPECT_TRUE(poly_of(sub(x(0), x(0)), 1).terms.empty());

  // Named constants enter through their value: only the small fractions do.
  int representable = 0;
  for (std::uint8_t i = 0; i < 17; ++i) representable += MultiPoly::from_lowered(LoweredOp::named_const(i), 1).has_value();
  EXPECT_EQ(representable, 5);
  EXPECT_EQ(poly_of(LoweredOp::named_const(16), 1).terms.begin()->second, (Rational{-2, 1}));
}

TEST(MultiPoly, NotPolynomialRows) {
  const LoweredOp rows[] = {
      c(3.141592653589793),
      c(INFINITY),
      c(NAN),
      c(0.0001),
      x(2),
      pow(x(0), c(101)),
      pow(x(0), c(2.5)),
      pow(x(0), c(-1)),
      pow(x(0), x(0)),
      pow(x(0), c(NAN)),
      div(x(0), c(2)),
      un(OpKind::Exp, x(0)),
      LoweredOp::named_const(0),
      // The exponent is tested before the base: no Overflow from the base.
      pow(pow(mul(c(0.001), x(0)), c(100)), c(0.5)),
  };
  for (const auto& e : rows) {
    const auto p = MultiPoly::from_lowered(e, 2);
    ASSERT_FALSE(p.has_value());
    EXPECT_EQ(p.error(), PolyError::NotPolynomial);
  }
  EXPECT_TRUE(MultiPoly::from_lowered(pow(x(0), c(100)), 1).has_value());
}

TEST(MultiPoly, OverflowRows) {
  const double half_min = -4611686018427387904.0;  // -2^62
  const LoweredOp rows[] = {
      pow(mul(c(0.001), x(0)), c(100)),
      neg(add(c(half_min), c(half_min))),
      sub(c(0), add(c(half_min), c(half_min))),
      add(c(-half_min), c(-half_min)),
      mul(c(-half_min), c(2)),
      // 100^5 does not fit a 32-bit exponent.
      pow(pow(pow(pow(pow(x(0), c(100)), c(100)), c(100)), c(100)), c(100)),
  };
  for (const auto& e : rows) {
    const auto p = MultiPoly::from_lowered(e, 1);
    ASSERT_FALSE(p.has_value());
    EXPECT_EQ(p.error(), PolyError::Overflow);
  }
  const MultiPoly min_sum = poly_of(add(c(half_min), c(half_min)), 1);
  EXPECT_EQ(min_sum.terms.begin()->second.num, std::numeric_limits<std::int64_t>::min());
  const MultiPoly high = poly_of(pow(pow(pow(pow(x(0), c(100)), c(100)), c(100)), c(100)), 1);
  EXPECT_EQ(high.terms.begin()->first, mv::Exponents{100000000});
}

TEST(MultiPoly, ToLoweredShape) {
  // 2 + 3*x0*x1^2 - x1: terms in the order [0,0], [0,1], [1,2].
  const MultiPoly p = poly_of(sub(add(c(2), mul(mul(c(3), x(0)), pow(x(1), c(2)))), x(1)), 2);
  const LoweredOp want =
      add(add(c(2), mul(c(-1), x(1))), mul(mul(c(3), x(0)), pow(x(1), c(2))));
  EXPECT_EQ(stream(p.to_lowered()), stream(want));

  const struct {
    LoweredOp in;
    std::size_t n;
    LoweredOp want;
  } rows[] = {
      {add(x(0), x(1)), 2, add(x(1), x(0))},
      {c(1), 1, c(1.0)},
      {x(0), 1, x(0)},
      {mul(c(0.3333333333333333), x(0)), 1, mul(c(0.3333333333333333), x(0))},
      {sub(x(0), x(0)), 1, c(0.0)},
      {mul(x(0), x(0)), 1, pow(x(0), c(2))},
      {neg(x(0)), 1, mul(c(-1.0), x(0))},
  };
  for (const auto& r : rows) EXPECT_EQ(stream(poly_of(r.in, r.n).to_lowered()), stream(r.want));
}

TEST(MultiPoly, PowersAndProducts) {
  const MultiPoly zero = poly_of(c(0), 2);
  const auto one = MultiPoly::pow(zero, 0);
  ASSERT_TRUE(one.has_value());
  EXPECT_EQ(stream(one->to_lowered()), stream(c(1.0)));

  const MultiPoly s = poly_of(add(add(x(0), x(1)), c(1)), 2);
  EXPECT_EQ(MultiPoly::pow(s, 3)->terms.size(), 10u);
  EXPECT_EQ(MultiPoly::pow(s, 10)->terms.size(), 66u);
  EXPECT_TRUE(MultiPoly::mul(s, zero)->terms.empty());
  // (x0 + 1)(x0 - 1) = x0^2 - 1: the cross terms cancel and are removed.
  const MultiPoly d = *MultiPoly::mul(poly_of(add(x(0), c(1)), 1), poly_of(sub(x(0), c(1)), 1));
  EXPECT_EQ(stream(d.to_lowered()), stream(add(c(-1.0), pow(x(0), c(2)))));
}

TEST(MultiPoly, AddTermKeepsZeroUntilNormalize) {
  MultiPoly p = MultiPoly::constant(Rational{1, 2}, 1);
  ASSERT_TRUE(p.add_term(mv::Exponents{0}, Rational{-1, 2}).has_value());
  EXPECT_EQ(p.terms.size(), 1u);
  p.normalize();
  EXPECT_TRUE(p.terms.empty());
}

// Exponents keep only the variables present, yet order terms exactly as the
// full exponent vectors do (lexicographically), and multiply by adding.
TEST(MultiPoly, ExponentsOrderAsFullVectors) {
  const std::vector<std::vector<std::uint32_t>> full = {
      {0, 0, 0}, {0, 0, 1}, {0, 0, 2}, {0, 1, 0}, {0, 1, 1}, {1, 0, 0},
      {1, 0, 3}, {1, 2, 0}, {2, 0, 0}, {0, 3, 0}, {3, 0, 1}, {0, 0, 7},
  };
  const auto sparse = [](const std::vector<std::uint32_t>& v) {
    mv::Exponents e;
    for (std::size_t j = 0; j < v.size(); ++j) {
      if (v[j] == 0) continue;
      const std::optional<mv::Exponents> p = mv::Exponents::product(e, mv::Exponents::of_var(j, v[j]));
      EXPECT_TRUE(p.has_value());
      e = *p;
    }
    return e;
  };
  for (const auto& a : full) {
    for (const auto& b : full) {
      EXPECT_EQ(sparse(a) < sparse(b), a < b);
      EXPECT_EQ(sparse(a) == sparse(b), a == b);
      std::vector<std::uint32_t> sum(3);
      for (std::size_t j = 0; j < 3; ++j) sum[j] = a[j] + b[j];
      EXPECT_EQ(*mv::Exponents::product(sparse(a), sparse(b)), sparse(sum));
    }
  }
  EXPECT_EQ(sparse({0, 2, 0}), (mv::Exponents{0, 2}));
  EXPECT_FALSE(mv::Exponents::product(mv::Exponents::of_var(5, 0xFFFFFFFFu), mv::Exponents::of_var(5, 1)).has_value());
}

}  // namespace

#include "expression/poly/rational.hpp"

#include <cmath>
#include <limits>

#include "support/panic.hpp"

namespace tamrix::poly::multivariate {
namespace {

using kvel_support::unexpected;

constexpr std::uint64_t kInt64MaxMagnitude = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

// |v| as an unsigned number; defined for INT64_MIN too.
std::uint64_t magnitude(std::int64_t v) noexcept {
  return v < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
}

std::uint64_t gcd_u64(std::uint64_t a, std::uint64_t b) noexcept {
  while (b != 0) {
    const std::uint64_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

}  // namespace

PolyResult<Rational> reduced(std::int64_t num, std::int64_t den) {
  if (den == 0) kvel_support::panic("denominator == 0");
  if (num == 0) return Rational{0, 1};
  const bool negative = (num < 0) != (den < 0);
  const std::uint64_t g = gcd_u64(magnitude(num), magnitude(den));
  const std::uint64_t n = magnitude(num) / g;
  const std::uint64_t d = magnitude(den) / g;
  if (d > kInt64MaxMagnitude) return unexpected(PolyError::Overflow);
  if (negative) {
    if (n > kInt64MaxMagnitude + 1) return unexpected(PolyError::Overflow);
    return Rational{static_cast<std::int64_t>(std::uint64_t{0} - n), static_cast<std::int64_t>(d)};
  }
  if (n > kInt64MaxMagnitude) return unexpected(PolyError::Overflow);
  return Rational{static_cast<std::int64_t>(n), static_cast<std::int64_t>(d)};
}

PolyResult<Rational> checked_add(const Rational& a, const Rational& b) {
  std::int64_t left, right, sum, den;
  if (__builtin_mul_overflow(a.num, b.den, &left) || __builtin_mul_overflow(b.num, a.den, &right) ||
      __builtin_add_overflow(left, right, &sum) || __builtin_mul_overflow(a.den, b.den, &den)) {
    return unexpected(PolyError::Overflow);
  }
  return reduced(sum, den);
}

PolyResult<Rational> checked_mul(const Rational& a, const Rational& b) {
  std::int64_t num, den;
  if (__builtin_mul_overflow(a.num, b.num, &num) || __builtin_mul_overflow(a.den, b.den, &den)) {
    return unexpected(PolyError::Overflow);
  }
  return reduced(num, den);
}

PolyResult<Rational> checked_neg(const Rational& a) {
  if (a.num == std::numeric_limits<std::int64_t>::min()) return unexpected(PolyError::Overflow);
  return Rational{-a.num, a.den};
}

std::int64_t round_to_int64_saturating(double t) noexcept {
  const double r = std::round(t);
  if (std::isnan(r)) return 0;
  if (r >= 9223372036854775808.0) return std::numeric_limits<std::int64_t>::max();
  if (r <= -9223372036854775808.0) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(r);
}

std::optional<Rational> approximate_fraction(double c) {
  for (std::int64_t q = 1; q <= 1000; ++q) {
    const double t = static_cast<double>(q) * c;
    const std::int64_t p = round_to_int64_saturating(t);
    if (std::abs(t - static_cast<double>(p)) < 1e-9) {
      // q is positive and at most 1000, so reduction cannot overflow.
      return *reduced(p, q);
    }
  }
  return std::nullopt;
}

}  // namespace tamrix::poly::multivariate

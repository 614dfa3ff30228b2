#pragma once
// Exact fractions of 64-bit integers, the coefficients of MultiPoly. Always in
// lowest terms with a positive denominator. Every arithmetic step is checked:
// an overflow is an error value, never a wrapped or rounded result.

#include <cstdint>
#include <optional>

#include "support/expected.hpp"

namespace tamrix::poly::multivariate {

// The error of every fallible polynomial operation. No text: the normal form
// treats both alike and failing must stay cheap.
enum class PolyError : std::uint8_t {
  NotPolynomial,  // not representable (an operation, constant or exponent)
  Overflow,       // a 64-bit product or sum overflowed
};

template <class T>
using PolyResult = kvel_support::Expected<T, PolyError>;

struct Rational {
  std::int64_t num = 0;
  std::int64_t den = 1;

  bool is_zero() const noexcept { return num == 0; }
  friend bool operator==(const Rational&, const Rational&) = default;
};

// num/den in lowest terms with a positive denominator; `den` must not be 0.
PolyResult<Rational> reduced(std::int64_t num, std::int64_t den);

PolyResult<Rational> checked_add(const Rational& a, const Rational& b);
PolyResult<Rational> checked_mul(const Rational& a, const Rational& b);
PolyResult<Rational> checked_neg(const Rational& a);

// t rounded half away from zero, then converted with saturation: NaN gives 0,
// values beyond the range give the nearest limit.
std::int64_t round_to_int64_saturating(double t) noexcept;

// The fraction p/q with the smallest q in 1..1000 such that |q*c - p| < 1e-9,
// in lowest terms; none when no denominator qualifies.
std::optional<Rational> approximate_fraction(double c);

}  // namespace tamrix::poly::multivariate

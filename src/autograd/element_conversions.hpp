#pragma once
// The strict conversions of argument elements (dimensions, permutation
// entries, axes, indices). Each truncates toward zero and stops with a fatal
// error carrying `failure` when the value is out of range or NaN. The lenient
// shape-size conversion, which never fails, is shape_helpers::size_or_zero.

#include <cstddef>
#include <cstdint>

#include "support/panic.hpp"

namespace gradix_autograd::conversions {

// A size: requires -1 < v < 2^64.
inline std::size_t to_size(double v, const char* failure) {
  constexpr double kTwoTo64 = 18446744073709551616.0;
  if (!(v > -1.0 && v < kTwoTo64)) kvel_support::panic(failure);
  return static_cast<std::size_t>(v);
}

// A signed axis or index: requires -2^63 <= v < 2^63.
inline std::int64_t to_signed(double v, const char* failure) {
  constexpr double kTwoTo63 = 9223372036854775808.0;
  if (!(v >= -kTwoTo63 && v < kTwoTo63)) kvel_support::panic(failure);
  return static_cast<std::int64_t>(v);
}

}  // namespace gradix_autograd::conversions

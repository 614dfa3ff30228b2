#pragma once
// Unsigned sums and products that stop at the largest value instead of
// wrapping: for sizes and bounds read from the machine, where a reading near
// the top of the range (an address-space limit of 2^64 − 2, say) must stay
// "huge" rather than become small.

#include <cstdint>
#include <limits>

namespace kvel_support {

constexpr std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) noexcept {
  std::uint64_t sum = 0;
  return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<std::uint64_t>::max() : sum;
}

constexpr std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) noexcept {
  std::uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<std::uint64_t>::max() : product;
}

}  // namespace kvel_support

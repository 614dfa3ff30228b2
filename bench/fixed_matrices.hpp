#pragma once
// Fixed pseudo-random matrices for the linear-algebra benchmarks: the same
// entries in [-1, 1) in every run.

#include <cstdint>

#include "support/xtensor.hpp"

namespace bench_data {

inline xt::xtensor<double, 2> fixed_random(std::size_t r, std::size_t c, std::uint64_t seed) {
  xt::xtensor<double, 2> out = xt::zeros<double>({r, c});
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
  for (double& e : out) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    e = static_cast<double>(state >> 11) / 9007199254740992.0 * 2.0 - 1.0;
  }
  return out;
}

}  // namespace bench_data

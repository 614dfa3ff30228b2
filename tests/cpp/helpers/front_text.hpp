#pragma once
// A front as text, one member a line with the bits of its error, for
// comparing fronts exactly.

#include <bit>
#include <cstdint>
#include <string>

#include "core/pareto.hpp"

namespace kvel_test {

inline std::string describe(const kvel_core::ParetoFront& front) {
  std::string out;
  for (const auto& s : front.members())
    out += s.tree.to_string() + " " + std::to_string(std::bit_cast<std::uint64_t>(s.mse)) + "\n";
  return out;
}

}  // namespace kvel_test

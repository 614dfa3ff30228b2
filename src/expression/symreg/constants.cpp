#include "expression/symreg/constants.hpp"

#include <cmath>

namespace tamrix::symreg::constants {
namespace {

constexpr std::array<NamedConst, 17> kCandidateOrder{0, 3, 1, 4, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

}  // namespace

std::array<std::pair<double, NamedConst>, 17> named_const_candidates() {
  std::array<std::pair<double, NamedConst>, 17> out{};
  for (std::size_t i = 0; i < kCandidateOrder.size(); ++i)
    out[i] = {kNamedConsts[kCandidateOrder[i]].value, kCandidateOrder[i]};
  return out;
}

NamedConst snap_to_named_const(double x) {
  for (NamedConst index : kCandidateOrder) {
    const double b = kNamedConsts[index].value;
    if (std::fabs(b) <= 1e-12) continue;
    if (std::fabs(x - b) <= std::fabs(b) * 0.02) return index;
  }
  return kNoNamedConst;
}

}  // namespace tamrix::symreg::constants

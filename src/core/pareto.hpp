#pragma once
// The result of one search: the solutions that no other beats in both
// complexity and error, sorted by complexity, then error.

#include <cstddef>
#include <vector>

#include "core/solution.hpp"

namespace kvel_core::pareto {

using solution::Solution;

class ParetoFront {
 public:
  // Consumes the candidates in order: non-finite errors and dominated
  // candidates are dropped, members the candidate dominates are removed, and a
  // candidate with a member's complexity and an error within 1e-12 of it is a
  // duplicate. The first of two exact ties stays.
  static ParetoFront from_candidates(std::vector<Solution> candidates);

  // The first min(k, size) members by error ascending (stable: equal errors
  // keep member order). Pointers stay valid while the front lives.
  std::vector<const Solution*> pareto_top(std::size_t k) const;
  // The first member with the smallest error, or nullptr for an empty front.
  const Solution* best() const;

  std::size_t size() const noexcept { return members_.size(); }
  const std::vector<Solution>& members() const noexcept { return members_; }

 private:
  std::vector<Solution> members_;
};

}  // namespace kvel_core

namespace kvel_core {
using pareto::ParetoFront;
}  // namespace kvel_core

#pragma once
// Semantic de-duplication of topologies: a tree is kept only when no earlier
// tree has the same key, the structural hash of its simplified lowered form.
// Which trees survive, and in which order, decides which formulas a search can
// ever find.

#include <cstddef>
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "expression/tree.hpp"

namespace tamrix::symreg::topology {

using tree::EmlTree;

// ops_struct_hash(simplify(lower_node(EML-simplify(tree)))).
std::uint64_t semantic_key(const EmlTree& tree);

// Streaming form: trees are admitted one at a time, in enumeration order, so
// a lazy walk can stop once enough trees are kept.
class SemanticDeduper {
 public:
  // True (keep the tree) when no earlier admitted tree had its key.
  bool admit(const EmlTree& tree);

 private:
  // Membership only: its iteration order never decides anything.
  std::unordered_set<std::uint64_t> seen_;
};

// The kept trees themselves, in input order; reuses the list's storage.
std::vector<EmlTree> dedupe_by_semantics(std::vector<EmlTree> trees);

// The first `limit` kept trees of enumerate_topologies(max_depth, n_vars),
// enumerated lazily: the same trees as de-duplicating the full list and
// keeping its first `limit`.
std::vector<EmlTree> first_distinct_topologies(std::size_t max_depth, std::size_t n_vars, std::size_t limit);

}  // namespace tamrix::symreg::topology

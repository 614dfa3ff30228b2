#include "expression/symreg/dedupe.hpp"

#include "expression/lower/pattern.hpp"
#include "expression/lower_simplify/normal_form.hpp"
#include "expression/lower_simplify/simplify.hpp"
#include "expression/simplify.hpp"
#include "expression/symreg/topology.hpp"

namespace tamrix::symreg::topology {

std::uint64_t semantic_key(const EmlTree& tree) {
  const EmlTree simplified = simplify::simplify(tree);
  const lower::LoweredOp lowered = lower::pattern::lower_node(*simplified.root);
  const lower::LoweredOp reduced = lower_simplify::simplify(lowered);
  return lower_simplify::ops_struct_hash(reduced);
}

bool SemanticDeduper::admit(const EmlTree& tree) { return seen_.insert(semantic_key(tree)).second; }

std::vector<EmlTree> dedupe_by_semantics(std::vector<EmlTree> trees) {
  SemanticDeduper deduper;
  std::size_t kept = 0;
  for (EmlTree& tree : trees) {
    if (!deduper.admit(tree)) continue;
    if (&trees[kept] != &tree) trees[kept] = std::move(tree);
    ++kept;
  }
  trees.resize(kept);
  return trees;
}

std::vector<EmlTree> first_distinct_topologies(std::size_t max_depth, std::size_t n_vars, std::size_t limit) {
  std::vector<EmlTree> kept;
  if (limit == 0) return kept;
  kept.reserve(limit);
  SemanticDeduper deduper;
  for_each_topology(max_depth, n_vars, [&](const EmlTree& tree) {
    if (deduper.admit(tree)) kept.push_back(tree);
    return kept.size() < limit;
  });
  return kept;
}

}  // namespace tamrix::symreg::topology

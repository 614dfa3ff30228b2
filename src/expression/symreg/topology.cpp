#include "expression/symreg/topology.hpp"

namespace tamrix::symreg::topology {
namespace detail {

Level leaf_level(const NodeList& leaves) {
  Level level;
  level.nodes = leaves;
  level.vars.reserve(leaves.size());
  for (const NodePtr& leaf : leaves) level.vars.push_back(tree::count_vars(*leaf));
  return level;
}

void push_next_level(std::vector<Level>& levels) {
  Level next;
  for_each_child_pair(levels, [&](const NodePtr& a, std::uint64_t va, const NodePtr& b, std::uint64_t vb) {
    next.nodes.push_back(EmlNode::eml(a, b));
    next.vars.push_back(va > vb ? va : vb);
    return true;
  });
  levels.push_back(std::move(next));
}

}  // namespace detail

namespace {

// levels[0 .. depth - 1]: the node lists below `depth`, each built once.
std::vector<detail::Level> levels_below(std::size_t depth, const NodeList& leaves) {
  std::vector<detail::Level> levels;
  levels.push_back(detail::leaf_level(leaves));
  while (levels.size() < depth) detail::push_next_level(levels);
  return levels;
}

}  // namespace

NodeList build_leaves(std::size_t n_vars, bool with_const, double value) {
  NodeList leaves;
  leaves.reserve(n_vars + 2);
  leaves.push_back(EmlNode::one());
  for (std::size_t i = 0; i < n_vars; ++i) leaves.push_back(EmlNode::var(i));
  if (with_const) leaves.push_back(EmlNode::constant(value));
  return leaves;
}

NodeList enumerate_at_depth_nodes(std::size_t depth, const NodeList& leaves) {
  if (depth == 0) return leaves;
  std::vector<detail::Level> levels = levels_below(depth, leaves);
  detail::push_next_level(levels);
  return std::move(levels.back().nodes);
}

void enumerate_at_depth(std::size_t depth, const NodeList& leaves, std::vector<EmlTree>& out) {
  if (depth == 0) {
    for (const NodePtr& leaf : leaves) out.push_back(EmlTree::from_node(leaf));
    return;
  }
  const std::vector<detail::Level> levels = levels_below(depth, leaves);
  detail::for_each_child_pair(levels, [&](const NodePtr& a, std::uint64_t va, const NodePtr& b, std::uint64_t vb) {
    out.emplace_back(EmlNode::eml(a, b), va > vb ? va : vb);
    return true;
  });
}

std::vector<EmlTree> enumerate_topologies(std::size_t max_depth, std::size_t n_vars) {
  const NodeList leaves = build_leaves(n_vars, false, 0.0);
  std::vector<EmlTree> out;
  for (std::size_t depth = 0; depth <= max_depth; ++depth) enumerate_at_depth(depth, leaves, out);
  return out;
}

}  // namespace tamrix::symreg::topology

#pragma once
// Enumeration of tree topologies: every EML tree whose leaves are the constant
// one or a variable, up to a depth, in one fixed order (grouped by depth; at
// depth d the blocks P x P, P x L, L x P with P the nodes of depth d - 1 and L
// those of depths 0 .. d - 2, the left child from the outer loop).
//
// Besides the eager lists there is a lazy walk, `for_each_topology`, that
// visits exactly the same trees in the same order and can stop early: the list
// grows doubly exponentially with the column count, and a search needs only
// its first few hundred distinct trees.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "expression/tree.hpp"

namespace tamrix::symreg::topology {

using tree::EmlNode;
using tree::EmlTree;
using tree::NodePtr;
using NodeList = std::vector<NodePtr>;

// One, x0 .. x(n-1), then (only when asked) one Const leaf holding `value`.
NodeList build_leaves(std::size_t n_vars, bool with_const, double value);

// Nodes of exactly depth d, in enumeration order.
NodeList enumerate_at_depth_nodes(std::size_t depth, const NodeList& leaves);
// Appends the trees of exactly depth d, in enumeration order.
void enumerate_at_depth(std::size_t depth, const NodeList& leaves, std::vector<EmlTree>& out);
// Every tree of depth 0 .. max_depth over one and x0 .. x(n-1).
std::vector<EmlTree> enumerate_topologies(std::size_t max_depth, std::size_t n_vars);

namespace detail {

// A level: the nodes of one depth with their variable counts.
struct Level {
  NodeList nodes;
  std::vector<std::uint64_t> vars;
};

Level leaf_level(const NodeList& leaves);

// Calls visit(a, vars_a, b, vars_b) for the child pairs of depth `levels.size()`
// in enumeration order, where levels[k] holds the nodes of depth k. Stops and
// returns false as soon as `visit` returns false.
template <class Visit>
bool for_each_child_pair(const std::vector<Level>& levels, Visit&& visit) {
  const Level& p = levels.back();
  const std::size_t lower = levels.size() - 1;  // L = levels[0 .. lower - 1]
  for (std::size_t i = 0; i < p.nodes.size(); ++i)
    for (std::size_t j = 0; j < p.nodes.size(); ++j)
      if (!visit(p.nodes[i], p.vars[i], p.nodes[j], p.vars[j])) return false;
  for (std::size_t i = 0; i < p.nodes.size(); ++i)
    for (std::size_t k = 0; k < lower; ++k)
      for (std::size_t j = 0; j < levels[k].nodes.size(); ++j)
        if (!visit(p.nodes[i], p.vars[i], levels[k].nodes[j], levels[k].vars[j])) return false;
  for (std::size_t k = 0; k < lower; ++k)
    for (std::size_t i = 0; i < levels[k].nodes.size(); ++i)
      for (std::size_t j = 0; j < p.nodes.size(); ++j)
        if (!visit(levels[k].nodes[i], levels[k].vars[i], p.nodes[j], p.vars[j])) return false;
  return true;
}

// Appends the level of depth levels.size() to `levels`.
void push_next_level(std::vector<Level>& levels);

}  // namespace detail

// Visits every tree of enumerate_topologies(max_depth, n_vars), in the same
// order, as visit(const EmlTree&) -> bool; returning false stops the walk.
// Returns true when the walk ran to its end. A depth's node list is built only
// when the walk reaches the depth above it.
template <class Visit>
bool for_each_topology(std::size_t max_depth, std::size_t n_vars, Visit&& visit) {
  std::vector<detail::Level> levels;
  levels.push_back(detail::leaf_level(build_leaves(n_vars, false, 0.0)));
  for (std::size_t i = 0; i < levels[0].nodes.size(); ++i)
    if (!visit(EmlTree(levels[0].nodes[i], levels[0].vars[i]))) return false;
  for (std::size_t depth = 1; depth <= max_depth; ++depth) {
    if (depth >= 2) detail::push_next_level(levels);
    const bool finished = detail::for_each_child_pair(
        levels, [&](const NodePtr& a, std::uint64_t va, const NodePtr& b, std::uint64_t vb) {
          return visit(EmlTree(EmlNode::eml(a, b), va > vb ? va : vb));
        });
    if (!finished) return false;
  }
  return true;
}

}  // namespace tamrix::symreg::topology

#pragma once
// EML-level simplification: removes the shapes ln(exp(Z)) and exp(ln(X)),
// bottom-up, and hash-conses the result so that structurally identical input
// sub-trees yield one shared output node. Nothing is evaluated; constants are
// never folded.

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "expression/tree.hpp"

namespace tamrix::simplify {

// Owned structural mirror of a node, stored as its pre-order encoding: the kind
// of every node, followed by the bit pattern of a Const or the index of a Var.
// Two keys are equal exactly when the trees are equal with constants compared
// bit for bit (so 0.0 and -0.0 differ).
struct EmlNodeKey {
  std::vector<std::uint64_t> code;

  bool operator==(const EmlNodeKey& other) const = default;
};

struct EmlNodeKeyHash {
  std::size_t operator()(const EmlNodeKey& key) const noexcept;
};

// Simplified node of every input sub-tree seen so far in one simplification.
using Memo = std::unordered_map<EmlNodeKey, tree::NodePtr, EmlNodeKeyHash>;

EmlNodeKey make_key(const tree::EmlNode& node);

tree::NodePtr simplify_node(const tree::EmlNode& node, Memo& memo);

// The result shares no node with the input; num_vars is recounted.
tree::EmlTree simplify(const tree::EmlTree& tree);

}  // namespace tamrix::simplify

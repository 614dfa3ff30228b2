#pragma once
// EML trees: binary trees whose inner nodes apply eml(a, b) = exp(a) - ln(b)
// and whose leaves are the constant one, a numeric constant or a variable.
// Nodes are immutable and share sub-trees through reference counts.

#include <cstdint>
#include <limits>
#include <memory>
#include <string>

namespace tamrix::lower {
class LoweredOp;
}

namespace tamrix::tree {

struct EmlNode;
using NodePtr = std::shared_ptr<const EmlNode>;

// Reserved `Var` index: the wildcard of the lowering's match templates.
inline constexpr std::uint64_t kWildcardIndex = std::numeric_limits<std::int64_t>::max();

struct EmlNode {
  // The tag values are shared with the discovery engine, which switches on them.
  enum class Kind : std::uint8_t { One = 0, Const = 1, Var = 2, Eml = 3 };

  Kind kind = Kind::One;
  double value = 0.0;       // Const
  std::uint64_t index = 0;  // Var
  NodePtr left;             // Eml
  NodePtr right;            // Eml

  // Factories always allocate a new node.
  static NodePtr one();
  static NodePtr constant(double value);
  static NodePtr var(std::uint64_t index);
  static NodePtr eml(NodePtr left, NodePtr right);

  bool is_leaf() const noexcept { return kind != Kind::Eml; }
};

// Highest Var index + 1 (0 without variables), left child first.
std::uint64_t count_vars(const EmlNode& node);
// Number of nodes: a leaf counts 1, an Eml node 1 + both children.
std::uint64_t node_size(const EmlNode& node);
// Appends the text form: 1, six-decimal constants, x{i}, eml(left, right).
void write_node(const EmlNode& node, std::string& out);

class EmlTree {
 public:
  NodePtr root;
  std::uint64_t num_vars = 0;

  EmlTree() = default;
  EmlTree(NodePtr root_node, std::uint64_t vars) : root(std::move(root_node)), num_vars(vars) {}

  // Takes over the root; num_vars = count_vars(root).
  static EmlTree from_node(NodePtr root);
  // New Eml node over both roots (shared); num_vars = max of the two, not recounted.
  static EmlTree eml(const EmlTree& a, const EmlTree& b);

  std::uint64_t size() const { return node_size(*root); }
  std::string to_string() const;
  lower::LoweredOp lower() const;
};

}  // namespace tamrix::tree

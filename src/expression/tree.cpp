#include "expression/tree.hpp"

#include <algorithm>

#include "support/number_format.hpp"

namespace tamrix::tree {

NodePtr EmlNode::one() { return std::make_shared<const EmlNode>(); }

NodePtr EmlNode::constant(double value) {
  EmlNode node;
  node.kind = Kind::Const;
  node.value = value;
  return std::make_shared<const EmlNode>(std::move(node));
}

NodePtr EmlNode::var(std::uint64_t index) {
  EmlNode node;
  node.kind = Kind::Var;
  node.index = index;
  return std::make_shared<const EmlNode>(std::move(node));
}

NodePtr EmlNode::eml(NodePtr left, NodePtr right) {
  EmlNode node;
  node.kind = Kind::Eml;
  node.left = std::move(left);
  node.right = std::move(right);
  return std::make_shared<const EmlNode>(std::move(node));
}

std::uint64_t count_vars(const EmlNode& node) {
  switch (node.kind) {
    case EmlNode::Kind::One:
    case EmlNode::Kind::Const:
      return 0;
    case EmlNode::Kind::Var:
      return node.index + 1;
    case EmlNode::Kind::Eml: {
      const std::uint64_t left = count_vars(*node.left);
      const std::uint64_t right = count_vars(*node.right);
      return std::max(left, right);
    }
  }
  return 0;
}

std::uint64_t node_size(const EmlNode& node) {
  if (node.kind != EmlNode::Kind::Eml) return 1;
  return 1 + node_size(*node.left) + node_size(*node.right);
}

void write_node(const EmlNode& node, std::string& out) {
  switch (node.kind) {
    case EmlNode::Kind::One:
      out += '1';
      return;
    case EmlNode::Kind::Const:
      kvel_support::append_fixed6(out, node.value);
      return;
    case EmlNode::Kind::Var:
      out += 'x';
      out += std::to_string(node.index);
      return;
    case EmlNode::Kind::Eml:
      out += "eml(";
      write_node(*node.left, out);
      out += ", ";
      write_node(*node.right, out);
      out += ')';
      return;
  }
}

EmlTree EmlTree::from_node(NodePtr root) {
  const std::uint64_t vars = count_vars(*root);
  return EmlTree(std::move(root), vars);
}

EmlTree EmlTree::eml(const EmlTree& a, const EmlTree& b) {
  return EmlTree(EmlNode::eml(a.root, b.root), std::max(a.num_vars, b.num_vars));
}

std::string EmlTree::to_string() const {
  std::string out;
  write_node(*root, out);
  return out;
}

}  // namespace tamrix::tree

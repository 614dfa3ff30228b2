#include "expression/simplify.hpp"

#include <bit>

#include "expression/eml_shapes.hpp"

namespace tamrix::simplify {

namespace {

using tree::EmlNode;
using tree::NodePtr;
using Kind = EmlNode::Kind;
namespace shape = tree::shape;

void append_code(const EmlNode& node, std::vector<std::uint64_t>& code) {
  code.push_back(static_cast<std::uint64_t>(node.kind));
  switch (node.kind) {
    case Kind::One:
      return;
    case Kind::Const:
      code.push_back(std::bit_cast<std::uint64_t>(node.value));
      return;
    case Kind::Var:
      code.push_back(node.index);
      return;
    case Kind::Eml:
      append_code(*node.left, code);
      append_code(*node.right, code);
      return;
  }
}

// eml(left, right) = ln(exp(Z)): Z.
const EmlNode* ln_exp_argument(const EmlNode& left, const EmlNode& right) {
  const EmlNode* x = shape::ln_argument(left, right);
  return x ? shape::exp_argument(*x) : nullptr;
}

// eml(left, right) = exp(ln(X)): X.
const EmlNode* exp_ln_argument(const EmlNode& left, const EmlNode& right) {
  return shape::is_one(right) ? shape::ln_argument(left) : nullptr;
}

NodePtr copy_leaf(const EmlNode& node) {
  switch (node.kind) {
    case Kind::Const:
      return EmlNode::constant(node.value);
    case Kind::Var:
      return EmlNode::var(node.index);
    default:
      return EmlNode::one();
  }
}

}  // namespace

std::size_t EmlNodeKeyHash::operator()(const EmlNodeKey& key) const noexcept {
  // FNV-1a over the words; only its consistency with equality matters.
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (const std::uint64_t word : key.code) {
    h ^= word;
    h *= 0x100000001b3ULL;
  }
  return static_cast<std::size_t>(h);
}

EmlNodeKey make_key(const EmlNode& node) {
  EmlNodeKey key;
  append_code(node, key.code);
  return key;
}

NodePtr simplify_node(const EmlNode& node, Memo& memo) {
  EmlNodeKey key = make_key(node);
  if (const auto found = memo.find(key); found != memo.end()) return found->second;

  NodePtr result;
  if (node.is_leaf()) {
    result = copy_leaf(node);
  } else {
    NodePtr left = simplify_node(*node.left, memo);
    NodePtr right = simplify_node(*node.right, memo);
    if (const EmlNode* z = ln_exp_argument(*left, *right)) {
      result = simplify_node(*z, memo);
    } else if (const EmlNode* x = exp_ln_argument(*left, *right)) {
      result = simplify_node(*x, memo);
    } else {
      result = EmlNode::eml(std::move(left), std::move(right));
    }
  }
  memo.insert_or_assign(std::move(key), result);
  return result;
}

tree::EmlTree simplify(const tree::EmlTree& tree) {
  Memo memo;
  NodePtr root = simplify_node(*tree.root, memo);
  return tree::EmlTree::from_node(std::move(root));
}

}  // namespace tamrix::simplify

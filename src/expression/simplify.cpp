#include "expression/simplify.hpp"

#include <bit>

namespace tamrix::simplify {

namespace {

using tree::EmlNode;
using tree::NodePtr;
using Kind = EmlNode::Kind;

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

bool is_one(const EmlNode& node) { return node.kind == Kind::One; }

// eml(A, One), that is exp(A): returns A or null.
const EmlNode* exp_argument(const EmlNode& node) {
  if (node.kind != Kind::Eml || !is_one(*node.right)) return nullptr;
  return node.left.get();
}

// eml(One, B), that is e - ln(B): returns B or null.
const EmlNode* one_minus_ln_argument(const EmlNode& node) {
  if (node.kind != Kind::Eml || !is_one(*node.left)) return nullptr;
  return node.right.get();
}

// eml(L, R) is ln(exp(Z)) = eml(1, eml(eml(1, eml(Z, 1)), 1)): returns Z or null.
const EmlNode* ln_exp_argument(const EmlNode& left, const EmlNode& right) {
  if (!is_one(left)) return nullptr;
  const EmlNode* p = exp_argument(right);
  const EmlNode* q = p ? one_minus_ln_argument(*p) : nullptr;
  return q ? exp_argument(*q) : nullptr;
}

// eml(L, R) is exp(ln(X)) = eml(eml(1, eml(eml(1, X), 1)), 1): returns X or null.
const EmlNode* exp_ln_argument(const EmlNode& left, const EmlNode& right) {
  if (!is_one(right)) return nullptr;
  const EmlNode* p = one_minus_ln_argument(left);
  const EmlNode* q = p ? exp_argument(*p) : nullptr;
  return q ? one_minus_ln_argument(*q) : nullptr;
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

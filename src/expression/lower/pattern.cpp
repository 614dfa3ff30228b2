#include "expression/lower/pattern.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

#include "expression/canonical.hpp"
#include "expression/eml_shapes.hpp"
#include "support/made_at_load.hpp"

namespace tamrix::lower::pattern {

namespace {

using tree::EmlNode;
using tree::EmlTree;
using Kind = EmlNode::Kind;
using tree::shape::e_minus_ln_argument;
using tree::shape::exp_argument;
using tree::shape::is_one;
using tree::shape::ln_argument;

// The double nearest e.
constexpr double kE = 2.718281828459045;

// The lone wildcard leaf; its num_vars is 2^63.
EmlTree wildcard_tree() { return EmlTree::from_node(EmlNode::var(tree::kWildcardIndex)); }

// The sub-tree bound by the wildcard when node matches the template, or null.
const EmlNode* match_template(const EmlNode& node, const EmlNode& pattern) {
  const EmlNode* binding = nullptr;
  if (!unify_with_wildcard(node, pattern, binding)) return nullptr;
  return binding;
}

LoweredOp lower_unary(OpKind kind, const EmlNode& child) { return LoweredOp::unary(kind, lower_node(child)); }

LoweredOp lower_sub(const EmlNode& left, const EmlNode& right) {
  LoweredOp lowered_left = lower_node(left);
  LoweredOp lowered_right = lower_node(right);
  return LoweredOp::binary(OpKind::Sub, std::move(lowered_left), std::move(lowered_right));
}

// exp(a) - ln(b), a lowered first.
LoweredOp lower_general(const EmlNode& a, const EmlNode& b) {
  LoweredOp exp_a = lower_unary(OpKind::Exp, a);
  LoweredOp ln_b = lower_unary(OpKind::Ln, b);
  return LoweredOp::binary(OpKind::Sub, std::move(exp_a), std::move(ln_b));
}

LoweredOp lower_eml(const EmlNode& node) {
  if (const EmlNode* x = match_template(node, sin_template::TEMPLATE())) return lower_unary(OpKind::Sin, *x);
  if (const EmlNode* x = match_template(node, cos_template::TEMPLATE())) return lower_unary(OpKind::Cos, *x);

  const EmlNode& a = *node.left;
  const EmlNode& b = *node.right;
  if (is_one(b)) {
    // exp(ln X) = X.
    if (const EmlNode* x = ln_argument(a)) return lower_node(*x);
    return lower_unary(OpKind::Exp, a);
  }
  if (!is_one(a)) {
    // exp(ln X) - ln(exp Y) = X - Y.
    const EmlNode* x = ln_argument(a);
    const EmlNode* y = x ? exp_argument(b) : nullptr;
    if (y) return lower_sub(*x, *y);
    return lower_general(a, b);
  }
  if (const EmlNode* z = exp_argument(b)) {
    // e - ln(exp(e - ln O)) = ln O; otherwise e - ln(exp Z) = e - Z.
    if (const EmlNode* o = e_minus_ln_argument(*z)) return lower_unary(OpKind::Ln, *o);
    return LoweredOp::binary(OpKind::Sub, LoweredOp::constant(kE), lower_node(*z));
  }
  return lower_general(a, b);
}

}  // namespace

namespace sin_template {
const EmlNode& TEMPLATE() {
  // Never released: lowering may still run while other statics are destroyed.
  static const EmlTree& built = *new EmlTree(canonical::Canonical::sin(wildcard_tree()));
  return *built.root;
}
const kvel_support::MadeAtLoad<&TEMPLATE> made_at_load;
}  // namespace sin_template

namespace cos_template {
const EmlNode& TEMPLATE() {
  static const EmlTree& built = *new EmlTree(canonical::Canonical::cos(wildcard_tree()));
  return *built.root;
}
const kvel_support::MadeAtLoad<&TEMPLATE> made_at_load;
}  // namespace cos_template

bool unify_with_wildcard(const EmlNode& node, const EmlNode& pattern, const EmlNode*& binding) {
  if (pattern.kind == Kind::Var) {
    if (pattern.index != tree::kWildcardIndex) return node.kind == Kind::Var && node.index == pattern.index;
    if (binding == nullptr) {
      binding = &node;
      return true;
    }
    return nodes_structurally_equal(*binding, node);
  }
  switch (node.kind) {
    case Kind::Eml:
      return pattern.kind == Kind::Eml && unify_with_wildcard(*node.left, *pattern.left, binding) &&
             unify_with_wildcard(*node.right, *pattern.right, binding);
    case Kind::One:
      return pattern.kind == Kind::One;
    case Kind::Const:
      return pattern.kind == Kind::Const &&
             std::bit_cast<std::uint64_t>(pattern.value) == std::bit_cast<std::uint64_t>(node.value);
    case Kind::Var:
      return false;
  }
  return false;
}

bool nodes_structurally_equal(const EmlNode& a, const EmlNode& b) {
  if (a.kind != b.kind) return false;
  switch (a.kind) {
    case Kind::Eml:
      return nodes_structurally_equal(*a.left, *b.left) && nodes_structurally_equal(*a.right, *b.right);
    case Kind::One:
      return true;
    case Kind::Const:
      return std::fabs(a.value - b.value) < 1e-15;
    case Kind::Var:
      return a.index == b.index;
  }
  return false;
}

LoweredOp lower_node(const EmlNode& node) {
  switch (node.kind) {
    case Kind::One:
      return LoweredOp::constant(1.0);
    case Kind::Const:
      return LoweredOp::constant(node.value);
    case Kind::Var:
      return LoweredOp::var(node.index);
    case Kind::Eml:
      return lower_eml(node);
  }
  return LoweredOp::constant(1.0);
}

}  // namespace tamrix::lower::pattern

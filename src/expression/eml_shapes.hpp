#pragma once
// Recognisers of the small EML shapes that the simplifier and the lowering
// rewrite: exp(A) = eml(A, 1), e - ln(B) = eml(1, B) and
// ln(X) = eml(1, eml(eml(1, X), 1)). Each returns the inner node or null.
// Only the One leaf counts as 1 (a Const 1.0 does not).

#include "expression/tree.hpp"

namespace tamrix::tree::shape {

inline bool is_one(const EmlNode& node) noexcept { return node.kind == EmlNode::Kind::One; }

// eml(A, 1): A.
inline const EmlNode* exp_argument(const EmlNode& node) noexcept {
  if (node.kind != EmlNode::Kind::Eml || !is_one(*node.right)) return nullptr;
  return node.left.get();
}

// eml(1, B): B.
inline const EmlNode* e_minus_ln_argument(const EmlNode& node) noexcept {
  if (node.kind != EmlNode::Kind::Eml || !is_one(*node.left)) return nullptr;
  return node.right.get();
}

// eml(left, right) = eml(1, eml(eml(1, X), 1)): X.
inline const EmlNode* ln_argument(const EmlNode& left, const EmlNode& right) noexcept {
  if (!is_one(left)) return nullptr;
  const EmlNode* q = exp_argument(right);
  return q ? e_minus_ln_argument(*q) : nullptr;
}

inline const EmlNode* ln_argument(const EmlNode& node) noexcept {
  if (node.kind != EmlNode::Kind::Eml) return nullptr;
  return ln_argument(*node.left, *node.right);
}

}  // namespace tamrix::tree::shape

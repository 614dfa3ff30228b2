#pragma once
// Algebraic simplification of lowered expressions: removes the artefacts of
// pattern lowering (sums with zero, products with one, exp(ln y), constant
// sub-expressions). Its result is what solutions display and what the
// de-duplication of topologies hashes, so every rule, its order and its
// tolerance are observable.

#include "expression/lower/lowered_op.hpp"

namespace tamrix::lower_simplify {

using lower::LoweredOp;

// One bottom-up pass: children first (left, then right), then the first rule
// of the node's kind that applies. A rule's result is not simplified again.
// The result shares unchanged sub-trees with `op`.
LoweredOp simplify_inner(const LoweredOp& op);

// simplify_inner, the polynomial normal form, simplify_inner again; once,
// without iterating to a fixed point.
LoweredOp simplify(const LoweredOp& op);

}  // namespace tamrix::lower_simplify

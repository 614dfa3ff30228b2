#pragma once
// Lowering of EML trees into ordinary operators by recognising the EML shapes
// of sine, cosine, exp, ln and subtraction.

#include "expression/lower/lowered_op.hpp"
#include "expression/tree.hpp"

namespace tamrix::lower::pattern {

// Process-wide match templates: the roots of Canonical::sin and Canonical::cos
// applied to the wildcard leaf. Built while the library loads, never released.
namespace sin_template {
const tree::EmlNode& TEMPLATE();
}
namespace cos_template {
const tree::EmlNode& TEMPLATE();
}

// Walks node and template together, left before right. The first wildcard
// occurrence binds `binding` (null = unbound) to the node there; later ones
// must be structurally equal to it. Other template leaves match bit for bit.
bool unify_with_wildcard(const tree::EmlNode& node, const tree::EmlNode& pattern,
                         const tree::EmlNode*& binding);

// Same shape, same Var indices, constants closer than 1e-15 (NaN never equal).
bool nodes_structurally_equal(const tree::EmlNode& a, const tree::EmlNode& b);

LoweredOp lower_node(const tree::EmlNode& node);

}  // namespace tamrix::lower::pattern

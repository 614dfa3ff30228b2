#include "expression/lower/lowered_op.hpp"

#include <string>

#include "expression/symreg/constants.hpp"
#include "support/panic.hpp"

namespace tamrix::lower {

LoweredOp LoweredOp::constant(double value) {
  LoweredNode node;
  node.kind = OpKind::Const;
  node.payload.value = value;
  return LoweredOp(std::make_shared<const LoweredNode>(std::move(node)));
}

LoweredOp LoweredOp::var(std::uint64_t index) {
  LoweredNode node;
  node.kind = OpKind::Var;
  node.payload.index = index;
  return LoweredOp(std::make_shared<const LoweredNode>(std::move(node)));
}

LoweredOp LoweredOp::named_const(std::uint8_t index) {
  // The one check of the index: every reader (evaluation, hashing, LaTeX,
  // polynomial conversion) indexes the table with it.
  if (index >= symreg::constants::kNamedConsts.size()) {
    kvel_support::panic("named constant index " + std::to_string(index) + " is past the table of " +
                        std::to_string(symreg::constants::kNamedConsts.size()));
  }
  LoweredNode node;
  node.kind = OpKind::NamedConst;
  node.named = index;
  return LoweredOp(std::make_shared<const LoweredNode>(std::move(node)));
}

LoweredOp LoweredOp::unary(OpKind kind, LoweredOp child) {
  LoweredNode node;
  node.kind = kind;
  node.first = std::move(child);
  return LoweredOp(std::make_shared<const LoweredNode>(std::move(node)));
}

LoweredOp LoweredOp::binary(OpKind kind, LoweredOp left, LoweredOp right) {
  LoweredNode node;
  node.kind = kind;
  node.first = std::move(left);
  node.second = std::move(right);
  return LoweredOp(std::make_shared<const LoweredNode>(std::move(node)));
}

}  // namespace tamrix::lower

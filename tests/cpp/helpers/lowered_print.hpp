#pragma once
// Test-only structural text of a LoweredOp: "Sub(Exp(Var 0), Ln(Var 1))",
// constants in the shortest round-trip form ("Const 2.718281828459045"),
// named constants by index ("NamedConst 3"). Equal texts mean equal structure
// with constants equal bit for bit, -0 and NaN aside.

#include <array>
#include <string>
#include <string_view>

#include "expression/lower/lowered_op.hpp"
#include "support/number_format.hpp"

namespace kvel_test {

inline std::string_view lowered_kind_name(tamrix::lower::OpKind kind) {
  static constexpr std::array<std::string_view, tamrix::lower::kOpKindCount> names{
      "Const",   "Var",     "Add",      "Sub",     "Mul",     "Div",        "Exp",     "Ln",
      "Sin",     "Cos",     "Pow",      "Neg",     "Tan",     "Sinh",       "Cosh",    "Tanh",
      "Arcsin",  "Arccos",  "Arctan",   "Arcsinh", "Arccosh", "Arctanh",    "NamedConst",
      "Erf",     "LnGamma", "Digamma",  "Trigamma", "Ei",     "Si",         "Ci"};
  return names[static_cast<std::size_t>(kind)];
}

inline void append_lowered(const tamrix::lower::LoweredOp& op, std::string& out) {
  using tamrix::lower::OpKind;
  out += lowered_kind_name(op.kind());
  switch (op.kind()) {
    case OpKind::Const:
      out += ' ';
      kvel_support::append_shortest(out, op.value());
      return;
    case OpKind::Var:
      out += ' ';
      out += std::to_string(op.index());
      return;
    case OpKind::NamedConst:
      out += ' ';
      out += std::to_string(op.named_index());
      return;
    default:
      break;
  }
  out += '(';
  if (tamrix::lower::arity(op.kind()) == 1) {
    append_lowered(op.child(), out);
  } else {
    append_lowered(op.left(), out);
    out += ", ";
    append_lowered(op.right(), out);
  }
  out += ')';
}

inline std::string lowered_text(const tamrix::lower::LoweredOp& op) {
  std::string out;
  append_lowered(op, out);
  return out;
}

}  // namespace kvel_test

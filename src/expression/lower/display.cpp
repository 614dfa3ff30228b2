#include "expression/lower/display.hpp"

#include <cmath>
#include <cstdint>
#include <string_view>

#include "expression/symreg/constants.hpp"
#include "support/number_format.hpp"
#include "support/panic.hpp"

namespace tamrix::lower::display {
namespace {

// Text before and after the child of a one-argument kind.
struct Wrap {
  std::string_view open;
  std::string_view close;
};

// Elementary functions that LaTeX knows take \left( \right); the rest are
// written with braces, and the special functions with a thin back-space.
Wrap unary_wrap(OpKind kind) {
  switch (kind) {
    case OpKind::Neg: return {"-", ""};
    case OpKind::Exp: return {"e^{", "}"};
    case OpKind::Ln: return {"\\ln\\left(", "\\right)"};
    case OpKind::Sin: return {"\\sin\\left(", "\\right)"};
    case OpKind::Cos: return {"\\cos\\left(", "\\right)"};
    case OpKind::Tan: return {"\\tan{", "}"};
    case OpKind::Sinh: return {"\\sinh{", "}"};
    case OpKind::Cosh: return {"\\cosh{", "}"};
    case OpKind::Tanh: return {"\\tanh{", "}"};
    case OpKind::Arcsin: return {"\\arcsin{", "}"};
    case OpKind::Arccos: return {"\\arccos{", "}"};
    case OpKind::Arctan: return {"\\arctan{", "}"};
    case OpKind::Arcsinh: return {"\\operatorname{arcsinh}{", "}"};
    case OpKind::Arccosh: return {"\\operatorname{arccosh}{", "}"};
    case OpKind::Arctanh: return {"\\operatorname{arctanh}{", "}"};
    case OpKind::Erf: return {"\\operatorname{erf}\\!\\left(", "\\right)"};
    case OpKind::LnGamma: return {"\\ln\\Gamma\\!\\left(", "\\right)"};
    case OpKind::Digamma: return {"\\psi\\!\\left(", "\\right)"};
    case OpKind::Trigamma: return {"\\psi^{(1)}\\!\\left(", "\\right)"};
    case OpKind::Ei: return {"\\operatorname{Ei}\\!\\left(", "\\right)"};
    case OpKind::Si: return {"\\operatorname{Si}\\!\\left(", "\\right)"};
    case OpKind::Ci: return {"\\operatorname{Ci}\\!\\left(", "\\right)"};
    default: kvel_support::panic("not a one-argument expression kind");
  }
}

std::string_view infix_operator(OpKind kind) {
  switch (kind) {
    case OpKind::Add: return " + ";
    case OpKind::Sub: return " - ";
    default: return " \\cdot ";
  }
}

// A numeric constant: e, \pi, 2\pi, -1, a nearby integer, else six decimals.
void append_latex_constant(std::string& out, double value) {
  if (std::fabs(value - 2.718281828459045) < 1e-15) {
    out += 'e';
  } else if (std::fabs(value - 3.141592653589793) < 1e-15) {
    out += "\\pi";
  } else if (std::fabs(value - 6.283185307179586) < 1e-15) {
    out += "2\\pi";
  } else if (std::fabs(value + 1.0) < 1e-15) {
    out += "-1";
  } else if (const double rounded = std::round(value);
             std::fabs(value) < 1e15 && std::fabs(value - rounded) < 1e-10) {
    out += std::to_string(static_cast<std::int64_t>(rounded));
  } else {
    kvel_support::append_fixed6(out, value);
  }
}

void append_latex(std::string& out, const LoweredOp& op, bool top) {
  const OpKind kind = op.kind();
  switch (kind) {
    case OpKind::Const:
      append_latex_constant(out, op.value());
      return;
    case OpKind::Var:
      out += "x_{";
      out += std::to_string(op.index());
      out += '}';
      return;
    case OpKind::NamedConst: {
      out += symreg::constants::kNamedConsts[op.named_index()].latex;
      return;
    }
    case OpKind::Add:
    case OpKind::Sub:
    case OpKind::Mul:
      if (!top) out += '(';
      append_latex(out, op.left(), false);
      out += infix_operator(kind);
      append_latex(out, op.right(), false);
      if (!top) out += ')';
      return;
    case OpKind::Div:
      out += "\\frac{";
      append_latex(out, op.left(), true);
      out += "}{";
      append_latex(out, op.right(), true);
      out += '}';
      return;
    case OpKind::Pow:
      append_latex(out, op.left(), false);
      out += "^{";
      append_latex(out, op.right(), true);
      out += '}';
      return;
    default: {
      const Wrap wrap = unary_wrap(kind);
      out += wrap.open;
      // A negation's operand keeps its own parentheses; function arguments need none.
      append_latex(out, op.child(), kind != OpKind::Neg);
      out += wrap.close;
      return;
    }
  }
}

}  // namespace

std::string render(const LoweredOp& op, bool top) {
  std::string out;
  append_latex(out, op, top);
  return out;
}

std::string to_latex(const LoweredOp& op) { return render(op, true); }

}  // namespace tamrix::lower::display

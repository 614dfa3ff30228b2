#include "expression/lower/eval.hpp"

#include <cmath>
#include <limits>
#include <string>

#include "expression/special.hpp"
#include "expression/symreg/constants.hpp"
#include "support/panic.hpp"

namespace tamrix::lower {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

double apply_unary(OpKind kind, double v) {
  switch (kind) {
    case OpKind::Exp: return std::exp(v);
    case OpKind::Ln: return std::log(v);
    case OpKind::Sin: return std::sin(v);
    case OpKind::Cos: return std::cos(v);
    case OpKind::Tan: return std::tan(v);
    case OpKind::Neg: return -v;
    case OpKind::Sinh: return std::sinh(v);
    case OpKind::Cosh: return std::cosh(v);
    case OpKind::Tanh: return std::tanh(v);
    case OpKind::Arcsin: return std::asin(v);
    case OpKind::Arccos: return std::acos(v);
    case OpKind::Arctan: return std::atan(v);
    case OpKind::Arcsinh: return std::asinh(v);
    case OpKind::Arccosh: return std::acosh(v);
    // This form rather than std::atanh: the value must agree bit for bit
    // with every other place that evaluates it.
    case OpKind::Arctanh: return 0.5 * std::log1p(2.0 * v / (1.0 - v));
    case OpKind::Erf: return special::erf(v);
    case OpKind::LnGamma: return special::lgamma(v);
    case OpKind::Digamma: return special::digamma(v);
    case OpKind::Trigamma: return special::trigamma(v);
    case OpKind::Ei: return special::ei(v);
    case OpKind::Si: {
      if (std::isnan(v)) return kNaN;
      const double si = special::si_ci_internal(std::abs(v)).first;
      return v < 0.0 ? -si : si;
    }
    case OpKind::Ci: return v > 0.0 ? special::si_ci_internal(v).second : kNaN;
    default: break;
  }
  kvel_support::panic("eval: not a unary kind");
}

namespace {

// The value with variable i read as var(i).
template <class Var>
double eval_with(const LoweredOp& op, const Var& var) {
  switch (op.kind()) {
    case OpKind::Const:
      return op.value();
    case OpKind::NamedConst:
      return symreg::constants::named_const_value(op.named_index());
    case OpKind::Var:
      return var(op.index());
    case OpKind::Add:
    case OpKind::Sub:
    case OpKind::Mul:
    case OpKind::Div:
    case OpKind::Pow: {
      const double a = eval_with(op.left(), var);
      const double b = eval_with(op.right(), var);
      switch (op.kind()) {
        case OpKind::Add: return a + b;
        case OpKind::Sub: return a - b;
        case OpKind::Mul: return a * b;
        case OpKind::Div: return a / b;
        default: return std::pow(a, b);
      }
    }
    default:
      return apply_unary(op.kind(), eval_with(op.child(), var));
  }
}

}  // namespace

double eval(const LoweredOp& op, std::span<const double> vars) {
  return eval_with(op, [vars](std::uint64_t i) {
    if (i >= vars.size()) {
      kvel_support::panic("index out of bounds: the len is " + std::to_string(vars.size()) +
                          " but the index is " + std::to_string(i));
    }
    return vars[i];
  });
}

double eval_at(const LoweredOp& op, double every_var) {
  return eval_with(op, [every_var](std::uint64_t) { return every_var; });
}

}  // namespace tamrix::lower

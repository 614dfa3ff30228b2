#include "expression/lower_simplify/simplify.hpp"

#include <cmath>
#include <optional>

#include "expression/lower/eval.hpp"
#include "expression/lower_simplify/normal_form.hpp"

namespace tamrix::lower_simplify {

namespace {

using lower::OpKind;

// "c is k" means |c - k| < 1e-15, written as c + (-k) so that the sums are
// exactly those the tolerances were chosen for.
constexpr double kTolerance = 1e-15;

bool is_zero(double c) { return std::fabs(c) < kTolerance; }
bool is_one(double c) { return std::fabs(c + (-1.0)) < kTolerance; }
bool is_minus_one(double c) { return std::fabs(c + 1.0) < kTolerance; }
bool is_two(double c) { return std::fabs(c + (-2.0)) < kTolerance; }

// Only Const takes part in folding; a NamedConst is an opaque leaf here.
bool is_const(const LoweredOp& e) { return e.kind() == OpKind::Const; }
bool is_const_zero(const LoweredOp& e) { return is_const(e) && is_zero(e.value()); }

// Structural equality by hash: colliding sub-trees count as equal.
bool same_structure(const LoweredOp& a, const LoweredOp& b) { return ops_struct_hash(a) == ops_struct_hash(b); }

LoweredOp constant(double value) { return LoweredOp::constant(value); }
LoweredOp unary(OpKind kind, LoweredOp child) { return LoweredOp::unary(kind, std::move(child)); }
LoweredOp binary(OpKind kind, LoweredOp left, LoweredOp right) {
  return LoweredOp::binary(kind, std::move(left), std::move(right));
}

// `op` over its simplified children; `op` itself when they did not change.
LoweredOp rebuild(const LoweredOp& op, LoweredOp a, LoweredOp b) {
  if (a.same_node(op.left()) && b.same_node(op.right())) return op;
  return binary(op.kind(), std::move(a), std::move(b));
}

LoweredOp rebuild(const LoweredOp& op, LoweredOp c) {
  if (c.same_node(op.child())) return op;
  return unary(op.kind(), std::move(c));
}

LoweredOp simplify_add(const LoweredOp& op, LoweredOp a, LoweredOp b) {
  if (is_const_zero(a)) return b;
  if (is_const(b)) {
    if (is_zero(b.value())) return a;
    if (is_const(a)) return constant(a.value() + b.value());
    return rebuild(op, std::move(a), std::move(b));
  }
  if (b.kind() == OpKind::Neg) return binary(OpKind::Sub, std::move(a), b.child());
  return rebuild(op, std::move(a), std::move(b));
}

LoweredOp simplify_sub(const LoweredOp& op, LoweredOp a, LoweredOp b) {
  if (is_const_zero(b)) return a;
  if (is_const(a)) {
    if (is_zero(a.value())) return unary(OpKind::Neg, std::move(b));
    if (is_const(b)) return constant(a.value() - b.value());
  }
  if (b.kind() == OpKind::Neg) return binary(OpKind::Add, std::move(a), b.child());
  return rebuild(op, std::move(a), std::move(b));
}

LoweredOp simplify_mul(const LoweredOp& op, LoweredOp a, LoweredOp b) {
  if (is_const(a)) {
    const double ca = a.value();
    if (is_zero(ca)) return constant(0.0);
    if (is_const(b)) {
      const double cb = b.value();
      if (is_zero(cb)) return constant(0.0);
      if (is_one(ca)) return b;
      if (is_one(cb)) return a;
      return constant(ca * cb);
    }
    if (is_one(ca)) return b;
    if (is_minus_one(ca)) return unary(OpKind::Neg, std::move(b));
    return rebuild(op, std::move(a), std::move(b));
  }
  if (is_const(b)) {
    const double cb = b.value();
    if (is_zero(cb)) return constant(0.0);
    if (is_one(cb)) return a;
    if (is_minus_one(cb)) return unary(OpKind::Neg, std::move(a));
  }
  return rebuild(op, std::move(a), std::move(b));
}

// For a = kind(Exp(s), Exp(Neg(t))) with s and t structurally equal: s.
const LoweredOp* exp_pair_argument(const LoweredOp& a, OpKind kind) {
  if (a.kind() != kind) return nullptr;
  const LoweredOp& first = a.left();
  const LoweredOp& second = a.right();
  if (first.kind() != OpKind::Exp || second.kind() != OpKind::Exp) return nullptr;
  if (second.child().kind() != OpKind::Neg) return nullptr;
  const LoweredOp& s = first.child();
  return same_structure(s, second.child().child()) ? &s : nullptr;
}

// For a = numerator(u), b = denominator(v) with u and v structurally equal: u.
const LoweredOp* quotient_argument(const LoweredOp& a, const LoweredOp& b, OpKind numerator,
                                   OpKind denominator) {
  if (a.kind() != numerator || b.kind() != denominator) return nullptr;
  return same_structure(a.child(), b.child()) ? &a.child() : nullptr;
}

LoweredOp simplify_div(const LoweredOp& op, LoweredOp a, LoweredOp b) {
  if (!is_const(b)) {
    if (const LoweredOp* u = quotient_argument(a, b, OpKind::Sin, OpKind::Cos)) return unary(OpKind::Tan, *u);
    if (const LoweredOp* u = quotient_argument(a, b, OpKind::Sinh, OpKind::Cosh)) return unary(OpKind::Tanh, *u);
    return rebuild(op, std::move(a), std::move(b));
  }
  const double cb = b.value();
  if (is_one(cb)) return a;
  if (is_two(cb)) {
    if (const LoweredOp* s = exp_pair_argument(a, OpKind::Sub)) return unary(OpKind::Sinh, *s);
    if (const LoweredOp* s = exp_pair_argument(a, OpKind::Add)) return unary(OpKind::Cosh, *s);
  }
  if (is_const(a)) return constant(a.value() / cb);
  return rebuild(op, std::move(a), std::move(b));
}

LoweredOp simplify_pow(const LoweredOp& op, LoweredOp a, LoweredOp b) {
  if (is_const(b)) {
    const double cb = b.value();
    if (is_zero(cb)) return constant(1.0);
    if (is_one(cb)) return a;
    if (is_const(a)) return constant(std::pow(a.value(), cb));
  }
  return rebuild(op, std::move(a), std::move(b));
}

LoweredOp simplify_neg(const LoweredOp& op, LoweredOp c) {
  if (is_const(c)) return constant(-c.value());
  if (c.kind() == OpKind::Sub) return binary(OpKind::Sub, c.right(), c.left());
  if (c.kind() == OpKind::Neg) return c.child();
  return rebuild(op, std::move(c));
}

// The kind whose node K cancels: K(inverse(y)) = y.
std::optional<OpKind> inverse_kind(OpKind kind) {
  switch (kind) {
    case OpKind::Exp: return OpKind::Ln;
    case OpKind::Ln: return OpKind::Exp;
    case OpKind::Sin: return OpKind::Arcsin;
    case OpKind::Cos: return OpKind::Arccos;
    case OpKind::Tan: return OpKind::Arctan;
    case OpKind::Sinh: return OpKind::Arcsinh;
    case OpKind::Cosh: return OpKind::Arccosh;
    case OpKind::Tanh: return OpKind::Arctanh;
    default: return std::nullopt;
  }
}

// Folding exp and ln snaps arguments within the tolerance of 0 and 1.
double fold_unary(OpKind kind, double c) {
  if (kind == OpKind::Exp && is_zero(c)) return 1.0;
  if (kind == OpKind::Ln && is_one(c)) return 0.0;
  return lower::apply_unary(kind, c);
}

LoweredOp simplify_function(const LoweredOp& op, LoweredOp c) {
  if (is_const(c)) return constant(fold_unary(op.kind(), c.value()));
  const std::optional<OpKind> inverse = inverse_kind(op.kind());
  if (inverse && c.kind() == *inverse) return c.child();
  return rebuild(op, std::move(c));
}

}  // namespace

LoweredOp simplify_inner(const LoweredOp& op) {
  const OpKind kind = op.kind();
  switch (lower::arity(kind)) {
    case 0:
      return op;
    case 1: {
      LoweredOp c = simplify_inner(op.child());
      if (kind == OpKind::Neg) return simplify_neg(op, std::move(c));
      return simplify_function(op, std::move(c));
    }
    default:
      break;
  }
  LoweredOp a = simplify_inner(op.left());
  LoweredOp b = simplify_inner(op.right());
  switch (kind) {
    case OpKind::Add: return simplify_add(op, std::move(a), std::move(b));
    case OpKind::Sub: return simplify_sub(op, std::move(a), std::move(b));
    case OpKind::Mul: return simplify_mul(op, std::move(a), std::move(b));
    case OpKind::Div: return simplify_div(op, std::move(a), std::move(b));
    default: return simplify_pow(op, std::move(a), std::move(b));
  }
}

LoweredOp simplify(const LoweredOp& op) {
  const LoweredOp first = simplify_inner(op);
  const LoweredOp normal = canonicalize_poly(first);
  return simplify_inner(normal);
}

}  // namespace tamrix::lower_simplify

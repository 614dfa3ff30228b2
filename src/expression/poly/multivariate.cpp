#include "expression/poly/multivariate.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "expression/symreg/constants.hpp"

namespace tamrix::poly::multivariate {
namespace {

using kvel_support::unexpected;
using kvel_support::Unit;
using lower::LoweredOp;
using lower::OpKind;

PolyResult<MultiPoly> constant_of(double c, std::size_t num_vars) {
  if (!std::isfinite(c)) return unexpected(PolyError::NotPolynomial);
  const auto r = approximate_fraction(c);
  if (!r) return unexpected(PolyError::NotPolynomial);
  return MultiPoly::constant(*r, num_vars);
}

}  // namespace

Exponents::Exponents(std::initializer_list<std::uint32_t> full) {
  std::uint64_t var = 0;
  for (const std::uint32_t k : full) {
    if (k != 0) entries_.emplace_back(var, k);
    ++var;
  }
}

Exponents Exponents::of_var(std::uint64_t var, std::uint32_t k) {
  Exponents e;
  e.entries_.emplace_back(var, k);
  return e;
}

std::optional<Exponents> Exponents::product(const Exponents& a, const Exponents& b) {
  Exponents out;
  out.entries_.reserve(a.entries_.size() + b.entries_.size());
  auto ia = a.entries_.begin();
  auto ib = b.entries_.begin();
  while (ia != a.entries_.end() || ib != b.entries_.end()) {
    if (ib == b.entries_.end() || (ia != a.entries_.end() && ia->first < ib->first)) {
      out.entries_.push_back(*ia++);
    } else if (ia == a.entries_.end() || ib->first < ia->first) {
      out.entries_.push_back(*ib++);
    } else {
      std::uint32_t k = 0;
      // A product of powers can leave the 32-bit exponent range.
      if (__builtin_add_overflow(ia->second, ib->second, &k)) return std::nullopt;
      out.entries_.emplace_back(ia->first, k);
      ++ia;
      ++ib;
    }
  }
  return out;
}

// At the first variable whose exponents differ, the smaller exponent is the
// smaller vector; a variable missing from one side has exponent 0 there.
bool operator<(const Exponents& a, const Exponents& b) {
  auto ia = a.entries_.begin();
  auto ib = b.entries_.begin();
  for (;;) {
    const bool a_done = ia == a.entries_.end();
    const bool b_done = ib == b.entries_.end();
    if (a_done || b_done) return a_done && !b_done;
    if (ia->first != ib->first) return ia->first > ib->first;
    if (ia->second != ib->second) return ia->second < ib->second;
    ++ia;
    ++ib;
  }
}

bool is_poly_exponent(const LoweredOp& exponent) {
  if (exponent.kind() != OpKind::Const) return false;
  const double k = exponent.value();
  return k >= 0.0 && k <= kMaxPolyExponent && k == std::trunc(k);
}

MultiPoly MultiPoly::constant(Rational r, std::size_t num_vars) {
  MultiPoly p;
  p.num_vars = num_vars;
  // Callers pass reduced fractions; reduce again only to keep the invariant.
  const auto reduced_r = reduced(r.num, r.den);
  if (reduced_r && !reduced_r->is_zero()) p.terms.emplace(Exponents(), *reduced_r);
  return p;
}

PolyResult<Unit> MultiPoly::add_term(const Exponents& e, Rational c) {
  Rational& stored = terms.try_emplace(e, Rational{0, 1}).first->second;
  const auto sum = checked_add(stored, c);
  if (!sum) return unexpected(sum.error());
  stored = *sum;
  return Unit{};
}

void MultiPoly::normalize() { std::erase_if(terms, [](const auto& term) { return term.second.is_zero(); }); }

PolyResult<MultiPoly> MultiPoly::add(const MultiPoly& a, const MultiPoly& b) {
  MultiPoly result = a;
  for (const auto& [e, c] : b.terms) {
    const auto status = result.add_term(e, c);
    if (!status) return unexpected(status.error());
  }
  result.normalize();
  return result;
}

PolyResult<MultiPoly> MultiPoly::neg(const MultiPoly& a) {
  MultiPoly result;
  result.num_vars = a.num_vars;
  for (const auto& [e, c] : a.terms) {
    const auto negated = checked_neg(c);
    if (!negated) return unexpected(negated.error());
    result.terms.emplace_hint(result.terms.end(), e, *negated);
  }
  return result;
}

PolyResult<MultiPoly> MultiPoly::mul(const MultiPoly& a, const MultiPoly& b) {
  MultiPoly result;
  result.num_vars = a.num_vars;
  for (const auto& [ea, ca] : a.terms) {
    for (const auto& [eb, cb] : b.terms) {
      const std::optional<Exponents> e = Exponents::product(ea, eb);
      if (!e) return unexpected(PolyError::Overflow);
      const auto c = checked_mul(ca, cb);
      if (!c) return unexpected(c.error());
      const auto status = result.add_term(*e, *c);
      if (!status) return unexpected(status.error());
    }
  }
  result.normalize();
  return result;
}

PolyResult<MultiPoly> MultiPoly::pow(const MultiPoly& a, std::size_t k) {
  MultiPoly acc = constant(Rational{1, 1}, a.num_vars);
  for (std::size_t i = 0; i < k; ++i) {
    auto next = mul(acc, a);
    if (!next) return next;
    acc = std::move(*next);
  }
  return acc;
}

PolyResult<MultiPoly> MultiPoly::from_lowered(const LoweredOp& e, std::size_t num_vars) {
  switch (e.kind()) {
    case OpKind::Const:
      return constant_of(e.value(), num_vars);
    case OpKind::NamedConst:
      return constant_of(symreg::constants::named_const_value(e.named_index()), num_vars);
    case OpKind::Var: {
      if (e.index() >= num_vars) return unexpected(PolyError::NotPolynomial);
      MultiPoly p;
      p.num_vars = num_vars;
      p.terms.emplace(Exponents::of_var(e.index(), 1), Rational{1, 1});
      return p;
    }
    case OpKind::Add:
    case OpKind::Sub:
    case OpKind::Mul: {
      const auto left = from_lowered(e.left(), num_vars);
      if (!left) return left;
      const auto right = from_lowered(e.right(), num_vars);
      if (!right) return right;
      if (e.kind() == OpKind::Mul) return mul(*left, *right);
      if (e.kind() == OpKind::Add) return add(*left, *right);
      const auto negated = neg(*right);
      if (!negated) return negated;
      return add(*left, *negated);
    }
    case OpKind::Pow: {
      if (!is_poly_exponent(e.right())) return unexpected(PolyError::NotPolynomial);
      const auto base = from_lowered(e.left(), num_vars);
      if (!base) return base;
      return pow(*base, static_cast<std::size_t>(e.right().value()));
    }
    case OpKind::Neg: {
      const auto inner = from_lowered(e.child(), num_vars);
      if (!inner) return inner;
      return neg(*inner);
    }
    default:
      return unexpected(PolyError::NotPolynomial);
  }
}

LoweredOp MultiPoly::to_lowered() const {
  LoweredOp sum;
  for (const auto& [exps, c] : terms) {
    if (c.is_zero()) continue;
    LoweredOp product;
    const auto append = [&product](LoweredOp factor) {
      product = product ? LoweredOp::binary(OpKind::Mul, std::move(product), std::move(factor)) : std::move(factor);
    };
    const double coefficient = static_cast<double>(c.num) / static_cast<double>(c.den);
    if (coefficient != 1.0) append(LoweredOp::constant(coefficient));
    for (const auto& [j, k] : exps.entries()) {
      LoweredOp x = LoweredOp::var(j);
      if (k == 1) {
        append(std::move(x));
      } else {
        append(LoweredOp::binary(OpKind::Pow, std::move(x), LoweredOp::constant(static_cast<double>(k))));
      }
    }
    if (!product) product = LoweredOp::constant(1.0);
    sum = sum ? LoweredOp::binary(OpKind::Add, std::move(sum), std::move(product)) : std::move(product);
  }
  return sum ? sum : LoweredOp::constant(0.0);
}

}  // namespace tamrix::poly::multivariate

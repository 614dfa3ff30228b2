#include "expression/lower_simplify/normal_form.hpp"

#include <algorithm>
#include <cmath>

#include "expression/lower/eval.hpp"
#include "expression/lower/siphash.hpp"
#include "expression/lower/structural_hash.hpp"
#include "expression/poly/multivariate.hpp"

namespace tamrix::lower_simplify {
namespace {

using lower::arity;
using lower::OpKind;
using poly::multivariate::MultiPoly;

// `e` over new children; `e` itself when they are the old ones.
LoweredOp rebuild(const LoweredOp& e, LoweredOp first, LoweredOp second = {}) {
  if (arity(e.kind()) == 2) {
    if (first.same_node(e.left()) && second.same_node(e.right())) return e;
    return LoweredOp::binary(e.kind(), std::move(first), std::move(second));
  }
  if (first.same_node(e.child())) return e;
  return LoweredOp::unary(e.kind(), std::move(first));
}

// Every variable takes the probe's value, so nothing here grows with the
// largest variable index.
bool agrees_at_probes(const LoweredOp& op, const LoweredOp& cand) {
  for (const double v : kProbePoints) {
    const double a = lower::eval_at(op, v);
    const double b = lower::eval_at(cand, v);
    if (!std::isfinite(a) || !std::isfinite(b)) continue;
    if (std::abs(a - b) > (std::abs(a) + 1.0) * 1e-9) return false;
  }
  return true;
}

}  // namespace

std::size_t count_vars(const LoweredOp& e) {
  switch (arity(e.kind())) {
    case 0:
      return e.kind() == OpKind::Var ? static_cast<std::size_t>(e.index()) + 1 : 0;
    case 2: {
      const std::size_t left = count_vars(e.left());
      const std::size_t right = count_vars(e.right());
      return std::max(left, right);
    }
    default:
      return count_vars(e.child());
  }
}

std::size_t node_count(const LoweredOp& e) {
  switch (arity(e.kind())) {
    case 0: return 1;
    case 2: return 1 + node_count(e.left()) + node_count(e.right());
    default: return 1 + node_count(e.child());
  }
}

std::uint64_t ops_struct_hash(const LoweredOp& e) {
  lower::SipHasher13 hasher;
  lower::structural_hash(e, hasher);
  return hasher.finish();
}

LoweredOp extract_atoms(const LoweredOp& e, std::size_t n, AtomList& atoms) {
  switch (e.kind()) {
    case OpKind::Const:
    case OpKind::Var:
    case OpKind::NamedConst:
      return e;
    case OpKind::Add:
    case OpKind::Sub:
    case OpKind::Mul: {
      LoweredOp left = extract_atoms(e.left(), n, atoms);
      LoweredOp right = extract_atoms(e.right(), n, atoms);
      return rebuild(e, std::move(left), std::move(right));
    }
    case OpKind::Pow:
      if (poly::multivariate::is_poly_exponent(e.right())) return rebuild(e, extract_atoms(e.left(), n, atoms), e.right());
      break;
    case OpKind::Neg:
      return rebuild(e, extract_atoms(e.child(), n, atoms));
    default:
      break;
  }
  // An atom as a whole; its inside is not searched.
  const std::uint64_t h = ops_struct_hash(e);
  const auto found = std::find_if(atoms.begin(), atoms.end(), [h](const auto& atom) { return atom.first == h; });
  const std::size_t position = static_cast<std::size_t>(found - atoms.begin());
  if (found == atoms.end()) atoms.emplace_back(h, e);
  return LoweredOp::var(n + position);
}

LoweredOp substitute_atoms(const LoweredOp& e, std::size_t n, const AtomList& atoms) {
  switch (arity(e.kind())) {
    case 0:
      if (e.kind() == OpKind::Var && e.index() >= n && e.index() - n < atoms.size()) {
        return atoms[static_cast<std::size_t>(e.index() - n)].second;
      }
      return e;
    case 2: {
      LoweredOp left = substitute_atoms(e.left(), n, atoms);
      LoweredOp right = substitute_atoms(e.right(), n, atoms);
      return rebuild(e, std::move(left), std::move(right));
    }
    default:
      return rebuild(e, substitute_atoms(e.child(), n, atoms));
  }
}

LoweredOp canonicalize_poly(const LoweredOp& op) {
  const std::size_t n = count_vars(op);
  AtomList atoms;
  const LoweredOp e = extract_atoms(op, n, atoms);
  const auto p = MultiPoly::from_lowered(e, n + atoms.size());
  if (!p || p->terms.size() > kMaxNormalFormTerms) return op;
  LoweredOp cand = substitute_atoms(p->to_lowered(), n, atoms);
  if (node_count(cand) > node_count(op)) return op;
  if (!agrees_at_probes(op, cand)) return op;
  return cand;
}

}  // namespace tamrix::lower_simplify

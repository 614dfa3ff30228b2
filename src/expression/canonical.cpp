#include "expression/canonical.hpp"

namespace tamrix::canonical {

namespace {

using tree::EmlNode;
using tree::EmlTree;

// Every One leaf of a construction is its own node.
EmlTree one() { return EmlTree::from_node(EmlNode::one()); }

// eml(x, 1) = exp(x).
EmlTree exp_of(const EmlTree& x) {
  const EmlTree unit = one();
  return EmlTree::eml(x, unit);
}

// sub(1, neg(1)) = 2.
EmlTree two() {
  const EmlTree unit = one();
  const EmlTree minus_one = Canonical::neg(one());
  return Canonical::sub(unit, minus_one);
}

// exp(ln(-1) / 2) = exp(i*pi/2) = i.
EmlTree imaginary_unit() {
  const EmlTree half = Canonical::reciprocal(two());
  const EmlTree ln_minus_one = Canonical::ln(Canonical::neg(one()));
  return exp_of(Canonical::mul(half, ln_minus_one));
}

}  // namespace

// eml(1, eml(eml(1, x), 1)) = e - ln(exp(e - ln x)) = ln x.
EmlTree Canonical::ln(const EmlTree& x) {
  const EmlTree unit = one();
  const EmlTree e_minus_ln = EmlTree::eml(one(), x);
  return EmlTree::eml(unit, exp_of(e_minus_ln));
}

// exp(ln a) - ln(exp b).
EmlTree Canonical::sub(const EmlTree& a, const EmlTree& b) {
  const EmlTree ln_a = ln(a);
  return EmlTree::eml(ln_a, exp_of(b));
}

// exp(ln(e - x)) - ln(exp(e)) = -x.
EmlTree Canonical::neg(const EmlTree& x) {
  const EmlTree unit = one();
  const EmlTree e_minus_x = EmlTree::eml(unit, exp_of(x));
  const EmlTree ln_e_minus_x = ln(e_minus_x);
  const EmlTree exp_e = exp_of(exp_of(one()));
  return EmlTree::eml(ln_e_minus_x, exp_e);
}

// exp(ln a - (-ln b)).
EmlTree Canonical::mul(const EmlTree& a, const EmlTree& b) {
  const EmlTree ln_a = ln(a);
  const EmlTree minus_ln_b = neg(ln(b));
  return exp_of(sub(ln_a, minus_ln_b));
}

// exp(ln a - ln b).
EmlTree Canonical::div(const EmlTree& a, const EmlTree& b) {
  const EmlTree ln_a = ln(a);
  const EmlTree ln_b = ln(b);
  return exp_of(sub(ln_a, ln_b));
}

// exp(-ln x).
EmlTree Canonical::reciprocal(const EmlTree& x) { return exp_of(neg(ln(x))); }

// (e^{ix} - e^{-ix}) / (2i); i is one node shared by ix and the denominator.
EmlTree Canonical::sin(const EmlTree& x) {
  const EmlTree i = imaginary_unit();
  const EmlTree ix = mul(i, x);
  const EmlTree exp_ix = exp_of(ix);
  const EmlTree exp_minus_ix = exp_of(neg(ix));
  const EmlTree numerator = sub(exp_ix, exp_minus_ix);
  const EmlTree denominator = mul(two(), i);
  return div(numerator, denominator);
}

// (e^{ix} - (-e^{-ix})) / 2.
EmlTree Canonical::cos(const EmlTree& x) {
  const EmlTree i = imaginary_unit();
  const EmlTree ix = mul(i, x);
  const EmlTree exp_ix = exp_of(ix);
  const EmlTree minus_exp_minus_ix = neg(exp_of(neg(ix)));
  const EmlTree numerator = sub(exp_ix, minus_exp_minus_ix);
  return div(numerator, two());
}

}  // namespace tamrix::canonical

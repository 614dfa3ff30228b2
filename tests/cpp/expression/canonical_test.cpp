#include "expression/canonical.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <string>

namespace {

using tamrix::canonical::Canonical;
using tamrix::tree::EmlNode;
using tamrix::tree::EmlTree;
using Complex = std::complex<double>;

EmlTree var(std::uint64_t index) { return EmlTree::from_node(EmlNode::var(index)); }
EmlTree constant(double value) { return EmlTree::from_node(EmlNode::constant(value)); }
EmlTree one() { return EmlTree::from_node(EmlNode::one()); }

// Edges on the longest root-to-leaf path.
std::uint64_t height(const EmlNode& node) {
  if (node.is_leaf()) return 0;
  return 1 + std::max(height(*node.left), height(*node.right));
}

// eml(a, b) = exp(a) - ln(b) with the principal logarithm.
Complex eval_complex(const EmlNode& node) {
  switch (node.kind) {
    case EmlNode::Kind::One:
      return 1.0;
    case EmlNode::Kind::Const:
      return node.value;
    case EmlNode::Kind::Var:
      break;
    case EmlNode::Kind::Eml: {
      const Complex a = eval_complex(*node.left);
      const Complex b = eval_complex(*node.right);
      return std::exp(a) - std::log(b);
    }
  }
  ADD_FAILURE() << "variable in a numeric check";
  return 0.0;
}

struct SizeCase {
  const char* name;
  EmlTree tree;
  std::uint64_t size;
  std::uint64_t num_vars;
};

TEST(Canonical, NodeCountsAndVariableCounts) {
  const EmlTree x0 = var(0);
  const EmlTree x1 = var(1);
  const EmlTree deep = EmlTree::eml(x0, x1);  // size 3
  const SizeCase cases[] = {
      {"ln(x0)", Canonical::ln(x0), 7, 1},
      {"sub(x0, x1)", Canonical::sub(x0, x1), 11, 2},
      {"sub(1, x1)", Canonical::sub(one(), x1), 11, 2},
      {"neg(x0)", Canonical::neg(x0), 17, 1},
      {"mul(x0, x1)", Canonical::mul(x0, x1), 41, 2},
      {"mul(x1, x0)", Canonical::mul(x1, x0), 41, 2},
      {"div(x0, x1)", Canonical::div(x0, x1), 25, 2},
      {"div(eml(x0, x1), x0)", Canonical::div(deep, x0), 27, 2},
      {"reciprocal(x0)", Canonical::reciprocal(x0), 25, 1},
      {"sin(x0)", Canonical::sin(x0), 543, 1},
      {"cos(x0)", Canonical::cos(x0), 405, 1},
      {"sin(eml(x0, x1))", Canonical::sin(deep), 547, 2},
      {"cos(eml(x0, x1))", Canonical::cos(deep), 409, 2},
      {"sin(1)", Canonical::sin(one()), 543, 0},
  };
  for (const SizeCase& c : cases) {
    EXPECT_EQ(c.tree.size(), c.size) << c.name;
    EXPECT_EQ(c.tree.num_vars, c.num_vars) << c.name;
  }
  EXPECT_EQ(height(*Canonical::sin(x0).root), 52u);
  EXPECT_EQ(height(*Canonical::cos(x0).root), 58u);
}

TEST(Canonical, TextsOfLnAndNeg) {
  EXPECT_EQ(Canonical::ln(var(0)).to_string(), "eml(1, eml(eml(1, x0), 1))");
  EXPECT_EQ(Canonical::neg(var(0)).to_string(), "eml(eml(1, eml(eml(1, eml(1, eml(x0, 1))), 1)), eml(eml(1, 1), 1))");
  EXPECT_EQ(Canonical::sub(var(0), var(1)).to_string(), "eml(eml(1, eml(eml(1, x0), 1)), eml(x1, 1))");
}

TEST(Canonical, WildcardVariableCountPropagates) {
  const EmlTree wildcard = var(tamrix::tree::kWildcardIndex);
  EXPECT_EQ(Canonical::sin(wildcard).num_vars, std::uint64_t{1} << 63);
  EXPECT_EQ(Canonical::cos(wildcard).num_vars, std::uint64_t{1} << 63);
}

TEST(Canonical, ArgumentsAreSharedNotCopied) {
  const EmlTree x0 = var(0);
  const EmlTree x1 = var(1);
  const EmlTree s = Canonical::sub(x0, x1);
  // eml(eml(1, eml(eml(1, x0), 1)), eml(x1, 1))
  EXPECT_EQ(s.root->left->right->left->right.get(), x0.root.get());
  EXPECT_EQ(s.root->right->left.get(), x1.root.get());
  // sin and cos use one shared i*x node, so x itself appears twice by identity.
  for (const EmlTree& t : {Canonical::sin(x0), Canonical::cos(x0)}) {
    int hits = 0;
    std::function<void(const EmlNode&)> walk = [&](const EmlNode& n) {
      if (&n == x0.root.get()) ++hits;
      if (!n.is_leaf()) {
        walk(*n.left);
        walk(*n.right);
      }
    };
    walk(*t.root);
    EXPECT_EQ(hits, 2);
  }
}

struct ValueCase {
  std::string name;
  EmlTree tree;
  Complex expected;
};

TEST(Canonical, ComputesWhatItClaimsOverTheComplexNumbers) {
  const double pi = std::acos(-1.0);
  std::vector<ValueCase> cases = {
      {"two", Canonical::sub(one(), Canonical::neg(one())), 2.0},
      {"ln(neg(1))", Canonical::ln(Canonical::neg(one())), Complex(0.0, pi)},
      {"ln(0.7)", Canonical::ln(constant(0.7)), std::log(0.7)},
      {"ln(2.5)", Canonical::ln(constant(2.5)), std::log(2.5)},
      {"sub(1.5, 0.25)", Canonical::sub(constant(1.5), constant(0.25)), 1.25},
      {"sub(-3, 2)", Canonical::sub(constant(-3.0), constant(2.0)), -5.0},
      {"neg(0.4)", Canonical::neg(constant(0.4)), -0.4},
      {"neg(-1.7)", Canonical::neg(constant(-1.7)), 1.7},
      {"mul(2, 3)", Canonical::mul(constant(2.0), constant(3.0)), 6.0},
      {"mul(-1.5, 0.5)", Canonical::mul(constant(-1.5), constant(0.5)), -0.75},
      {"div(3, 4)", Canonical::div(constant(3.0), constant(4.0)), 0.75},
      {"div(-2, 0.5)", Canonical::div(constant(-2.0), constant(0.5)), -4.0},
      {"reciprocal(0.8)", Canonical::reciprocal(constant(0.8)), 1.25},
      {"reciprocal(-4)", Canonical::reciprocal(constant(-4.0)), -0.25},
  };
  for (const double x : {0.3, 1.2, -0.8, 2.0}) {
    cases.push_back({"sin(" + std::to_string(x) + ")", Canonical::sin(constant(x)), std::sin(x)});
    cases.push_back({"cos(" + std::to_string(x) + ")", Canonical::cos(constant(x)), std::cos(x)});
  }
  for (const ValueCase& c : cases) {
    const Complex got = eval_complex(*c.tree.root);
    EXPECT_NEAR(got.real(), c.expected.real(), 1e-12) << c.name;
    EXPECT_NEAR(got.imag(), c.expected.imag(), 1e-12) << c.name;
  }
  // The imaginary unit of the sine and cosine forms: exp(mul(1/2, ln(-1))).
  const EmlTree two = Canonical::sub(one(), Canonical::neg(one()));
  const EmlTree i = EmlTree::eml(Canonical::mul(Canonical::reciprocal(two), Canonical::ln(Canonical::neg(one()))), one());
  const Complex got = eval_complex(*i.root);
  EXPECT_NEAR(got.real(), 0.0, 1e-12);
  EXPECT_NEAR(got.imag(), 1.0, 1e-12);
}

}  // namespace

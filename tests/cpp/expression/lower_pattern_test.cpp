#include "expression/lower/pattern.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "expression/canonical.hpp"
#include "helpers/eml_parse.hpp"
#include "helpers/lowered_print.hpp"

namespace {

using tamrix::canonical::Canonical;
using tamrix::lower::pattern::lower_node;
using tamrix::lower::pattern::nodes_structurally_equal;
using tamrix::lower::pattern::unify_with_wildcard;
using tamrix::tree::EmlNode;
using tamrix::tree::EmlTree;
using tamrix::tree::kWildcardIndex;
using tamrix::tree::NodePtr;
namespace sin_template = tamrix::lower::pattern::sin_template;
namespace cos_template = tamrix::lower::pattern::cos_template;

// Copy of a template with its wildcard occurrences filled in walking order,
// and optionally one of its One leaves (by walking order) made a Const 1.0.
struct TemplateCopy {
  std::vector<NodePtr> fills;
  int one_as_const = -1;
  int wildcards_seen = 0;
  int ones_seen = 0;

  NodePtr build(const EmlNode& node) {
    switch (node.kind) {
      case EmlNode::Kind::Var:
        return fills.at(static_cast<std::size_t>(wildcards_seen++));
      case EmlNode::Kind::One:
        return ones_seen++ == one_as_const ? EmlNode::constant(1.0) : EmlNode::one();
      case EmlNode::Kind::Eml: {
        NodePtr left = build(*node.left);
        NodePtr right = build(*node.right);
        return EmlNode::eml(std::move(left), std::move(right));
      }
      case EmlNode::Kind::Const:
        break;
    }
    return EmlNode::constant(node.value);
  }
};

NodePtr sine_copy(NodePtr first, NodePtr second, int one_as_const = -1) {
  TemplateCopy copy{{std::move(first), std::move(second)}, one_as_const};
  return copy.build(sin_template::TEMPLATE());
}

int sine_one_leaves() {
  TemplateCopy copy{{EmlNode::var(0), EmlNode::var(0)}};
  copy.build(sin_template::TEMPLATE());
  return copy.ones_seen;
}

EmlTree tree(const char* text) { return kvel_test::parse_tree(text); }

struct LowerCase {
  std::string name;
  NodePtr node;
  std::string expected;
};

TEST(LowerPattern, LowersEveryRuleInOrder) {
  const std::string e = "Const 2.718281828459045";
  const EmlTree x0 = tree("x0");
  const std::vector<LowerCase> cases = {
      {"one", tree("1").root, "Const 1"},
      {"const", tree("2.5").root, "Const 2.5"},
      {"var", tree("x3").root, "Var 3"},
      // "b is One" comes before the rules for a = One.
      {"eml(1, 1)", tree("eml(1, 1)").root, "Exp(Const 1)"},
      {"exp", tree("eml(x0, 1)").root, "Exp(Var 0)"},
      {"exp of ln", tree("eml(eml(1, eml(eml(1, x0), 1)), 1)").root, "Var 0"},
      {"general", tree("eml(x0, x1)").root, "Sub(Exp(Var 0), Ln(Var 1))"},
      {"const 1.0 is not One", tree("eml(x0, 1.0)").root, "Sub(Exp(Var 0), Ln(Const 1))"},
      {"sub", tree("eml(eml(1, eml(eml(1, x0), 1)), eml(x1, 1))").root, "Sub(Var 0, Var 1)"},
      {"ln shape, b not exp", tree("eml(eml(1, eml(eml(1, x0), 1)), x1)").root, "Sub(Exp(Ln(Var 0)), Ln(Var 1))"},
      {"b exp, a not ln shape", tree("eml(x0, eml(x1, 1))").root, "Sub(Exp(Var 0), Ln(Exp(Var 1)))"},
      {"e minus", tree("eml(1, eml(x0, 1))").root, "Sub(" + e + ", Var 0)"},
      {"ln", tree("eml(1, eml(eml(1, x0), 1))").root, "Ln(Var 0)"},
      {"e minus, Const 1.0 in ln shape", tree("eml(1, eml(eml(1.0, x0), 1))").root,
       "Sub(" + e + ", Sub(Exp(Const 1), Ln(Var 0)))"},
      {"a One, b not exp", tree("eml(1, x0)").root, "Sub(Exp(Const 1), Ln(Var 0))"},
      {"sin(x0)", Canonical::sin(x0).root, "Sin(Var 0)"},
      {"cos(x0)", Canonical::cos(x0).root, "Cos(Var 0)"},
      {"sin(exp x0)", Canonical::sin(tree("eml(x0, 1)")).root, "Sin(Exp(Var 0))"},
      {"cos(sin x1)", Canonical::cos(Canonical::sin(tree("x1"))).root, "Cos(Sin(Var 1))"},
      {"ln(cos x0)", Canonical::ln(Canonical::cos(x0)).root, "Ln(Cos(Var 0))"},
      // The two wildcard occurrences may differ by less than 1e-15.
      {"sin tolerant", sine_copy(EmlNode::constant(0.1), EmlNode::constant(0.1 + 5e-16)), "Sin(Const 0.1)"},
  };
  for (const LowerCase& c : cases) {
    EXPECT_EQ(kvel_test::lowered_text(lower_node(*c.node)), c.expected) << c.name;
  }
}

TEST(LowerPattern, NearMissesOfTheSineTemplateFallThrough) {
  const int ones = sine_one_leaves();
  ASSERT_EQ(ones, 270);
  const std::vector<LowerCase> cases = {
      {"x0 and x1", sine_copy(EmlNode::var(0), EmlNode::var(1)), ""},
      {"constants 2e-15 apart", sine_copy(EmlNode::constant(0.1), EmlNode::constant(0.1 + 2e-15)), ""},
      {"NaN twice", sine_copy(EmlNode::constant(std::nan("")), EmlNode::constant(std::nan(""))), ""},
      {"first One as Const 1.0", sine_copy(EmlNode::var(0), EmlNode::var(0), 0), ""},
      {"last One as Const 1.0", sine_copy(EmlNode::var(0), EmlNode::var(0), ones - 1), ""},
  };
  for (const LowerCase& c : cases) {
    const std::string text = kvel_test::lowered_text(lower_node(*c.node));
    EXPECT_EQ(text.find("Sin("), std::string::npos) << c.name << ": " << text;
    EXPECT_EQ(text.find("Cos("), std::string::npos) << c.name << ": " << text;
  }
  // The unmodified copy does match.
  EXPECT_EQ(kvel_test::lowered_text(lower_node(*sine_copy(EmlNode::var(0), EmlNode::var(0)))), "Sin(Var 0)");
}

TEST(LowerPattern, TemplatesAreBuiltOnceFromTheWildcard) {
  EXPECT_EQ(&sin_template::TEMPLATE(), &sin_template::TEMPLATE());
  EXPECT_EQ(&cos_template::TEMPLATE(), &cos_template::TEMPLATE());
  EXPECT_EQ(tamrix::tree::node_size(sin_template::TEMPLATE()), 543u);
  EXPECT_EQ(tamrix::tree::node_size(cos_template::TEMPLATE()), 405u);
  EXPECT_EQ(tamrix::tree::count_vars(sin_template::TEMPLATE()), std::uint64_t{1} << 63);
  EXPECT_EQ(tamrix::tree::count_vars(cos_template::TEMPLATE()), std::uint64_t{1} << 63);
}

TEST(LowerPattern, TreeLowerLowersTheRoot) {
  EXPECT_EQ(kvel_test::lowered_text(tree("eml(x0, x1)").lower()), "Sub(Exp(Var 0), Ln(Var 1))");
  EXPECT_EQ(kvel_test::lowered_text(Canonical::sin(tree("x2")).lower()), "Sin(Var 2)");
}

struct UnifyCase {
  const char* node;
  const char* pattern;  // W is the wildcard
  bool matches;
  const char* bound;  // text of the bound node when it matches
};

NodePtr pattern_of(const std::string& text) {
  std::string eml_text;
  for (const char ch : text) {
    if (ch == 'W') {
      eml_text += "x" + std::to_string(kWildcardIndex);
    } else {
      eml_text += ch;
    }
  }
  return kvel_test::parse_eml(eml_text);
}

TEST(LowerPattern, UnifiesWithOneWildcard) {
  const UnifyCase cases[] = {
      {"eml(x0, 1)", "W", true, "eml(x0, 1)"},
      {"eml(eml(x0, 1), eml(x0, 1))", "eml(W, W)", true, "eml(x0, 1)"},
      {"eml(x0, x1)", "eml(W, W)", false, ""},
      {"eml(x0, 1)", "eml(W, 1)", true, "x0"},
      {"eml(x0, 1.0)", "eml(W, 1)", false, ""},
      {"eml(x0, 1)", "eml(W, 1.0)", false, ""},
      {"eml(x0, -0.0)", "eml(W, 0.0)", false, ""},
      {"eml(x0, 0.5)", "eml(W, 0.5)", true, "x0"},
      {"eml(x0, x3)", "eml(W, x3)", true, "x0"},
      {"eml(x0, x3)", "eml(W, x4)", false, ""},
      {"eml(x0, eml(1, 1))", "eml(W, x3)", false, ""},
      {"x3", "eml(W, 1)", false, ""},
      {"eml(x0, 1)", "eml(W, eml(1, 1))", false, ""},
      // A second occurrence compares with tolerance, also against -0.0.
      {"eml(0.0, -0.0)", "eml(W, W)", true, "0.000000"},
  };
  for (const UnifyCase& c : cases) {
    const NodePtr node = kvel_test::parse_eml(c.node);
    const NodePtr pattern = pattern_of(c.pattern);
    const EmlNode* binding = nullptr;
    EXPECT_EQ(unify_with_wildcard(*node, *pattern, binding), c.matches) << c.node << " ~ " << c.pattern;
    if (c.matches) {
      ASSERT_NE(binding, nullptr) << c.node;
      std::string bound;
      tamrix::tree::write_node(*binding, bound);
      EXPECT_EQ(bound, c.bound) << c.node;
    }
  }
}

TEST(LowerPattern, StructuralEqualityToleratesTinyConstantDifferences) {
  struct EqualCase {
    const char* a;
    const char* b;
    bool equal;
  };
  const EqualCase cases[] = {
      {"eml(x0, 1)", "eml(x0, 1)", true},
      {"eml(x0, 1)", "eml(x1, 1)", false},
      {"eml(x0, 1)", "eml(1, x0)", false},
      {"1", "1.0", false},
      {"0.0", "-0.0", true},
      {"0.1", "0.1000000000000005", true},
      {"0.1", "0.100000000000002", false},
      {"NaN", "NaN", false},
      {"inf", "inf", false},
      {"eml(x0, 1)", "x0", false},
  };
  for (const EqualCase& c : cases) {
    EXPECT_EQ(nodes_structurally_equal(*kvel_test::parse_eml(c.a), *kvel_test::parse_eml(c.b)), c.equal)
        << c.a << " vs " << c.b;
  }
}

}  // namespace

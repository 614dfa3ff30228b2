#include "expression/simplify.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "helpers/eml_parse.hpp"

namespace {

using tamrix::simplify::make_key;
using tamrix::simplify::simplify;
using tamrix::tree::EmlNode;
using tamrix::tree::EmlTree;

struct SimplifyCase {
  const char* input;
  const char* output;
  std::uint64_t num_vars;
};

TEST(Simplify, RemovesLnExpAndExpLnShapes) {
  const SimplifyCase cases[] = {
      // ln(exp(x0))
      {"eml(1, eml(eml(1, eml(x0, 1)), 1))", "x0", 1},
      // exp(ln(x0))
      {"eml(eml(1, eml(eml(1, x0), 1)), 1)", "x0", 1},
      // exp(ln(1)): the result's num_vars is recounted
      {"eml(eml(1, eml(eml(1, 1), 1)), 1)", "1", 0},
      // ln(exp(ln(exp(x0)))) reduces fully in one pass
      {"eml(1, eml(eml(1, eml(eml(1, eml(eml(1, eml(x0, 1)), 1)), 1)), 1))", "x0", 1},
      // exp(ln(ln(exp(x2)))): the inner rewrite exposes the outer one
      {"eml(eml(1, eml(eml(1, eml(1, eml(eml(1, eml(x2, 1)), 1))), 1)), 1)", "x2", 3},
      // rewrites below an untouched node
      {"eml(eml(1, eml(eml(1, eml(x0, 1)), 1)), eml(eml(1, eml(eml(1, x1), 1)), 1))", "eml(x0, x1)", 2},
      // the innermost node is not eml(Z, 1): unchanged
      {"eml(1, eml(eml(1, eml(x0, x1)), 1))", "eml(1, eml(eml(1, eml(x0, x1)), 1))", 2},
      // a Const 1.0 is not the One leaf: unchanged
      {"eml(1, eml(eml(1, eml(x0, 1.0)), 1))", "eml(1, eml(eml(1, eml(x0, 1.000000)), 1))", 1},
      {"eml(0.0, -0.0)", "eml(0.000000, -0.000000)", 0},
  };
  for (const SimplifyCase& c : cases) {
    const EmlTree out = simplify(kvel_test::parse_tree(c.input));
    EXPECT_EQ(out.to_string(), c.output) << c.input;
    EXPECT_EQ(out.num_vars, c.num_vars) << c.input;
  }
}

void collect_nodes(const EmlNode* node, std::set<const EmlNode*>& out) {
  out.insert(node);
  if (!node->is_leaf()) {
    collect_nodes(node->left.get(), out);
    collect_nodes(node->right.get(), out);
  }
}

TEST(Simplify, ResultSharesNoNodeWithInput) {
  for (const char* text : {"x0", "eml(x0, eml(1, 2.5))", "eml(1, eml(eml(1, eml(x0, 1)), 1))",
                           "eml(eml(1, eml(eml(1, eml(x0, 1)), 1)), eml(x0, 1))"}) {
    const EmlTree in = kvel_test::parse_tree(text);
    const EmlTree out = simplify(in);
    std::set<const EmlNode*> in_nodes;
    std::set<const EmlNode*> out_nodes;
    collect_nodes(in.root.get(), in_nodes);
    collect_nodes(out.root.get(), out_nodes);
    for (const EmlNode* node : out_nodes) EXPECT_EQ(in_nodes.count(node), 0u) << text;
  }
}

TEST(Simplify, EqualInputSubtreesShareOneResultNode) {
  // The two children are built separately by the parser.
  const EmlTree same = simplify(kvel_test::parse_tree("eml(eml(x0, 1), eml(x0, 1))"));
  EXPECT_EQ(same.root->left.get(), same.root->right.get());
  EXPECT_EQ(same.root->left->left.get(), same.root->right->left.get());

  // Both children rewrite to x0 and come out as one node.
  const EmlTree rewritten = simplify(kvel_test::parse_tree(
      "eml(eml(1, eml(eml(1, eml(x0, 1)), 1)), eml(1, eml(eml(1, eml(x0, 1)), 1)))"));
  EXPECT_EQ(rewritten.to_string(), "eml(x0, x0)");
  EXPECT_EQ(rewritten.root->left.get(), rewritten.root->right.get());

  // Keys compare constants by bit pattern: 0.0 and -0.0 stay two leaves.
  const EmlTree zeros = simplify(kvel_test::parse_tree("eml(0.0, -0.0)"));
  EXPECT_NE(zeros.root->left.get(), zeros.root->right.get());
}

TEST(Simplify, KeysCompareConstantsBitForBit) {
  EXPECT_NE(make_key(*EmlNode::constant(0.0)), make_key(*EmlNode::constant(-0.0)));
  EXPECT_EQ(make_key(*EmlNode::constant(std::nan(""))), make_key(*EmlNode::constant(std::nan(""))));
  EXPECT_NE(make_key(*EmlNode::one()), make_key(*EmlNode::constant(1.0)));
  EXPECT_NE(make_key(*kvel_test::parse_eml("eml(x0, x1)")), make_key(*kvel_test::parse_eml("eml(x1, x0)")));
  EXPECT_EQ(make_key(*kvel_test::parse_eml("eml(x0, 2.5)")), make_key(*kvel_test::parse_eml("eml(x0, 2.5)")));
}

}  // namespace

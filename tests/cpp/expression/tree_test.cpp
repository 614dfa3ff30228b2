#include "expression/tree.hpp"

#include <gtest/gtest.h>

#include "helpers/eml_parse.hpp"

namespace {

using tamrix::tree::EmlNode;
using tamrix::tree::EmlTree;

struct TreeCase {
  const char* text;
  std::uint64_t size;
  std::uint64_t num_vars;
};

TEST(EmlTree, MeasuresAndTextRoundTrip) {
  const TreeCase cases[] = {
      {"1", 1, 0},
      {"x5", 1, 6},
      {"eml(x0, 1)", 3, 1},
      {"eml(eml(1, x0), 1)", 5, 1},
      {"eml(eml(1, 2.500000), x1)", 5, 2},
      {"-0.500000", 1, 0},
  };
  for (const TreeCase& c : cases) {
    const EmlTree tree = kvel_test::parse_tree(c.text);
    EXPECT_EQ(tree.size(), c.size) << c.text;
    EXPECT_EQ(tree.num_vars, c.num_vars) << c.text;
    EXPECT_EQ(tree.to_string(), c.text);
  }
}

TEST(EmlTree, ConstantTextNeverUsesExponent) {
  EXPECT_EQ(EmlTree::from_node(EmlNode::constant(1e20)).to_string(), "100000000000000000000.000000");
  EXPECT_EQ(EmlTree::from_node(EmlNode::constant(std::nan(""))).to_string(), "NaN");
}

TEST(EmlTree, EmlSharesRootsAndTakesMaxVarsWithoutRecounting) {
  const EmlTree a = kvel_test::parse_tree("x1");
  const EmlTree b = kvel_test::parse_tree("1");
  const EmlTree t = EmlTree::eml(a, b);
  EXPECT_EQ(t.num_vars, 2u);
  EXPECT_EQ(t.root->left.get(), a.root.get());
  EXPECT_EQ(t.root->right.get(), b.root.get());
  // Not recounted: a tree whose count was set by hand keeps it.
  const EmlTree odd(EmlNode::one(), 7);
  EXPECT_EQ(EmlTree::eml(odd, b).num_vars, 7u);
}

TEST(EmlTree, WildcardCountsAsTwoToThe63) {
  const EmlTree t = EmlTree::from_node(EmlNode::var(tamrix::tree::kWildcardIndex));
  EXPECT_EQ(t.num_vars, std::uint64_t{1} << 63);
}

TEST(EmlTree, FactoriesAlwaysAllocate) {
  EXPECT_NE(EmlNode::one().get(), EmlNode::one().get());
}

}  // namespace

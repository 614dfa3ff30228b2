#include "core/refine.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "core/fit.hpp"
#include "helpers/eml_parse.hpp"
#include "helpers/grid_data.hpp"

namespace {

using kvel_core::dataset::DataSet;
using kvel_core::discoverer::Discoverer;
using kvel_core::discoverer::constantize;
using kvel_core::discoverer::refine_candidates;
using kvel_core::forest::FeedColumns;
using kvel_core::solution::Solution;
using tamrix::tree::EmlNode;
using tamrix::tree::EmlTree;

// A data set on y = exp(x0) - 2.5, with its columns and target in the form a
// search's fits read them.
struct SearchData {
  explicit SearchData(std::size_t rows)
      : data(kvel_test::grid_data(rows, [](double v) { return std::exp(v) - 2.5; })),
        columns(FeedColumns::from_matrix(data.x)),
        target(data.y) {}
  kvel_core::fit::FitData fit() const { return {columns, target, data.y}; }

  DataSet data;
  FeedColumns columns;
  gradix_autograd::Array target;
};

std::vector<std::pair<double, std::size_t>> in_order(std::size_t count) {
  std::vector<std::pair<double, std::size_t>> order;
  for (std::size_t i = 0; i < count; ++i) order.emplace_back(static_cast<double>(i), i);
  return order;
}

std::size_t ones_in(const EmlNode& node) {
  if (node.kind == EmlNode::Kind::One) return 1;
  if (node.kind != EmlNode::Kind::Eml) return 0;
  return ones_in(*node.left) + ones_in(*node.right);
}

bool shares_a_node(const tamrix::tree::NodePtr& a, const EmlNode& b) {
  if (a.get() == &b) return true;
  return b.kind == EmlNode::Kind::Eml && (shares_a_node(a, *b.left) || shares_a_node(a, *b.right));
}

TEST(Constantize, OnesBecomeConstantsAndNothingIsShared) {
  const EmlTree source = kvel_test::parse_tree("eml(eml(1, x0), eml(2.5, 1))");
  const auto copy = constantize(*source.root);
  EXPECT_EQ(EmlTree::from_node(copy).to_string(), "eml(eml(1.000000, x0), eml(2.500000, 1.000000))");
  EXPECT_EQ(kvel_core::fit::collect_consts(*copy), (std::vector<double>{1.0, 2.5, 1.0}));
  for (const auto& node : {source.root, source.root->left, source.root->right, source.root->left->left,
                           source.root->left->right, source.root->right->left})
    EXPECT_FALSE(shares_a_node(node, *copy));
}

TEST(Refinement, TreesWithoutConstantsOrWithTooManyCostNothing) {
  const SearchData data(20);
  const std::vector<EmlTree> topologies = {
      kvel_test::parse_tree("eml(x0, x0)"),
      kvel_test::parse_tree("eml(eml(eml(1, 1), eml(1, 1)), eml(eml(1, 1), eml(1, x0)))"),
  };
  ASSERT_EQ(ones_in(*topologies[1].root), 7u);
  std::vector<Solution> candidates;
  EXPECT_EQ(refine_candidates(in_order(2), topologies, data.fit(), Discoverer{}, candidates), 0u);
  EXPECT_TRUE(candidates.empty());
}

std::vector<EmlTree> qualifying_topologies(std::size_t count) {
  std::vector<EmlTree> out;
  for (EmlTree& tree : kvel_core::discoverer::search_topologies(3, 1)) {
    const std::size_t ones = ones_in(*tree.root);
    if (ones >= 1 && ones <= 6 && out.size() < count) out.push_back(std::move(tree));
  }
  return out;
}

TEST(Refinement, FailedFitsUseTheBudget) {
  const SearchData data(20);
  const std::vector<EmlTree> topologies = qualifying_topologies(30);
  ASSERT_EQ(topologies.size(), 30u);
  // A NaN learning rate makes every fitted constant NaN: each fit fails.
  Discoverer config;
  config.max_epochs = 1;
  config.learning_rate = std::numeric_limits<double>::quiet_NaN();
  std::vector<Solution> candidates;
  EXPECT_EQ(refine_candidates(in_order(30), topologies, data.fit(), config, candidates), 24u);
  EXPECT_TRUE(candidates.empty());
}

TEST(Refinement, RefinedSolutionsAreAppendedInScoreOrderWithoutNaNFormulas) {
  const SearchData data(50);
  // eml(x0, 1) reaches exp(x0) - 2.5 through its constant; eml(1, eml(x0, 1)) is polished to ln of a negative value, whose
  // LaTeX shows NaN.
  const std::vector<EmlTree> topologies = {kvel_test::parse_tree("eml(x0, 1)"),
                                           kvel_test::parse_tree("eml(1, eml(x0, 1))"),
                                           kvel_test::parse_tree("eml(1, x0)")};
  const std::vector<std::pair<double, std::size_t>> order = {{0.5, 2}, {0.6, 1}, {0.7, 0}};
  Discoverer config;
  config.max_epochs = 0;  // polishing alone has to reach the constants
  std::vector<Solution> candidates = {Solution{topologies[0], 9.0, 3}};
  EXPECT_EQ(refine_candidates(order, topologies, data.fit(), config, candidates), 3u);
  ASSERT_EQ(candidates.size(), 3u);
  EXPECT_EQ(candidates[0].mse, 9.0);
  EXPECT_EQ(candidates[1].tree.root->left->kind, EmlNode::Kind::Const);  // from eml(1, x0)
  EXPECT_EQ(candidates[2].tree.root->left->kind, EmlNode::Kind::Var);
  EXPECT_EQ(candidates[2].complexity, 3u);
  EXPECT_LT(candidates[2].mse, 1e-20);
  EXPECT_NEAR(kvel_core::fit::collect_consts(*candidates[2].tree.root)[0], std::exp(2.5), 1e-9);
}

}  // namespace

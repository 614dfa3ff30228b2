#include "core/pareto.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

namespace {

using kvel_core::ParetoFront;
using kvel_core::solution::Solution;

// Solutions told apart by their leaf: Var i for the i-th candidate.
std::vector<Solution> candidates(const std::vector<std::pair<std::size_t, double>>& rows) {
  std::vector<Solution> out;
  for (std::size_t i = 0; i < rows.size(); ++i)
    out.push_back(Solution{tamrix::tree::EmlTree::from_node(tamrix::tree::EmlNode::var(i)), rows[i].second,
                           rows[i].first});
  return out;
}

std::vector<std::pair<std::size_t, double>> shape(const std::vector<const Solution*>& list) {
  std::vector<std::pair<std::size_t, double>> out;
  for (const Solution* s : list) out.emplace_back(s->complexity, s->mse);
  return out;
}

std::vector<std::pair<std::size_t, double>> shape(const ParetoFront& front) {
  std::vector<std::pair<std::size_t, double>> out;
  for (const Solution& s : front.members()) out.emplace_back(s.complexity, s.mse);
  return out;
}

using Rows = std::vector<std::pair<std::size_t, double>>;

TEST(ParetoFront, DominanceAndDuplicateRules) {
  struct Case {
    Rows in;
    Rows front;
  };
  const Case cases[] = {
      {{{3, 0.5}, {5, 0.1}, {5, 0.2}, {7, 0.3}}, {{3, 0.5}, {5, 0.1}}},
      {{{5, 0.2}, {3, 0.1}}, {{3, 0.1}}},
      {{{5, 0.2}, {5, 0.2}}, {{5, 0.2}}},
      {{{3, NAN}, {4, INFINITY}, {5, -INFINITY}}, {}},
      {{{9, 0.01}, {3, 0.5}, {5, 0.1}}, {{3, 0.5}, {5, 0.1}, {9, 0.01}}},
      {{}, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(shape(ParetoFront::from_candidates(candidates(c.in))), c.front);
}

TEST(ParetoFront, FirstOfTwoTiesStays) {
  const ParetoFront front = ParetoFront::from_candidates(candidates({{5, 0.2}, {5, 0.2}}));
  ASSERT_EQ(front.size(), 1u);
  EXPECT_EQ(front.members()[0].tree.root->index, 0u);
}

TEST(ParetoFront, TopAndBest) {
  const ParetoFront front = ParetoFront::from_candidates(candidates({{3, 0.5}, {5, 0.1}, {9, 0.01}}));
  EXPECT_TRUE(front.pareto_top(0).empty());
  EXPECT_EQ(shape(front.pareto_top(2)), (Rows{{9, 0.01}, {5, 0.1}}));
  EXPECT_EQ(shape(front.pareto_top(100)), (Rows{{9, 0.01}, {5, 0.1}, {3, 0.5}}));
  ASSERT_NE(front.best(), nullptr);
  EXPECT_EQ(front.best()->complexity, 9u);
  EXPECT_EQ(ParetoFront::from_candidates({}).best(), nullptr);
}

}  // namespace

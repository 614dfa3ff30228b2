#include "core/shown.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "core/forest.hpp"
#include "helpers/eml_parse.hpp"

namespace {

using kvel_core::forest::FeedColumns;
using kvel_core::solution::Solution;
using kvel_test::parse_tree;

xt::xtensor<double, 2> grid(double lo, double hi, std::size_t rows, std::size_t cols) {
  xt::xtensor<double, 2> x = xt::xtensor<double, 2>::from_shape({rows, cols});
  for (std::size_t i = 0; i < rows; ++i)
    for (std::size_t j = 0; j < cols; ++j)
      x(i, j) = lo + (hi - lo) * static_cast<double>(i * cols + j) / static_cast<double>(rows * cols - 1);
  return x;
}

TEST(EvalShown, AgreesBitForBitWithTheGuardedForwardWhereNoGuardActs) {
  const FeedColumns data = FeedColumns::from_matrix(grid(0.5, 3.0, 37, 2));
  const char* trees[] = {
      "1", "x1", "2.5", "eml(x0, 1)", "eml(1, x0)", "eml(x0, x1)", "eml(eml(x0, 1), eml(1.25, x1))",
      "eml(1, eml(eml(1, x0), 1))", "eml(eml(1, eml(x1, x0)), 0.75)",
  };
  for (const char* text : trees) {
    const auto tree = parse_tree(text);
    const auto guarded = kvel_core::forest::eval_tree(tree, data);
    const auto shown = kvel_core::shown::eval_shown(tree, data);
    if (!guarded) {
      EXPECT_FALSE(shown) << text;
      continue;
    }
    ASSERT_TRUE(shown) << text;
    ASSERT_EQ(shown->size(), guarded->size()) << text;
    for (std::size_t i = 0; i < shown->size(); ++i)
      EXPECT_EQ(std::bit_cast<std::uint64_t>((*shown)[i]), std::bit_cast<std::uint64_t>((*guarded)[i])) << text << " row " << i;
  }
}

TEST(EvalShown, IsNothingWhereTheShownFormulaIsNotFinite) {
  // ln of a negative column is NaN; the guard would have clipped it to 1e-12.
  const FeedColumns negative = FeedColumns::from_matrix(grid(-3.0, -0.5, 10, 1));
  EXPECT_TRUE(kvel_core::forest::eval_tree(parse_tree("eml(1, x0)"), negative));
  EXPECT_FALSE(kvel_core::shown::eval_shown(parse_tree("eml(1, x0)"), negative));
  // exp(800) overflows; the guard would have clipped 800 to 50.
  const FeedColumns positive = FeedColumns::from_matrix(grid(0.5, 3.0, 10, 1));
  EXPECT_FALSE(kvel_core::shown::eval_shown(parse_tree("eml(800, x0)"), positive));
}

TEST(ScoreAsShown, KeepsOrderAndReportsTheShownError) {
  const xt::xtensor<double, 2> x = grid(-3.0, 3.0, 20, 1);
  const FeedColumns data = FeedColumns::from_matrix(x);
  xt::xtensor<double, 1> y = xt::xtensor<double, 1>::from_shape({20});
  for (std::size_t i = 0; i < 20; ++i) y(i) = std::exp(x(i, 0));

  const auto make = [](const char* text) {
    const auto tree = parse_tree(text);
    return Solution{tree, -1.0, static_cast<std::size_t>(tree.size())};
  };
  // eml(1, x0) is NaN on the negative rows; eml(60, 1) is finite as shown
  // but differs from its guarded value exp(50).
  std::vector<Solution> candidates = {make("eml(x0, 1)"), make("eml(1, x0)"), make("eml(60, 1)"), make("1")};
  const auto kept = kvel_core::shown::score_as_shown(std::move(candidates), data, y);
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[0].tree.to_string(), "eml(x0, 1)");
  EXPECT_EQ(kept[0].mse, 0.0);
  EXPECT_EQ(kept[1].tree.to_string(), "eml(60.000000, 1)");
  double sum = 0.0;
  for (std::size_t i = 0; i < 20; ++i) sum += (std::exp(60.0) - y(i)) * (std::exp(60.0) - y(i));
  EXPECT_EQ(kept[1].mse, sum / 20.0);
  EXPECT_EQ(kept[2].tree.to_string(), "1");
}

// The pass asks the search's token before each candidate.
TEST(ScoreAsShown, StopsWhenTheTokenSaysSo) {
  const FeedColumns data = FeedColumns::from_matrix(grid(0.5, 3.0, 10, 1));
  const xt::xtensor<double, 1> y = xt::zeros<double>({10});
  std::vector<Solution> candidates;
  for (const char* text : {"eml(x0, 1)", "eml(1, x0)", "x0"}) {
    const auto tree = parse_tree(text);
    candidates.push_back(Solution{tree, 0.0, static_cast<std::size_t>(tree.size())});
  }
  int asked = 0;
  const kvel_core::cancel::CancelToken token([&] { return ++asked == 2; });
  EXPECT_THROW(kvel_core::shown::score_as_shown(candidates, data, y, token), kvel_core::cancel::Cancelled);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(kvel_core::shown::score_as_shown(candidates, data, y).size(), 3u);
}

}  // namespace

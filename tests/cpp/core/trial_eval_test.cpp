#include "core/trial_eval.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "core/fit.hpp"
#include "core/polish.hpp"
#include "helpers/eml_parse.hpp"

namespace {

using kvel_core::forest::FeedColumns;
using kvel_core::polish::TrialEvaluator;
using tamrix::tree::EmlTree;

FeedColumns two_columns(double poison) {
  xt::xtensor<double, 2> x = xt::xtensor<double, 2>::from_shape({7, 2});
  for (std::size_t i = 0; i < 7; ++i) {
    x(i, 0) = -1.0 + 0.7 * static_cast<double>(i);
    x(i, 1) = i == 3 ? poison : 0.25 + 0.5 * static_cast<double>(i);
  }
  return FeedColumns::from_matrix(x);
}

// Every prediction equals that of the scoring pass over the tree with the
// constants put in, bit for bit, failures included.
TEST(TrialEvaluator, PredictsWhatEvalTreeOfTheSubstitutedTreePredicts) {
  const char* trees[] = {
      "eml(2.0, x0)",
      "eml(eml(0.3, x0), eml(x1, 1.7))",
      "eml(eml(x0, x1), eml(eml(0.5, 1), -2.0))",
      "eml(x1, 1)",  // no constant: the whole tree is fixed
  };
  const std::vector<std::vector<double>> constant_sets = {
      {0.0, -0.0, 1e-300}, {60.0, -60.0, 3.5}, {std::numeric_limits<double>::quiet_NaN(), 1.0, 2.0},
      {std::numeric_limits<double>::infinity(), -1.0, 0.5}};
  for (const double poison : {1.5, std::numeric_limits<double>::quiet_NaN()}) {
    const FeedColumns data = two_columns(poison);
    for (const char* text : trees) {
      const EmlTree tree = kvel_test::parse_tree(text);
      TrialEvaluator trials(tree, data);
      for (const std::vector<double>& all : constant_sets) {
        const std::size_t n = kvel_core::fit::collect_consts(*tree.root).size();
        const std::vector<double> values(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
        const auto want = kvel_core::forest::eval_tree(kvel_core::polish::with_consts(tree, values), data);
        const auto got = trials.predict(values);
        ASSERT_EQ(got.has_value(), want.has_value()) << text;
        if (!got) continue;
        ASSERT_EQ(got->size(), want->size());
        for (std::size_t i = 0; i < got->size(); ++i)
          EXPECT_EQ(std::bit_cast<std::uint64_t>((*got)[i]), std::bit_cast<std::uint64_t>((*want)[i])) << text << i;
      }
    }
  }
}

}  // namespace

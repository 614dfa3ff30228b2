#include "core/polish.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "core/fit.hpp"
#include "helpers/eml_parse.hpp"

namespace {

using kvel_core::forest::FeedColumns;
using kvel_core::loss::RobustLoss;
using kvel_core::polish::lm_refine;
using kvel_core::polish::solve_dense;
using tamrix::tree::EmlTree;

struct SolveRow {
  std::vector<std::vector<double>> a;
  std::vector<double> b;
  std::optional<std::vector<double>> x;
};

TEST(SolveDense, Rows) {
  const SolveRow rows[] = {
      {{{0, 1}, {1, 0}}, {2, 3}, std::vector<double>{3, 2}},  // pivots to the second row
      {{{1e-15, 0}, {0, 1}}, {1, 1}, std::nullopt},           // pivot below 1e-14
      {{{1, 2}, {2, 4}}, {1, 2}, std::nullopt},               // singular
      {{}, {}, std::vector<double>{}},
      {{{2, 1, 0}, {1, 3, 1}, {0, 1, 4}}, {3, 5, 5}, std::vector<double>{1, 1, 1}},
  };
  for (const SolveRow& row : rows) {
    const auto x = solve_dense(row.a, row.b);
    ASSERT_EQ(x.has_value(), row.x.has_value()) << row.b.size();
    if (!x) continue;
    ASSERT_EQ(x->size(), row.x->size());
    for (std::size_t i = 0; i < x->size(); ++i) EXPECT_NEAR((*x)[i], (*row.x)[i], 1e-14);
  }
}

// 40 points of x0 in [0.5, 3] with target f(x0).
struct Data {
  xt::xtensor<double, 2> x;
  xt::xtensor<double, 1> y;
  FeedColumns columns;
};

Data make_data(double (*f)(double)) {
  constexpr std::size_t n = 40;
  Data d{xt::xtensor<double, 2>::from_shape({n, 1}), xt::xtensor<double, 1>::from_shape({n}), {}};
  for (std::size_t i = 0; i < n; ++i) {
    d.x(i, 0) = 0.5 + 2.5 * static_cast<double>(i) / (n - 1);
    d.y(i) = f(d.x(i, 0));
  }
  d.columns = FeedColumns::from_matrix(d.x);
  return d;
}

double mse_of(const EmlTree& tree, const Data& d) {
  auto prediction = kvel_core::forest::eval_tree(tree, d.columns);
  return prediction ? kvel_core::fit::mean_squared_error(*prediction, d.y) : std::numeric_limits<double>::infinity();
}

TEST(LmRefine, FitsAConstantAndNeverEndsAboveItsStart) {
  const Data d = make_data([](double v) { return std::exp(v) - std::log(2.5); });
  const EmlTree start = kvel_test::parse_tree("eml(x0, 1.0)");
  const auto polished = lm_refine(start, d.columns, d.y, 40, RobustLoss::squared());
  EXPECT_LE(polished.error, mse_of(start, d));
  EXPECT_LT(polished.error, 1e-20);
  EXPECT_NEAR(kvel_core::fit::collect_consts(*polished.tree.root)[0], 2.5, 1e-9);
  EXPECT_EQ(polished.error, mse_of(polished.tree, d));
}

TEST(LmRefine, ErrorNeverRisesAcrossLossesAndTrees) {
  const Data d = make_data([](double v) { return std::exp(v) / (1.0 + v); });
  const char* trees[] = {"eml(x0, 1.0)", "eml(eml(0.5, x0), 2.0)", "eml(eml(x0, 1.5), eml(0.3, x0))"};
  const RobustLoss losses[] = {RobustLoss::squared(), RobustLoss::huber(0.1), RobustLoss::soft_trim(0.5)};
  for (const char* text : trees) {
    const EmlTree start = kvel_test::parse_tree(text);
    for (const RobustLoss loss : losses) {
      const auto polished = lm_refine(start, d.columns, d.y, 40, loss);
      // Only the squared loss promises a lower plain error.
      if (loss.kind == RobustLoss::Kind::Squared) {
        EXPECT_LE(polished.error, mse_of(start, d)) << text;
      }
      EXPECT_TRUE(std::isfinite(polished.error)) << text;
    }
  }
}

TEST(LmRefine, ZeroIterationsKeepTheConstantsInANewTree) {
  const Data d = make_data([](double v) { return std::exp(v); });
  const EmlTree start = kvel_test::parse_tree("eml(x0, 1.7)");
  const auto polished = lm_refine(start, d.columns, d.y, 0, RobustLoss::squared());
  EXPECT_NE(polished.tree.root, start.root);
  EXPECT_EQ(polished.tree.to_string(), start.to_string());
  EXPECT_EQ(polished.error, mse_of(start, d));
}

TEST(LmRefine, NoConstantsShareTheInput) {
  const Data d = make_data([](double v) { return std::exp(v); });
  const EmlTree plain = kvel_test::parse_tree("eml(x0, 1)");
  const auto a = lm_refine(plain, d.columns, d.y, 40, RobustLoss::squared());
  EXPECT_EQ(a.tree.root, plain.root);
  EXPECT_EQ(a.error, 0.0);

}

}  // namespace

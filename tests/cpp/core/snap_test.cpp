#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "core/fit.hpp"
#include "core/polish.hpp"
#include "helpers/eml_parse.hpp"

namespace {

using kvel_core::forest::FeedColumns;
using kvel_core::polish::snap_constants;
using kvel_core::polish::with_consts;
using tamrix::tree::EmlTree;

struct Data {
  xt::xtensor<double, 1> y;
  FeedColumns columns;
};

// 40 points of x0 in [0.5, 3]; y is the tree evaluated with `truth`.
Data data_for(const EmlTree& tree, const std::vector<double>& truth) {
  constexpr std::size_t n = 40;
  xt::xtensor<double, 2> x = xt::xtensor<double, 2>::from_shape({n, 1});
  for (std::size_t i = 0; i < n; ++i) x(i, 0) = 0.5 + 2.5 * static_cast<double>(i) / (n - 1);
  Data d{xt::xtensor<double, 1>::from_shape({n}), FeedColumns::from_matrix(x)};
  const auto prediction = kvel_core::forest::eval_tree(with_consts(tree, truth), d.columns);
  for (std::size_t i = 0; i < n; ++i) d.y(i) = (*prediction)[i];
  return d;
}

struct SnapRow {
  double fitted;
  double truth;     // the value the data were made with
  double expected;  // the constant after snapping
};

TEST(SnapConstants, SingleConstantRows) {
  const double pi = 3.141592653589793;
  const SnapRow rows[] = {
      {2.9996, 3.0, 3.0},
      {3.1420, pi, pi},
      {1.6, pi / 2, pi / 2},
      {0.5, 0.5, 0.5},                   // every candidate equals it
      {2.9996, 2.9996, 2.9996},          // exact data: snapping to 3 costs too much
      {1000000.0004, 1e6, 1e6},
      {1000001.0004, 1000001.0004, 1000001.0004},
  };
  const EmlTree tree = kvel_test::parse_tree("eml(x0, 2.0)");
  for (const SnapRow& row : rows) {
    const Data d = data_for(tree, {row.truth});
    const EmlTree fitted = with_consts(tree, std::vector<double>{row.fitted});
    const auto snapped = snap_constants(fitted, d.columns, d.y, 0.02);
    const std::vector<double> consts = kvel_core::fit::collect_consts(*snapped.tree.root);
    EXPECT_EQ(consts[0], row.expected) << row.fitted;
    if (row.expected == row.fitted) {
      EXPECT_EQ(snapped.tree.root, fitted.root) << row.fitted;
    }
    EXPECT_TRUE(std::isfinite(snapped.error));
  }
}

TEST(SnapConstants, LaterConstantsSeeEarlierSnapsAndTheFirstThreshold) {
  // c0 dominates the base error; once it is snapped, snapping c1 raises the
  // error from 0 to about 6e-11: allowed by the threshold taken before any
  // snap, refused by one taken afterwards.
  const EmlTree tree = kvel_test::parse_tree("eml(x0, eml(2.0, 2.0))");
  const Data d = data_for(tree, {3.0, 2.0003});
  const EmlTree fitted = with_consts(tree, std::vector<double>{2.9996, 2.0003});
  const auto snapped = snap_constants(fitted, d.columns, d.y, 0.02);
  EXPECT_EQ(kvel_core::fit::collect_consts(*snapped.tree.root), (std::vector<double>{3.0, 2.0}));
  EXPECT_GT(snapped.error, 1e-12);
  EXPECT_LT(snapped.error, 1e-9);
}

TEST(SnapConstants, NoConstantsShareTheInput) {
  const EmlTree plain = kvel_test::parse_tree("eml(x0, 1)");
  const Data d = data_for(plain, {});
  const auto a = snap_constants(plain, d.columns, d.y, 0.02);
  EXPECT_EQ(a.tree.root, plain.root);
  EXPECT_EQ(a.error, 0.0);
}

}  // namespace

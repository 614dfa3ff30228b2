#include "core/discoverer.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>

#include "helpers/grid_data.hpp"

namespace {

using kvel_core::dataset::DataSet;
using kvel_core::discoverer::Discoverer;

using kvel_test::grid_data;

TEST(Discoverer, DepthIsClampedToOneThroughThree) {
  const std::pair<std::size_t, std::size_t> rows[] = {{0, 6}, {1, 6}, {2, 38}, {3, 512}, {4, 512}, {99, 512}};
  for (const auto& [depth, count] : rows)
    EXPECT_EQ(kvel_core::discoverer::search_topologies(depth, 1).size(), count) << depth;
}

TEST(Discoverer, WideDataStopsAtTheFirst512) {
  const auto topologies = kvel_core::discoverer::search_topologies(3, 30);
  EXPECT_EQ(topologies.size(), 512u);
}

TEST(Discoverer, LnOfX0LiesBeyondTheCap) {
  // eml(1, eml(eml(1, x0), 1)) = ln(x0) comes after the 512th distinct tree.
  for (const auto& tree : kvel_core::discoverer::search_topologies(3, 1))
    EXPECT_NE(tree.to_string(), "eml(1, eml(eml(1, x0), 1))");
}

TEST(Discoverer, EmptyDataSet) {
  auto data = DataSet::from_arrays(xt::xtensor<double, 2>::from_shape({0, 1}), xt::xtensor<double, 1>::from_shape({0}));
  auto result = Discoverer{}.fit(*data);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().display(), "shape mismatch: empty dataset");
}

TEST(Discoverer, NotConvergedWhenNothingScores) {
  DataSet data = grid_data(5, [](double) { return std::nan(""); });
  auto result = Discoverer{}.fit(data);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().display(), "not converged: no finite-scoring candidate expression found");
}

TEST(Discoverer, RecoversExpExactly) {
  DataSet data = grid_data(50, [](double v) { return std::exp(v); });
  Discoverer config;
  config.max_depth = 1;
  auto result = config.fit(data);
  ASSERT_TRUE(result.has_value());
  const auto* best = result->best();
  ASSERT_NE(best, nullptr);
  EXPECT_EQ(best->mse, 0.0);
  EXPECT_EQ(best->pretty(), "eml(x0, 1)");
  EXPECT_EQ(best->latex(), "e^{x_{0}}");
}

TEST(Discoverer, EqualErrorsKeepTopologyOrderAndMseDividesByRows) {
  // y = 1: the leaf 1 is exact, and eval_one divides by the row count.
  DataSet data = grid_data(4, [](double) { return 1.0; });
  xt::xtensor<double, 1> y = data.y;
  const auto columns = kvel_core::forest::FeedColumns::from_matrix(data.x);
  auto scored = kvel_core::discoverer::eval_one(tamrix::tree::EmlTree::from_node(tamrix::tree::EmlNode::one()),
                                                columns, y);
  ASSERT_TRUE(scored.has_value());
  EXPECT_EQ(scored->first, 0.0);
  y(0) = 3.0;  // one row off by 2: (2^2) / 4
  scored = kvel_core::discoverer::eval_one(tamrix::tree::EmlTree::from_node(tamrix::tree::EmlNode::one()),
                                           columns, y);
  EXPECT_EQ(scored->first, 1.0);
}

TEST(Discoverer, FrontIsTheSameForEveryRefinementThreadCount) {
  // Two columns, so that fits of different lengths and outcomes interleave.
  xt::xtensor<double, 2> x = xt::xtensor<double, 2>::from_shape({40, 2});
  xt::xtensor<double, 1> y = xt::xtensor<double, 1>::from_shape({40});
  for (std::size_t i = 0; i < 40; ++i) {
    x(i, 0) = 0.5 + 0.05 * static_cast<double>(i);
    x(i, 1) = 2.5 - 0.04 * static_cast<double>(i);
    y(i) = std::exp(x(i, 0)) + 2.0 * std::log(x(i, 1));
  }
  const DataSet data = std::move(DataSet::from_arrays(std::move(x), std::move(y))).value();
  Discoverer config;
  config.max_epochs = 60;
  const auto one = config.fit(data, kvel_core::cancel::never(), 1);
  ASSERT_TRUE(one.has_value());
  ASSERT_GT(one->size(), 1u);
  for (const std::size_t threads : {2u, 3u, 7u, 24u, 100u}) {
    const auto several = config.fit(data, kvel_core::cancel::never(), threads);
    ASSERT_TRUE(several.has_value());
    ASSERT_EQ(several->size(), one->size()) << threads;
    for (std::size_t i = 0; i < one->size(); ++i) {
      const auto& a = one->members()[i];
      const auto& b = several->members()[i];
      EXPECT_EQ(b.tree.to_string(), a.tree.to_string()) << threads;
      EXPECT_EQ(std::bit_cast<std::uint64_t>(b.mse), std::bit_cast<std::uint64_t>(a.mse)) << threads;
      EXPECT_EQ(b.complexity, a.complexity) << threads;
    }
  }
}

}  // namespace

#include "core/forest.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "helpers/eml_parse.hpp"

namespace {

using kvel_core::error::KvelError;
using kvel_core::forest::eval_tree;

xt::xtensor<double, 2> column(std::initializer_list<double> values) {
  xt::xtensor<double, 2> x = xt::xtensor<double, 2>::from_shape({values.size(), 1});
  std::size_t i = 0;
  for (double v : values) x(i++, 0) = v;
  return x;
}

TEST(EvalTree, GuardedValues) {
  const double e = std::exp(1.0);
  struct Row {
    const char* tree;
    double x0;
    double want;
  };
  const Row rows[] = {
      {"1", 7.0, 1.0},
      {"2.5", 7.0, 2.5},
      {"x0", -4.0, -4.0},
      {"eml(x0, 1)", 1.5, std::exp(1.5)},
      {"eml(x0, 1)", 100.0, std::exp(50.0)},       // exp's argument is clipped to 50
      {"eml(x0, 1)", -100.0, std::exp(-50.0)},
      {"eml(1, x0)", 0.0, e - std::log(1e-12)},     // ln's argument is clipped to 1e-12
      {"eml(1, x0)", -3.0, e - std::log(1e-12)},
      {"eml(1, x0)", 2.0, e - std::log(2.0)},
      {"eml(x0, x0)", 2.0, std::exp(2.0) - std::log(2.0)},
      // Evaluated as built, not simplified to ln(x0).
      {"eml(1, eml(eml(1, x0), 1))", 2.0, e - std::log(std::exp(e - std::log(2.0)) - std::log(1.0))},
  };
  for (const Row& row : rows) {
    auto result = eval_tree(kvel_test::parse_tree(row.tree), column({row.x0, row.x0}));
    ASSERT_TRUE(result.has_value()) << row.tree << ": " << result.error().display();
    ASSERT_EQ(result->size(), 2u);
    EXPECT_EQ((*result)[0], row.want) << row.tree << " at " << row.x0;
    EXPECT_EQ((*result)[1], row.want) << row.tree;
  }
}

TEST(EvalTree, NaNClipsToTheUpperBound) {
  // clip maps NaN to its upper bound: exp(50) - ln(1) for eml(x0, 1).
  auto result = eval_tree(kvel_test::parse_tree("eml(x0, 1)"), column({std::nan("")}));
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ((*result)[0], std::exp(50.0));
}

TEST(EvalTree, NonFiniteDataIsANumericalInstability) {
  for (double bad : {std::nan(""), double(INFINITY), -double(INFINITY)}) {
    auto result = eval_tree(kvel_test::parse_tree("x0"), column({1.0, bad}));
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().display(), "numerical instability: forward pass produced non-finite values");
  }
}

TEST(EvalTree, VariableOutOfRangeIsFatal) {
  EXPECT_THROW(eval_tree(kvel_test::parse_tree("eml(x1, 1)"), column({1.0})), kvel_support::FatalError);
}

TEST(EvalTree, ColumnNamesAreInternedAndStable) {
  const std::string* five = &kvel_core::forest::col_placeholder_name(5);
  EXPECT_EQ(*five, "kvel_x5");
  const std::string& two = kvel_core::forest::col_placeholder_name(2);
  EXPECT_EQ(two, "kvel_x2");
  for (std::size_t j = 0; j < 1000; ++j) kvel_core::forest::col_placeholder_name(j);
  EXPECT_EQ(five, &kvel_core::forest::col_placeholder_name(5));  // never moves
  EXPECT_EQ(*five, "kvel_x5");
}

}  // namespace

#include "autograd/shape_helpers.hpp"

#include <gtest/gtest.h>

#include "op_test_util.hpp"

namespace {

namespace sh = gradix_autograd::shape_helpers;
using gradix_autograd::Array;
using gradix_autograd::ArrayShape;
using S = std::vector<std::size_t>;

TEST(ShapeHelpers, FormatAndBroadcastRules) {
  EXPECT_EQ(sh::format_shape(S{}), "[]");
  EXPECT_EQ(sh::format_shape(S{2, 3}), "[2, 3]");
  const struct {
    S a, b;
    bool a_to_b;
    std::optional<S> co;
  } rows[] = {
      {{3}, {2, 3}, true, S{2, 3}},   {{2, 3}, {3}, false, S{2, 3}},      {{2, 1}, {1, 3}, false, S{2, 3}},
      {{1}, {0}, true, S{0}},         {{0}, {3}, false, std::nullopt},     {{}, {4, 5}, true, S{4, 5}},
      {{2}, {3}, false, std::nullopt}, {{1, 3}, {2, 3}, true, S{2, 3}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(sh::broadcasts_to(row.a, row.b), row.a_to_b) << sh::format_shape(row.a) << sh::format_shape(row.b);
    const auto co = sh::co_broadcast_shape(row.a, row.b);
    ASSERT_EQ(co.has_value(), row.co.has_value());
    if (co) {
      EXPECT_EQ(S(co->begin(), co->end()), *row.co);
    }
  }
}

// The odometer against direct index arithmetic, both operands stretched.
TEST(ShapeHelpers, ZipBroadcastOverThreeAxes) {
  Array a(ArrayShape{2, 1, 3});
  Array b(ArrayShape{4, 1});
  for (std::size_t i = 0; i < a.size(); ++i) a.data()[i] = static_cast<double>(i);
  for (std::size_t i = 0; i < b.size(); ++i) b.data()[i] = 100.0 * static_cast<double>(i);
  const Array out = sh::co_broadcast_zip(a, b, [](double x, double y) { return x + y; });
  ASSERT_EQ(S(out.shape().begin(), out.shape().end()), (S{2, 4, 3}));
  for (std::size_t i = 0; i < 2; ++i)
    for (std::size_t j = 0; j < 4; ++j)
      for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(out.data()[(i * 4 + j) * 3 + k], a.data()[i * 3 + k] + b.data()[j]);
}

TEST(ShapeHelpers, SumAlongAnAxisKeepsIt) {
  const Array x = gradix_test::make({2, 3}, {1, 2, 3, 4, 5, 6});
  EXPECT_TRUE(gradix_test::same_array(sh::sum_axis_keep(x, 0), gradix_test::make({1, 3}, {5, 7, 9})));
  EXPECT_TRUE(gradix_test::same_array(sh::sum_axis_keep(x, 1), gradix_test::make({2, 1}, {6, 15})));
  EXPECT_FALSE(sh::reshaped(x, S{4}).has_value());
}

}  // namespace

// The three conversions of argument elements and their boundaries.
#include "autograd/element_conversions.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "autograd/shape_helpers.hpp"
#include "op_test_util.hpp"

namespace {

using gradix_autograd::conversions::to_signed;
using gradix_autograd::conversions::to_size;
using gradix_autograd::shape_helpers::size_or_zero;
using gradix_test::fatal_message;

constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

TEST(ElementConversions, Sizes) {
  struct Row {
    double v;
    std::size_t lenient;
    bool strict_ok;
  };
  const Row rows[] = {
      {2.9, 2, true},  {-0.5, 0, true},       {-1.0, 0, false},  {-7.0, 0, false},
      {NAN, 0, false}, {kTwoTo64, 0, false}, {kTwoTo63, std::size_t{1} << 63, true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(size_or_zero(row.v), row.lenient) << row.v;
    if (row.strict_ok) {
      EXPECT_EQ(to_size(row.v, "bad"), row.lenient) << row.v;
    } else {
      EXPECT_EQ(fatal_message([&] { to_size(row.v, "bad"); }), "bad") << row.v;
    }
  }
}

TEST(ElementConversions, SignedAxes) {
  EXPECT_EQ(to_signed(-1.9, "bad"), -1);
  EXPECT_EQ(to_signed(1.9, "bad"), 1);
  EXPECT_EQ(to_signed(-kTwoTo63, "bad"), INT64_MIN);
  EXPECT_EQ(fatal_message([] { to_signed(kTwoTo63, "bad"); }), "bad");
  EXPECT_EQ(fatal_message([] { to_signed(NAN, "bad"); }), "bad");
  EXPECT_EQ(fatal_message([] { to_signed(-INFINITY, "bad"); }), "bad");
}

}  // namespace

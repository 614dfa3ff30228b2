#include "expression/symreg/constants.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

namespace c = tamrix::symreg::constants;

TEST(NamedConstants, SnapTable) {
  const std::pair<double, int> rows[] = {
      {3.14, 0},  {-3.1, 3},  {2.7, 1},    {1.6, 11},   {1.62, 14},      {0.0, 17},      {1.0, 17},
      {100.0, 17}, {0.7, 15}, {0.75, 17},  {NAN, 17},   {INFINITY, 17},  {-INFINITY, 17},
  };
  for (const auto& [x, want] : rows) EXPECT_EQ(c::snap_to_named_const(x), want) << x;
}

TEST(NamedConstants, EveryValueSnapsBackToItsOwnIndex) {
  for (c::NamedConst i = 0; i < 17; ++i) EXPECT_EQ(c::snap_to_named_const(c::named_const_value(i)), i);
}

TEST(NamedConstants, CandidateOrderAndSquareOfE) {
  const auto candidates = c::named_const_candidates();
  const int order[] = {0, 3, 1, 4, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
  for (int i = 0; i < 17; ++i) {
    EXPECT_EQ(candidates[i].second, order[i]);
    EXPECT_EQ(candidates[i].first, c::named_const_value(candidates[i].second));
  }
  EXPECT_EQ(c::named_const_value(13), 7.3890560989306495);
  EXPECT_NE(c::named_const_value(13), std::exp(2.0));
}

}  // namespace

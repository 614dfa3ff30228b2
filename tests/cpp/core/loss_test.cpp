#include "core/loss.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using kvel_core::loss::RobustLoss;

struct WeightRow {
  RobustLoss loss;
  double r;
  std::vector<double> residuals;
  double expected;
};

TEST(IrlsWeight, Rows) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<double> ramp = {1, 2, 3, 4, 5};
  const double half = std::sqrt(0.5);
  const WeightRow rows[] = {
      {RobustLoss::squared(), 123.0, ramp, 1.0},
      {RobustLoss::huber(2.0), 1.0, ramp, 1.0},
      {RobustLoss::huber(2.0), -4.0, ramp, half},
      {RobustLoss::huber(2.0), 0.0, ramp, 1.0},
      {RobustLoss::huber(0.0), 0.0, ramp, 1.0},
      // q = 0.5 over 1..5: k = round(4 * 0.5) = 2, so t = 3.
      {RobustLoss::soft_trim(0.5), 3.0, ramp, half},
      {RobustLoss::soft_trim(0.5), -3.0, ramp, half},
      // q clamps to [0, 1]: q >= 1 picks the smallest magnitude, q <= 0 the largest.
      {RobustLoss::soft_trim(7.0), 1.0, ramp, half},
      {RobustLoss::soft_trim(-1.0), 5.0, ramp, half},
      // A NaN quantile gives a NaN position, which indexes the first entry.
      {RobustLoss::soft_trim(nan), 1.0, ramp, half},
      {RobustLoss::soft_trim(0.5), 9.0, {}, 1.0},
      // A NaN residual ranks above every number: k = round(5 * 0.5) = 3, t = 4.
      {RobustLoss::soft_trim(0.5), 4.0, {nan, 1, 2, 3, 4, 5}, half},
      // Any tag above Huber trims.
      {RobustLoss{static_cast<RobustLoss::Kind>(9), 0.5}, 3.0, ramp, half},
  };
  for (const WeightRow& row : rows) {
    EXPECT_DOUBLE_EQ(RobustLoss::irls_weight(row.loss, row.r, row.residuals), row.expected)
        << static_cast<int>(row.loss.kind) << " q/c=" << row.loss.param << " r=" << row.r;
  }
}

TEST(IrlsWeight, SoftTrimFallsWithMagnitudeAndBatchAgrees) {
  const std::vector<double> residuals = {1, -2, 3, 4, -5};
  const RobustLoss loss = RobustLoss::soft_trim(0.5);
  const std::vector<double> batch = RobustLoss::irls_weights(loss, residuals);
  ASSERT_EQ(batch.size(), residuals.size());
  for (std::size_t i = 0; i < residuals.size(); ++i)
    EXPECT_EQ(batch[i], RobustLoss::irls_weight(loss, residuals[i], residuals));
  EXPECT_GT(batch[2], batch[3]);
  EXPECT_GT(batch[3], batch[4]);
}

TEST(IrlsWeight, NegativeWeightIsClampedToZero) {
  // A negative threshold gives a negative weight, clamped to 0.
  EXPECT_EQ(RobustLoss::irls_weight(RobustLoss::huber(-1.0), 2.0, std::vector<double>{2.0}), 0.0);
}

}  // namespace

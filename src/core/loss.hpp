#pragma once
// Robust losses for iteratively reweighted least squares: the weight each
// loss gives a residual, as the square root that scales a residual row.

#include <cstdint>
#include <span>
#include <vector>

namespace kvel_core::loss {

struct RobustLoss {
  // Any tag above Huber is treated as SoftTrim.
  enum class Kind : std::uint64_t { Squared = 0, Huber = 1, SoftTrim = 2 };

  Kind kind = Kind::Squared;
  double param = 0.0;  // Huber: threshold c; SoftTrim: quantile q

  static constexpr RobustLoss squared() { return {Kind::Squared, 0.0}; }
  static constexpr RobustLoss huber(double c) { return {Kind::Huber, c}; }
  static constexpr RobustLoss soft_trim(double q) { return {Kind::SoftTrim, q}; }

  // sqrt(clamp(w(r), 0, 1e6)); exactly 1 for Squared. SoftTrim reads the
  // whole residual list for its quantile threshold.
  static double irls_weight(RobustLoss loss, double r, std::span<const double> residuals);
  // irls_weight of every residual in order, the threshold found once.
  static std::vector<double> irls_weights(RobustLoss loss, std::span<const double> residuals);
};

}  // namespace kvel_core::loss

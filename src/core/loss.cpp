#include "core/loss.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace kvel_core::loss {
namespace {

constexpr double kMaxWeight = 1e6;

// A double to an index, saturating: NaN and negatives give 0, values past the
// range give the largest index (a plain cast would be undefined for these).
std::size_t saturating_index(double v) {
  if (!(v > 0.0)) return 0;
  constexpr double kLimit = static_cast<double>(std::numeric_limits<std::size_t>::max());
  if (v >= kLimit) return std::numeric_limits<std::size_t>::max();
  return static_cast<std::size_t>(v);
}

// The |residual| at quantile position round((count - 1) * (1 - q)) of the
// ascending magnitudes.
double trim_threshold(double q, std::span<const double> residuals) {
  std::vector<double> magnitudes;
  magnitudes.reserve(residuals.size());
  for (const double r : residuals) magnitudes.push_back(std::abs(r));
  // NaN magnitudes sort last; a plain < is no ordering once a NaN is present.
  std::sort(magnitudes.begin(), magnitudes.end(),
            [](double a, double b) { return a < b || (!std::isnan(a) && std::isnan(b)); });
  const double clamped = std::clamp(q, 0.0, 1.0);
  const double position = std::round(static_cast<double>(magnitudes.size() - 1) * (1.0 - clamped));
  const std::size_t k = std::min(saturating_index(position), magnitudes.size() - 1);
  return magnitudes[k];
}

bool uses_threshold(RobustLoss loss, std::span<const double> residuals) {
  return loss.kind != RobustLoss::Kind::Squared && loss.kind != RobustLoss::Kind::Huber && !residuals.empty();
}

// The weight before clamping; `t` is the trim threshold (SoftTrim only).
double weight(RobustLoss loss, double r, double t, bool have_residuals) {
  switch (loss.kind) {
    case RobustLoss::Kind::Squared:
      return 1.0;
    case RobustLoss::Kind::Huber: {
      const double a = std::abs(r);
      return (r == 0.0 || loss.param >= a) ? 1.0 : loss.param / a;
    }
    default:
      return have_residuals ? 1.0 / (1.0 + std::exp(3.0 * (std::abs(r) - t))) : 1.0;
  }
}

double root_of_clamped(double w) { return std::sqrt(std::clamp(w, 0.0, kMaxWeight)); }

}  // namespace

double RobustLoss::irls_weight(RobustLoss loss, double r, std::span<const double> residuals) {
  const double t = uses_threshold(loss, residuals) ? trim_threshold(loss.param, residuals) : 0.0;
  return root_of_clamped(weight(loss, r, t, !residuals.empty()));
}

std::vector<double> RobustLoss::irls_weights(RobustLoss loss, std::span<const double> residuals) {
  const double t = uses_threshold(loss, residuals) ? trim_threshold(loss.param, residuals) : 0.0;
  std::vector<double> roots;
  roots.reserve(residuals.size());
  for (const double r : residuals) roots.push_back(root_of_clamped(weight(loss, r, t, true)));
  return roots;
}

}  // namespace kvel_core::loss

// Levenberg–Marquardt polishing of a tree's constants.
#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "autograd/buffer_pool.hpp"
#include "core/fit.hpp"
#include "core/polish.hpp"
#include "core/trial_eval.hpp"

namespace kvel_core::polish {

using tamrix::tree::EmlTree;

namespace {

constexpr double kInitialDamping = 1e-3;
constexpr double kMinDamping = 1e-12;
constexpr double kMinDiagonal = 1e-12;
constexpr double kPivotFloor = 1e-14;
constexpr double kStepScale = 1e-6;
constexpr int kDampingTries = 12;

// Σ (r_i s_i)^2 over the paired entries.
double weighted_cost(std::span<const double> r, std::span<const double> s) {
  const std::size_t count = std::min(r.size(), s.size());
  double cost = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double v = r[i] * s[i];
    cost += v * v;
  }
  return cost;
}

}  // namespace

EmlTree with_consts(const EmlTree& tree, std::span<const double> values) {
  std::size_t position = 0;
  return EmlTree::from_node(fit::substitute_consts(*tree.root, values, position));
}

std::optional<std::vector<double>> residuals(std::span<const double> prediction, const xt::xtensor<double, 1>& y) {
  const std::size_t count = std::min(prediction.size(), y.size());
  std::vector<double> r;
  r.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (!std::isfinite(prediction[i])) return std::nullopt;
    r.push_back(prediction[i] - y(i));
  }
  return r;
}

std::optional<std::vector<double>> solve_dense(std::vector<std::vector<double>> a, std::vector<double> b) {
  const std::size_t n = b.size();
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t pivot = c;
    for (std::size_t g = c + 1; g < n; ++g) {
      if (std::abs(a[g][c]) > std::abs(a[pivot][c])) pivot = g;
    }
    // Written so that a NaN pivot is refused as well.
    if (!(std::abs(a[pivot][c]) >= kPivotFloor)) return std::nullopt;
    std::swap(a[c], a[pivot]);
    std::swap(b[c], b[pivot]);
    for (std::size_t r = c + 1; r < n; ++r) {
      const double f = a[r][c] / a[c][c];
      for (std::size_t k = c; k < n; ++k) a[r][k] -= f * a[c][k];
      b[r] -= f * b[c];
    }
  }
  std::vector<double> x(n, 0.0);
  for (std::size_t i = n; i-- > 0;) {
    double sum = b[i];
    for (std::size_t j = i + 1; j < n; ++j) sum -= a[i][j] * x[j];
    x[i] = sum / a[i][i];
    if (!std::isfinite(x[i])) return std::nullopt;
  }
  return x;
}

Polished lm_refine(const EmlTree& tree, const forest::FeedColumns& columns, const xt::xtensor<double, 1>& y,
                   std::size_t iterations, loss::RobustLoss loss, const cancel::CancelToken& cancel) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const gradix_autograd::buffer_pool::BufferScope buffers;
  std::vector<double> p = fit::collect_consts(*tree.root);
  const std::size_t n = p.size();
  if (n == 0) {
    auto prediction = forest::eval_tree(tree, columns);
    if (!prediction) return {tree, kInf};
    return {tree, fit::mean_squared_error(*prediction, y)};
  }

  // Every trial evaluates the same tree at other constants.
  TrialEvaluator trials(tree, columns);
  std::optional<forest::Prediction> start = trials.predict(p);
  if (!start) return {tree, kInf};
  std::optional<std::vector<double>> start_r = residuals(*start, y);
  if (!start_r) return {tree, kInf};
  forest::Prediction prediction = std::move(*start);
  std::vector<double> r = std::move(*start_r);
  const std::size_t m = prediction.size();

  double lambda = kInitialDamping;
  std::vector<std::vector<double>> jacobian(n, std::vector<double>(m));  // one column per parameter
  std::vector<std::vector<double>> normal(n, std::vector<double>(n));
  std::vector<double> neg_gradient(n);
  std::vector<double> trial(n);

  for (std::size_t iteration = 0; iteration < iterations; ++iteration) {
    cancel.check();
    const std::vector<double> s = loss::RobustLoss::irls_weights(loss, r);
    const double cost = weighted_cost(r, s);

    bool jacobian_ok = true;
    for (std::size_t j = 0; j < n; ++j) {
      const double h = (std::abs(p[j]) + 1.0) * kStepScale;
      trial = p;
      trial[j] = p[j] + h;
      const std::optional<forest::Prediction> shifted = trials.predict(trial);
      if (!shifted) {
        jacobian_ok = false;
        break;
      }
      for (std::size_t i = 0; i < m; ++i) jacobian[j][i] = ((*shifted)[i] - prediction[i]) / h;
    }
    if (!jacobian_ok) break;

    const std::size_t rows = std::min(r.size(), s.size());
    for (std::size_t k = 0; k < n; ++k) {
      double g = 0.0;
      for (std::size_t i = 0; i < rows; ++i) g += s[i] * s[i] * jacobian[k][i] * r[i];
      neg_gradient[k] = -g;
      for (std::size_t l = k; l < n; ++l) {
        double sum = 0.0;
        for (std::size_t i = 0; i < rows; ++i) sum += s[i] * s[i] * jacobian[k][i] * jacobian[l][i];
        normal[k][l] = sum;
        normal[l][k] = sum;
      }
    }

    bool accepted = false;
    for (int attempt = 0; attempt < kDampingTries && !accepted; ++attempt) {
      std::vector<std::vector<double>> damped = normal;
      for (std::size_t k = 0; k < n; ++k) damped[k][k] += std::max(normal[k][k], kMinDiagonal) * lambda;
      const std::optional<std::vector<double>> delta = solve_dense(std::move(damped), neg_gradient);
      if (delta) {
        for (std::size_t k = 0; k < n; ++k) trial[k] = p[k] + (*delta)[k];
        std::optional<forest::Prediction> next = trials.predict(trial);
        std::optional<std::vector<double>> next_r = next ? residuals(*next, y) : std::nullopt;
        if (next_r && cost > weighted_cost(*next_r, s)) {
          p = trial;
          prediction = std::move(*next);
          r = std::move(*next_r);
          lambda = std::max(lambda * 0.5, kMinDamping);
          accepted = true;
          continue;
        }
      }
      lambda *= 4.0;
    }
    if (!accepted) break;
  }

  return {with_consts(tree, p), fit::mean_squared_error(prediction, y)};
}

}  // namespace kvel_core::polish

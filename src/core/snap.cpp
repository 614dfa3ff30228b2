// Snapping fitted constants to integers, named constants and simple fractions.
#include <array>
#include <cmath>
#include <limits>

#include "autograd/buffer_pool.hpp"
#include "core/fit.hpp"
#include "core/polish.hpp"
#include "core/trial_eval.hpp"
#include "expression/symreg/constants.hpp"

namespace kvel_core::polish {

using tamrix::tree::EmlTree;
namespace constants = tamrix::symreg::constants;

namespace {

constexpr double kCloseEnough = 0.001;
constexpr double kMaxInteger = 1e6;
constexpr double kMaxFraction = 12.0;
constexpr double kThresholdSlack = 1e-12;

// At most: one integer, one named constant, four fractions.
struct Candidates {
  std::array<double, 6> values{};
  std::size_t count = 0;
  void add(double v) { values[count++] = v; }
};

// Integer, then named constant, then halves, thirds, quarters and sixths.
Candidates candidates_for(double c) {
  Candidates out;
  const double integer = std::round(c);
  if (std::abs(integer) <= kMaxInteger && std::abs(c - integer) < kCloseEnough) out.add(integer);
  const constants::NamedConst named = constants::snap_to_named_const(c);
  if (named != constants::kNoNamedConst) out.add(constants::named_const_value(named));
  const std::array<double, 4> fractions = {
      std::round(c * 2.0) * 0.5,
      std::round(c * 3.0) / 3.0,
      std::round(c * 4.0) * 0.25,
      std::round(c * 6.0) / 6.0,
  };
  for (const double v : fractions) {
    if (std::abs(v) <= kMaxFraction && std::abs(c - v) < kCloseEnough) out.add(v);
  }
  return out;
}

std::optional<double> error_with(TrialEvaluator& trials, std::span<const double> values,
                                 const xt::xtensor<double, 1>& y) {
  const std::optional<forest::Prediction> prediction = trials.predict(values);
  if (!prediction) return std::nullopt;
  return fit::mean_squared_error(*prediction, y);
}

}  // namespace

Polished snap_constants(const EmlTree& tree, const forest::FeedColumns& columns, const xt::xtensor<double, 1>& y,
                        double tolerance, const cancel::CancelToken& cancel) {
  const gradix_autograd::buffer_pool::BufferScope buffers;
  std::vector<double> working = fit::collect_consts(*tree.root);
  auto prediction = forest::eval_tree(tree, columns);
  if (!prediction) return {tree, std::numeric_limits<double>::infinity()};
  const double base = fit::mean_squared_error(*prediction, y);
  if (working.empty()) return {tree, base};
  const double threshold = (1.0 + tolerance) * base + kThresholdSlack;

  // Every candidate evaluates the same tree at other constants.
  TrialEvaluator trials(tree, columns);
  bool snapped = false;
  std::vector<double> trial;
  for (std::size_t k = 0; k < working.size(); ++k) {
    cancel.check();
    const double c = working[k];
    const Candidates candidates = candidates_for(c);
    for (std::size_t i = 0; i < candidates.count; ++i) {
      const double v = candidates.values[i];
      if (v == c) continue;
      trial = working;
      trial[k] = v;
      const std::optional<double> error = error_with(trials, trial, y);
      if (error && *error <= threshold) {
        working.swap(trial);
        snapped = true;
        break;
      }
    }
  }
  if (!snapped) return {tree, base};

  EmlTree result = with_consts(tree, working);
  auto final_prediction = forest::eval_tree(result, columns);
  const double error = final_prediction ? fit::mean_squared_error(*final_prediction, y) : base;
  return {std::move(result), error};
}

}  // namespace kvel_core::polish

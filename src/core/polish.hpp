#pragma once
// Polishing a fitted tree's constants: Levenberg–Marquardt steps on a
// forward-difference Jacobian, then snapping to simple nearby values.
// Neither fails: every failure falls back to the best state reached.

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "core/cancel.hpp"
#include "core/forest.hpp"
#include "core/loss.hpp"
#include "expression/tree.hpp"
#include "support/xtensor.hpp"

namespace kvel_core::polish {

struct Polished {
  tamrix::tree::EmlTree tree;
  double error = 0.0;  // plain mean squared error; +inf when unevaluable
};

// A new tree: `tree` with its Const leaves set to `values` in leaf order.
tamrix::tree::EmlTree with_consts(const tamrix::tree::EmlTree& tree, std::span<const double> values);

// prediction_i - y_i over the rows both have, or nothing if a prediction
// entry is not finite.
std::optional<std::vector<double>> residuals(std::span<const double> prediction, const xt::xtensor<double, 1>& y);

// Solves A x = b (A square, as rows) by Gaussian elimination with partial
// pivoting. Nothing for a pivot below 1e-14 or a non-finite solution.
std::optional<std::vector<double>> solve_dense(std::vector<std::vector<double>> a, std::vector<double> b);

// At most `iterations` damped Gauss-Newton steps on the constants, each
// accepted only if it strictly lowers the weighted cost.
Polished lm_refine(const tamrix::tree::EmlTree& tree, const forest::FeedColumns& columns,
                   const xt::xtensor<double, 1>& y, std::size_t iterations, loss::RobustLoss loss,
                   const cancel::CancelToken& cancel = cancel::never());

// Replaces constants, in leaf order, by a nearby integer, named constant or
// simple fraction when the error stays within (1 + tolerance) * base + 1e-12.
Polished snap_constants(const tamrix::tree::EmlTree& tree, const forest::FeedColumns& columns,
                        const xt::xtensor<double, 1>& y, double tolerance,
                        const cancel::CancelToken& cancel = cancel::never());

}  // namespace kvel_core::polish

#pragma once
// Scoring a candidate as the formula it shows.
//
// The search scores, fits and polishes through the guarded eml
// exp(clip(a, -50, 50)) - ln(clip(b, 1e-12, max)), but a solution shows,
// renders and generates code for the plain exp(a) - ln(b). Before the front
// is built every candidate is evaluated the way its generated code computes
// it, so the error a solution reports is the error of what it shows. Where no
// guard acts on the data both evaluations agree bit for bit.

#include <optional>
#include <vector>

#include "core/cancel.hpp"
#include "core/forest.hpp"
#include "core/solution.hpp"
#include "expression/tree.hpp"
#include "support/xtensor.hpp"

namespace kvel_core::shown {

// exp(left) - ln(right) at every node, row by row, with std::exp and
// std::log: nothing when a value on any row is not finite. A variable past
// the columns is a fatal error.
std::optional<forest::Prediction> eval_shown(const tamrix::tree::EmlTree& tree, const forest::FeedColumns& data);

// Keeps, in order, the candidates whose shown formula is finite on every row
// and whose mean squared error is finite, each with that error. `cancel` is
// asked before each candidate.
std::vector<solution::Solution> score_as_shown(std::vector<solution::Solution> candidates,
                                               const forest::FeedColumns& data, const xt::xtensor<double, 1>& y,
                                               const cancel::CancelToken& cancel = cancel::never());

}  // namespace kvel_core::shown

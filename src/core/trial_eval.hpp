#pragma once
// Evaluating one tree at many values of its constants, as polishing and
// snapping do: the forward pass is built once, the constants are variables of
// its own environment, and what no constant reaches is computed once. Each
// prediction equals forest::eval_tree of the tree with those constants put in.

#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "autograd/evaluation.hpp"
#include "autograd/graph.hpp"
#include "core/forest.hpp"
#include "expression/tree.hpp"

namespace kvel_core::polish {

class TrialEvaluator {
 public:
  TrialEvaluator(const tamrix::tree::EmlTree& tree, const forest::FeedColumns& data);
  TrialEvaluator(const TrialEvaluator&) = delete;
  TrialEvaluator& operator=(const TrialEvaluator&) = delete;

  // The prediction with the tree's constants set to `values` in leaf order
  // (one value per constant; fatal when there are fewer), or nothing where
  // eval_tree of that tree would fail.
  std::optional<forest::Prediction> predict(std::span<const double> values);

 private:
  gradix_autograd::variable::VariableEnvironment env_;
  gradix_autograd::graph::Context ctx_;
  std::vector<gradix_autograd::variable::VariableID> params_;
  std::optional<gradix_autograd::evaluation::RepeatedEvaluation> evaluation_;
};

}  // namespace kvel_core::polish

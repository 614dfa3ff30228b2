#include "core/shown.hpp"

#include <cmath>
#include <string>

#include "core/fit.hpp"
#include "support/panic.hpp"

namespace kvel_core::shown {
namespace {

using tamrix::tree::EmlNode;

// The node's value on every row, written into `out` (resized to the rows).
void eval_into(const EmlNode& node, const forest::FeedColumns& data, std::vector<double>& out) {
  const std::size_t rows = data.rows();
  switch (node.kind) {
    case EmlNode::Kind::One:
      out.assign(rows, 1.0);
      return;
    case EmlNode::Kind::Const:
      out.assign(rows, node.value);
      return;
    case EmlNode::Kind::Var: {
      if (node.index >= data.columns.size())
        kvel_support::panic("index out of bounds: the len is " + std::to_string(data.columns.size()) +
                            " but the index is " + std::to_string(node.index));
      const auto& column = data.columns[node.index];
      out.assign(column.begin(), column.end());
      return;
    }
    case EmlNode::Kind::Eml: {
      eval_into(*node.left, data, out);
      std::vector<double> right;
      eval_into(*node.right, data, right);
      for (std::size_t i = 0; i < rows; ++i) out[i] = std::exp(out[i]) - std::log(right[i]);
      return;
    }
  }
  kvel_support::panic("unknown EML node kind");
}

}  // namespace

std::optional<forest::Prediction> eval_shown(const tamrix::tree::EmlTree& tree, const forest::FeedColumns& data) {
  forest::Prediction values;
  eval_into(*tree.root, data, values);
  for (const double v : values)
    if (!std::isfinite(v)) return std::nullopt;
  return values;
}

std::vector<solution::Solution> score_as_shown(std::vector<solution::Solution> candidates,
                                               const forest::FeedColumns& data, const xt::xtensor<double, 1>& y,
                                               const cancel::CancelToken& cancel) {
  std::vector<solution::Solution> kept;
  kept.reserve(candidates.size());
  for (solution::Solution& candidate : candidates) {
    cancel.check();
    const std::optional<forest::Prediction> prediction = eval_shown(candidate.tree, data);
    if (!prediction) continue;
    candidate.mse = fit::mean_squared_error(*prediction, y);
    if (!std::isfinite(candidate.mse)) continue;
    kept.push_back(std::move(candidate));
  }
  return kept;
}

}  // namespace kvel_core::shown

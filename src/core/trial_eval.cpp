#include "core/trial_eval.hpp"

#include <cmath>
#include <string>

#include "core/fit.hpp"
#include "core/out_of_memory.hpp"
#include "support/panic.hpp"

namespace kvel_core::polish {

using gradix_autograd::Array;
using gradix_autograd::tensor::Tensor;

namespace {
// Room for the forward pass of a depth-3 tree, as a scoring graph has.
constexpr std::size_t kReservedNodes = 512;
}  // namespace

TrialEvaluator::TrialEvaluator(const tamrix::tree::EmlTree& tree, const forest::FeedColumns& data)
    : ctx_(env_, kReservedNodes) {
  // Constant k is the variable c{k}, a one-element array; as in training,
  // the leaf is c{k} * ones, whose every entry is the constant itself, as
  // the scoring graph's c * ones is.
  const std::vector<double> initial = fit::collect_consts(*tree.root);
  std::vector<Tensor> variables;
  for (std::size_t k = 0; k < initial.size(); ++k) {
    params_.push_back(env_.name("c" + std::to_string(k)).set(xt::xtensor<double, 1>{initial[k]}));
    variables.push_back(ctx_.variable_by_id(params_.back()));
  }
  std::vector<Tensor> columns;
  const Tensor ones = forest::make_placeholders(ctx_, data.columns.size(), columns);
  std::size_t position = 0;
  const Tensor prediction = fit::build_param(*tree.root, columns, ones, variables, position);

  std::vector<gradix_autograd::evaluation::RepeatedEvaluation::FeedById> feeds;
  for (std::size_t j = 0; j < columns.size(); ++j) feeds.emplace_back(columns[j].id(), &data.columns[j]);
  feeds.emplace_back(ones.id(), &data.ones);
  evaluation_.emplace(ctx_, std::vector<Tensor>{prediction}, feeds);
}

std::optional<forest::Prediction> TrialEvaluator::predict(std::span<const double> values) {
  for (std::size_t k = 0; k < params_.size(); ++k) {
    if (k >= values.size())
      kvel_support::panic("index out of bounds: the len is " + std::to_string(values.size()) + " but the index is " +
                          std::to_string(k));
    env_.write(params_[k])->data()[0] = values[k];
  }
  const std::vector<gradix_autograd::evaluation::EvalResult> results = evaluation_->run();
  if (results.empty()) return std::nullopt;
  if (!results.front()) {
    throw_if_out_of_memory(results.front().error());
    return std::nullopt;
  }
  const Array& result = *results.front();
  forest::Prediction out(result.begin(), result.end());
  for (const double v : out)
    if (!std::isfinite(v)) return std::nullopt;
  return out;
}

}  // namespace kvel_core::polish

#include "core/fit.hpp"

#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <utility>
#include <string>

#include "autograd/buffer_pool.hpp"
#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/gradient.hpp"
#include "autograd/optimizers/adam.hpp"
#include "autograd/tensor_ops/reduction_constructors.hpp"
#include "core/forest.hpp"
#include "core/out_of_memory.hpp"
#include "core/silence.hpp"
#include "support/panic.hpp"

namespace kvel_core::fit {

namespace ops = gradix_autograd::tensor_ops;
using gradix_autograd::Array;
using gradix_autograd::evaluation::EvalResult;
using gradix_autograd::evaluation::Evaluator;
using gradix_autograd::evaluation::PlaceholderKey;
using gradix_autograd::graph::Context;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::variable::VariableID;
using tamrix::tree::EmlNode;
using tamrix::tree::EmlTree;
using tamrix::tree::NodePtr;

namespace {

constexpr const char* kAdamNamespace = "kvel_adam";
constexpr double kAdamEps = 1e-8;
constexpr double kAdamB1 = 0.9;
constexpr double kAdamB2 = 0.999;

void collect_into(const EmlNode& node, std::vector<double>& out) {
  switch (node.kind) {
    case EmlNode::Kind::Const:
      out.push_back(node.value);
      return;
    case EmlNode::Kind::Eml:
      collect_into(*node.left, out);
      collect_into(*node.right, out);
      return;
    default:
      return;
  }
}

[[noreturn]] void index_out_of_bounds(std::size_t len, std::size_t index) {
  kvel_support::panic("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
                      std::to_string(index));
}

// The training graph of one fit: the loss of the tree on the data, and its
// gradient with respect to the constants. It depends only on the tree, so it
// is built once and evaluated in every step with the constants of that step.
class TrainingGraph {
 public:
  TrainingGraph(Context& ctx, const EmlTree& tree, std::span<const VariableID> params,
                const forest::FeedColumns& data, const Array& y) {
    std::vector<Tensor> columns;
    const Tensor ones = forest::make_placeholders(ctx, data.columns.size(), columns);
    const Tensor y_placeholder = ctx.placeholder("kvel_y", {-1});
    std::vector<Tensor> variables;
    variables.reserve(params.size());
    for (const VariableID id : params) variables.push_back(ctx.variable_by_id(id));

    std::size_t position = 0;
    const Tensor prediction = build_param(*tree.root, columns, ones, variables, position);
    const Tensor d = ops::arithmetic::sub(prediction, y_placeholder);
    const Tensor squares = ops::arithmetic::mul(d, d);
    const Tensor loss = ops::reduction::reduce_mean(squares);
    const Tensor targets[] = {loss};
    const std::vector<Tensor> grads = ops::grad(targets, variables);

    // Fed by id: each placeholder was just made and is the first of its name.
    std::vector<gradix_autograd::evaluation::RepeatedEvaluation::FeedById> feeds;
    for (std::size_t j = 0; j < columns.size(); ++j) feeds.emplace_back(columns[j].id(), &data.columns[j]);
    feeds.emplace_back(ones.id(), &data.ones);
    feeds.emplace_back(y_placeholder.id(), &y);

    // What no constant reaches (the data's own parts of the tree) has the
    // same value in every step, and is computed once.
    step_.emplace(ctx, grads, feeds);
  }

  TrainingGraph(const TrainingGraph&) = delete;
  TrainingGraph& operator=(const TrainingGraph&) = delete;

  // The gradients at the constants the environment holds now.
  std::vector<EvalResult> gradients() { return step_->run(); }

 private:
  std::optional<gradix_autograd::evaluation::RepeatedEvaluation> step_;
};

// The first element of each constant's variable, NaN where it cannot be read.
std::vector<double> read_back(Context& ctx, std::span<const VariableID> params) {
  std::vector<double> values;
  values.reserve(params.size());
  for (const VariableID id : params) {
    const Tensor variable = ctx.variable_by_id(id);
    const auto value = Evaluator(ctx).eval(variable);
    if (!value) throw_if_out_of_memory(value.error());
    values.push_back(value && value->size() > 0 ? value->data()[0] : std::numeric_limits<double>::quiet_NaN());
  }
  return values;
}

}  // namespace

std::vector<double> collect_consts(const EmlNode& node) {
  std::vector<double> out;
  collect_into(node, out);
  return out;
}

NodePtr substitute_consts(const EmlNode& node, std::span<const double> values, std::size_t& position) {
  switch (node.kind) {
    case EmlNode::Kind::One:
      return EmlNode::one();
    case EmlNode::Kind::Var:
      return EmlNode::var(node.index);
    case EmlNode::Kind::Const: {
      if (position >= values.size()) index_out_of_bounds(values.size(), position);
      return EmlNode::constant(values[position++]);
    }
    case EmlNode::Kind::Eml: {
      NodePtr left = substitute_consts(*node.left, values, position);
      NodePtr right = substitute_consts(*node.right, values, position);
      return EmlNode::eml(std::move(left), std::move(right));
    }
  }
  kvel_support::panic("unknown EML node kind");
}

Tensor build_param(const EmlNode& node, std::span<const Tensor> columns, const Tensor& ones,
                   std::span<const Tensor> params, std::size_t& position) {
  switch (node.kind) {
    case EmlNode::Kind::One:
      return ones;
    case EmlNode::Kind::Var:
      if (node.index >= columns.size()) index_out_of_bounds(columns.size(), node.index);
      return columns[node.index];
    case EmlNode::Kind::Const: {
      if (position >= params.size()) index_out_of_bounds(params.size(), position);
      const Tensor& param = params[position++];
      return ops::arithmetic::mul(param, ones);
    }
    case EmlNode::Kind::Eml: {
      const Tensor left = build_param(*node.left, columns, ones, params, position);
      const Tensor right = build_param(*node.right, columns, ones, params, position);
      return forest::eml_guarded(left, right);
    }
  }
  kvel_support::panic("unknown EML node kind");
}

double mean_squared_error(std::span<const double> prediction, const xt::xtensor<double, 1>& y) {
  const std::size_t n = y.size();
  const std::size_t count = std::min(prediction.size(), n);
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double d = prediction[i] - y(i);
    sum += d * d;
  }
  return sum / static_cast<double>(std::max<std::size_t>(n, 1));
}

kvel_support::Expected<FittedTree, error::KvelError> fit_constants(const EmlTree& tree, const dataset::DataSet& data,
                                                                   const discoverer::Discoverer& config,
                                                                   const cancel::CancelToken& cancel) {
  const forest::FeedColumns columns = forest::FeedColumns::from_matrix(data.x);
  const Array target = data.y;
  return fit_constants(tree, FitData{columns, target, data.y}, config, cancel);
}

kvel_support::Expected<FittedTree, error::KvelError> fit_constants(const EmlTree& tree, const FitData& data,
                                                                   const discoverer::Discoverer& config,
                                                                   const cancel::CancelToken& cancel) {
  const std::vector<double> initial = collect_consts(*tree.root);
  if (initial.empty()) {
    auto prediction = forest::eval_tree(tree, data.columns);
    if (!prediction) return kvel_support::unexpected(std::move(prediction.error()));
    return FittedTree{tree, mean_squared_error(*prediction, data.y)};
  }

  // Every step frees and allocates the same arrays: keep their blocks.
  const gradix_autograd::buffer_pool::BufferScope buffers;
  gradix_autograd::variable::VariableEnvironment env;
  std::vector<VariableID> params;
  params.reserve(initial.size());
  for (std::size_t k = 0; k < initial.size(); ++k) {
    params.push_back(env.name("c" + std::to_string(k)).set(xt::xtensor<double, 1>{initial[k]}));
  }
  const auto adam = gradix_autograd::optimizers::Adam::create(params, env, kAdamNamespace, config.learning_rate,
                                                              kAdamEps, kAdamB1, kAdamB2);

  // Restores descriptor 1 when this function returns, on every path.
  const std::optional<silence::SilenceStdout> silenced = silence::SilenceStdout::create();

  if (config.max_epochs > 0) {
    const std::vector<gradix_autograd::optimizers::Adam::Slots> slots = adam.slots(params, env);
    env.run([&](Context& ctx) {
      TrainingGraph training(ctx, tree, params, data.columns, data.target);
      for (std::size_t epoch = 0; epoch < config.max_epochs; ++epoch) {
        cancel.check();
        if (adam.apply(slots, training.gradients(), env)) throw std::bad_alloc();
      }
    });
  }
  const std::vector<double> fitted = env.run([&](Context& ctx) { return read_back(ctx, params); });
  for (const double v : fitted) {
    if (!std::isfinite(v)) {
      return kvel_support::unexpected(error::KvelError::numerical_instability("fitted constants are non-finite"));
    }
  }

  std::size_t position = 0;
  EmlTree fitted_tree = EmlTree::from_node(substitute_consts(*tree.root, fitted, position));
  auto prediction = forest::eval_tree(fitted_tree, data.columns);
  if (!prediction) return kvel_support::unexpected(std::move(prediction.error()));
  const double mse = mean_squared_error(*prediction, data.y);
  return FittedTree{std::move(fitted_tree), mse};
}

}  // namespace kvel_core::fit

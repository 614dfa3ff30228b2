#include "core/forest.hpp"

#include <cmath>
#include <deque>
#include <limits>
#include <mutex>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "core/out_of_memory.hpp"
#include "support/fork_handlers.hpp"
#include "support/made_at_load.hpp"
#include "support/panic.hpp"

namespace kvel_core::forest {
namespace ops = gradix_autograd::tensor_ops;
using tamrix::tree::EmlNode;

FeedColumns FeedColumns::from_matrix(const xt::xtensor<double, 2>& x) {
  const std::size_t rows = x.shape(0);
  const std::size_t cols = x.shape(1);
  FeedColumns data;
  data.columns.reserve(cols);
  for (std::size_t j = 0; j < cols; ++j) {
    Array column = Array::from_shape({rows});
    for (std::size_t i = 0; i < rows; ++i) column(i) = x(i, j);
    data.columns.push_back(std::move(column));
  }
  data.ones = Array::from_shape({rows});
  std::fill(data.ones.begin(), data.ones.end(), 1.0);
  return data;
}

namespace {

// A deque never moves its elements when it grows, so references handed out
// stay valid; the cache lives until the process ends.
struct PlaceholderNames {
  std::mutex mutex;
  std::deque<std::string> names;
};

PlaceholderNames& placeholder_names() {
  static PlaceholderNames* const cache = [] {
    auto* c = new PlaceholderNames;
    kvel_support::hold_across_fork(c->mutex);
    return c;
  }();
  return *cache;
}
const kvel_support::MadeAtLoad<&placeholder_names> placeholder_names_made_at_load;

}  // namespace

const std::string& col_placeholder_name(std::size_t j) {
  PlaceholderNames& cache = placeholder_names();
  std::lock_guard<std::mutex> lock(cache.mutex);
  while (cache.names.size() <= j) cache.names.push_back("kvel_x" + std::to_string(cache.names.size()));
  return cache.names[j];
}

Tensor make_placeholders(gradix_autograd::graph::Context& ctx, std::size_t n, std::vector<Tensor>& columns) {
  columns.clear();
  columns.reserve(n);
  for (std::size_t j = 0; j < n; ++j) columns.push_back(ctx.placeholder(col_placeholder_name(j), {-1}));
  return ctx.placeholder("kvel_ones", {-1});
}

Tensor eml_guarded(const Tensor& a, const Tensor& b) {
  const Tensor clipped_a = ops::arithmetic::clip(a, -50.0, 50.0);
  const Tensor exp_a = ops::arithmetic::exp(clipped_a);
  const Tensor clipped_b = ops::arithmetic::clip(b, 1e-12, std::numeric_limits<double>::max());
  const Tensor ln_b = ops::arithmetic::ln(clipped_b);
  return ops::arithmetic::sub(exp_a, ln_b);
}

Tensor build_forward(const EmlNode& node, std::span<const Tensor> columns, const Tensor& ones) {
  switch (node.kind) {
    case EmlNode::Kind::One:
      return ones;
    case EmlNode::Kind::Const:
      return ops::linear_algebra::scalar_mul(ones, node.value);
    case EmlNode::Kind::Var:
      if (node.index >= columns.size())
        kvel_support::panic("index out of bounds: the len is " + std::to_string(columns.size()) +
                            " but the index is " + std::to_string(node.index));
      return columns[node.index];
    case EmlNode::Kind::Eml: {
      const Tensor left = build_forward(*node.left, columns, ones);
      const Tensor right = build_forward(*node.right, columns, ones);
      return eml_guarded(left, right);
    }
  }
  kvel_support::panic("unknown EML node kind");
}

kvel_support::Expected<Prediction, error::KvelError> eval_tree(const tamrix::tree::EmlTree& tree,
                                                               const FeedColumns& data) {
  using gradix_autograd::evaluation::Evaluator;
  using gradix_autograd::evaluation::PlaceholderKey;
  auto result = gradix_autograd::graph::run([&](gradix_autograd::graph::Context& ctx) {
    std::vector<Tensor> columns;
    const Tensor ones = make_placeholders(ctx, data.columns.size(), columns);
    const Tensor prediction = build_forward(*tree.root, columns, ones);
    // Fed by id: the placeholders were just made, so each id is the first node
    // of its name, and feeding by id needs no name lookup.
    Evaluator evaluator(ctx);
    for (std::size_t j = 0; j < columns.size(); ++j) evaluator.feed(PlaceholderKey::by_id(columns[j].id()), data.columns[j]);
    evaluator.feed(PlaceholderKey::by_id(ones.id()), data.ones);
    return evaluator.eval(prediction);
  });
  if (!result) {
    throw_if_out_of_memory(result.error());
    return kvel_support::unexpected(error::KvelError::evaluation(result.error().debug()));
  }
  const Array& values = *result;
  Prediction out(values.begin(), values.end());
  for (double v : out)
    if (!std::isfinite(v))
      return kvel_support::unexpected(
          error::KvelError::numerical_instability("forward pass produced non-finite values"));
  return out;
}

kvel_support::Expected<Prediction, error::KvelError> eval_tree(const tamrix::tree::EmlTree& tree,
                                                               const xt::xtensor<double, 2>& x) {
  return eval_tree(tree, FeedColumns::from_matrix(x));
}

}  // namespace kvel_core::forest

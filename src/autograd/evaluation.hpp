#pragma once
// The evaluator: computes the values of chosen nodes (the targets) of a graph
// in one pass. Placeholders take fed arrays, variable nodes the environment's
// arrays, and every other needed node is computed once, after its inputs.

#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "autograd/array.hpp"
#include "autograd/error.hpp"
#include "autograd/graph.hpp"
#include "support/expected.hpp"

namespace gradix_autograd::evaluation {

// Names the node a feed is for: by placeholder name or by tensor id.
class PlaceholderKey {
 public:
  static PlaceholderKey by_name(std::string name) { return PlaceholderKey(std::move(name)); }
  static PlaceholderKey by_id(tensor::TensorId id) { return PlaceholderKey(id); }

  const std::string* name() const noexcept { return std::get_if<std::string>(&key_); }
  const tensor::TensorId* id() const noexcept { return std::get_if<tensor::TensorId>(&key_); }

 private:
  explicit PlaceholderKey(std::string name) : key_(std::move(name)) {}
  explicit PlaceholderKey(tensor::TensorId id) : key_(id) {}
  std::variant<std::string, tensor::TensorId> key_;
};

// A fed array is a view: it belongs to the caller and must outlive the run.
struct Feed {
  const Array* value;
  PlaceholderKey key;
};

struct Feeder {
  std::vector<Feed> feeds;
};

using EvalResult = kvel_support::Expected<Array, error::EvalError>;

class Evaluator {
 public:
  explicit Evaluator(graph::Context& context) : context_(&context) {}

  // Appends a target; a tensor may be listed more than once.
  Evaluator& push(const tensor::Tensor& target) {
    targets_.push_back(target);
    return *this;
  }
  // Feeds `value` (kept as a view) to the node `key` names; a later feed for
  // the same node wins.
  Evaluator& feed(PlaceholderKey key, const Array& value);
  Evaluator& feed(std::string name, const Array& value) { return feed(PlaceholderKey::by_name(std::move(name)), value); }
  Evaluator& feed(const tensor::Tensor& node, const Array& value) {
    return feed(PlaceholderKey::by_id(node.id()), value);
  }

  // One result per target, in target order; when a feed names no placeholder,
  // exactly one VariableError instead.
  std::vector<EvalResult> run();
  // Appends `target`, runs, and returns the first result.
  EvalResult eval(const tensor::Tensor& target);

 private:
  std::vector<tensor::Tensor> targets_;
  std::optional<Feeder> feeder_;
  graph::Context* context_;
};

// The same targets evaluated again and again while only variables change:
// the feeds stay the same for every run, so what the targets need that no
// variable reaches is computed once, when this is made, and the order of
// evaluation and the working storage are kept from run to run. Each run gives
// what an Evaluator with these targets and these feeds by id gives. The graph
// must not grow meanwhile, and the fed arrays must outlive this. Making one
// throws std::bad_alloc when memory runs out, in those values too.
class RepeatedEvaluation {
 public:
  using FeedById = std::pair<tensor::TensorId, const Array*>;
  RepeatedEvaluation(graph::Context& context, std::vector<tensor::Tensor> targets, std::span<const FeedById> feeds);
  RepeatedEvaluation(const RepeatedEvaluation&) = delete;
  RepeatedEvaluation& operator=(const RepeatedEvaluation&) = delete;

  std::vector<EvalResult> run();

 private:
  graph::Context* context_;
  std::vector<tensor::Tensor> targets_;
  std::vector<Array> fixed_values_;  // reserved up front: feeds_ points into it
  std::vector<FeedById> feeds_;      // later entries win
  std::vector<tensor::TensorId> order_;
  std::vector<const Array*> memo_;
  // Working storage. A value's array goes back to `free` once the last node
  // that reads it has run (targets' arrays never do), and a later node writes
  // its value there: the arrays in use at any time stay few and warm.
  struct Slots {
    std::vector<Array> arrays;          // at most one per order position
    std::vector<std::size_t> uses;      // per order position: reads by later nodes
    std::vector<bool> target;           // per order position
    std::vector<std::size_t> position;  // per node id: its order position, or none
    std::vector<std::size_t> last_size; // per order position: its size last run
    std::vector<std::size_t> holder;    // per order position, this run: its array
    std::vector<std::size_t> reads;     // per array, this run: reads still to come
    std::vector<std::size_t> free;      // arrays free, the last freed first
  };
  Slots slots_;
};

// The nodes the targets need whose values no variable reaches and that are
// targets themselves or inputs of nodes a variable reaches. While only
// variables change, their values stay the same from run to run, so a caller
// that evaluates the same targets again and again can compute them once and
// feed them by id.
std::vector<tensor::TensorId> fixed_inputs(const graph::Graph& graph, std::span<const tensor::Tensor> targets);

}  // namespace gradix_autograd::evaluation

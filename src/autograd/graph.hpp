#pragma once
// The node store of one run, the context handed to the caller's closure, and
// `run`, which gives a caller a fresh graph.

#include <forward_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "autograd/borrow_flag.hpp"
#include "autograd/tensor.hpp"
#include "autograd/variable.hpp"

namespace gradix_autograd::graph {

using tensor::Tensor;
using tensor::TensorId;
using tensor::TensorInternal;

inline constexpr std::size_t kWarnGraphSize = 50000;
inline constexpr std::size_t kMaxGraphSize = 500000;

class Graph;

// Read access to the node store for as long as it lives; installing a node
// meanwhile is a fatal error (it could move the nodes this view points at).
class NodesView {
 public:
  NodesView(const NodesView&) = delete;
  NodesView& operator=(const NodesView&) = delete;
  ~NodesView();

  // Node `id`; fatal past the end.
  const TensorInternal& operator[](TensorId id) const;
  std::size_t size() const noexcept;

 private:
  friend class Graph;
  explicit NodesView(const Graph& graph);
  const Graph& graph_;
};

class Graph {
 public:
  explicit Graph(std::size_t reserved_nodes);
  Graph(const Graph&) = delete;
  Graph& operator=(const Graph&) = delete;

  // Appends the node and returns its id; warns once at 50,000 nodes and stops
  // past 500,000.
  TensorId install(TensorInternal&& node);
  NodesView nodes() const { return NodesView(*this); }
  std::size_t num_nodes() const;

  // The node of variable `id`, one per variable per graph.
  Tensor variable_by_id(variable::VariableID id);
  // The node of the variable bound to (namespace, name); fatal when unbound.
  Tensor variable_by_name(std::string_view name, const variable::VariableNamespace& ns);

  // Takes the operator out of node `id`, leaving the node without one.
  op::OpBox take_op(TensorId id);

  // A copy of `name` that lives as long as the graph.
  const std::string* keep_placeholder_name(std::string_view name);

 private:
  friend class NodesView;

  std::vector<TensorInternal> nodes_;
  mutable BorrowFlag nodes_borrow_;
  // (variable id, tensor id), sorted by variable id.
  std::vector<std::pair<variable::VariableID, TensorId>> variable_nodes_;
  mutable BorrowFlag variable_nodes_borrow_;
  // Node-based, so the texts stay in place; allocates only for placeholders.
  std::forward_list<std::string> placeholder_names_;
};

// What the closure of `run` works with: the variable environment and the graph.
class Context {
 public:
  Context(variable::VariableEnvironment& env, std::size_t reserved_nodes) : env_(env), graph_(reserved_nodes) {}
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  Graph& graph() noexcept { return graph_; }
  const Graph& graph() const noexcept { return graph_; }
  variable::VariableEnvironment& env() noexcept { return env_; }

  // The first node named `name`; else a new Placeholder node of known shape
  // `shape` (ignored when the name exists).
  Tensor placeholder(std::string_view name, std::span<const std::int64_t> shape);
  Tensor placeholder(std::string_view name, std::initializer_list<std::int64_t> shape) {
    return placeholder(name, std::span<const std::int64_t>(shape.begin(), shape.size()));
  }
  Tensor variable_by_id(variable::VariableID id) { return graph_.variable_by_id(id); }
  Tensor variable_by_name(std::string_view name, const variable::VariableNamespace& ns) {
    return graph_.variable_by_name(name, ns);
  }

 private:
  variable::VariableEnvironment& env_;
  Graph graph_;
};

// Runs `f(context)` over a new empty environment and a new graph with room for
// 512 nodes; both are released when it returns.
template <class F>
decltype(auto) run(F&& f) {
  variable::VariableEnvironment env;
  Context ctx(env, 512);
  return std::forward<F>(f)(ctx);
}

}  // namespace gradix_autograd::graph

namespace gradix_autograd::variable {

template <class F>
decltype(auto) VariableEnvironment::run(F&& f) {
  graph::Context ctx(*this, 256);
  return std::forward<F>(f)(ctx);
}

}  // namespace gradix_autograd::variable

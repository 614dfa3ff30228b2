#pragma once
// Nodes, their handles and the builder through which every node is added.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "autograd/input_list.hpp"
#include "autograd/op.hpp"

namespace gradix_autograd::graph {
class Graph;
}

namespace gradix_autograd::variable {
using VariableID = std::uint64_t;
}

namespace gradix_autograd::tensor {

// Static shape: -1 marks an extent unknown before evaluation.
class KnownShape {
 public:
  // Stops with a fatal error for an extent below -1.
  explicit KnownShape(std::span<const std::int64_t> dims);
  KnownShape(std::initializer_list<std::int64_t> dims)
      : KnownShape(std::span<const std::int64_t>(dims.begin(), dims.size())) {}

  const std::vector<std::int64_t>& dims() const noexcept { return dims_; }
  bool is_fully_defined() const noexcept { return fully_defined_; }

 private:
  std::vector<std::int64_t> dims_;
  bool fully_defined_ = true;
};

// One node of a graph. Fields are fixed at install; only `op` may be taken out.
struct TensorInternal {
  std::optional<TensorId> shape_hint;
  std::optional<variable::VariableID> variable_id;
  InputList inputs;
  // When present, the gradient construction walks these instead of `inputs`.
  std::unique_ptr<InputList> backprop_inputs;
  std::optional<KnownShape> known_shape;
  TensorId id = 0;
  op::OpBox op;
  std::uint64_t topo_rank = 0;
  // Present exactly for placeholder nodes; the text is owned by the graph.
  const std::string* placeholder_name = nullptr;
  bool differentiable = true;

  // The inputs the gradient construction follows.
  const InputList& backprop_or_forward_inputs() const { return backprop_inputs ? *backprop_inputs : inputs; }
};

// A copyable two-word handle: the graph and the node id. Must not outlive
// the graph.
class Tensor {
 public:
  Tensor(graph::Graph& graph, TensorId id) noexcept : graph_(&graph), id_(id) {}

  TensorId id() const noexcept { return id_; }
  graph::Graph& graph() const noexcept { return *graph_; }

  // The known shape with unknown extents as 0; empty without a known shape.
  std::vector<std::size_t> shape() const;
  // Input i, from the backprop inputs when the node has them; fatal past the end.
  Tensor get_backprop_input(std::size_t i) const;

  friend bool operator==(const Tensor& a, const Tensor& b) noexcept {
    return a.graph_ == b.graph_ && a.id_ == b.id_;
  }

 private:
  graph::Graph* graph_;
  TensorId id_;
};

// A node under construction. Defaults: no hint, no variable, no inputs, no
// known shape, no placeholder name, differentiable.
class TensorBuilder {
 public:
  explicit TensorBuilder(graph::Graph& graph) noexcept : graph_(&graph) {}

  TensorBuilder& set_shape(const Tensor& hint) {
    shape_hint_ = hint.id();
    return *this;
  }
  TensorBuilder& set_variable(variable::VariableID id) {
    variable_id_ = id;
    return *this;
  }
  // Both stop with "Detected tensors belonging to different graphs" when the
  // tensor is not of this builder's graph.
  TensorBuilder& append_input(const Tensor& input, bool in_place) {
    return append_input_with_selector(input, in_place, 0);
  }
  TensorBuilder& append_input_with_selector(const Tensor& input, bool in_place, std::uint32_t selector);
  TensorBuilder& set_backprop_inputs(InputList inputs) {
    backprop_inputs_ = std::make_unique<InputList>(std::move(inputs));
    return *this;
  }
  TensorBuilder& set_known_shape(KnownShape shape) {
    known_shape_ = std::move(shape);
    return *this;
  }
  // The graph keeps its own copy of the text.
  TensorBuilder& set_placeholder_name(std::string_view name) {
    placeholder_name_ = name;
    return *this;
  }
  TensorBuilder& set_differentiable(bool differentiable) {
    differentiable_ = differentiable;
    return *this;
  }

  // Adds the node with `op` and returns its tensor. The builder's lists are
  // moved into the node: it is used once.
  template <class O>
  Tensor build(O&& op) {
    return build_boxed(op::OpBox::make(std::forward<O>(op)));
  }
  Tensor build_boxed(op::OpBox op);

 private:
  graph::Graph* graph_;
  std::optional<TensorId> shape_hint_;
  std::optional<variable::VariableID> variable_id_;
  InputList inputs_;
  std::unique_ptr<InputList> backprop_inputs_;
  std::optional<KnownShape> known_shape_;
  std::optional<std::string_view> placeholder_name_;
  bool differentiable_ = true;
};

}  // namespace gradix_autograd::tensor

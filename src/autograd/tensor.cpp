#include "autograd/tensor.hpp"

#include <algorithm>
#include <iostream>

#include "autograd/graph.hpp"
#include "autograd/shape_helpers.hpp"

namespace gradix_autograd::tensor {

KnownShape::KnownShape(std::span<const std::int64_t> dims) : dims_(dims.begin(), dims.end()) {
  for (const std::int64_t d : dims_) {
    if (d < -1) {
      kvel_support::panic("Given shape (" + shape_helpers::format_dims(dims_) + ") contains invalid dim size(s)");
    }
    if (d == -1) fully_defined_ = false;
  }
}

std::vector<std::size_t> Tensor::shape() const {
  const graph::NodesView nodes = graph_->nodes();
  const TensorInternal& node = nodes[id_];
  std::vector<std::size_t> sizes;
  if (node.known_shape) {
    const auto& dims = node.known_shape->dims();
    sizes.reserve(dims.size());
    for (const std::int64_t d : dims) sizes.push_back(d < 0 ? 0 : static_cast<std::size_t>(d));
  }
  return sizes;
}

Tensor Tensor::get_backprop_input(std::size_t i) const {
  const graph::NodesView nodes = graph_->nodes();
  return Tensor(*graph_, nodes[id_].backprop_or_forward_inputs().at(i).id);
}

TensorBuilder& TensorBuilder::append_input_with_selector(const Tensor& input, bool in_place,
                                                         std::uint32_t selector) {
  if (&input.graph() != graph_) kvel_support::panic("Detected tensors belonging to different graphs");
  inputs_.push_back(InputRecord{input.id(), selector, in_place});
  return *this;
}

Tensor TensorBuilder::build_boxed(op::OpBox op) {
  std::uint64_t rank = 0;
  if (!inputs_.empty()) {
    const graph::NodesView nodes = graph_->nodes();
    for (const InputRecord& input : inputs_) rank = std::max(rank, nodes[input.id].topo_rank + 1);
  }
  TensorInternal node;
  node.shape_hint = shape_hint_;
  node.variable_id = variable_id_;
  node.inputs = std::move(inputs_);
  node.backprop_inputs = std::move(backprop_inputs_);
  node.known_shape = std::move(known_shape_);
  node.op = std::move(op);
  node.topo_rank = rank;
  if (placeholder_name_) node.placeholder_name = graph_->keep_placeholder_name(*placeholder_name_);
  node.differentiable = differentiable_;
  const TensorId id = graph_->install(std::move(node));
  return Tensor(*graph_, id);
}

}  // namespace gradix_autograd::tensor

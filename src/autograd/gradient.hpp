#pragma once
// Reverse-mode gradients built as new nodes of the same graph (nothing is
// evaluated here): `grad` is the entry point, `compute_gradients` the sweep.

#include <span>
#include <vector>

#include "autograd/graph.hpp"

namespace gradix_autograd::gradient {

// The gradient contributions that reached one node, in order of arrival, and
// whether the node lies on a differentiable path to a source.
struct GradientEntry {
  std::vector<tensor::Tensor> gradients;
  bool on_path = false;
};

// Entries by node id, for the nodes that existed when the sweep began (the
// sweep never keys a node it builds).
class GradientStore {
 public:
  explicit GradientStore(std::size_t num_nodes) : slots_(num_nodes) {}

  // The entry of `id`, or nullptr when it has none.
  GradientEntry* find(tensor::TensorId id) {
    return id < slots_.size() && slots_[id].present ? &slots_[id].entry : nullptr;
  }
  // A fresh entry for `id` (an earlier one is replaced).
  GradientEntry& insert(tensor::TensorId id, bool on_path);

 private:
  struct Slot {
    GradientEntry entry;
    bool present = false;
  };
  std::vector<Slot> slots_;
};

// The gradient of the sum of `ys` (distinct nodes) at every node on a
// differentiable path to one of `xs`, seeded with one Scalar(1.0).
GradientStore compute_gradients(std::span<const tensor::Tensor> ys, std::span<const tensor::Tensor> xs,
                                graph::Graph& graph);

}  // namespace gradix_autograd::gradient

namespace gradix_autograd::tensor_ops {

// One gradient tensor per source, in the order of xs: the gradient of the sum
// of all elements of all targets. A source the targets do not reach gets
// x * 0. An empty ys is a fatal error.
std::vector<tensor::Tensor> grad(std::span<const tensor::Tensor> ys, std::span<const tensor::Tensor> xs);

}  // namespace gradix_autograd::tensor_ops

#pragma once
// What an operator's `grad` works with: the node's output and input tensors,
// the graph's context (to build new nodes), the output gradients, and the list
// of input gradients it fills.

#include <optional>
#include <span>
#include <vector>

#include "autograd/graph.hpp"

namespace gradix_autograd::op {

class GradientContext {
 public:
  GradientContext(std::span<const tensor::Tensor> outputs, std::span<const tensor::Tensor> inputs,
                  graph::Context& context, std::span<const tensor::Tensor> output_grads,
                  std::vector<std::optional<tensor::Tensor>>& input_grads, std::size_t output_index)
      : outputs_(outputs),
        inputs_(inputs),
        context_(&context),
        graph_(context.graph()),
        output_grads_(output_grads),
        input_grads_(input_grads),
        output_index_(output_index) {}
  // Without a caller's context (the gradient construction has only the graph);
  // `context()` is then a fatal error.
  GradientContext(std::span<const tensor::Tensor> outputs, std::span<const tensor::Tensor> inputs,
                  graph::Graph& graph, std::span<const tensor::Tensor> output_grads,
                  std::vector<std::optional<tensor::Tensor>>& input_grads, std::size_t output_index)
      : outputs_(outputs),
        inputs_(inputs),
        context_(nullptr),
        graph_(graph),
        output_grads_(output_grads),
        input_grads_(input_grads),
        output_index_(output_index) {}

  // The output being propagated, and its gradient gy.
  const tensor::Tensor& output() const { return at(outputs_, output_index_); }
  const tensor::Tensor& output_grad() const { return at(output_grads_, output_index_); }
  // Input i; fatal past the end.
  const tensor::Tensor& input(std::size_t i) const { return at(inputs_, i); }
  std::size_t num_inputs() const noexcept { return inputs_.size(); }
  graph::Context& context() const {
    if (context_ == nullptr) kvel_support::panic("gradient context without a graph context");
    return *context_;
  }
  graph::Graph& graph() const noexcept { return graph_; }
  std::size_t output_index() const noexcept { return output_index_; }

  // Sets entry i (nothing = no gradient), first extending the list with empty
  // entries up to length i + 1.
  void set_input_grad(std::size_t i, std::optional<tensor::Tensor> gradient) {
    if (input_grads_.size() < i + 1) input_grads_.resize(i + 1);
    input_grads_[i] = gradient;
  }
  const std::vector<std::optional<tensor::Tensor>>& input_grads() const noexcept { return input_grads_; }

 private:
  static const tensor::Tensor& at(std::span<const tensor::Tensor> list, std::size_t i) {
    if (i >= list.size()) {
      kvel_support::panic("index out of bounds: the len is " + std::to_string(list.size()) + " but the index is " +
                          std::to_string(i));
    }
    return list[i];
  }

  std::span<const tensor::Tensor> outputs_;
  std::span<const tensor::Tensor> inputs_;
  graph::Context* context_;
  graph::Graph& graph_;
  std::span<const tensor::Tensor> output_grads_;
  std::vector<std::optional<tensor::Tensor>>& input_grads_;
  std::size_t output_index_;
};

}  // namespace gradix_autograd::op

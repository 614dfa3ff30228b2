#include "autograd/tensor_ops/reduction_constructors.hpp"

#include "autograd/constructors.hpp"
#include "autograd/tensor_ops/array_constructors.hpp"
#include "autograd/tensor_ops/array_ops.hpp"
#include "autograd/tensor_ops/reduction_ops.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::tensor_ops::reduction {

using tensor::TensorBuilder;

Tensor reduce_mean(const Tensor& x) {
  const Tensor axes = tensor::as_tensor(std::array<std::int32_t, 1>{0}, x.graph());
  return TensorBuilder(x.graph())
      .append_input(x, false)
      .append_input(axes, false)
      .build(reduction_ops::ReduceMean(false, false));
}

Tensor reduce_prod(const Tensor& x, std::array<std::int32_t, 1> axes, bool keep_dims) {
  const Tensor axes_tensor = tensor::as_tensor(axes, x.graph());
  return TensorBuilder(x.graph())
      .append_input(x, false)
      .append_input(axes_tensor, false)
      .build(reduction_ops::ReduceProd(keep_dims, false));
}

namespace {

// One AddN node over xs; its hint is shape(xs[0]), co-broadcast with the
// shapes of the others unless they are known to share it.
Tensor sum_node(std::span<const Tensor> xs, bool same_shape) {
  if (xs.empty()) kvel_support::panic("add_n: the list of tensors must not be empty");
  if (xs.size() == 1) return xs[0];
  graph::Graph& graph = xs[0].graph();
  TensorBuilder builder(graph);
  for (const Tensor& x : xs) builder.append_input(x, false);
  Tensor hint = shape(xs[0]);
  if (!same_shape) {
    for (std::size_t i = 1; i < xs.size(); ++i) hint = arithmetic::infer_bin_opshape(graph, hint, shape(xs[i]));
  }
  return builder.set_shape(hint).build(array_ops::AddN{});
}

}  // namespace

Tensor add_n(std::span<const Tensor> xs) { return sum_node(xs, false); }
Tensor add_n_of_one_shape(std::span<const Tensor> xs) { return sum_node(xs, true); }

}  // namespace gradix_autograd::tensor_ops::reduction

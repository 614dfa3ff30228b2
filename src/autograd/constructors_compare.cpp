// Constructors of the comparison, clipping and broadcast-helper nodes; none of
// them needs a shape node.
#include "autograd/constructors.hpp"
#include "autograd/tensor_ops/broadcast_helper_ops.hpp"
#include "autograd/tensor_ops/math_ops.hpp"

namespace gradix_autograd::tensor_ops {

namespace {
template <class O>
Tensor binary_node(const Tensor& a, const Tensor& b, O&& op) {
  return tensor::TensorBuilder(a.graph()).append_input(a, false).append_input(b, false).build(std::forward<O>(op));
}
}  // namespace

Tensor arithmetic::infer_bin_opshape(graph::Graph& graph, const Tensor& sa, const Tensor& sb) {
  return tensor::TensorBuilder(graph)
      .append_input(sa, false)
      .append_input(sb, false)
      .build(array_ops::InferBinOpShape{});
}

Tensor arithmetic::equal(const Tensor& a, const Tensor& b) { return binary_node(a, b, math_ops::Equal{}); }
Tensor arithmetic::greater(const Tensor& a, const Tensor& b) { return binary_node(a, b, math_ops::Greater{}); }

Tensor arithmetic::clip(const Tensor& x, double lo, double hi) {
  graph::Graph& graph = x.graph();
  const Tensor lo_node = scalar(graph, lo);
  const Tensor hi_node = scalar(graph, hi);
  const Tensor below_hi = binary_node(x, hi_node, math_ops::Minimum{});
  return binary_node(below_hi, lo_node, math_ops::Maximum{});
}

Tensor binary_ops::maybe_reduce(const Tensor& target, const Tensor& x, graph::Graph& graph) {
  return tensor::TensorBuilder(graph)
      .append_input(x, false)
      .append_input(target, false)
      .set_shape(target)
      .build(MaybeReduceSum{});
}

}  // namespace gradix_autograd::tensor_ops

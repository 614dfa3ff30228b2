#include "autograd/tensor_ops/array_constructors.hpp"

#include <optional>

#include "autograd/shape_helpers.hpp"
#include "autograd/tensor_ops/array_ops.hpp"
#include "autograd/tensor_ops/const_gen_ops.hpp"
#include "autograd/tensor_ops/slicing_ops.hpp"

namespace gradix_autograd::tensor_ops {

using tensor::KnownShape;
using tensor::TensorBuilder;

Tensor shape(const Tensor& x) {
  graph::Graph& graph = x.graph();
  std::optional<tensor::TensorId> hint;
  {
    // The view must be gone before a node is installed.
    const graph::NodesView nodes = graph.nodes();
    hint = nodes[x.id()].shape_hint;
  }
  if (hint) return Tensor(graph, *hint);
  return TensorBuilder(graph).append_input(x, false).set_differentiable(false).build(array_ops::Shape{});
}

Tensor reshape(const Tensor& x, const Tensor& s) {
  return TensorBuilder(x.graph()).append_input(x, false).append_input(s, false).set_shape(s).build(array_ops::Reshape{});
}

Tensor flatten(const Tensor& x) {
  static constexpr std::int32_t kAll[] = {-1};
  const Tensor s = detail::integer_constant(x.graph(), kAll);
  return TensorBuilder(x.graph()).append_input(x, false).append_input(s, false).set_shape(s).build(array_ops::Reshape{});
}

Tensor squeeze(const Tensor& x, const Tensor& axes) {
  return TensorBuilder(x.graph()).append_input(x, false).append_input(axes, false).build(array_ops::Squeeze{});
}

Tensor expand_dims(const Tensor& x, const Tensor& axes) {
  return TensorBuilder(x.graph()).append_input(x, false).append_input(axes, false).build(array_ops::ExpandDims{});
}

Tensor slice(const Tensor& x, std::int64_t start, std::int64_t end) {
  array_ops::SliceElement range;
  range.start = start;
  if (end < -1) {
    range.end = end + 1;
  } else if (end != -1) {
    range.end = end;
  }
  range.step = 1;
  return TensorBuilder(x.graph()).append_input(x, false).build(array_ops::Slice({range}));
}

Tensor gather_common(const Tensor& param, const Tensor& indices, std::int64_t axis) {
  return TensorBuilder(param.graph())
      .append_input(indices, false)
      .append_input(param, false)
      .build(array_ops::Gather(axis, true));
}

Tensor detail::integer_constant(graph::Graph& graph, std::span<const std::int32_t> values) {
  Array array = shape_helpers::make_array(ArrayShape{values.size()});
  for (std::size_t i = 0; i < values.size(); ++i) array.data()[i] = static_cast<double>(values[i]);
  const std::int64_t length = static_cast<std::int64_t>(values.size());
  return TensorBuilder(graph)
      .set_known_shape(KnownShape{length})
      .set_differentiable(false)
      .build(const_gen_ops::ConvertToTensor(std::move(array)));
}

}  // namespace gradix_autograd::tensor_ops

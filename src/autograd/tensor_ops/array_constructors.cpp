#include "autograd/tensor_ops/array_constructors.hpp"

#include <algorithm>
#include <optional>

#include "autograd/constructors.hpp"
#include "autograd/tensor_ops/array_ops.hpp"
#include "autograd/tensor_ops/const_gen_ops.hpp"
#include "autograd/tensor_ops/slicing_ops.hpp"

namespace gradix_autograd::tensor_ops {

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

namespace {

// Whether the shape tensor s is known to be the result's shape: a constant
// without an extent left to infer (a negative entry). A computed or fed s
// may still hold -1, which is no shape to reduce a gradient to.
bool is_result_shape(const Tensor& s) {
  const graph::NodesView nodes = s.graph().nodes();
  const auto* constant = dynamic_cast<const const_gen_ops::ConvertToTensor*>(nodes[s.id()].op.get());
  if (constant == nullptr) return false;
  const Array& dims = constant->array;
  return std::all_of(dims.data(), dims.data() + dims.size(), [](double d) { return d >= 0.0; });
}

// Reshape over (x, s), with s as the hint when it is the result's shape.
Tensor reshape_node(const Tensor& x, const Tensor& s) {
  TensorBuilder builder(x.graph());
  builder.append_input(x, false).append_input(s, false);
  if (is_result_shape(s)) builder.set_shape(s);
  return builder.build(array_ops::Reshape{});
}

}  // namespace

Tensor reshape(const Tensor& x, const Tensor& s) { return reshape_node(x, s); }

Tensor flatten(const Tensor& x) {
  const Tensor s = tensor::as_tensor(std::array<std::int32_t, 1>{-1}, x.graph());
  return reshape_node(x, s);
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

}  // namespace gradix_autograd::tensor_ops

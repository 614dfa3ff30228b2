// Constant sources: 0-d scalars and held arrays.
#include <numeric>

#include "autograd/constructors.hpp"
#include "autograd/shape_helpers.hpp"
#include "autograd/tensor_ops/const_gen_ops.hpp"

namespace gradix_autograd::tensor_ops {

Tensor scalar(graph::Graph& graph, double value) {
  return tensor::TensorBuilder(graph)
      .set_known_shape(tensor::KnownShape({}))
      .build(const_gen_ops::Scalar(value));
}

Tensor convert_to_tensor(Array array, graph::Graph& graph) {
  std::vector<std::int64_t> dims(array.shape().begin(), array.shape().end());
  return tensor::TensorBuilder(graph)
      .set_known_shape(tensor::KnownShape(dims))
      .set_differentiable(false)
      .build(const_gen_ops::ConvertToTensor(std::move(array)));
}

}  // namespace gradix_autograd::tensor_ops

namespace gradix_autograd::tensor {

Tensor from_vec(std::span<const double> values, std::span<const std::size_t> shape, graph::Graph& graph) {
  Array array = shape_helpers::make_array(shape);
  if (values.size() == array.size()) {
    std::copy(values.begin(), values.end(), array.data());
  } else {
    std::fill(array.data(), array.data() + array.size(), 0.0);
  }
  return tensor_ops::convert_to_tensor(std::move(array), graph);
}

namespace {
template <std::size_t N>
Tensor integers_as_tensor(const std::array<std::int32_t, N>& values, graph::Graph& graph) {
  Array array(ArrayShape{N});
  for (std::size_t i = 0; i < N; ++i) array.data()[i] = static_cast<double>(values[i]);
  return tensor_ops::convert_to_tensor(std::move(array), graph);
}
}  // namespace

Tensor as_tensor(const std::array<std::int32_t, 1>& values, graph::Graph& graph) {
  return integers_as_tensor(values, graph);
}
Tensor as_tensor(const std::array<std::int32_t, 2>& values, graph::Graph& graph) {
  return integers_as_tensor(values, graph);
}

}  // namespace gradix_autograd::tensor

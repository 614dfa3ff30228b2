#include "autograd/ndarray_ext_axes.hpp"

#include <string>

#include "autograd/shape_helpers.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::ndarray_ext {

std::vector<std::size_t> normalize_negative_axes(const Array& axes, std::size_t rank) {
  std::vector<std::size_t> out(axes.size());
  const double* src = axes.data();
  for (std::size_t i = 0; i < out.size(); ++i) {
    const double v = src[i];
    out[i] = shape_helpers::size_or_zero(v < 0.0 ? v + static_cast<double>(rank) : v);
  }
  return out;
}

std::vector<std::size_t> sparse_to_dense(const Array& axes) {
  std::vector<std::size_t> out;
  const double* src = axes.data();
  for (std::size_t i = 0; i < axes.size(); ++i) {
    if (src[i] == 1.0) out.push_back(i);
  }
  return out;
}

std::vector<std::size_t> reduction_axes(const Array& axes, bool sparse_axes, std::size_t rank) {
  return sparse_axes ? sparse_to_dense(axes) : normalize_negative_axes(axes, rank);
}

void check_axis(std::size_t axis, std::size_t rank) {
  if (axis >= rank) {
    kvel_support::panic("index out of bounds: axis " + std::to_string(axis) + " of an array of rank " +
                        std::to_string(rank));
  }
}

Array expand_dims(Array array, std::size_t axis) {
  const std::size_t rank = array.dimension();
  if (axis > rank) {
    kvel_support::panic("cannot insert an axis at position " + std::to_string(axis) + " of an array of rank " +
                        std::to_string(rank));
  }
  std::vector<std::size_t> shape(array.shape().begin(), array.shape().end());
  shape.insert(shape.begin() + static_cast<std::ptrdiff_t>(axis), std::size_t{1});
  array.reshape(shape);
  return array;
}

}  // namespace gradix_autograd::ndarray_ext

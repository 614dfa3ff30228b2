#pragma once
// A row-major walk over a strided view of a contiguous array: the kernels of
// Transpose, Slice and SliceGrad.

#include <cstddef>
#include <span>
#include <vector>

#include "autograd/array.hpp"

namespace gradix_autograd::strided {

// The row-major element strides of a contiguous array of `shape`.
inline std::vector<std::ptrdiff_t> row_major_strides(Extents shape) {
  std::vector<std::ptrdiff_t> strides(shape.size());
  std::ptrdiff_t stride = 1;
  for (std::size_t d = shape.size(); d-- > 0;) {
    strides[d] = stride;
    stride *= static_cast<std::ptrdiff_t>(shape[d]);
  }
  return strides;
}

// Calls f(k, offset) for every position of `shape` in row-major order, k
// counting from 0 and offset = base + sum of index[d] * strides[d].
template <class F>
void walk(Extents shape, std::span<const std::ptrdiff_t> strides, std::ptrdiff_t base, F f) {
  std::size_t count = 1;
  for (const std::size_t e : shape) count *= e;
  const std::size_t rank = shape.size();
  std::vector<std::size_t> index(rank, 0);
  std::ptrdiff_t offset = base;
  for (std::size_t k = 0; k < count; ++k) {
    f(k, offset);
    for (std::size_t d = rank; d-- > 0;) {
      ++index[d];
      offset += strides[d];
      if (index[d] < shape[d]) break;
      offset -= strides[d] * static_cast<std::ptrdiff_t>(index[d]);
      index[d] = 0;
    }
  }
}

}  // namespace gradix_autograd::strided

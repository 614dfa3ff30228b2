#pragma once
// Axis arguments of the reductions and of Gather: an axes tensor (doubles of
// any shape, read in row-major order) becomes a list of axis numbers.

#include <cstddef>
#include <vector>

#include "autograd/array.hpp"

namespace gradix_autograd::ndarray_ext {

// Each element v, plus `rank` when v < 0 (in double), by the lenient size
// conversion: -3 on rank 2 reads as 0, 1.7 as 1. Axes at or past the rank
// are left for the caller to reject.
std::vector<std::size_t> normalize_negative_axes(const Array& axes, std::size_t rank);

// The positions of the elements that equal 1.0 exactly, ascending.
std::vector<std::size_t> sparse_to_dense(const Array& axes);

// The axes of a reduction over an array of rank `rank`: a mask with
// `sparse_axes`, else axis numbers (normalize_negative_axes).
std::vector<std::size_t> reduction_axes(const Array& axes, bool sparse_axes, std::size_t rank);

// Fatal "index out of bounds" when `axis` is not below `rank`.
void check_axis(std::size_t axis, std::size_t rank);

// `array` with an axis of extent 1 inserted before position `axis`; fatal when
// `axis` exceeds the rank.
Array expand_dims(Array array, std::size_t axis);

}  // namespace gradix_autograd::ndarray_ext

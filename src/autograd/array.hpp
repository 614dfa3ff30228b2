#pragma once
// Every tensor value is an owned, contiguous, row-major array of doubles of
// dynamic rank. xtensor keeps the storage and the shape; the kernels loop over
// data() themselves (see shape_helpers.hpp for why). The storage comes from
// the buffer pool, which recycles blocks while a BufferScope lives.

#include <cstddef>
#include <span>

#include "autograd/buffer_pool.hpp"
#include "support/xtensor.hpp"

namespace gradix_autograd {

using Array = xt::xarray<double, xt::layout_type::row_major, buffer_pool::PooledAllocator<double>>;
using ArrayShape = Array::shape_type;
using Extents = std::span<const std::size_t>;

inline Extents extents_of(const Array& a) { return {a.shape().data(), a.shape().size()}; }

}  // namespace gradix_autograd

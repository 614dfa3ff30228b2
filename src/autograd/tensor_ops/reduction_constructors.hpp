#pragma once
// Constructors of the reduction nodes and of the n-ary sum.

#include <array>
#include <cstdint>
#include <span>

#include "autograd/graph.hpp"

namespace gradix_autograd::tensor_ops::reduction {

using tensor::Tensor;

// The mean over axis 0, dropping it: a constant [0] first, then ReduceMean
// over (x, it).
Tensor reduce_mean(const Tensor& x);
// The product over the one axis given: a constant of it first, then
// ReduceProd over (x, it).
Tensor reduce_prod(const Tensor& x, std::array<std::int32_t, 1> axes, bool keep_dims);
// One tensor: itself, no node. Several: one AddN node over all of them in
// order, whose hint is shape(xs[0]) (built after the inputs are checked).
// An empty list is a fatal error.
Tensor add_n(std::span<const Tensor> xs);

}  // namespace gradix_autograd::tensor_ops::reduction

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
// order, whose hint is the co-broadcast of their shapes: shape(xs[0]), then
// for each further x infer_bin_opshape(hint, shape(x)) (built after the
// inputs are checked). An empty list is a fatal error.
Tensor add_n(std::span<const Tensor> xs);
// The same for tensors that share one shape (the contributions to one
// gradient): the hint is shape(xs[0]) alone.
Tensor add_n_of_one_shape(std::span<const Tensor> xs);

}  // namespace gradix_autograd::tensor_ops::reduction

#pragma once
// Constructors of the shape, array, slicing and gathering nodes. Each adds its
// nodes to the graph of its first tensor argument, in the order documented
// (node ids are observable), and returns the result node.

#include <cstdint>
#include <span>

#include "autograd/graph.hpp"

namespace gradix_autograd::tensor_ops {

using tensor::Tensor;

// x's shape hint when it has one (no node is added); otherwise a new,
// non-differentiable Shape node over x. Nothing is cached.
Tensor shape(const Tensor& x);

// Reshape over (x, s), with s as the shape hint unless s is a constant with
// an extent to infer (-1): then the node has no hint, and shape() of it
// reads the evaluated shape.
Tensor reshape(const Tensor& x, const Tensor& s);
// A constant [-1] first, then Reshape over (x, it), without a hint.
Tensor flatten(const Tensor& x);
Tensor squeeze(const Tensor& x, const Tensor& axes);
Tensor expand_dims(const Tensor& x, const Tensor& axes);
// One step-1 range from `start`; an `end` of -1 means the end of the axis,
// below -1 it is taken one further (-3 excludes the last two positions).
Tensor slice(const Tensor& x, std::int64_t start, std::int64_t end);
// Gather over (indices, param) along `axis`; negative indices count from the
// end of the axis.
Tensor gather_common(const Tensor& param, const Tensor& indices, std::int64_t axis);

}  // namespace gradix_autograd::tensor_ops

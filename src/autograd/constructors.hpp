#pragma once
// The functions through which callers write expressions: each adds one or a
// few nodes to its tensors' graph and returns the result node. Node-creation
// order is observable (it fixes the ids), so every function that adds several
// nodes makes them one statement at a time, in the documented order.
//
// The constructors of the reduction, array and slicing operators (`shape`
// included) are declared with those operators.

#include <array>
#include <cstdint>
#include <span>

#include "autograd/graph.hpp"

namespace gradix_autograd::tensor_ops {

using tensor::Tensor;

// A 0-d constant; known shape [], differentiable.
Tensor scalar(graph::Graph& graph, double value);
// A constant node holding `array`; known shape = its extents, not differentiable.
Tensor convert_to_tensor(Array array, graph::Graph& graph);

// The shape tensor of x: x's shape hint when it has one, else a new `Shape`
// node (not differentiable). Defined with the `Shape` operator.
Tensor shape(const Tensor& x);

namespace arithmetic {

// The result shape of a binary operation over operands of shapes sa and sb.
Tensor infer_bin_opshape(graph::Graph& graph, const Tensor& sa, const Tensor& sb);

// Binary element-wise operators; the hint is infer_bin_opshape(shape(a), shape(b)).
Tensor add(const Tensor& a, const Tensor& b);
Tensor sub(const Tensor& a, const Tensor& b);
Tensor mul(const Tensor& a, const Tensor& b);
Tensor div(const Tensor& a, const Tensor& b);

// Unary element-wise operators; the hint is shape(x).
Tensor exp(const Tensor& x);
Tensor ln(const Tensor& x);
Tensor neg(const Tensor& x);
Tensor pow(const Tensor& x, double p);

// 1.0 / 0.0 element-wise comparisons; no hint.
Tensor equal(const Tensor& a, const Tensor& b);
Tensor greater(const Tensor& a, const Tensor& b);

// max(min(x, hi), lo) element-wise, built as Scalar(lo), Scalar(hi),
// Minimum(x, hi), Maximum(that, lo).
Tensor clip(const Tensor& x, double lo, double hi);

}  // namespace arithmetic

namespace linear_algebra {
// x times the constant c; the hint is shape(x).
Tensor scalar_mul(const Tensor& x, double c);
}  // namespace linear_algebra

namespace binary_ops {
// x summed down to the shape tensor `target` (also the hint), on `graph`.
Tensor maybe_reduce(const Tensor& target, const Tensor& x, graph::Graph& graph);
}  // namespace binary_ops

}  // namespace gradix_autograd::tensor_ops

namespace gradix_autograd::tensor {

// A constant node of extents `shape` holding `values` in row-major order; all
// zeros when the count of values does not match the shape.
Tensor from_vec(std::span<const double> values, std::span<const std::size_t> shape, graph::Graph& graph);

// A constant 1-D node holding the integers as doubles (axes, shapes and
// permutations given as literals).
Tensor as_tensor(const std::array<std::int32_t, 1>& values, graph::Graph& graph);
Tensor as_tensor(const std::array<std::int32_t, 2>& values, graph::Graph& graph);

}  // namespace gradix_autograd::tensor

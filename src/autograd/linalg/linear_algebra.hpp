#pragma once
// Builders of single matrix nodes, used by the gradient rules of the matrix
// operators. Each starts a fresh builder on the graph of its first argument
// (no shape hint, differentiable), so a later `shape` of the result builds a
// Shape node. A second tensor of another graph is fatal.

#include <array>
#include <cstdint>

#include "autograd/graph.hpp"

namespace gradix_autograd::tensor_ops::linear_algebra {

using tensor::Tensor;

// MatrixInverseOp over x.
Tensor matrix_inverse(const Tensor& x);
// DiagOp over x.
Tensor diag(const Tensor& x);
// MatMul over (a, b), neither operand transposed.
Tensor matmul(const Tensor& a, const Tensor& b);
// The constant permutation `axes` first, then Transpose over (x, it).
Tensor transpose(const Tensor& x, const std::array<std::int32_t, 2>& axes);

// The gradient of an inverse y = x⁻¹ given y's gradient gy: −(yᵀ·gy·yᵀ),
// built as t = transpose(y), matmul(t, gy), matmul(that, t), neg.
Tensor inverse_gradient(const Tensor& y, const Tensor& gy);

}  // namespace gradix_autograd::tensor_ops::linear_algebra

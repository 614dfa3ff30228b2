#pragma once
// The matrix product of two operands of rank 0, 1 or 2, each optionally
// transposed first; the result is always two-dimensional.

#include <cstdint>
#include <string>

#include "autograd/graph.hpp"
#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::dot_ops {

// A rank-1 left operand is a row, a rank-1 right operand a column, and a 0-d
// operand a 1 × 1 matrix.
class MatMul final : public op::NamedOp<MatMul> {
 public:
  static constexpr std::string_view kName = op_names::kMatMul;
  MatMul(bool transpose_a, bool transpose_b) : transpose_a(transpose_a), transpose_b(transpose_b) {}

  op::OpResult compute(op::ComputeContext& ctx) const override;
  // input_gradient for both inputs.
  void grad(op::GradientContext& ctx) const override;

  bool transpose_a;
  bool transpose_b;
};

// The gradient of input i (0: a, 1: b) of the product y = op(a) · op(b),
// op transposing where the flag is set, given y's gradient gy. Input 0
// receives gy · op(b)ᵀ, input 1 op(a)ᵀ · gy, each transposed back when its
// own flag is set, then reshaped to the operand's shape: a vector or 0-d
// operand was promoted to a matrix and gets its own shape back. Built as
// MatMul(false, !transpose_b)(gy, b) resp. MatMul(!transpose_a, false)(a,
// gy), a Transpose when the operand's flag is set, then Reshape(·, shape(x)).
tensor::Tensor input_gradient(bool transpose_a, bool transpose_b, const tensor::Tensor& gy, const tensor::Tensor& a,
                              const tensor::Tensor& b, std::size_t i);

// The shape error of an m × k by k2 × n product.
std::string dotshape_error(std::uint64_t m, std::uint64_t k, std::uint64_t k2, std::uint64_t n);

}  // namespace gradix_autograd::tensor_ops::dot_ops

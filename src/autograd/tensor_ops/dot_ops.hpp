#pragma once
// The matrix product of two operands of rank 0, 1 or 2, each optionally
// transposed first; the result is always two-dimensional.

#include <cstdint>
#include <string>

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
  // gy · x1ᵀ for input 0 and x0ᵀ · gy for input 1.
  void grad(op::GradientContext& ctx) const override;

  bool transpose_a;
  bool transpose_b;
};

// The shape error of an m × k by k2 × n product.
std::string dotshape_error(std::uint64_t m, std::uint64_t k, std::uint64_t k2, std::uint64_t n);

}  // namespace gradix_autograd::tensor_ops::dot_ops

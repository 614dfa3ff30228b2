#pragma once
// The inverse of a square matrix.

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::matrix_ops {

// Gauss–Jordan elimination with partial pivoting. A pivot below the machine
// epsilon in magnitude (an absolute test) makes the matrix singular.
class MatrixInverseOp final : public op::NamedOp<MatrixInverseOp> {
 public:
  static constexpr std::string_view kName = op_names::kMatrixInverseOp;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  // −(Yᵀ·G·Yᵀ), built as graph nodes.
  void grad(op::GradientContext& ctx) const override;
};

}  // namespace gradix_autograd::tensor_ops::matrix_ops

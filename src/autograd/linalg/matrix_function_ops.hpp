#pragma once
// Gradients (vector-Jacobian products) of the matrix square root, logarithm
// and power with respect to the matrix argument. Inputs: A (n × n) and the
// n × n gradient of the forward result; output: dA (n × n). The arithmetic is
// in the kernels of matrix_functions.hpp.

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::matrix_functions {

// X with S·X + X·S = dS, S = A^(1/2) (A symmetric positive definite).
class MatrixSqrtBackwardOp final : public op::Op {
 public:
  std::string_view name() const override { return op_names::kMatrixSqrtBackwardOp; }
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// Daleckii–Krein gradient of ln A for symmetric A.
class MatrixLogBackwardOp final : public op::Op {
 public:
  std::string_view name() const override { return op_names::kMatrixLogBackwardOp; }
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// Spectral gradient of A^p for symmetric A.
class MatrixPowBackwardOp final : public op::Op {
 public:
  explicit MatrixPowBackwardOp(double p) : p(p) {}
  std::string_view name() const override { return op_names::kMatrixPowBackwardOp; }
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  double p;
};

}  // namespace gradix_autograd::tensor_ops::matrix_functions

#pragma once
// Gradients of the SVD, QR, LU and Cholesky decompositions with respect to the
// decomposed matrix A. Inputs: A and the gradient of one factor; output: dA of
// A's shape. Each compute recomputes the factors of A (decomposition_backward
// .hpp) and passes them, with zero gradients for the other factors, to the
// matching gradient kernel.

#include <cstddef>

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::decomposition_ops::backward_ops {

// `component` 0 = U, 1 = S, 2 = Vt. A gradient larger than its factor is cut,
// a smaller one padded with zeros. The U and V gradients are refused when two
// singular values (nearly) coincide.
class SVDBackwardOp final : public op::Op {
 public:
  explicit SVDBackwardOp(std::size_t component) : component(component) {}
  std::string_view name() const override { return op_names::kSVDBackwardOp; }
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  std::size_t component;
};

// `component` 0 = Q, 1 = R. Q is m × m and R = Qᵀ·A; a tall A (m > n) is
// differentiated as its thin QR. g is cut or padded to its factor's shape.
class QRExtractBackwardOp final : public op::NamedOp<QRExtractBackwardOp> {
 public:
  static constexpr std::string_view kName = op_names::kQRExtractBackwardOp;
  explicit QRExtractBackwardOp(std::size_t component) : component(component) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  std::size_t component;
};

// `component` 1 = L, 2 = U of the unpivoted LU of a square A; g must have
// A's shape.
class LUExtractBackwardOp final : public op::NamedOp<LUExtractBackwardOp> {
 public:
  static constexpr std::string_view kName = op_names::kLUExtractBackwardOp;
  explicit LUExtractBackwardOp(std::size_t component) : component(component) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  std::size_t component;
};

// A = L·Lᵀ for a square positive definite A; dL must have A's shape.
class CholeskyBackwardOp final : public op::NamedOp<CholeskyBackwardOp> {
 public:
  static constexpr std::string_view kName = op_names::kCholeskyBackwardOp;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

}  // namespace gradix_autograd::tensor_ops::decomposition_ops::backward_ops

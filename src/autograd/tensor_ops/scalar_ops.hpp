#pragma once
// Input 0 times a constant fixed at construction.

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::scalar_ops {

class ScalarMulOp final : public op::NamedOp<ScalarMulOp> {
 public:
  static constexpr std::string_view kName = op_names::kScalarMulOp;
  explicit ScalarMulOp(double factor) : factor(factor) {}

  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
  // The gradient rule reads `factor` through this.
  const op::Op* as_any() const override { return this; }

  double factor;
};

}  // namespace gradix_autograd::tensor_ops::scalar_ops

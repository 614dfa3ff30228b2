#pragma once
// The gradient of a Kronecker product a ⊗ b with respect to one factor.

#include <cstdint>

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::kronecker_ops {

// Inputs gy, a, b. `which` 0 gives dA (a's shape), any other value dB.
// gy is either one value spread over a ⊗ b or a matrix at least as large as
// a ⊗ b (rows and columns past it are not read).
class KroneckerGradOp final : public op::Op {
 public:
  explicit KroneckerGradOp(std::uint64_t which) : which(which) {}
  std::string_view name() const override {
    return which == 0 ? op_names::kKroneckerGradA : op_names::kKroneckerGradB;
  }
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  std::uint64_t which;
};

}  // namespace gradix_autograd::tensor_ops::kronecker_ops

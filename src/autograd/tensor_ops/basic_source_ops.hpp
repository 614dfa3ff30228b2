#pragma once
// The operators of variable and placeholder nodes. The evaluator supplies
// their values itself (the environment's array, the fed array); `compute`
// below is what the interface requires of them.

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::basic_source_ops {

// Shared behaviour: compute copies input 0 (0-d zero without inputs); grad
// passes gy to input 0.
template <class Derived>
class SourceOp : public op::NamedOp<Derived> {
 public:
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

class Variable final : public SourceOp<Variable> {
 public:
  static constexpr std::string_view kName = op_names::kVariable;
};

class Placeholder final : public SourceOp<Placeholder> {
 public:
  static constexpr std::string_view kName = op_names::kPlaceholder;
};

extern template class SourceOp<Variable>;
extern template class SourceOp<Placeholder>;

}  // namespace gradix_autograd::tensor_ops::basic_source_ops

#pragma once
// The binary arithmetic operators. An operand that holds a single value (by
// its operator's shape rule) applies to every element of the other operand;
// otherwise the operands are co-broadcast.

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::binary_ops {

class AddOp final : public op::NamedOp<AddOp> {
 public:
  static constexpr std::string_view kName = op_names::kAddOp;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

class SubOp final : public op::NamedOp<SubOp> {
 public:
  static constexpr std::string_view kName = op_names::kSubOp;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

class MulOp final : public op::NamedOp<MulOp> {
 public:
  static constexpr std::string_view kName = op_names::kMulOp;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

class DivOp final : public op::NamedOp<DivOp> {
 public:
  static constexpr std::string_view kName = op_names::kDivOp;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

}  // namespace gradix_autograd::tensor_ops::binary_ops

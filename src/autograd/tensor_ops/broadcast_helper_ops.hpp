#pragma once
// Operators over shape tensors (1-D arrays of doubles, one element per axis)
// for binary element-wise operations: the result shape of a binary operation,
// and the sum and broadcast between a gradient and an operand's shape.

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::array_ops {

// Inputs: the shapes of the left and right operands. Output: the result shape
// by NumPy's rule (trailing axes aligned, the shorter shape's missing leading
// axes taken from the longer); a negative (unknown) extent defers to a known
// one.
class InferBinOpShape final : public op::NamedOp<InferBinOpShape> {
 public:
  static constexpr std::string_view kName = op_names::kInferBinOpShape;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

}  // namespace gradix_autograd::tensor_ops::array_ops

namespace gradix_autograd::tensor_ops::binary_ops {

// Inputs: a gradient gy and a target shape. Output: gy summed down to that
// shape.
class MaybeReduceSum final : public op::NamedOp<MaybeReduceSum> {
 public:
  static constexpr std::string_view kName = op_names::kMaybeReduceSum;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// Inputs: an array x and a target shape. Output: x broadcast to that shape.
class MaybeBroadcast final : public op::NamedOp<MaybeBroadcast> {
 public:
  static constexpr std::string_view kName = op_names::kMaybeBroadcast;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

}  // namespace gradix_autograd::tensor_ops::binary_ops

#pragma once
// The diagonal matrix of a vector and the gradient of a matrix trace.

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::linalg_ops {

// x (a vector of length n) → the n × n matrix with x on its diagonal.
class DiagOp final : public op::NamedOp<DiagOp> {
 public:
  static constexpr std::string_view kName = op_names::kDiagOp;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  // The diagonal of gy, built as graph nodes.
  void grad(op::GradientContext& ctx) const override;
};

// A (n × n), g (the trace's gradient, one value) → g·I.
class TraceBackwardOp final : public op::NamedOp<TraceBackwardOp> {
 public:
  static constexpr std::string_view kName = op_names::kTraceBackwardOp;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

}  // namespace gradix_autograd::tensor_ops::linalg_ops

#pragma once
// Constant sources: a 0-d value and a held array.

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::const_gen_ops {

// A 0-d array (shape [], not [1]) holding `value`.
class Scalar final : public op::NamedOp<Scalar> {
 public:
  static constexpr std::string_view kName = op_names::kScalar;
  explicit Scalar(double value) : value(value) {}

  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  double value;
};

// A copy of the owned `array` on every evaluation.
class ConvertToTensor final : public op::NamedOp<ConvertToTensor> {
 public:
  static constexpr std::string_view kName = op_names::kConvertToTensor;
  explicit ConvertToTensor(Array array) : array(std::move(array)) {}

  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  Array array;
};

}  // namespace gradix_autograd::tensor_ops::const_gen_ops

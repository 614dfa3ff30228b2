#pragma once
// Element-wise unary operators (input 0 mapped into an array of its shape) and
// the comparison operators Maximum, Minimum, Greater and Equal.

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::math_ops {

// -x: a flip of the sign bit (0.0 gives -0.0).
class NegOp final : public op::NamedOp<NegOp> {
 public:
  static constexpr std::string_view kName = op_names::kNegOp;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// The C library's exp.
class Exp final : public op::NamedOp<Exp> {
 public:
  static constexpr std::string_view kName = op_names::kExp;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// The C library's log (0 gives -inf, a negative value NaN).
class Ln final : public op::NamedOp<Ln> {
 public:
  static constexpr std::string_view kName = op_names::kLn;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// The C library's pow(x, exponent).
class Pow final : public op::NamedOp<Pow> {
 public:
  static constexpr std::string_view kName = op_names::kPow;
  explicit Pow(double exponent) : exponent(exponent) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  double exponent;
};

// The comparison operators share one shape discipline (comparison_ops.cpp): an
// operand of shape [] or [1] is a single value; otherwise equal ranks and a
// one-way broadcast of one operand to the other's shape, else a fatal error.

// The larger value; NaN only when both are NaN.
class Maximum final : public op::NamedOp<Maximum> {
 public:
  static constexpr std::string_view kName = op_names::kMaximum;
  static constexpr std::string_view kShortName = "Maximum";
  static double apply(double a, double b) {
    if (a != a) return b;
    return b > a ? b : a;
  }
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// The smaller value; NaN only when both are NaN.
class Minimum final : public op::NamedOp<Minimum> {
 public:
  static constexpr std::string_view kName = op_names::kMinimum;
  static constexpr std::string_view kShortName = "Minimum";
  static double apply(double a, double b) {
    if (a != a) return b;
    return b < a ? b : a;
  }
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// 1.0 where a > b strictly, else 0.0.
class Greater final : public op::NamedOp<Greater> {
 public:
  static constexpr std::string_view kName = op_names::kGreater;
  static constexpr std::string_view kShortName = "Greater";
  static double apply(double a, double b) { return a > b ? 1.0 : 0.0; }
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// 1.0 where a == b in IEEE comparison, else 0.0.
class Equal final : public op::NamedOp<Equal> {
 public:
  static constexpr std::string_view kName = op_names::kEqual;
  static constexpr std::string_view kShortName = "Equal";
  static double apply(double a, double b) { return a == b ? 1.0 : 0.0; }
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

}  // namespace gradix_autograd::tensor_ops::math_ops

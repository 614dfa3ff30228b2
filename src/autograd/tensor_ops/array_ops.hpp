#pragma once
// Operators that change an array's shape or axis order without changing its
// values, the shape of an array as a tensor, and the n-ary sum.
//
// Shape, axes and permutation arguments are tensors of doubles read in
// row-major order, whatever their own shape.

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::array_ops {

// Inputs: x, a target shape (-1 once: inferred). A count mismatch is
// IncompatibleShape "reshape failed: {x's shape} vs {target sizes}".
class Reshape final : public op::NamedOp<Reshape> {
 public:
  static constexpr std::string_view kName = op_names::kReshape;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// Inputs: x, axes of extent 1 to remove (negative ones count from the end of
// x's shape).
class Squeeze final : public op::NamedOp<Squeeze> {
 public:
  static constexpr std::string_view kName = op_names::kSqueeze;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// Inputs: x, positions at which axes of extent 1 are inserted, ascending; a
// negative position counts from the rank of x itself.
class ExpandDims final : public op::NamedOp<ExpandDims> {
 public:
  static constexpr std::string_view kName = op_names::kExpandDims;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// Input: x. Output: x's extents as a 1-D array.
class Shape final : public op::NamedOp<Shape> {
 public:
  static constexpr std::string_view kName = op_names::kShape;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// The sum of all inputs, left to right: x0 + x1 co-broadcast, then each
// further input added into that sum (it must broadcast to the sum's shape).
class AddN final : public op::NamedOp<AddN> {
 public:
  static constexpr std::string_view kName = op_names::kAddN;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

}  // namespace gradix_autograd::tensor_ops::array_ops

namespace gradix_autograd::tensor_ops::math_ops {

// Inputs: x, a permutation. Result axis i is x's axis p[i]; with
// `invert_axes`, x's axis i goes to position p[i] instead.
class Transpose final : public op::NamedOp<Transpose> {
 public:
  static constexpr std::string_view kName = op_names::kTranspose;
  explicit Transpose(bool invert_axes) : invert_axes(invert_axes) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  bool invert_axes;
};

}  // namespace gradix_autograd::tensor_ops::math_ops

#pragma once
// Reductions over axes (sum, mean, product, sum of all elements) and the two
// operators that spread a reduced gradient back over the reduced input's shape.
//
// Axes arrive as a tensor of doubles: axis numbers (negative ones count from
// the end), or with `sparse_axes` a mask whose 1.0 elements mark the axes.
// The list is not de-duplicated. Ill-formed axes are caller errors (fatal).

#include <cstddef>
#include <vector>

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::reduction_ops {

// x summed over `axes`: a copy for x of shape [] or [1] or no axes; otherwise
// the axes sorted and folded from the largest, each a fold from 0.0 in
// ascending index order; `keep_dims` puts each folded axis back with extent 1.
Array compute_reduce_sum(const Array& x, std::vector<std::size_t> axes, bool keep_dims);

// The three axis reductions take inputs x, axes.

class ReduceSum final : public op::NamedOp<ReduceSum> {
 public:
  static constexpr std::string_view kName = op_names::kReduceSum;
  ReduceSum(bool keep_dims, bool sparse_axes) : keep_dims(keep_dims), sparse_axes(sparse_axes) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  bool keep_dims;
  bool sparse_axes;
};

// The sum times the reciprocal of the reduced element count, which is formed
// in single precision (exact up to 2^24).
class ReduceMean final : public op::NamedOp<ReduceMean> {
 public:
  static constexpr std::string_view kName = op_names::kReduceMean;
  ReduceMean(bool keep_dims, bool sparse_axes) : keep_dims(keep_dims), sparse_axes(sparse_axes) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  bool keep_dims;
  bool sparse_axes;
};

class ReduceProd final : public op::NamedOp<ReduceProd> {
 public:
  static constexpr std::string_view kName = op_names::kReduceProd;
  ReduceProd(bool keep_dims, bool sparse_axes) : keep_dims(keep_dims), sparse_axes(sparse_axes) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  bool keep_dims;
  bool sparse_axes;
};

// A 0-d array holding the sum of all elements of x (0.0 when it has none).
class ReduceSumAll final : public op::NamedOp<ReduceSumAll> {
 public:
  static constexpr std::string_view kName = op_names::kReduceSumAll;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// The same value as ReduceSumAll.
class ReduceSumToScalar final : public op::NamedOp<ReduceSumToScalar> {
 public:
  static constexpr std::string_view kName = op_names::kReduceSumToScalar;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// Inputs: gy, a target shape. Output: the target's shape filled with gy's
// first element; a gy without elements is a fatal error.
class ReduceSumToScalarGrad final : public op::NamedOp<ReduceSumToScalarGrad> {
 public:
  static constexpr std::string_view kName = op_names::kReduceSumToScalarGrad;
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
};

// Inputs: gy, a target shape, axes. Output: gy broadcast to the target, with
// extent-1 axes first put back at the listed positions when `reinsert_axes`
// is set (or gy is of shape [] or [1]) and gy has fewer axes than the target.
class ReduceGradCommon final : public op::NamedOp<ReduceGradCommon> {
 public:
  static constexpr std::string_view kName = op_names::kReduceGradCommon;
  ReduceGradCommon(bool reinsert_axes, bool sparse_axes) : reinsert_axes(reinsert_axes), sparse_axes(sparse_axes) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  bool reinsert_axes;
  bool sparse_axes;
};

}  // namespace gradix_autograd::tensor_ops::reduction_ops

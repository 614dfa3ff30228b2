#pragma once
// Selecting parts of an array and spreading gradients back into them: Slice
// (a range per axis) with SliceGrad, and Gather (sub-arrays along one axis
// picked by an index tensor) with GatherGrad. Ill-formed ranges, axes and
// indices are caller errors (fatal); none of these returns an error value.

#include <cstdint>
#include <optional>
#include <vector>

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::array_ops {

// Positions start, start + step, ... before end along one axis; negative
// start and end count from the end of the axis, no end means the axis' end,
// a negative step walks the range backwards from its last position. Ranges
// outside the axis
// and step 0 are refused, never clamped.
struct SliceElement {
  std::int64_t start = 0;
  std::optional<std::int64_t> end;
  std::int64_t step = 1;
};

// Input: x. Output: the region of x given by one range per axis (the rank
// is kept). The gradient construction reads the ranges through `as_any`.
class Slice final : public op::NamedOp<Slice> {
 public:
  static constexpr std::string_view kName = op_names::kSlice;
  explicit Slice(std::vector<SliceElement> slice_elements) : slice_elements(std::move(slice_elements)) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;
  const op::Op* as_any() const override { return this; }

  std::vector<SliceElement> slice_elements;
};

// Inputs: x (for its shape), gy. Output: zeros of x's shape with gy, broadcast
// to the region, written into the region.
class SliceGrad final : public op::NamedOp<SliceGrad> {
 public:
  static constexpr std::string_view kName = op_names::kSliceGrad;
  explicit SliceGrad(std::vector<SliceElement> slice_elements) : slice_elements(std::move(slice_elements)) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  std::vector<SliceElement> slice_elements;
};

// Inputs: indices, param. Output: param's sub-arrays at the indices along
// `axis` (negative: from the end), shaped param[..axis] + indices' shape +
// param[axis+1..].
class Gather final : public op::NamedOp<Gather> {
 public:
  static constexpr std::string_view kName = op_names::kGather;
  Gather(std::int64_t axis, bool normalize_negative_indices)
      : axis(axis), normalize_negative_indices(normalize_negative_indices) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  std::int64_t axis;
  bool normalize_negative_indices;
};

// Inputs: indices, param, gy. Output: zeros of param's shape with gy's
// sub-arrays added at the indices along `axis` (a scatter-add). The indices
// are read exactly as the Gather with the same flag reads them.
class GatherGrad final : public op::NamedOp<GatherGrad> {
 public:
  static constexpr std::string_view kName = op_names::kGatherGrad;
  explicit GatherGrad(std::int64_t axis, bool normalize_negative_indices = true)
      : axis(axis), normalize_negative_indices(normalize_negative_indices) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  std::int64_t axis;
  bool normalize_negative_indices;
};

}  // namespace gradix_autograd::tensor_ops::array_ops

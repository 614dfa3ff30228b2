#pragma once
// The derivatives of a product over axes. A group is the set of elements of
// x that the product folds into one result element; every operator here
// works group by group and reads its axes as ReduceProd does (axis numbers,
// or with `sparse_axes` a mask; repeated axes count once).

#include "autograd/op.hpp"
#include "autograd/op_names.hpp"

namespace gradix_autograd::tensor_ops::reduction_ops {

// Inputs: x, axes. Output: x's shape, each element the product of the other
// elements of its group (1.0 for an element alone). Formed from a running
// product from each side, so it is exact where x holds zeros: the derivative
// of ReduceProd.
class ExclusiveProd final : public op::NamedOp<ExclusiveProd> {
 public:
  static constexpr std::string_view kName = op_names::kExclusiveProd;
  explicit ExclusiveProd(bool sparse_axes) : sparse_axes(sparse_axes) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  bool sparse_axes;
};

// Inputs: x, axes, g_1, ..., g_n (n >= 1, each of x's shape or broadcast to
// it). Output: x's shape; at element m, the sum over distinct members
// i_1, ..., i_n of m's group, none of them m, of g_1[i_1]···g_n[i_n] times
// the product of the group's other elements (those neither m nor an i_r).
//
// With n = 1 this is ExclusiveProd's gradient for the output gradient g_1;
// each further weight is one more derivative with respect to x. Every group,
// whatever its values, is formed from products alone and never divides by
// x: the coefficient of t_1···t_n of the product of
// (x_k + t_1 g_1[k] + ... + t_n g_n[k]) over the other members, from running
// products from each side, linear in the group's length. So the result
// stays accurate next to a zero (no cancellation of large quotients), at
// subnormal and infinite entries (no overflowing quotient), and at zeros,
// whose missing constant term is never multiplied.
class ExclusiveProdGrad final : public op::NamedOp<ExclusiveProdGrad> {
 public:
  static constexpr std::string_view kName = op_names::kExclusiveProdGrad;
  explicit ExclusiveProdGrad(bool sparse_axes) : sparse_axes(sparse_axes) {}
  op::OpResult compute(op::ComputeContext& ctx) const override;
  void grad(op::GradientContext& ctx) const override;

  bool sparse_axes;
};

}  // namespace gradix_autograd::tensor_ops::reduction_ops

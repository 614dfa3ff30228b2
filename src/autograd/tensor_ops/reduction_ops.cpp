#include "autograd/tensor_ops/reduction_ops.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include "autograd/ndarray_ext_axes.hpp"
#include "autograd/shape_helpers.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::tensor_ops::reduction_ops {

namespace sh = shape_helpers;

namespace {

using ndarray_ext::check_axis;
using ndarray_ext::reduction_axes;

// The fold of compute_reduce_sum with any start value and step.
template <class F>
Array reduce_over_axes(const Array& x, std::vector<std::size_t> axes, bool keep_dims, double init, F step) {
  if (sh::is_scalar_like(extents_of(x)) || axes.empty()) return x;
  std::sort(axes.begin(), axes.end());
  // Largest axis first, so the smaller axis numbers stay valid.
  Array work;
  const Array* current = &x;
  for (auto it = axes.rbegin(); it != axes.rend(); ++it) {
    check_axis(*it, current->dimension());
    Array folded = sh::fold_axis(*current, *it, init, step);
    if (keep_dims) folded = ndarray_ext::expand_dims(std::move(folded), *it);
    work = std::move(folded);
    current = &work;
  }
  return work;
}

op::OpResult too_many_elements(const std::vector<std::size_t>& shape) {
  return kvel_support::unexpected(error::OpError::incompatible_shape(sh::too_many_elements(Extents(shape))));
}

double sum_all(const Array& x) {
  double acc = 0.0;
  const double* src = x.data();
  for (std::size_t i = 0; i < x.size(); ++i) acc += src[i];
  return acc;
}


}  // namespace

Array compute_reduce_sum(const Array& x, std::vector<std::size_t> axes, bool keep_dims) {
  return reduce_over_axes(x, std::move(axes), keep_dims, 0.0, [](double acc, double v) { return acc + v; });
}

op::OpResult ReduceSum::compute(op::ComputeContext& ctx) const {
  const Array& x = ctx.input(0);
  ctx.append_output(compute_reduce_sum(x, reduction_axes(ctx.input(1), sparse_axes, x.dimension()), keep_dims));
  return op::ok();
}

op::OpResult ReduceMean::compute(op::ComputeContext& ctx) const {
  const Array& x = ctx.input(0);
  std::vector<std::size_t> axes = reduction_axes(ctx.input(1), sparse_axes, x.dimension());
  if (axes.empty()) {
    ctx.pass_input(0);
    return op::ok();
  }
  // Single precision, rounded after every factor: past 2^24 elements the
  // count is the float nearest to it.
  float divisor = 1.0f;
  for (const std::size_t axis : axes) {
    check_axis(axis, x.dimension());
    divisor = divisor * static_cast<float>(x.shape()[axis]);
  }
  Array sum = compute_reduce_sum(x, std::move(axes), keep_dims);
  const double reciprocal = 1.0 / static_cast<double>(divisor);
  double* data = sum.data();
  for (std::size_t i = 0; i < sum.size(); ++i) data[i] *= reciprocal;
  ctx.append_output(std::move(sum));
  return op::ok();
}

op::OpResult ReduceProd::compute(op::ComputeContext& ctx) const {
  const Array& x = ctx.input(0);
  ctx.append_output(reduce_over_axes(x, reduction_axes(ctx.input(1), sparse_axes, x.dimension()), keep_dims, 1.0,
                                     [](double acc, double v) { return acc * v; }));
  return op::ok();
}

op::OpResult ReduceSumAll::compute(op::ComputeContext& ctx) const {
  ctx.append_output(sh::make_scalar(sum_all(ctx.input(0))));
  return op::ok();
}

op::OpResult ReduceSumToScalar::compute(op::ComputeContext& ctx) const {
  ctx.append_output(sh::make_scalar(sum_all(ctx.input(0))));
  return op::ok();
}

op::OpResult ReduceSumToScalarGrad::compute(op::ComputeContext& ctx) const {
  const Array& gy = ctx.input(0);
  const std::vector<std::size_t> target = sh::shape_to_sizes(ctx.input(1));
  if (!sh::checked_element_count(Extents(target))) return too_many_elements(target);
  if (gy.size() == 0) {
    kvel_support::panic("ReduceSumToScalarGrad: the gradient " + sh::format_shape(extents_of(gy)) +
                        " has no element to spread");
  }
  Array out = sh::make_array(Extents(target));
  std::fill(out.data(), out.data() + out.size(), gy.data()[0]);
  ctx.append_output(std::move(out));
  return op::ok();
}

op::OpResult ReduceGradCommon::compute(op::ComputeContext& ctx) const {
  const Array& gy = ctx.input(0);
  const std::vector<std::size_t> target = sh::shape_to_sizes(ctx.input(1));
  const Extents target_extents(target);
  if (!sh::checked_element_count(target_extents)) return too_many_elements(target);
  if (sh::same_shape(extents_of(gy), target_extents)) {
    ctx.pass_input(0);
    return op::ok();
  }
  const Array* source = &gy;
  Array with_axes;
  // The reduced axes go back in only while gy lacks them: a gy that kept
  // them (keep_dims, including a [1] from a vector) already has the
  // target's rank.
  if ((reinsert_axes || sh::is_scalar_like(extents_of(gy))) && gy.dimension() < target.size()) {
    std::vector<std::size_t> axes = reduction_axes(ctx.input(2), sparse_axes, target.size());
    std::sort(axes.begin(), axes.end());
    std::vector<std::size_t> shape(gy.shape().begin(), gy.shape().end());
    for (const std::size_t axis : axes) {
      if (axis > shape.size()) {
        kvel_support::panic("cannot insert an axis at position " + std::to_string(axis) + " of the shape " +
                            sh::format_shape(shape));
      }
      shape.insert(shape.begin() + static_cast<std::ptrdiff_t>(axis), std::size_t{1});
    }
    std::optional<Array> reshaped = sh::reshaped(gy, shape);
    if (!reshaped) kvel_support::panic("Operation failed");
    with_axes = std::move(*reshaped);
    source = &with_axes;
  }
  if (!sh::broadcasts_to(extents_of(*source), target_extents)) kvel_support::panic("Operation failed");
  sh::broadcast_to(ctx, *source, target_extents);
  return op::ok();
}

}  // namespace gradix_autograd::tensor_ops::reduction_ops

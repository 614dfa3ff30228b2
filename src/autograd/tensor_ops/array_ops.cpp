#include "autograd/tensor_ops/array_ops.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include "autograd/element_conversions.hpp"
#include "autograd/grad_context.hpp"
#include "autograd/shape_helpers.hpp"
#include "autograd/strided_walk.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::tensor_ops {

namespace sh = shape_helpers;

namespace {

constexpr const char* kConversionFailed = "Operation failed";


[[noreturn]] void axis_out_of_bounds(std::int64_t position, std::size_t bound) {
  kvel_support::panic("index out of bounds: axis position " + std::to_string(position) + " with " +
                      std::to_string(bound) + " axes");
}

// Axes read as signed integers, in row-major order.
std::vector<std::int64_t> signed_axes(const Array& axes) {
  std::vector<std::int64_t> out(axes.size());
  const double* src = axes.data();
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = conversions::to_signed(src[i], kConversionFailed);
  return out;
}

// x's elements, in row-major order, laid out in a shape of the same count.
Array relaid(const Array& x, const std::vector<std::size_t>& shape) {
  std::optional<Array> out = sh::reshaped(x, Extents(shape));
  if (!out) kvel_support::panic("Shape conversion failed - this is a bug");
  return std::move(*out);
}

}  // namespace

op::OpResult array_ops::Reshape::compute(op::ComputeContext& ctx) const {
  const Array& x = ctx.input(0);
  const Array& shape = ctx.input(1);
  const double* dims = shape.data();
  std::vector<std::size_t> sizes(shape.size());
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    if (dims[i] != -1.0) {
      sizes[i] = conversions::to_size(dims[i], kConversionFailed);
      continue;
    }
    // The product includes the -1 itself, so it is minus the known extents'
    // product; a second -1 makes it positive and is refused.
    double product = 1.0;
    for (std::size_t j = 0; j < shape.size(); ++j) product *= dims[j];
    constexpr double kTwoTo64 = 18446744073709551616.0;
    if (!(product > -kTwoTo64 && product < 1.0)) kvel_support::panic(kConversionFailed);
    const auto known = static_cast<std::size_t>(-product);
    if (known == 0) kvel_support::panic("attempt to divide by zero");
    sizes[i] = x.size() / known;
  }
  const std::optional<std::size_t> count = sh::checked_element_count(Extents(sizes));
  if (!count || *count != x.size()) {
    return kvel_support::unexpected(error::OpError::incompatible_shape(
        "reshape failed: " + sh::format_shape(extents_of(x)) + " vs " + sh::format_shape(Extents(sizes))));
  }
  ctx.append_output(*sh::reshaped(x, Extents(sizes)));
  return op::ok();
}

op::OpResult array_ops::Squeeze::compute(op::ComputeContext& ctx) const {
  const Array& x = ctx.input(0);
  const auto rank = static_cast<std::int64_t>(x.dimension());
  // Negative axes are taken against x's own rank before sorting, so that
  // every axis names an axis of x whatever else is removed.
  std::vector<std::int64_t> axes = signed_axes(ctx.input(1));
  for (std::int64_t& a : axes) {
    if (a < 0) a += rank;
  }
  std::sort(axes.begin(), axes.end());
  std::vector<std::size_t> shape(x.shape().begin(), x.shape().end());
  std::int64_t removed = 0;
  for (const std::int64_t a : axes) {
    const std::int64_t position = a - removed;
    if (position < 0 || position >= static_cast<std::int64_t>(shape.size())) axis_out_of_bounds(position, shape.size());
    if (shape[static_cast<std::size_t>(position)] != 1) kvel_support::panic("Can't squeeze a dim whose size != 1");
    shape.erase(shape.begin() + position);
    ++removed;
  }
  ctx.append_output(relaid(x, shape));
  return op::ok();
}

op::OpResult array_ops::ExpandDims::compute(op::ComputeContext& ctx) const {
  const Array& x = ctx.input(0);
  const auto rank = static_cast<std::int64_t>(x.dimension());
  std::vector<std::int64_t> axes = signed_axes(ctx.input(1));
  std::sort(axes.begin(), axes.end());
  std::vector<std::size_t> shape(x.shape().begin(), x.shape().end());
  for (const std::int64_t a : axes) {
    const std::int64_t position = a < 0 ? a + rank : a;
    if (position < 0 || position > static_cast<std::int64_t>(shape.size())) axis_out_of_bounds(position, shape.size());
    shape.insert(shape.begin() + position, std::size_t{1});
  }
  ctx.append_output(relaid(x, shape));
  return op::ok();
}

op::OpResult math_ops::Transpose::compute(op::ComputeContext& ctx) const {
  const Array& x = ctx.input(0);
  const Array& permutation = ctx.input(1);
  const std::size_t rank = x.dimension();
  if (permutation.size() != rank) {
    return kvel_support::unexpected(
        error::OpError::incompatible_shape("transpose: inputs's ndim and axes's length must match"));
  }
  const double* p = permutation.data();
  std::vector<std::size_t> order(rank, 0);
  for (std::size_t i = 0; i < rank; ++i) {
    const std::size_t entry = conversions::to_size(p[i], kConversionFailed);
    if (!invert_axes) {
      order[i] = entry;
      continue;
    }
    if (entry >= rank) axis_out_of_bounds(static_cast<std::int64_t>(entry), rank);
    order[entry] = i;
  }
  std::vector<bool> seen(rank, false);
  for (const std::size_t axis : order) {
    if (axis >= rank || seen[axis]) {
      kvel_support::panic("transpose: the axis order " + sh::format_shape(Extents(order)) +
                          " is not a permutation");
    }
    seen[axis] = true;
  }
  const std::vector<std::ptrdiff_t> x_strides = strided::row_major_strides(extents_of(x));
  std::vector<std::size_t> out_shape(rank);
  std::vector<std::ptrdiff_t> strides(rank);
  for (std::size_t i = 0; i < rank; ++i) {
    out_shape[i] = x.shape()[order[i]];
    strides[i] = x_strides[order[i]];
  }
  Array out = sh::make_array(Extents(out_shape));
  const double* src = x.data();
  double* dst = out.data();
  strided::walk(Extents(out_shape), strides, 0, [&](std::size_t k, std::ptrdiff_t offset) { dst[k] = src[offset]; });
  ctx.append_output(std::move(out));
  return op::ok();
}

op::OpResult array_ops::Shape::compute(op::ComputeContext& ctx) const {
  const Array& x = ctx.input(0);
  const std::size_t rank = x.dimension();
  double* dst = ctx.output_array(Extents(&rank, 1)).data();
  for (std::size_t i = 0; i < rank; ++i) dst[i] = static_cast<double>(x.shape()[i]);
  return op::ok();
}

op::OpResult array_ops::AddN::compute(op::ComputeContext& ctx) const {
  const std::size_t n = ctx.num_inputs();
  if (n == 0) kvel_support::panic("internal error: entered unreachable code");
  if (n == 1) {
    ctx.pass_input(0);
    return op::ok();
  }
  const auto add = [](double a, double b) { return a + b; };
  Array sum = sh::co_broadcast_zip(ctx.input(0), ctx.input(1), add);
  for (std::size_t i = 2; i < n; ++i) {
    const Array& x = ctx.input(i);
    const Extents sum_shape = extents_of(sum);
    if (sh::same_shape(extents_of(x), sum_shape)) {
      double* acc = sum.data();
      const double* src = x.data();
      for (std::size_t k = 0; k < sum.size(); ++k) acc[k] += src[k];
      continue;
    }
    // The sum keeps its shape: an input that would grow it is refused.
    if (!sh::broadcasts_to(extents_of(x), sum_shape)) {
      kvel_support::panic("AddN: input " + std::to_string(i) + " of shape " + sh::format_shape(extents_of(x)) +
                          " cannot be broadcast to the sum's shape " + sh::format_shape(sum_shape));
    }
    sum = sh::zip_broadcast(sum, x, sum_shape, add);
  }
  ctx.append_output(std::move(sum));
  return op::ok();
}

// A shape carries no gradient.
void array_ops::Shape::grad(op::GradientContext& ctx) const { ctx.set_input_grad(0, std::nullopt); }



}  // namespace gradix_autograd::tensor_ops

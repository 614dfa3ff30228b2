#include "autograd/tensor_ops/slicing_ops.hpp"

#include <algorithm>
#include <string>

#include "autograd/element_conversions.hpp"
#include "autograd/grad_context.hpp"
#include "autograd/ndarray_ext_axes.hpp"
#include "autograd/shape_helpers.hpp"
#include "autograd/strided_walk.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::tensor_ops::array_ops {

namespace sh = shape_helpers;

namespace {

// The positions one set of ranges selects in a contiguous array.
struct Region {
  std::vector<std::size_t> shape;
  std::vector<std::ptrdiff_t> strides;
  std::ptrdiff_t base = 0;
};

Region resolve_region(Extents x_shape, const std::vector<SliceElement>& ranges) {
  const std::size_t rank = x_shape.size();
  if (ranges.size() != rank) {
    kvel_support::panic("Slice: " + std::to_string(ranges.size()) + " ranges for an array of rank " +
                        std::to_string(rank));
  }
  const std::vector<std::ptrdiff_t> x_strides = strided::row_major_strides(x_shape);
  Region region{std::vector<std::size_t>(rank), std::vector<std::ptrdiff_t>(rank), 0};
  for (std::size_t d = 0; d < rank; ++d) {
    const SliceElement& r = ranges[d];
    const auto len = static_cast<std::int64_t>(x_shape[d]);
    const std::int64_t start = r.start < 0 ? len + r.start : r.start;
    std::int64_t end = len;
    if (r.end) end = *r.end < 0 ? len + *r.end : *r.end;
    if (start < 0 || start > len) {
      kvel_support::panic("Slice begin " + std::to_string(r.start) + " is past end of axis of length " +
                          std::to_string(len));
    }
    if (end < 0 || end > len) {
      kvel_support::panic("Slice end " + std::to_string(*r.end) + " is past end of axis of length " +
                          std::to_string(len));
    }
    if (r.step == 0) kvel_support::panic("Slice stride must not be zero");
    end = std::max(end, start);
    // In unsigned arithmetic, so that no step (INT64_MIN included) overflows:
    // the positions of a span s are ceil(s / |step|).
    const auto span = static_cast<std::uint64_t>(end - start);
    const std::uint64_t magnitude =
        r.step < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(r.step) : static_cast<std::uint64_t>(r.step);
    const std::uint64_t count = span == 0 ? 0 : (span - 1) / magnitude + 1;
    const std::int64_t first = (r.step > 0 || count == 0) ? start : end - 1;
    region.shape[d] = static_cast<std::size_t>(count);
    // A stride is only walked across between two positions, so a step
    // beyond the axis (one position at most) takes none.
    region.strides[d] = count > 1 ? r.step * x_strides[d] : 0;
    region.base += first * x_strides[d];
  }
  return region;
}


// `axis`, counted from the end when negative; fatal outside the rank.
std::size_t resolve_axis(std::int64_t axis, std::size_t rank) {
  const std::int64_t a = axis < 0 ? axis + static_cast<std::int64_t>(rank) : axis;
  if (a < 0 || a >= static_cast<std::int64_t>(rank)) {
    kvel_support::panic("index out of bounds: axis " + std::to_string(axis) + " of an array of rank " +
                        std::to_string(rank));
  }
  return static_cast<std::size_t>(a);
}

[[noreturn]] void index_out_of_bounds(std::size_t index, std::size_t extent) {
  kvel_support::panic("index out of bounds: index " + std::to_string(index) + " on an axis of length " +
                      std::to_string(extent));
}

// param's shape around `axis`: the element counts before and after it.
struct AxisSplit {
  std::size_t outer = 1;
  std::size_t extent = 0;
  std::size_t inner = 1;
};

AxisSplit split_at(Extents shape, std::size_t axis) {
  AxisSplit s;
  for (std::size_t i = 0; i < axis; ++i) s.outer *= shape[i];
  s.extent = shape[axis];
  for (std::size_t i = axis + 1; i < shape.size(); ++i) s.inner *= shape[i];
  return s;
}

// The positions along an axis of `extent` that the indices name, in logical
// order; Gather and GatherGrad read them alike, so a gradient lands where
// the value was read. Normalising: v + extent for a negative v, then the
// lenient size conversion; otherwise the strict one ("Invalid index value").
// A position at or past the extent is fatal.
std::vector<std::size_t> gather_positions(const Array& indices, std::size_t extent, bool normalize_negative) {
  std::vector<std::size_t> picks;
  if (normalize_negative) {
    picks = ndarray_ext::normalize_negative_axes(indices, extent);
  } else {
    picks.resize(indices.size());
    for (std::size_t k = 0; k < picks.size(); ++k) picks[k] = conversions::to_size(indices.data()[k], "Invalid index value");
  }
  for (const std::size_t p : picks) {
    if (p >= extent) index_out_of_bounds(p, extent);
  }
  return picks;
}

}  // namespace

op::OpResult Slice::compute(op::ComputeContext& ctx) const {
  const Array& x = ctx.input(0);
  const Region region = resolve_region(extents_of(x), slice_elements);
  Array out = sh::make_array(Extents(region.shape));
  const double* src = x.data();
  double* dst = out.data();
  strided::walk(Extents(region.shape), region.strides, region.base,
                [&](std::size_t k, std::ptrdiff_t offset) { dst[k] = src[offset]; });
  ctx.append_output(std::move(out));
  return op::ok();
}

op::OpResult SliceGrad::compute(op::ComputeContext& ctx) const {
  const Array& x = ctx.input(0);
  const Array& gy = ctx.input(1);
  const Region region = resolve_region(extents_of(x), slice_elements);
  const Extents region_shape(region.shape);
  Array spread;
  const Array* source = &gy;
  if (!sh::same_shape(extents_of(gy), region_shape)) {
    if (!sh::broadcasts_to(extents_of(gy), region_shape)) {
      kvel_support::panic("SliceGrad: cannot broadcast the gradient " + sh::format_shape(extents_of(gy)) +
                          " to the region " + sh::format_shape(region_shape));
    }
    spread = sh::broadcast_to(gy, region_shape);
    source = &spread;
  }
  Array out = sh::make_array(extents_of(x));
  std::fill(out.data(), out.data() + out.size(), 0.0);
  const double* src = source->data();
  double* dst = out.data();
  strided::walk(region_shape, region.strides, region.base,
                [&](std::size_t k, std::ptrdiff_t offset) { dst[offset] = src[k]; });
  ctx.append_output(std::move(out));
  return op::ok();
}

op::OpResult Gather::compute(op::ComputeContext& ctx) const {
  const Array& indices = ctx.input(0);
  const Array& param = ctx.input(1);
  const Extents param_shape = extents_of(param);
  const std::size_t a = resolve_axis(axis, param_shape.size());
  const AxisSplit split = split_at(param_shape, a);
  const std::vector<std::size_t> picks = gather_positions(indices, split.extent, normalize_negative_indices);
  std::vector<std::size_t> out_shape(param_shape.begin(), param_shape.begin() + static_cast<std::ptrdiff_t>(a));
  out_shape.insert(out_shape.end(), indices.shape().begin(), indices.shape().end());
  out_shape.insert(out_shape.end(), param_shape.begin() + static_cast<std::ptrdiff_t>(a) + 1, param_shape.end());
  Array out = sh::make_array(Extents(out_shape));
  const std::size_t n = picks.size();
  const double* src = param.data();
  double* dst = out.data();
  for (std::size_t o = 0; o < split.outer; ++o) {
    for (std::size_t k = 0; k < n; ++k) {
      const double* from = src + (o * split.extent + picks[k]) * split.inner;
      std::copy(from, from + split.inner, dst + (o * n + k) * split.inner);
    }
  }
  ctx.append_output(std::move(out));
  return op::ok();
}

op::OpResult GatherGrad::compute(op::ComputeContext& ctx) const {
  const Array& indices = ctx.input(0);
  const Array& param = ctx.input(1);
  const Array& gy = ctx.input(2);
  const Extents param_shape = extents_of(param);
  const std::size_t a = resolve_axis(axis, param_shape.size());
  const AxisSplit split = split_at(param_shape, a);
  const std::size_t n = indices.size();
  // gy read as param's shape with n positions along the axis.
  if (gy.size() != split.outer * n * split.inner) kvel_support::panic("Operation failed");
  const std::vector<std::size_t> picks = gather_positions(indices, split.extent, normalize_negative_indices);
  Array out = sh::make_array(param_shape);
  std::fill(out.data(), out.data() + out.size(), 0.0);
  const double* src = gy.data();
  double* dst = out.data();
  for (std::size_t k = 0; k < n; ++k) {
    const std::size_t position = picks[k];
    // Repeated indices accumulate.
    for (std::size_t o = 0; o < split.outer; ++o) {
      const double* from = src + (o * n + k) * split.inner;
      double* to = dst + (o * split.extent + position) * split.inner;
      for (std::size_t i = 0; i < split.inner; ++i) to[i] += from[i];
    }
  }
  ctx.append_output(std::move(out));
  return op::ok();
}

// The gradient operators are linear in the gradient they spread and flat in
// their other inputs: the gradient's own gradient is the selection again.
void SliceGrad::grad(op::GradientContext& ctx) const {
  const tensor::Tensor g1 =
      tensor::TensorBuilder(ctx.graph()).append_input(ctx.output_grad(), false).build(Slice(slice_elements));
  ctx.set_input_grad(0, std::nullopt);
  ctx.set_input_grad(1, g1);
}

void GatherGrad::grad(op::GradientContext& ctx) const {
  const tensor::Tensor g2 = tensor::TensorBuilder(ctx.graph())
                                .append_input(ctx.input(0), false)
                                .append_input(ctx.output_grad(), false)
                                .build(Gather(axis, normalize_negative_indices));
  ctx.set_input_grad(0, std::nullopt);
  ctx.set_input_grad(1, std::nullopt);
  ctx.set_input_grad(2, g2);
}

}  // namespace gradix_autograd::tensor_ops::array_ops

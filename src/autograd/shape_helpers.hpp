#pragma once
// The shape rules of the engine, in one place. xtensor's own broadcasting is
// not used: it stretches both operands and resizes on assignment, while
// several operators here allow one-way broadcasting only.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "autograd/array.hpp"
#include "autograd/op.hpp"

namespace gradix_autograd::shape_helpers {

// "[2, 3]"; "[]" for rank 0.
std::string format_shape(Extents shape);
std::string format_dims(std::span<const std::int64_t> dims);

bool same_shape(Extents a, Extents b);

// One-way broadcast of `from` to `to`: trailing axes aligned, `from` may lack
// leading axes, and each of its extents equals the target's or is 1.
bool broadcasts_to(Extents from, Extents to);

// The array library's co-broadcast of two shapes, or nothing when some axis
// has two different extents neither of which is 1.
std::optional<ArrayShape> co_broadcast_shape(Extents a, Extents b);

// The element count of `shape`, or nothing when the count or its size in
// bytes overflows (such an array cannot exist).
std::optional<std::size_t> checked_element_count(Extents shape);
// The text of that failure: "an array of shape [..] has more elements than
// can be addressed".
std::string too_many_elements(Extents shape);

// A new array of the given shape, elements uninitialised; a shape whose
// element count overflows is a fatal error (too_many_elements).
Array make_array(Extents shape);
// A 0-d array holding `value`.
Array make_scalar(double value);

// Per-axis element strides of `operand` read over `out` (which it must
// broadcast to): zero on stretched and on missing leading axes.
std::vector<std::size_t> broadcast_strides(Extents operand, Extents out);

// f over the n elements of src, into dst.
template <class F>
void map_into(double* dst, const double* src, std::size_t n, F f) {
  for (std::size_t i = 0; i < n; ++i) dst[i] = f(src[i]);
}

// x mapped element by element, same shape.
template <class F>
Array map_elements(const Array& x, F f) {
  Array out = make_array(extents_of(x));
  map_into(out.data(), x.data(), x.size(), f);
  return out;
}
// The same as the context's output 0.
template <class F>
void map_elements(op::ComputeContext& ctx, const Array& x, F f) {
  Array& out = ctx.output_array(extents_of(x));
  map_into(out.data(), x.data(), x.size(), f);
}

// f(a, b) over `out_shape` into dst, each operand read through its broadcast
// over `out_shape` (callers check that both broadcast to it).
template <class F>
void zip_into(double* dst, const Array& a, const Array& b, Extents out_shape, F f) {
  const double* pa = a.data();
  const double* pb = b.data();
  std::size_t n = 1;
  for (const std::size_t e : out_shape) n *= e;
  // An operand that broadcasts to the result with as many elements is read
  // in order; one with a single element is that element throughout.
  const bool a_in_order = a.size() == n;
  const bool b_in_order = b.size() == n;
  if (a_in_order && b_in_order) {
    for (std::size_t i = 0; i < n; ++i) dst[i] = f(pa[i], pb[i]);
    return;
  }
  if (a_in_order && b.size() == 1) {
    const double vb = pb[0];
    for (std::size_t i = 0; i < n; ++i) dst[i] = f(pa[i], vb);
    return;
  }
  if (a.size() == 1 && b_in_order) {
    const double va = pa[0];
    for (std::size_t i = 0; i < n; ++i) dst[i] = f(va, pb[i]);
    return;
  }
  if (a.size() == 1 && b.size() == 1) {
    const double v = f(pa[0], pb[0]);
    std::fill(dst, dst + n, v);
    return;
  }
  const std::size_t rank = out_shape.size();
  const std::vector<std::size_t> sa = broadcast_strides(extents_of(a), out_shape);
  const std::vector<std::size_t> sb = broadcast_strides(extents_of(b), out_shape);
  std::vector<std::size_t> index(rank, 0);
  std::size_t oa = 0;
  std::size_t ob = 0;
  for (std::size_t i = 0; i < n; ++i) {
    dst[i] = f(pa[oa], pb[ob]);
    // Advance the row-major odometer.
    for (std::size_t d = rank; d-- > 0;) {
      ++index[d];
      oa += sa[d];
      ob += sb[d];
      if (index[d] < out_shape[d]) break;
      oa -= sa[d] * index[d];
      ob -= sb[d] * index[d];
      index[d] = 0;
    }
  }
}

// f(a, b) over `out_shape`, each operand read through its broadcast over
// `out_shape` (callers check that both broadcast to it).
template <class F>
Array zip_broadcast(const Array& a, const Array& b, Extents out_shape, F f) {
  Array out = make_array(out_shape);
  zip_into(out.data(), a, b, out_shape, f);
  return out;
}
// The same as the context's output 0.
template <class F>
void zip_broadcast(op::ComputeContext& ctx, const Array& a, const Array& b, Extents out_shape, F f) {
  Array& out = ctx.output_array(out_shape);
  zip_into(out.data(), a, b, out_shape, f);
}

// x stretched one way to `out_shape` (callers check broadcasts_to).
inline Array broadcast_to(const Array& x, Extents out_shape) {
  return zip_broadcast(x, x, out_shape, [](double a, double) { return a; });
}
// The same as the context's output 0.
inline void broadcast_to(op::ComputeContext& ctx, const Array& x, Extents out_shape) {
  zip_broadcast(ctx, x, x, out_shape, [](double a, double) { return a; });
}

// f(a, b) over the co-broadcast shape of a and b; shapes that do not
// co-broadcast are a caller error and stop with a fatal error.
[[noreturn]] void fail_co_broadcast(Extents a, Extents b);
template <class F>
Array co_broadcast_zip(const Array& a, const Array& b, F f) {
  const std::optional<ArrayShape> shape = co_broadcast_shape(extents_of(a), extents_of(b));
  if (!shape) fail_co_broadcast(extents_of(a), extents_of(b));
  return zip_broadcast(a, b, Extents(shape->data(), shape->size()), f);
}
// The same as the context's output 0.
template <class F>
void co_broadcast_zip(op::ComputeContext& ctx, const Array& a, const Array& b, F f) {
  const Extents ea = extents_of(a);
  const Extents eb = extents_of(b);
  // Equal shapes, the common case, need no shape of their own.
  if (same_shape(ea, eb)) {
    zip_broadcast(ctx, a, b, ea, f);
    return;
  }
  const std::optional<ArrayShape> shape = co_broadcast_shape(ea, eb);
  if (!shape) fail_co_broadcast(ea, eb);
  zip_broadcast(ctx, a, b, Extents(shape->data(), shape->size()), f);
}

// Copy of x laid out in `shape` (row-major), or nothing when the element
// counts differ.
std::optional<Array> reshaped(const Array& x, Extents shape);

// x folded along `axis` (which must be below its rank): each result element
// starts from `init` and takes f(acc, element) in ascending index order. The
// axis is removed.
template <class F>
Array fold_axis(const Array& x, std::size_t axis, double init, F f) {
  const Extents shape = extents_of(x);
  ArrayShape out_shape;
  out_shape.reserve(shape.size() - 1);
  std::size_t outer = 1;
  std::size_t inner = 1;
  for (std::size_t i = 0; i < shape.size(); ++i) {
    if (i < axis) outer *= shape[i];
    if (i > axis) inner *= shape[i];
    if (i != axis) out_shape.push_back(shape[i]);
  }
  const std::size_t mid = shape[axis];
  Array out(out_shape);
  const double* src = x.data();
  double* dst = out.data();
  for (std::size_t o = 0; o < outer; ++o) {
    for (std::size_t i = 0; i < inner; ++i) {
      double acc = init;
      for (std::size_t k = 0; k < mid; ++k) acc = f(acc, src[(o * mid + k) * inner + i]);
      dst[o * inner + i] = acc;
    }
  }
  return out;
}

// Sum along `axis` (a fold from 0.0 in index order), the axis kept with
// extent 1.
Array sum_axis_keep(const Array& x, std::size_t axis);

// The lenient size of one element: trunc(v) when -1 < v < 2^64, else 0 (NaN
// included). Never an error.
inline std::size_t size_or_zero(double v) {
  constexpr double kTwoTo64 = 18446744073709551616.0;
  return (v > -1.0 && v < kTwoTo64) ? static_cast<std::size_t>(v) : 0;
}

// A shape tensor (1-D doubles) as sizes, each element by size_or_zero.
std::vector<std::size_t> shape_to_sizes(const Array& shape_tensor);

// Empty, or the one entry 1.
bool is_scalar_like(Extents sizes);

}  // namespace gradix_autograd::shape_helpers

#pragma once
// The shape rules of the engine, in one place. xtensor's own broadcasting is
// not used: it stretches both operands and resizes on assignment, while
// several operators here allow one-way broadcasting only.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "autograd/array.hpp"

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

// A new array of the given shape, elements uninitialised.
Array make_array(Extents shape);
// A 0-d array holding `value`.
Array make_scalar(double value);

// Per-axis element strides of `operand` read over `out` (which it must
// broadcast to): zero on stretched and on missing leading axes.
std::vector<std::size_t> broadcast_strides(Extents operand, Extents out);

// x mapped element by element, same shape.
template <class F>
Array map_elements(const Array& x, F f) {
  Array out = make_array(extents_of(x));
  const double* src = x.data();
  double* dst = out.data();
  const std::size_t n = x.size();
  for (std::size_t i = 0; i < n; ++i) dst[i] = f(src[i]);
  return out;
}

// f(a, b) over `out_shape`, each operand read through its broadcast over
// `out_shape` (callers check that both broadcast to it).
template <class F>
Array zip_broadcast(const Array& a, const Array& b, Extents out_shape, F f) {
  Array out = make_array(out_shape);
  double* dst = out.data();
  const double* pa = a.data();
  const double* pb = b.data();
  const std::size_t n = out.size();
  if (same_shape(extents_of(a), out_shape) && same_shape(extents_of(b), out_shape)) {
    for (std::size_t i = 0; i < n; ++i) dst[i] = f(pa[i], pb[i]);
    return out;
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
  return out;
}

// x stretched one way to `out_shape` (callers check broadcasts_to).
inline Array broadcast_to(const Array& x, Extents out_shape) {
  return zip_broadcast(x, x, out_shape, [](double a, double) { return a; });
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

// Copy of x laid out in `shape` (row-major), or nothing when the element
// counts differ.
std::optional<Array> reshaped(const Array& x, Extents shape);

// Sum along `axis` (a fold from 0.0 in index order), the axis kept with
// extent 1.
Array sum_axis_keep(const Array& x, std::size_t axis);

// A shape tensor (1-D doubles) as sizes: each element v gives trunc(v) when
// -1 < v < 2^64, else 0 (NaN included). Never an error.
std::vector<std::size_t> shape_to_sizes(const Array& shape_tensor);

// Empty, or the one entry 1.
bool is_scalar_like(Extents sizes);

}  // namespace gradix_autograd::shape_helpers

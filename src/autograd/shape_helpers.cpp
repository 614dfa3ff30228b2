#include "autograd/shape_helpers.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "support/panic.hpp"

namespace gradix_autograd::shape_helpers {

namespace {

template <class T>
std::string format_list(std::span<const T> values) {
  std::string out = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ", ";
    out += std::to_string(values[i]);
  }
  out += ']';
  return out;
}

}  // namespace

std::optional<std::size_t> checked_element_count(Extents shape) {
  std::size_t n = 1;
  for (const std::size_t e : shape) {
    if (__builtin_mul_overflow(n, e, &n)) return std::nullopt;
  }
  std::size_t bytes = 0;
  if (__builtin_mul_overflow(n, sizeof(double), &bytes) ||
      bytes > static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max())) {
    return std::nullopt;
  }
  return n;
}

std::string too_many_elements(Extents shape) {
  return "an array of shape " + format_shape(shape) + " has more elements than can be addressed";
}

std::string format_shape(Extents shape) { return format_list(shape); }
std::string format_dims(std::span<const std::int64_t> dims) { return format_list(dims); }

bool same_shape(Extents a, Extents b) { return std::equal(a.begin(), a.end(), b.begin(), b.end()); }

bool broadcasts_to(Extents from, Extents to) {
  if (from.size() > to.size()) return false;
  const std::size_t lead = to.size() - from.size();
  for (std::size_t i = 0; i < from.size(); ++i) {
    if (from[i] != to[lead + i] && from[i] != 1) return false;
  }
  return true;
}

std::optional<ArrayShape> co_broadcast_shape(Extents a, Extents b) {
  const std::size_t rank = std::max(a.size(), b.size());
  ArrayShape out(rank, 1);
  for (std::size_t k = 0; k < rank; ++k) {
    // k counts axes from the end.
    const std::size_t ea = k < a.size() ? a[a.size() - 1 - k] : 1;
    const std::size_t eb = k < b.size() ? b[b.size() - 1 - k] : 1;
    std::size_t e;
    if (ea == eb || eb == 1) {
      e = ea;
    } else if (ea == 1) {
      e = eb;
    } else {
      return std::nullopt;
    }
    out[rank - 1 - k] = e;
  }
  return out;
}

void fail_co_broadcast(Extents a, Extents b) {
  kvel_support::panic("Cannot co-broadcast shapes " + format_shape(a) + " and " + format_shape(b));
}

Array make_array(Extents shape) {
  if (!checked_element_count(shape)) kvel_support::panic(too_many_elements(shape));
  return Array(ArrayShape(shape.begin(), shape.end()));
}

Array make_scalar(double value) {
  Array out = make_array({});
  out.data()[0] = value;
  return out;
}

std::vector<std::size_t> broadcast_strides(Extents operand, Extents out) {
  std::vector<std::size_t> strides(out.size(), 0);
  const std::size_t lead = out.size() - operand.size();
  std::size_t stride = 1;
  for (std::size_t i = operand.size(); i-- > 0;) {
    strides[lead + i] = (operand[i] == out[lead + i]) ? stride : 0;
    stride *= operand[i];
  }
  return strides;
}

std::optional<Array> reshaped(const Array& x, Extents shape) {
  const std::optional<std::size_t> count = checked_element_count(shape);
  if (!count || *count != x.size()) return std::nullopt;
  Array out = make_array(shape);
  std::copy(x.data(), x.data() + x.size(), out.data());
  return out;
}

Array sum_axis_keep(const Array& x, std::size_t axis) {
  ArrayShape kept(x.shape().begin(), x.shape().end());
  kept[axis] = 1;
  Array out = fold_axis(x, axis, 0.0, [](double acc, double v) { return acc + v; });
  out.reshape(kept);
  return out;
}

std::vector<std::size_t> shape_to_sizes(const Array& shape_tensor) {
  std::vector<std::size_t> sizes(shape_tensor.size());
  const double* src = shape_tensor.data();
  for (std::size_t i = 0; i < sizes.size(); ++i) sizes[i] = size_or_zero(src[i]);
  return sizes;
}

bool is_scalar_like(Extents sizes) { return sizes.empty() || (sizes.size() == 1 && sizes[0] == 1); }

}  // namespace gradix_autograd::shape_helpers

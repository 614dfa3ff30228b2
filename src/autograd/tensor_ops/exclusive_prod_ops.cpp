#include "autograd/tensor_ops/exclusive_prod_ops.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <numeric>
#include <span>
#include <string>
#include <vector>

#include "autograd/ndarray_ext_axes.hpp"
#include "autograd/shape_helpers.hpp"
#include "autograd/strided_walk.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::tensor_ops::reduction_ops {

namespace sh = shape_helpers;

namespace {

// The groups of x: the offsets of a group's members from its first element,
// in row-major order, and the offset of every group's first element, in
// row-major order of the axes that are not reduced.
struct Groups {
  std::vector<std::ptrdiff_t> members;
  std::vector<std::ptrdiff_t> bases;
};

Groups groups_of(const Array& x, std::vector<std::size_t> axes) {
  Groups groups;
  // The product leaves such an x as it is, so every element is alone.
  if (sh::is_scalar_like(extents_of(x)) || axes.empty()) {
    groups.members = {0};
    groups.bases.resize(x.size());
    std::iota(groups.bases.begin(), groups.bases.end(), std::ptrdiff_t{0});
    return groups;
  }
  for (const std::size_t axis : axes) ndarray_ext::check_axis(axis, x.dimension());
  std::sort(axes.begin(), axes.end());
  axes.erase(std::unique(axes.begin(), axes.end()), axes.end());
  const std::vector<std::ptrdiff_t> strides = strided::row_major_strides(extents_of(x));
  std::vector<std::size_t> group_shape;
  std::vector<std::ptrdiff_t> group_strides;
  std::vector<std::size_t> outer_shape;
  std::vector<std::ptrdiff_t> outer_strides;
  for (std::size_t d = 0; d < x.dimension(); ++d) {
    const bool reduced = std::binary_search(axes.begin(), axes.end(), d);
    (reduced ? group_shape : outer_shape).push_back(x.shape()[d]);
    (reduced ? group_strides : outer_strides).push_back(strides[d]);
  }
  strided::walk(Extents(group_shape), group_strides, 0,
                [&](std::size_t, std::ptrdiff_t offset) { groups.members.push_back(offset); });
  strided::walk(Extents(outer_shape), outer_strides, 0,
                [&](std::size_t, std::ptrdiff_t offset) { groups.bases.push_back(offset); });
  return groups;
}

std::vector<std::size_t> axes_of(const op::ComputeContext& ctx, bool sparse_axes) {
  return ndarray_ext::reduction_axes(ctx.input(1), sparse_axes, ctx.input(0).dimension());
}

// Every member's product of the other members of its group: a running
// product from the front times one from the back.
Array exclusive_products(const Array& x, const Groups& groups) {
  Array out = sh::make_array(extents_of(x));
  const double* src = x.data();
  double* dst = out.data();
  for (const std::ptrdiff_t base : groups.bases) {
    double before = 1.0;
    for (const std::ptrdiff_t m : groups.members) {
      dst[base + m] = before;
      before *= src[base + m];
    }
    double after = 1.0;
    for (std::size_t k = groups.members.size(); k-- > 0;) {
      dst[base + groups.members[k]] *= after;
      after *= src[base + groups.members[k]];
    }
  }
  return out;
}

// Polynomials in t_1, ..., t_n in which no t appears twice, as 2^n
// coefficients: entry s (a bit set) is that of the product of the t_r with r
// in s. A product of j factors has no term of more than j t's, and every
// factor whose x is zero has no constant term, so it has no term of fewer
// t's than it has such factors. The coefficients of those degrees are zero
// by construction: they are neither formed nor read, and so an overflowed
// product never meets one of them as 0·∞.
struct Degrees {
  unsigned lowest = 0;
  unsigned highest = 0;
  bool hold(unsigned degree) const { return degree >= lowest && degree <= highest; }
};

// to = from · (x + t_1 g[0] + ... + t_n g[n-1]); returns to's degrees.
Degrees times_factor(std::span<const double> from, Degrees from_degrees, double x, std::span<const double> g,
                     std::span<double> to) {
  const bool zero = x == 0.0;
  const auto n = static_cast<unsigned>(g.size());
  const Degrees to_degrees{zero ? from_degrees.lowest + 1 : from_degrees.lowest,
                           std::min(from_degrees.highest + 1, n)};
  for (std::size_t s = 0; s < to.size(); ++s) {
    const auto degree = static_cast<unsigned>(std::popcount(s));
    double acc = 0.0;
    if (to_degrees.hold(degree)) {
      if (!zero && from_degrees.hold(degree)) acc = x * from[s];
      for (unsigned r = 0; r < n; ++r) {
        const std::size_t bit = std::size_t{1} << r;
        if ((s & bit) != 0 && from_degrees.hold(degree - 1)) acc += g[r] * from[s ^ bit];
      }
    }
    to[s] = acc;
  }
  return to_degrees;
}

// The coefficient of t_1···t_n in a·b.
double top_coefficient(std::span<const double> a, Degrees a_degrees, std::span<const double> b, Degrees b_degrees,
                       unsigned n) {
  const std::size_t all = a.size() - 1;
  double acc = 0.0;
  for (std::size_t s = 0; s <= all; ++s) {
    const auto degree = static_cast<unsigned>(std::popcount(s));
    if (a_degrees.hold(degree) && b_degrees.hold(n - degree)) acc += a[s] * b[all ^ s];
  }
  return acc;
}

// The working storage of one group: the products of the factors before and
// after each member, and the members' values and weights.
struct GroupWork {
  std::vector<double> before;
  std::vector<Degrees> before_degrees;
  std::vector<double> after;
  std::vector<Degrees> after_degrees;
  std::vector<double> x;
  std::vector<double> g;  // member k's weights at k·n ... k·n + n − 1
};

// For each member m of the group at `base`: the coefficient of t_1···t_n in
// the product of (x_k + Σ_r t_r g_r[k]) over the other members k.
void coefficients_of_group(const Groups& groups, std::ptrdiff_t base, const Array& x,
                           const std::vector<const Array*>& weights, GroupWork& w, double* out) {
  const auto n = static_cast<unsigned>(weights.size());
  const std::size_t size = std::size_t{1} << n;
  const std::size_t len = groups.members.size();
  w.x.resize(len);
  w.g.resize(len * n);
  for (std::size_t k = 0; k < len; ++k) {
    const std::ptrdiff_t at = base + groups.members[k];
    w.x[k] = x.data()[at];
    for (unsigned r = 0; r < n; ++r) w.g[k * n + r] = weights[r]->data()[at];
  }
  w.before.assign((len + 1) * size, 0.0);
  w.after.assign((len + 1) * size, 0.0);
  w.before_degrees.assign(len + 1, Degrees{});
  w.after_degrees.assign(len + 1, Degrees{});
  const auto poly = [size](std::vector<double>& store, std::size_t k) {
    return std::span<double>(store.data() + k * size, size);
  };
  const auto weights_of = [&w, n](std::size_t k) { return std::span<const double>(w.g.data() + k * n, n); };
  w.before[0] = 1.0;
  for (std::size_t k = 0; k < len; ++k) {
    w.before_degrees[k + 1] = times_factor(poly(w.before, k), w.before_degrees[k], w.x[k], weights_of(k),
                                           poly(w.before, k + 1));
  }
  w.after[len * size] = 1.0;
  for (std::size_t k = len; k-- > 0;) {
    w.after_degrees[k] = times_factor(poly(w.after, k + 1), w.after_degrees[k + 1], w.x[k], weights_of(k),
                                      poly(w.after, k));
  }
  for (std::size_t m = 0; m < len; ++m) {
    out[base + groups.members[m]] =
        top_coefficient(poly(w.before, m), w.before_degrees[m], poly(w.after, m + 1), w.after_degrees[m + 1], n);
  }
}

// The work per member doubles with every weight; this many weights is a
// seventeenth derivative, more than any graph takes.
constexpr std::size_t kMaxWeights = 16;

}  // namespace

op::OpResult ExclusiveProd::compute(op::ComputeContext& ctx) const {
  const Array& x = ctx.input(0);
  ctx.append_output(exclusive_products(x, groups_of(x, axes_of(ctx, sparse_axes))));
  return op::ok();
}

op::OpResult ExclusiveProdGrad::compute(op::ComputeContext& ctx) const {
  const Array& x = ctx.input(0);
  const Groups groups = groups_of(x, axes_of(ctx, sparse_axes));
  const std::size_t n = ctx.num_inputs() < 2 ? 0 : ctx.num_inputs() - 2;
  if (n == 0 || n > kMaxWeights) {
    kvel_support::panic("ExclusiveProdGrad: " + std::to_string(n) + " weights, where 1 to " +
                        std::to_string(kMaxWeights) + " are taken");
  }
  // The weights in x's shape.
  std::vector<Array> stretched;
  stretched.reserve(n);
  std::vector<const Array*> weights;
  for (std::size_t r = 0; r < n; ++r) {
    const Array& g = ctx.input(2 + r);
    if (sh::same_shape(extents_of(g), extents_of(x))) {
      weights.push_back(&g);
      continue;
    }
    if (!sh::broadcasts_to(extents_of(g), extents_of(x))) {
      kvel_support::panic("ExclusiveProdGrad: a weight of shape " + sh::format_shape(extents_of(g)) +
                          " does not broadcast to " + sh::format_shape(extents_of(x)));
    }
    stretched.push_back(sh::broadcast_to(g, extents_of(x)));
    weights.push_back(&stretched.back());
  }

  Array out = sh::make_array(extents_of(x));
  GroupWork work;
  for (const std::ptrdiff_t base : groups.bases) coefficients_of_group(groups, base, x, weights, work, out.data());
  ctx.append_output(std::move(out));
  return op::ok();
}

}  // namespace gradix_autograd::tensor_ops::reduction_ops

#include "autograd/tensor_ops/broadcast_helper_ops.hpp"

#include <algorithm>

#include "autograd/grad_context.hpp"
#include "autograd/shape_helpers.hpp"

namespace gradix_autograd::tensor_ops {

namespace sh = shape_helpers;

namespace {

Extents as_extents(const std::vector<std::size_t>& sizes) { return {sizes.data(), sizes.size()}; }

Array reshaped_or_panic(const Array& x, Extents shape, const char* message) {
  std::optional<Array> out = sh::reshaped(x, shape);
  if (!out) kvel_support::panic(message);
  return std::move(*out);
}

}  // namespace

op::OpResult array_ops::InferBinOpShape::compute(op::ComputeContext& ctx) const {
  const Array& lhs = ctx.input(0);
  const Array& rhs = ctx.input(1);
  const std::vector<std::size_t> lhs_sizes = sh::shape_to_sizes(lhs);
  if (sh::is_scalar_like(as_extents(lhs_sizes))) {
    // [1] against [] keeps its axis, as NumPy's broadcast does.
    ctx.pass_input(rhs.size() == 0 ? 0 : 1);
    return op::ok();
  }
  if (sh::is_scalar_like(as_extents(sh::shape_to_sizes(rhs)))) {
    ctx.pass_input(0);
    return op::ok();
  }
  // Trailing axes are aligned; the leading axes of the longer shape have no
  // partner and are taken as they are.
  const std::size_t rank = std::max(lhs.size(), rhs.size());
  const std::size_t lead_lhs = rank - lhs.size();
  const std::size_t lead_rhs = rank - rhs.size();
  double* dst = ctx.output_array(Extents(&rank, 1)).data();
  for (std::size_t i = 0; i < rank; ++i) {
    if (i < lead_lhs) {
      dst[i] = rhs.data()[i - lead_rhs];
      continue;
    }
    if (i < lead_rhs) {
      dst[i] = lhs.data()[i - lead_lhs];
      continue;
    }
    const double a = lhs.data()[i - lead_lhs];
    const double b = rhs.data()[i - lead_rhs];
    double e;
    if (a < 0.0) {
      e = b < 0.0 ? a : b;
    } else if (b < 0.0) {
      e = a;
    } else {
      e = a > b ? a : b;
    }
    dst[i] = e;
  }
  return op::ok();
}

// A shape computation carries no gradient.
void array_ops::InferBinOpShape::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, std::nullopt);
  ctx.set_input_grad(1, std::nullopt);
}

op::OpResult binary_ops::MaybeBroadcast::compute(op::ComputeContext& ctx) const {
  const std::vector<std::size_t> target = sh::shape_to_sizes(ctx.input(1));
  const Array& x = ctx.input(0);
  const Extents target_extents = as_extents(target);
  if (!sh::checked_element_count(target_extents)) {
    return kvel_support::unexpected(error::OpError::incompatible_shape(sh::too_many_elements(target_extents)));
  }
  if (sh::same_shape(extents_of(x), target_extents)) {
    ctx.pass_input(0);
    return op::ok();
  }
  const Array* source = &x;
  Array ones_shaped;
  if (x.dimension() == 0 || (x.dimension() == 1 && x.shape()[0] == 1)) {
    const std::vector<std::size_t> ones(target.size(), 1);
    ones_shaped = reshaped_or_panic(x, as_extents(ones), "Failed to get slice");
    source = &ones_shaped;
  }
  if (!sh::broadcasts_to(extents_of(*source), target_extents)) {
    return kvel_support::unexpected(error::OpError::incompatible_shape("PreprocessBinOpGradGrad: Can't broadcast."));
  }
  sh::broadcast_to(ctx, *source, target_extents);
  return op::ok();
}

op::OpResult binary_ops::MaybeReduceSum::compute(op::ComputeContext& ctx) const {
  const std::vector<std::size_t> target = sh::shape_to_sizes(ctx.input(1));
  const Array& gy = ctx.input(0);
  const Extents g = extents_of(gy);
  const std::size_t n = g.size();
  const Extents t = as_extents(target);
  if (sh::same_shape(t, g)) {
    ctx.pass_input(0);
    return op::ok();
  }
  std::vector<std::size_t> padded;
  if (sh::is_scalar_like(t)) {
    padded.assign(n, 1);
  } else if (target.size() < n) {
    padded.assign(n - target.size(), 1);
    padded.insert(padded.end(), target.begin(), target.end());
  } else {
    padded = target;
  }
  const Extents p = as_extents(padded);
  if (sh::same_shape(p, g)) {
    ctx.append_output(reshaped_or_panic(gy, t, "Failed to get slice"));
    return op::ok();
  }
  // A target of ones against gy with one axis longer than 1 and none empty:
  // the sum along that axis, in index order, is the sum of all of gy in order.
  std::size_t long_axes = 0;
  bool empty_axis = false;
  for (std::size_t j = 0; j < n; ++j) {
    long_axes += g[j] > 1 ? 1 : 0;
    empty_axis = empty_axis || g[j] == 0;
  }
  if (padded.size() == n && long_axes == 1 && !empty_axis &&
      std::all_of(padded.begin(), padded.end(), [](std::size_t e) { return e == 1; })) {
    double sum = 0.0;
    const double* src = gy.data();
    for (std::size_t i = 0; i < gy.size(); ++i) sum += src[i];
    ctx.output_array(t).data()[0] = sum;
    return op::ok();
  }
  Array work;
  bool summed = false;
  const std::size_t walk = std::min(n, padded.size());
  for (std::size_t j = 0; j < walk; ++j) {
    if (padded[j] == 1 && g[j] > 1) {
      work = sh::sum_axis_keep(summed ? work : gy, j);
      summed = true;
    } else if (padded[j] != g[j]) {
      return kvel_support::unexpected(error::OpError::incompatible_shape(
          "MaybeReduceSum: incompatible shapes origshape=" + sh::format_shape(p) +
          " gyshape=" + sh::format_shape(g) + " at dim " + std::to_string(j)));
    }
  }
  if (!summed) {
    ctx.pass_input(0);
    return op::ok();
  }
  ctx.append_output(reshaped_or_panic(work, t, "MaybeReduceSum: shape conversion failed"));
  return op::ok();
}

}  // namespace gradix_autograd::tensor_ops

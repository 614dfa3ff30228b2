#include "autograd/linalg/decomposition_ops.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "autograd/linalg/decomposition_backward.hpp"
#include "autograd/grad_context.hpp"
#include "autograd/linalg/matrix_functions.hpp"

namespace gradix_autograd::tensor_ops::decomposition_ops::backward_ops {

namespace {

namespace kernels = decomposition_backward;
using matrix_functions::f64_to_owned;
using matrix_functions::view_to_f64;

op::OpResult shape_error(const char* text) {
  return kvel_support::unexpected(error::OpError::incompatible_shape(text));
}

bool is_square(const Array& a) { return a.shape()[0] == a.shape()[1]; }

Matrix zeros(std::size_t r, std::size_t c) { return xt::zeros<double>({r, c}); }

// An r × c zero matrix holding the overlapping part of the 2-d array g.
Matrix fitted(const Array& g, std::size_t r, std::size_t c) {
  Matrix out = zeros(r, c);
  const std::size_t gr = std::min(g.shape()[0], r);
  const std::size_t gc = std::min(g.shape()[1], c);
  const std::size_t stride = g.shape()[1];
  for (std::size_t i = 0; i < gr; ++i)
    for (std::size_t j = 0; j < gc; ++j) out(i, j) = g.data()[i * stride + j];
  return out;
}

op::OpResult append(op::ComputeContext& ctx, const Matrix& da) {
  ctx.append_output(f64_to_owned(da));
  return op::ok();
}

// Two singular values closer than 1e-7·max(largest, 1) (a NaN difference
// passes) leave the U and V gradients undefined.
bool has_degenerate_pair(const std::vector<double>& s) {
  double smax = 0.0;
  for (double v : s)
    if (!std::isnan(v)) smax = std::max(smax, std::fabs(v));
  const double scale = std::max(smax, 1.0) * 1e-7;
  for (std::size_t i = 0; i < s.size(); ++i)
    for (std::size_t j = i + 1; j < s.size(); ++j)
      if (std::fabs(s[i] - s[j]) < scale) return true;
  return false;
}

void no_input_gradients(op::GradientContext& ctx) {
  ctx.set_input_grad(0, std::nullopt);
  ctx.set_input_grad(1, std::nullopt);
}

}  // namespace

op::OpResult SVDBackwardOp::compute(op::ComputeContext& ctx) const {
  return op::without_allocation_failure(name(), [&]() -> op::OpResult {
    const Array& a = ctx.input(0);
    const Array& g = ctx.input(1);
    if (a.dimension() != 2) return shape_error("SVDBackward: A must be 2D");
    const std::size_t m = a.shape()[0];
    const std::size_t n = a.shape()[1];
    const Svd f = svd_jacobi_f64(view_to_f64(a));
    const std::size_t k = f.s.size();
    if (component != 1 && k >= 2 && has_degenerate_pair(f.s))
      return kvel_support::unexpected(error::OpError::other(
          "SVD backward: repeated/degenerate singular values make the U/V gradient mathematically undefined; "
          "refusing to fabricate a gradient"));

    Matrix du = zeros(m, k);
    std::vector<double> ds(k, 0.0);
    Matrix dvt = zeros(k, n);
    switch (component) {
      case 0:
        if (g.dimension() != 2) return shape_error("SVDBackward: dU must be 2D");
        du = fitted(g, m, k);
        break;
      case 1:
        if (g.dimension() != 1) return shape_error("SVDBackward: dS must be 1D");
        std::copy_n(g.data(), std::min(g.shape()[0], k), ds.begin());
        break;
      case 2:
        if (g.dimension() != 2) return shape_error("SVDBackward: dVt must be 2D");
        dvt = fitted(g, k, n);
        break;
      default:
        return shape_error("SVDBackward: invalid component");
    }
    return append(ctx, kernels::svd_backward(f.u, f.s, f.vt, du, ds, dvt));
  });
}

op::OpResult QRExtractBackwardOp::compute(op::ComputeContext& ctx) const {
  return op::without_allocation_failure(name(), [&]() -> op::OpResult {
    const Array& a = ctx.input(0);
    const Array& g = ctx.input(1);
    if (a.dimension() != 2) return shape_error("QRExtractBackward: A must be 2D");
    if (g.dimension() != 2) return shape_error("QRExtractBackward: dG must be 2D");
    const std::size_t m = a.shape()[0];
    const std::size_t n = a.shape()[1];
    const Qr f = qr_gram_schmidt(view_to_f64(a));
    // The gradient kernel works on the leading min(m, n) columns of Q and rows
    // of R, so the full factors of a tall matrix give its thin-QR gradient.
    switch (component) {
      case 0:
        return append(ctx, kernels::qr_backward(f.q, f.r, fitted(g, m, m), zeros(m, n)));
      case 1:
        return append(ctx, kernels::qr_backward(f.q, f.r, zeros(m, m), fitted(g, m, n)));
      default:
        return shape_error("QRExtractBackward: invalid component");
    }
  });
}

op::OpResult LUExtractBackwardOp::compute(op::ComputeContext& ctx) const {
  return op::without_allocation_failure(name(), [&]() -> op::OpResult {
    const Array& a = ctx.input(0);
    const Array& g = ctx.input(1);
    if (a.dimension() != 2) return shape_error("LUExtractBackward: A must be 2D");
    if (!is_square(a)) return shape_error("LUExtractBackward: A must be square");
    if (g.dimension() != 2) return shape_error("LUExtractBackward: dG must be 2D");
    const std::size_t n = a.shape()[0];
    const Lu f = lu_doolittle(view_to_f64(a));
    if (component != 1 && component != 2) return shape_error("LUExtractBackward: invalid component");
    if (g.shape()[0] != n || g.shape()[1] != n) return shape_error("LUExtractBackward: dG must have A's shape");
    const Matrix dg = view_to_f64(g);
    const Matrix zero = zeros(n, n);
    return append(ctx, component == 1 ? kernels::lu_backward(f.p, f.l, f.u, dg, zero)
                                      : kernels::lu_backward(f.p, f.l, f.u, zero, dg));
  });
}

op::OpResult CholeskyBackwardOp::compute(op::ComputeContext& ctx) const {
  return op::without_allocation_failure(name(), [&]() -> op::OpResult {
    const Array& a = ctx.input(0);
    const Array& dl = ctx.input(1);
    if (a.dimension() != 2) return shape_error("CholeskyBackward: A must be 2D");
    if (!is_square(a)) return shape_error("CholeskyBackward: A must be square");
    if (dl.dimension() != 2) return shape_error("CholeskyBackward: dL must be 2D");
    if (dl.shape()[0] != a.shape()[0] || dl.shape()[1] != a.shape()[0])
      return shape_error("CholeskyBackward: dL must have A's shape");
    const std::optional<Matrix> l = cholesky_banachiewicz(view_to_f64(a));
    if (!l) return kvel_support::unexpected(error::OpError::other("CholeskyBackward: matrix not positive definite"));
    return append(ctx, kernels::cholesky_backward(*l, view_to_f64(dl)));
  });
}

void SVDBackwardOp::grad(op::GradientContext& ctx) const { no_input_gradients(ctx); }
void QRExtractBackwardOp::grad(op::GradientContext& ctx) const { no_input_gradients(ctx); }
void LUExtractBackwardOp::grad(op::GradientContext& ctx) const { no_input_gradients(ctx); }
void CholeskyBackwardOp::grad(op::GradientContext& ctx) const { no_input_gradients(ctx); }

}  // namespace gradix_autograd::tensor_ops::decomposition_ops::backward_ops

#include "autograd/linalg/matrix_function_ops.hpp"

#include <string>

#include "autograd/grad_context.hpp"
#include "autograd/linalg/matrix_functions.hpp"

namespace gradix_autograd::tensor_ops::matrix_functions {

namespace {

// The texts one operator reports; `name` prefixes its shape texts.
struct Texts {
  std::string_view name;
  std::string_view grad_input;  // "dS" or "dB"
};

using Result = kvel_support::Expected<Matrix, error::OpError>;

error::OpError shape_error(const Texts& t, std::string_view what) {
  std::string text(t.name);
  text += ": ";
  text += what;
  return error::OpError::incompatible_shape(std::move(text));
}

// A and the gradient as matrices; both must be two-dimensional, A first.
struct Operands {
  Matrix a;
  Matrix g;
};

kvel_support::Expected<Operands, error::OpError> read_operands(const op::ComputeContext& ctx, const Texts& t) {
  const Array& a = ctx.input(0);
  const Array& g = ctx.input(1);
  if (a.dimension() != 2) return kvel_support::unexpected(shape_error(t, "A must be 2D"));
  if (g.dimension() != 2)
    return kvel_support::unexpected(shape_error(t, std::string(t.grad_input) + " must be 2D"));
  return Operands{view_to_f64(a), view_to_f64(g)};
}

// The kernels need g of A's (square) shape; checked once A is known square.
bool gradient_fits(const Operands& x) {
  return x.g.shape()[0] == x.a.shape()[0] && x.g.shape()[1] == x.a.shape()[0];
}

kvel_support::Unexpected<error::OpError> gradient_misfit(const Texts& t) {
  return kvel_support::unexpected(shape_error(t, std::string(t.grad_input) + " must have A's shape"));
}

op::OpResult append(op::ComputeContext& ctx, Result da) {
  if (!da.has_value()) return kvel_support::unexpected(std::move(da.error()));
  ctx.append_output(f64_to_owned(*da));
  return op::ok();
}

constexpr Texts kSqrtTexts{op_names::kMatrixSqrtBackwardOp, "dS"};
constexpr Texts kLogTexts{op_names::kMatrixLogBackwardOp, "dB"};
constexpr Texts kPowTexts{op_names::kMatrixPowBackwardOp, "dB"};

Result sqrt_backward(const op::ComputeContext& ctx) {
  auto x = read_operands(ctx, kSqrtTexts);
  if (!x.has_value()) return kvel_support::unexpected(std::move(x.error()));
  // S = A^(1/2) shares A's eigenvectors, so S·dA + dA·S = dS is solved in
  // that eigenbasis, in O(n³), without forming S.
  auto s = sqrtm_spd_eigh(x->a);
  if (!s.has_value()) return kvel_support::unexpected(error::OpError::other(std::move(s.error())));
  if (!gradient_fits(*x)) return gradient_misfit(kSqrtTexts);
  MatrixOrError da = solve_sylvester_eigenbasis(*s, x->g);
  if (!da.has_value()) return kvel_support::unexpected(error::OpError::other(std::move(da.error())));
  return std::move(*da);
}

// The symmetric-only gradients of ln A and A^p share their checks.
template <class Kernel>
Result symmetric_backward(const op::ComputeContext& ctx, const Texts& t, const char* not_symmetric, Kernel kernel) {
  auto x = read_operands(ctx, t);
  if (!x.has_value()) return kvel_support::unexpected(std::move(x.error()));
  if (!is_symmetric_f64(x->a)) return kvel_support::unexpected(error::OpError::other(not_symmetric));
  if (!gradient_fits(*x)) return gradient_misfit(t);
  return kernel(x->a, x->g);
}

void no_input_gradients(op::GradientContext& ctx) {
  ctx.set_input_grad(0, std::nullopt);
  ctx.set_input_grad(1, std::nullopt);
}

}  // namespace

op::OpResult MatrixSqrtBackwardOp::compute(op::ComputeContext& ctx) const {
  return op::without_allocation_failure(name(), [&]() -> op::OpResult {
    return append(ctx, sqrt_backward(ctx));
  });
}

op::OpResult MatrixLogBackwardOp::compute(op::ComputeContext& ctx) const {
  return op::without_allocation_failure(name(), [&]() -> op::OpResult {
    return append(ctx, symmetric_backward(ctx, kLogTexts,
                                          "logm backward: spectral VJP requires a symmetric input; non-symmetric "
                                          "matrix-log gradient is not implemented",
                                          [](const Matrix& a, const Matrix& g) { return logm_daleckii_krein(a, g); }));
  });
}

op::OpResult MatrixPowBackwardOp::compute(op::ComputeContext& ctx) const {
  return op::without_allocation_failure(name(), [&]() -> op::OpResult {
    const double power = p;
    return append(ctx, symmetric_backward(ctx, kPowTexts,
                                          "powm backward: spectral VJP requires a symmetric input; non-symmetric "
                                          "matrix-power gradient is not implemented",
                                          [power](const Matrix& a, const Matrix& g) {
                                            return powm_spectral_backward(a, g, power);
                                          }));
  });
}

void MatrixSqrtBackwardOp::grad(op::GradientContext& ctx) const { no_input_gradients(ctx); }
void MatrixLogBackwardOp::grad(op::GradientContext& ctx) const { no_input_gradients(ctx); }
void MatrixPowBackwardOp::grad(op::GradientContext& ctx) const { no_input_gradients(ctx); }

}  // namespace gradix_autograd::tensor_ops::matrix_functions

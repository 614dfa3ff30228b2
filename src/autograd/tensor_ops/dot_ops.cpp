#include "autograd/tensor_ops/dot_ops.hpp"

#include <limits>
#include <optional>

#include "autograd/grad_context.hpp"
#include "autograd/matrix_product.hpp"
#include "autograd/shape_helpers.hpp"

namespace gradix_autograd::tensor_ops::dot_ops {

namespace {

using ndarray_ext::MatrixOperand;

// The operand as a matrix read in place (the arrays are contiguous
// row-major), or nothing for a rank above 2.
std::optional<MatrixOperand> as_matrix(const Array& x, bool is_left, bool transposed) {
  const auto& shape = x.shape();
  switch (x.dimension()) {
    case 0:
      return MatrixOperand{x.data(), 1, 1, transposed};
    case 1:
      return is_left ? MatrixOperand{x.data(), 1, shape[0], transposed}
                     : MatrixOperand{x.data(), shape[0], 1, transposed};
    case 2:
      return MatrixOperand{x.data(), shape[0], shape[1], transposed};
    default:
      return std::nullopt;
  }
}

op::OpResult rank_error(const char* side, const Array& x) {
  return kvel_support::unexpected(error::OpError::incompatible_shape(
      std::string(side) + " input for MatMul must be 0D, 1D, or 2D, got shape: " +
      shape_helpers::format_shape(extents_of(x))));
}

bool product_overflows(std::uint64_t m, std::uint64_t n, std::uint64_t* product) {
  return __builtin_mul_overflow(m, n, product);
}

}  // namespace

std::string dotshape_error(std::uint64_t m, std::uint64_t k, std::uint64_t k2, std::uint64_t n) {
  std::uint64_t count = 0;
  if (product_overflows(m, n, &count) || count > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return "ndarray: shape " + std::to_string(m) + " \u00d7 " + std::to_string(n) + " overflows isize";
  }
  return "ndarray: inputs " + std::to_string(m) + " \u00d7 " + std::to_string(k) + " and " + std::to_string(k2) +
         " \u00d7 " + std::to_string(n) + " are not compatible for matrix multiplication";
}

op::OpResult MatMul::compute(op::ComputeContext& ctx) const {
  if (ctx.num_inputs() < 2) {
    Array zero(ArrayShape{1, 1});
    zero.data()[0] = 0.0;
    ctx.append_output(std::move(zero));
    return op::ok();
  }
  const Array& x0 = ctx.input(0);
  const std::optional<MatrixOperand> a = as_matrix(x0, true, transpose_a);
  if (!a) return rank_error("lhs", x0);
  const Array& x1 = ctx.input(1);
  const std::optional<MatrixOperand> b = as_matrix(x1, false, transpose_b);
  if (!b) return rank_error("rhs", x1);

  const std::uint64_t m = a->used_rows();
  const std::uint64_t k = a->used_cols();
  const std::uint64_t k2 = b->used_rows();
  const std::uint64_t n = b->used_cols();
  std::uint64_t count = 0;
  if (k != k2 || product_overflows(m, n, &count)) {
    return kvel_support::unexpected(error::OpError::incompatible_shape(dotshape_error(m, k, k2, n)));
  }
  Array out(ArrayShape{m, n});
  ndarray_ext::mat_mul(*a, *b, out.data());
  ctx.append_output(std::move(out));
  return op::ok();
}

void MatMul::grad(op::GradientContext& ctx) const {
  const tensor::Tensor& gy = ctx.output_grad();
  const tensor::Tensor& x0 = ctx.input(0);
  const tensor::Tensor& x1 = ctx.input(1);
  const tensor::Tensor gx0 =
      tensor::TensorBuilder(ctx.graph()).append_input(gy, false).append_input(x1, false).build(MatMul(false, true));
  const tensor::Tensor gx1 =
      tensor::TensorBuilder(ctx.graph()).append_input(x0, false).append_input(gy, false).build(MatMul(true, false));
  ctx.set_input_grad(0, gx0);
  ctx.set_input_grad(1, gx1);
}

}  // namespace gradix_autograd::tensor_ops::dot_ops

#include "autograd/tensor_ops/dot_ops.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/array_constructors.hpp"
#include "autograd/linalg/linear_algebra.hpp"
#include "autograd/ndarray_ext.hpp"
#include "autograd/shape_helpers.hpp"

namespace gradix_autograd::tensor_ops::dot_ops {

namespace {

using ndarray_ext::Matrix;

// The operand as an owned matrix, or nothing for a rank above 2. A rank-1
// left operand is a row, a rank-1 right operand a column.
std::optional<Matrix> as_matrix(const Array& x, bool is_left) {
  std::size_t rows = 1;
  std::size_t cols = 1;
  switch (x.dimension()) {
    case 0:
      break;
    case 1:
      (is_left ? cols : rows) = x.shape()[0];
      break;
    case 2:
      rows = x.shape()[0];
      cols = x.shape()[1];
      break;
    default:
      return std::nullopt;
  }
  Matrix m(std::array<std::size_t, 2>{rows, cols});
  std::copy(x.data(), x.data() + x.size(), m.data());
  return m;
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
  const std::optional<Matrix> a = as_matrix(x0, true);
  if (!a) return rank_error("lhs", x0);
  const Array& x1 = ctx.input(1);
  const std::optional<Matrix> b = as_matrix(x1, false);
  if (!b) return rank_error("rhs", x1);

  // The transposes are read in place by the product rather than copied.
  const std::uint64_t m = a->shape()[transpose_a ? 1 : 0];
  const std::uint64_t k = a->shape()[transpose_a ? 0 : 1];
  const std::uint64_t k2 = b->shape()[transpose_b ? 1 : 0];
  const std::uint64_t n = b->shape()[transpose_b ? 0 : 1];
  std::uint64_t count = 0;
  if (k != k2 || product_overflows(m, n, &count)) {
    return kvel_support::unexpected(error::OpError::incompatible_shape(dotshape_error(m, k, k2, n)));
  }
  const Matrix product = ndarray_ext::gemm(*a, transpose_a, *b, transpose_b);
  Array out(ArrayShape{m, n});
  std::copy(product.data(), product.data() + product.size(), out.data());
  ctx.append_output(std::move(out));
  return op::ok();
}

tensor::Tensor input_gradient(bool transpose_a, bool transpose_b, const tensor::Tensor& gy, const tensor::Tensor& a,
                              const tensor::Tensor& b, std::size_t i) {
  // The operands keep their sides, so a vector is promoted as in the
  // forward product (a row on the left, a column on the right).
  const bool first = i == 0;
  tensor::TensorBuilder builder(gy.graph());
  if (first) {
    builder.append_input(gy, false).append_input(b, false);
  } else {
    builder.append_input(a, false).append_input(gy, false);
  }
  tensor::Tensor g = first ? builder.build(MatMul(false, !transpose_b)) : builder.build(MatMul(!transpose_a, false));
  if (first ? transpose_a : transpose_b) g = linear_algebra::transpose(g, {1, 0});
  const tensor::Tensor target = shape(first ? a : b);
  return reshape(g, target);
}

void MatMul::grad(op::GradientContext& ctx) const {
  const tensor::Tensor& gy = ctx.output_grad();
  const tensor::Tensor& x0 = ctx.input(0);
  const tensor::Tensor& x1 = ctx.input(1);
  const tensor::Tensor gx0 = input_gradient(transpose_a, transpose_b, gy, x0, x1, 0);
  const tensor::Tensor gx1 = input_gradient(transpose_a, transpose_b, gy, x0, x1, 1);
  ctx.set_input_grad(0, gx0);
  ctx.set_input_grad(1, gx1);
}

}  // namespace gradix_autograd::tensor_ops::dot_ops

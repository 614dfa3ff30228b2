#include "autograd/linalg/linear_algebra.hpp"

#include "autograd/constructors.hpp"
#include "autograd/tensor_ops/array_ops.hpp"
#include "autograd/tensor_ops/dot_ops.hpp"
#include "autograd/linalg/linalg_ops.hpp"
#include "autograd/linalg/matrix_ops.hpp"

namespace gradix_autograd::tensor_ops::linear_algebra {

using tensor::TensorBuilder;

Tensor matrix_inverse(const Tensor& x) {
  return TensorBuilder(x.graph()).append_input(x, false).build(matrix_ops::MatrixInverseOp{});
}

Tensor diag(const Tensor& x) {
  return TensorBuilder(x.graph()).append_input(x, false).build(linalg_ops::DiagOp{});
}

Tensor matmul(const Tensor& a, const Tensor& b) {
  return TensorBuilder(a.graph()).append_input(a, false).append_input(b, false).build(dot_ops::MatMul(false, false));
}

Tensor transpose(const Tensor& x, const std::array<std::int32_t, 2>& axes) {
  TensorBuilder builder(x.graph());
  builder.append_input(x, false);
  const Tensor permutation = tensor::as_tensor(axes, x.graph());
  return builder.append_input(permutation, false).build(math_ops::Transpose(false));
}

Tensor inverse_gradient(const Tensor& y, const Tensor& gy) {
  const Tensor t = transpose(y, {1, 0});
  const Tensor u = matmul(t, gy);
  const Tensor v = matmul(u, t);
  return arithmetic::neg(v);
}

}  // namespace gradix_autograd::tensor_ops::linear_algebra

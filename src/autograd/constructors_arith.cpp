// Constructors of the arithmetic nodes. Each carries a shape hint, made
// before the result node: shape(x) for the unary ones, and
// infer_bin_opshape(shape(a), shape(b)) for the binary ones.
#include "autograd/constructors.hpp"
#include "autograd/tensor_ops/binary_ops.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "autograd/tensor_ops/scalar_ops.hpp"

namespace gradix_autograd::tensor_ops {

namespace {

template <class O>
Tensor binary_with_hint(const Tensor& a, const Tensor& b, O&& op) {
  graph::Graph& graph = a.graph();
  const Tensor sa = shape(a);
  const Tensor sb = shape(b);
  const Tensor hint = arithmetic::infer_bin_opshape(graph, sa, sb);
  return tensor::TensorBuilder(graph)
      .append_input(a, false)
      .append_input(b, false)
      .set_shape(hint)
      .build(std::forward<O>(op));
}

template <class O>
Tensor unary_with_hint(const Tensor& x, O&& op) {
  tensor::TensorBuilder builder(x.graph());
  builder.append_input(x, false);
  const Tensor hint = shape(x);
  return builder.set_shape(hint).build(std::forward<O>(op));
}

}  // namespace

Tensor arithmetic::add(const Tensor& a, const Tensor& b) { return binary_with_hint(a, b, binary_ops::AddOp{}); }
Tensor arithmetic::sub(const Tensor& a, const Tensor& b) { return binary_with_hint(a, b, binary_ops::SubOp{}); }
Tensor arithmetic::mul(const Tensor& a, const Tensor& b) { return binary_with_hint(a, b, binary_ops::MulOp{}); }
Tensor arithmetic::div(const Tensor& a, const Tensor& b) { return binary_with_hint(a, b, binary_ops::DivOp{}); }

Tensor arithmetic::exp(const Tensor& x) { return unary_with_hint(x, math_ops::Exp{}); }
Tensor arithmetic::ln(const Tensor& x) { return unary_with_hint(x, math_ops::Ln{}); }
Tensor arithmetic::neg(const Tensor& x) { return unary_with_hint(x, math_ops::NegOp{}); }
Tensor arithmetic::pow(const Tensor& x, double p) { return unary_with_hint(x, math_ops::Pow(p)); }

Tensor linear_algebra::scalar_mul(const Tensor& x, double c) {
  return unary_with_hint(x, scalar_ops::ScalarMulOp(c));
}

}  // namespace gradix_autograd::tensor_ops

#include "autograd/linalg/linalg_gradient_hook.hpp"

#include <utility>

#include "autograd/constructors.hpp"
#include "autograd/linalg/decomposition_ops.hpp"
#include "autograd/tensor_ops/dot_ops.hpp"
#include "autograd/linalg/kronecker_ops.hpp"
#include "autograd/linalg/linalg_ops.hpp"
#include "autograd/linalg/linear_algebra.hpp"
#include "autograd/linalg/matrix_function_ops.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::gradient {

namespace {

using tensor::Tensor;
using tensor::TensorBuilder;
namespace la = tensor_ops::linear_algebra;
namespace ar = tensor_ops::arithmetic;
namespace dec = tensor_ops::decomposition_ops::backward_ops;
namespace mf = tensor_ops::matrix_functions;

Tensor transposed(const Tensor& x) { return la::transpose(x, {1, 0}); }

// A backward operator over (a, b), in that order.
template <class O>
Tensor backward_node(O op, const Tensor& a, const Tensor& b) {
  return TensorBuilder(a.graph()).append_input(a, false).append_input(b, false).build(std::move(op));
}

// The component index of a decomposition factor, read from the exact name.
std::size_t lu_component(std::string_view name) { return name == "LUExtractL" ? 1 : 2; }
std::size_t qr_component(std::string_view name) { return name == "QRExtractQ" ? 0 : 1; }
std::size_t svd_component(std::string_view name) {
  if (name == "SVDExtractU") return 0;
  return name == "SVDExtractS" ? 1 : 2;
}

}  // namespace

std::optional<Tensor> linear_algebra_rule_gradient(Rule rule, const VisitedNode& node, std::size_t i) {
  const Tensor& y = node.y;
  const Tensor& gy = node.gy;
  switch (rule) {
    case Rule::kMatMul: {
      // An operator of another type that meets the rule multiplies plainly.
      const auto* product = dynamic_cast<const tensor_ops::dot_ops::MatMul*>(&node.op);
      const bool transpose_a = product != nullptr && product->transpose_a;
      const bool transpose_b = product != nullptr && product->transpose_b;
      return tensor_ops::dot_ops::input_gradient(transpose_a, transpose_b, gy, y.get_backprop_input(0),
                                                 y.get_backprop_input(1), i);
    }
    case Rule::kExtractDiag:
      return la::diag(gy);
    case Rule::kTrace:
      return backward_node(tensor_ops::linalg_ops::TraceBackwardOp{}, y.get_backprop_input(0), gy);
    case Rule::kMatrixInverse:
      return la::inverse_gradient(y, gy);
    case Rule::kDeterminant: {
      const Tensor inverse = la::matrix_inverse(y.get_backprop_input(i));
      const Tensor w = transposed(inverse);
      const Tensor u = ar::mul(gy, y);
      return ar::mul(u, w);
    }
    case Rule::kLinearSolve: {
      const Tensor inverse = la::matrix_inverse(y.get_backprop_input(0));
      const Tensor inverse_t = transposed(inverse);
      const Tensor t = la::matmul(inverse_t, gy);
      if (i >= 1) return t;
      const Tensor y_t = transposed(y);
      const Tensor product = la::matmul(t, y_t);
      return ar::neg(product);
    }
    case Rule::kMatrixSqrt:
      return backward_node(mf::MatrixSqrtBackwardOp{}, y.get_backprop_input(0), gy);
    case Rule::kMatrixLog:
      return backward_node(mf::MatrixLogBackwardOp{}, y.get_backprop_input(0), gy);
    case Rule::kMatrixPow:
      // No operator of this engine is the matrix-power forward operator.
      return std::nullopt;
    case Rule::kKronecker: {
      const Tensor a = y.get_backprop_input(0);
      const Tensor b = y.get_backprop_input(1);
      return TensorBuilder(y.graph())
          .append_input(gy, false)
          .append_input(a, false)
          .append_input(b, false)
          .build(tensor_ops::kronecker_ops::KroneckerGradOp(i));
    }
    case Rule::kCholesky:
      return backward_node(dec::CholeskyBackwardOp{}, node.inputs[i], gy);
    case Rule::kLUExtract:
      if (node.op.name() == "LUExtractP") return std::nullopt;
      return backward_node(dec::LUExtractBackwardOp(lu_component(node.op.name())), node.inputs[i], gy);
    case Rule::kQRExtract:
      return backward_node(dec::QRExtractBackwardOp(qr_component(node.op.name())), node.inputs[i], gy);
    case Rule::kSVDExtract:
      return backward_node(dec::SVDBackwardOp(svd_component(node.op.name())), node.inputs[i], gy);
    default:
      kvel_support::panic("gradient rule without a linear-algebra row");
  }
}

}  // namespace gradix_autograd::gradient

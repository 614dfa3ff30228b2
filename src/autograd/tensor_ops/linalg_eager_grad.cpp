// The eager `grad` operations of DiagOp and MatrixInverseOp: they evaluate
// the gradient (and the output) at once and hand back constant tensors.
#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/linalg_ops.hpp"
#include "autograd/tensor_ops/matrix_ops.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::tensor_ops {

void linalg_ops::DiagOp::grad(op::GradientContext&) const {
  kvel_support::panic("DiagOp: grad needs the evaluator");
}

void matrix_ops::MatrixInverseOp::grad(op::GradientContext&) const {
  kvel_support::panic("MatrixInverseOp: grad needs the evaluator");
}

}  // namespace gradix_autograd::tensor_ops

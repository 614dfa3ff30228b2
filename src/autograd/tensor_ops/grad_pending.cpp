// The `grad` operations that build nodes through the operator constructors
// (shape, maybe_reduce, mul, div, neg, pow, equal, scalar_mul). Those
// constructors are not part of this library yet; until they are, these stop
// with a fatal error. Nothing in the system calls them: gradients come from
// the rule table of the gradient construction.
#include <string>

#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/binary_ops.hpp"
#include "autograd/tensor_ops/broadcast_helper_ops.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "autograd/tensor_ops/scalar_ops.hpp"

namespace gradix_autograd::tensor_ops {

namespace {
[[noreturn]] void constructors_missing(std::string_view op_name) {
  kvel_support::panic(std::string(op_name) + ": grad needs the operator constructors");
}
}  // namespace

void binary_ops::AddOp::grad(op::GradientContext&) const { constructors_missing(kName); }
void binary_ops::SubOp::grad(op::GradientContext&) const { constructors_missing(kName); }
void binary_ops::MulOp::grad(op::GradientContext&) const { constructors_missing(kName); }
void binary_ops::DivOp::grad(op::GradientContext&) const { constructors_missing(kName); }
void binary_ops::MaybeReduceSum::grad(op::GradientContext&) const { constructors_missing(kName); }
void binary_ops::MaybeBroadcast::grad(op::GradientContext&) const { constructors_missing(kName); }
void math_ops::NegOp::grad(op::GradientContext&) const { constructors_missing(kName); }
void math_ops::Exp::grad(op::GradientContext&) const { constructors_missing(kName); }
void math_ops::Ln::grad(op::GradientContext&) const { constructors_missing(kName); }
void math_ops::Pow::grad(op::GradientContext&) const { constructors_missing(kName); }
void math_ops::Maximum::grad(op::GradientContext&) const { constructors_missing(kName); }
void math_ops::Minimum::grad(op::GradientContext&) const { constructors_missing(kName); }
void scalar_ops::ScalarMulOp::grad(op::GradientContext&) const { constructors_missing(kName); }

}  // namespace gradix_autograd::tensor_ops

// The `grad` operations that build nodes through the operator constructors
// (shape, maybe_reduce, mul, div, neg, pow, equal, scalar_mul, squeeze,
// expand_dims, reduce_prod, gather_common) or the tensor builder. Those
// constructors are not part of this library yet; until they are, these stop
// with a fatal error. Nothing in the system calls them: gradients come from
// the rule table of the gradient construction.
#include <string>

#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/binary_ops.hpp"
#include "autograd/tensor_ops/broadcast_helper_ops.hpp"
#include "autograd/tensor_ops/array_ops.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "autograd/tensor_ops/reduction_ops.hpp"
#include "autograd/tensor_ops/scalar_ops.hpp"
#include "autograd/tensor_ops/slicing_ops.hpp"

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
void reduction_ops::ReduceSum::grad(op::GradientContext&) const { constructors_missing(kName); }
void reduction_ops::ReduceMean::grad(op::GradientContext&) const { constructors_missing(kName); }
void reduction_ops::ReduceProd::grad(op::GradientContext&) const { constructors_missing(kName); }
void reduction_ops::ReduceSumAll::grad(op::GradientContext&) const { constructors_missing(kName); }
void reduction_ops::ReduceSumToScalar::grad(op::GradientContext&) const { constructors_missing(kName); }
void reduction_ops::ReduceSumToScalarGrad::grad(op::GradientContext&) const { constructors_missing(kName); }
void reduction_ops::ReduceGradCommon::grad(op::GradientContext&) const { constructors_missing(kName); }
void array_ops::Reshape::grad(op::GradientContext&) const { constructors_missing(kName); }
void array_ops::Squeeze::grad(op::GradientContext&) const { constructors_missing(kName); }
void array_ops::ExpandDims::grad(op::GradientContext&) const { constructors_missing(kName); }
void math_ops::Transpose::grad(op::GradientContext&) const { constructors_missing(kName); }
void array_ops::Slice::grad(op::GradientContext&) const { constructors_missing(kName); }
void array_ops::Gather::grad(op::GradientContext&) const { constructors_missing(kName); }

}  // namespace gradix_autograd::tensor_ops

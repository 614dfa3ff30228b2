// The `grad` operations of the reduction, array and slicing operators that
// build nodes (through shape, squeeze, expand_dims, reduce_prod, mul, div,
// gather_common or the tensor builder). Until they are written these stop
// with a fatal error. Nothing in the system calls them: gradients come from
// the rule table of the gradient construction.
#include <string>

#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/array_ops.hpp"
#include "autograd/tensor_ops/reduction_ops.hpp"
#include "autograd/tensor_ops/slicing_ops.hpp"

namespace gradix_autograd::tensor_ops {

namespace {
[[noreturn]] void node_building_grad_missing(std::string_view op_name) {
  kvel_support::panic(std::string(op_name) + ": grad needs the operator constructors");
}
}  // namespace

void reduction_ops::ReduceSum::grad(op::GradientContext&) const { node_building_grad_missing(kName); }
void reduction_ops::ReduceMean::grad(op::GradientContext&) const { node_building_grad_missing(kName); }
void reduction_ops::ReduceProd::grad(op::GradientContext&) const { node_building_grad_missing(kName); }
void reduction_ops::ReduceSumAll::grad(op::GradientContext&) const { node_building_grad_missing(kName); }
void reduction_ops::ReduceSumToScalar::grad(op::GradientContext&) const { node_building_grad_missing(kName); }
void reduction_ops::ReduceSumToScalarGrad::grad(op::GradientContext&) const { node_building_grad_missing(kName); }
void reduction_ops::ReduceGradCommon::grad(op::GradientContext&) const { node_building_grad_missing(kName); }
void array_ops::Reshape::grad(op::GradientContext&) const { node_building_grad_missing(kName); }
void array_ops::Squeeze::grad(op::GradientContext&) const { node_building_grad_missing(kName); }
void array_ops::ExpandDims::grad(op::GradientContext&) const { node_building_grad_missing(kName); }
void math_ops::Transpose::grad(op::GradientContext&) const { node_building_grad_missing(kName); }
void array_ops::Slice::grad(op::GradientContext&) const { node_building_grad_missing(kName); }
void array_ops::Gather::grad(op::GradientContext&) const { node_building_grad_missing(kName); }

}  // namespace gradix_autograd::tensor_ops

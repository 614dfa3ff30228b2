// The `grad` operations of DiagOp and MatrixInverseOp. Both build graph nodes,
// like every other operator's, so they hold under placeholders and can be
// differentiated again.
#include "autograd/constructors.hpp"
#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/array_constructors.hpp"
#include "autograd/linalg/linalg_ops.hpp"
#include "autograd/linalg/linear_algebra.hpp"
#include "autograd/linalg/matrix_ops.hpp"
#include "autograd/tensor_ops/reduction_ops.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::tensor_ops {

namespace {

using tensor::Tensor;
using tensor::TensorBuilder;

void require_graph(const Tensor& t, const graph::Graph& graph) {
  if (&t.graph() != &graph) kvel_support::panic("Detected tensors belonging to different graphs");
}

}  // namespace

// The diagonal of gy: gy masked by the identity of x's length, summed along
// its rows. The identity is diag of ones spread over x's shape, so no value
// of x enters it.
void linalg_ops::DiagOp::grad(op::GradientContext& ctx) const {
  const Tensor& gy = ctx.output_grad();
  require_graph(gy, ctx.graph());
  graph::Graph& graph = ctx.graph();
  const Tensor one = scalar(graph, 1.0);
  const Tensor x_shape = shape(ctx.input(0));
  const Tensor ones = TensorBuilder(graph)
                          .append_input(one, false)
                          .append_input(x_shape, false)
                          .build(reduction_ops::ReduceSumToScalarGrad{});
  const Tensor identity = linear_algebra::diag(ones);
  const Tensor masked = arithmetic::mul(gy, identity);
  const Tensor rows = tensor::as_tensor(std::array<std::int32_t, 1>{1}, graph);
  const Tensor g0 =
      TensorBuilder(graph).append_input(masked, false).append_input(rows, false).build(reduction_ops::ReduceSum(false, false));
  ctx.set_input_grad(0, g0);
}

void matrix_ops::MatrixInverseOp::grad(op::GradientContext& ctx) const {
  const Tensor& y = ctx.output();
  require_graph(y, ctx.graph());
  const Tensor& gy = ctx.output_grad();
  require_graph(gy, y.graph());
  ctx.set_input_grad(0, linear_algebra::inverse_gradient(y, gy));
}

}  // namespace gradix_autograd::tensor_ops

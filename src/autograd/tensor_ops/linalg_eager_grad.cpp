// The eager `grad` operations of DiagOp and MatrixInverseOp: they evaluate
// the gradient (and the output) at once and hand back constant tensors.
#include <optional>
#include <utility>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/grad_context.hpp"
#include "autograd/matrix_functions.hpp"
#include "autograd/ndarray_ext.hpp"
#include "autograd/tensor_ops/linalg_ops.hpp"
#include "autograd/tensor_ops/matrix_ops.hpp"
#include "support/panic.hpp"

namespace gradix_autograd::tensor_ops {

namespace {

void require_graph(const tensor::Tensor& t, const graph::Graph& graph) {
  if (&t.graph() != &graph) kvel_support::panic("Detected tensors belonging to different graphs");
}

std::optional<Array> evaluate(op::GradientContext& ctx, const tensor::Tensor& t) {
  evaluation::EvalResult value = evaluation::Evaluator(ctx.context()).eval(t);
  if (!value.has_value()) return std::nullopt;
  return std::move(*value);
}

}  // namespace

void linalg_ops::DiagOp::grad(op::GradientContext& ctx) const {
  const tensor::Tensor& gy = ctx.output_grad();
  require_graph(gy, ctx.graph());
  const std::optional<Array> g = evaluate(ctx, gy);
  if (!g || g->dimension() != 2 || g->shape()[0] != g->shape()[1]) {
    ctx.set_input_grad(0, std::nullopt);
    return;
  }
  const std::size_t n = g->shape()[0];
  Array diagonal = xt::zeros<double>({n});
  for (std::size_t i = 0; i < n; ++i) diagonal.data()[i] = g->data()[i * n + i];
  ctx.set_input_grad(0, convert_to_tensor(std::move(diagonal), ctx.graph()));
}

void matrix_ops::MatrixInverseOp::grad(op::GradientContext& ctx) const {
  const tensor::Tensor& y = ctx.output();
  require_graph(y, ctx.graph());
  const tensor::Tensor& gy = ctx.output_grad();
  require_graph(gy, y.graph());
  const std::optional<Array> yv = evaluate(ctx, y);
  const std::optional<Array> gv = evaluate(ctx, gy);
  // G is the gradient of Y and must have its shape for the two products.
  if (!yv || !gv || yv->dimension() != 2 || gv->dimension() != 2 || yv->shape() != gv->shape()) {
    ctx.set_input_grad(0, std::nullopt);
    return;
  }
  using matrix_functions::view_to_f64;
  const ndarray_ext::Matrix ym = view_to_f64(*yv);
  const ndarray_ext::Matrix p = ndarray_ext::gemm(ym, true, view_to_f64(*gv), false);
  ndarray_ext::Matrix d = ndarray_ext::gemm(p, false, ym, true);
  for (double& e : d) e = -e;
  ctx.set_input_grad(0, convert_to_tensor(matrix_functions::f64_to_owned(d), ctx.graph()));
}

}  // namespace gradix_autograd::tensor_ops

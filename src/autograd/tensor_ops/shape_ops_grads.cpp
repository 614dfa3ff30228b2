// The `grad` operations of the reduction, array and slicing operators that
// build nodes. The gradient construction calls them wherever its name rules
// would not give the true derivative.
#include "autograd/constructors.hpp"
#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/array_constructors.hpp"
#include "autograd/tensor_ops/array_ops.hpp"
#include "autograd/tensor_ops/exclusive_prod_ops.hpp"
#include "autograd/tensor_ops/reduction_constructors.hpp"
#include "autograd/tensor_ops/reduction_ops.hpp"
#include "autograd/tensor_ops/slicing_ops.hpp"

namespace gradix_autograd::tensor_ops {

namespace {

using tensor::Tensor;
using tensor::TensorBuilder;

// gy spread back over the shape of input 0 along the reduced axes (input 1).
Tensor spread_over_reduced_axes(const op::GradientContext& ctx, const Tensor& g, bool keep_dims, bool sparse_axes) {
  const Tensor target = shape(ctx.input(0));
  return TensorBuilder(ctx.graph())
      .append_input(g, false)
      .append_input(target, false)
      .append_input(ctx.input(1), false)
      .build(reduction_ops::ReduceGradCommon(!keep_dims, sparse_axes));
}

void spread_to_input_shape(op::GradientContext& ctx) {
  const Tensor target = shape(ctx.input(0));
  const Tensor g0 = TensorBuilder(ctx.graph())
                        .append_input(ctx.output_grad(), false)
                        .append_input(target, false)
                        .build(reduction_ops::ReduceSumToScalarGrad{});
  ctx.set_input_grad(0, g0);
}

}  // namespace

void reduction_ops::ReduceSum::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, spread_over_reduced_axes(ctx, ctx.output_grad(), keep_dims, sparse_axes));
  ctx.set_input_grad(1, std::nullopt);
}

// The count divided by is the product of the reduced extents: picked from
// x's shape at the listed axes, or for a mask (whose listed axes are
// distinct) the element count of x over that of the mean.
void reduction_ops::ReduceMean::grad(op::GradientContext& ctx) const {
  const Tensor spread = spread_over_reduced_axes(ctx, ctx.output_grad(), keep_dims, sparse_axes);
  const Tensor count = [&] {
    if (sparse_axes) {
      const Tensor x_count = reduction::reduce_prod(shape(ctx.input(0)), {0}, false);
      const Tensor y_count = reduction::reduce_prod(shape(ctx.output()), {0}, false);
      return arithmetic::div(x_count, y_count);
    }
    const Tensor extents = gather_common(shape(ctx.input(0)), ctx.input(1), 0);
    return reduction::reduce_prod(extents, {0}, false);
  }();
  ctx.set_input_grad(0, arithmetic::div(spread, count));
  ctx.set_input_grad(1, std::nullopt);
}

// gy spread over the group times the product of the group's other elements,
// which stays exact where x holds zeros.
void reduction_ops::ReduceProd::grad(op::GradientContext& ctx) const {
  const Tensor spread = spread_over_reduced_axes(ctx, ctx.output_grad(), keep_dims, sparse_axes);
  const Tensor others = TensorBuilder(ctx.graph())
                            .append_input(ctx.input(0), false)
                            .append_input(ctx.input(1), false)
                            .build(reduction_ops::ExclusiveProd(sparse_axes));
  ctx.set_input_grad(0, arithmetic::mul(spread, others));
  ctx.set_input_grad(1, std::nullopt);
}

namespace {

// ExclusiveProdGrad over (x, axes) with the given weights.
Tensor exclusive_prod_grad(const op::GradientContext& ctx, bool sparse_axes, const std::vector<Tensor>& weights) {
  TensorBuilder builder(ctx.graph());
  builder.append_input(ctx.input(0), false).append_input(ctx.input(1), false);
  for (const Tensor& w : weights) builder.append_input(w, false);
  return builder.build(reduction_ops::ExclusiveProdGrad(sparse_axes));
}

}  // namespace

void reduction_ops::ExclusiveProd::grad(op::GradientContext& ctx) const {
  ctx.set_input_grad(0, exclusive_prod_grad(ctx, sparse_axes, {ctx.output_grad()}));
  ctx.set_input_grad(1, std::nullopt);
}

// The output is linear in each weight, and a weight's position and the
// output's own enter it alike: a weight's gradient is the same operator with
// gy in that weight's place (summed down to the weight's shape). x's
// gradient is one derivative more: gy as a further weight.
void reduction_ops::ExclusiveProdGrad::grad(op::GradientContext& ctx) const {
  std::vector<Tensor> weights;
  for (std::size_t i = 2; i < ctx.num_inputs(); ++i) weights.push_back(ctx.input(i));
  std::vector<Tensor> one_more = weights;
  one_more.push_back(ctx.output_grad());
  ctx.set_input_grad(0, exclusive_prod_grad(ctx, sparse_axes, one_more));
  ctx.set_input_grad(1, std::nullopt);
  for (std::size_t r = 0; r < weights.size(); ++r) {
    std::vector<Tensor> swapped = weights;
    swapped[r] = ctx.output_grad();
    const Tensor target = shape(weights[r]);
    ctx.set_input_grad(2 + r, binary_ops::maybe_reduce(target, exclusive_prod_grad(ctx, sparse_axes, swapped),
                                                      ctx.graph()));
  }
}

void reduction_ops::ReduceSumAll::grad(op::GradientContext& ctx) const { spread_to_input_shape(ctx); }
void reduction_ops::ReduceSumToScalar::grad(op::GradientContext& ctx) const { spread_to_input_shape(ctx); }

void reduction_ops::ReduceSumToScalarGrad::grad(op::GradientContext& ctx) const {
  const Tensor g0 = TensorBuilder(ctx.graph()).append_input(ctx.output_grad(), false).build(ReduceSumToScalar{});
  ctx.set_input_grad(0, g0);
  ctx.set_input_grad(1, std::nullopt);
}

// The broadcast is undone by summing over the axes it stretched: they are
// kept exactly when it did not put them back itself.
void reduction_ops::ReduceGradCommon::grad(op::GradientContext& ctx) const {
  const Tensor g0 = TensorBuilder(ctx.graph())
                        .append_input(ctx.output_grad(), false)
                        .append_input(ctx.input(2), false)
                        .build(ReduceSum(!reinsert_axes, sparse_axes));
  ctx.set_input_grad(0, g0);
  ctx.set_input_grad(1, std::nullopt);
  ctx.set_input_grad(2, std::nullopt);
}

namespace {

// gy laid out in the shape of input 0; the second input (a shape or axes)
// gets none.
void reshape_back(op::GradientContext& ctx) {
  const Tensor target = shape(ctx.input(0));
  const Tensor g0 = TensorBuilder(ctx.graph())
                        .append_input(ctx.output_grad(), false)
                        .append_input(target, false)
                        .build(array_ops::Reshape{});
  ctx.set_input_grad(0, g0);
  ctx.set_input_grad(1, std::nullopt);
}

}  // namespace

void array_ops::Reshape::grad(op::GradientContext& ctx) const { reshape_back(ctx); }

// Squeeze and ExpandDims only remove or insert axes of extent 1, so a reshape
// to the input's shape undoes them, negative axes included.
void array_ops::Squeeze::grad(op::GradientContext& ctx) const { reshape_back(ctx); }
void array_ops::ExpandDims::grad(op::GradientContext& ctx) const { reshape_back(ctx); }

// Every summand receives the whole gradient, summed down to its own shape
// where it was broadcast.
void array_ops::AddN::grad(op::GradientContext& ctx) const {
  for (std::size_t i = 0; i < ctx.num_inputs(); ++i) {
    const Tensor target = shape(ctx.input(i));
    ctx.set_input_grad(i, binary_ops::maybe_reduce(target, ctx.output_grad(), ctx.graph()));
  }
}

void math_ops::Transpose::grad(op::GradientContext& ctx) const {
  const Tensor hint = shape(ctx.input(0));
  const Tensor g0 = TensorBuilder(ctx.graph())
                        .append_input(ctx.output_grad(), false)
                        .append_input(ctx.input(1), false)
                        .set_shape(hint)
                        .build(Transpose(!invert_axes));
  ctx.set_input_grad(0, g0);
  ctx.set_input_grad(1, std::nullopt);
}

void array_ops::Slice::grad(op::GradientContext& ctx) const {
  const Tensor& x = ctx.input(0);
  const Tensor hint = shape(x);
  const Tensor g0 = TensorBuilder(ctx.graph())
                        .append_input(x, false)
                        .append_input(ctx.output_grad(), false)
                        .set_shape(hint)
                        .build(SliceGrad(slice_elements));
  ctx.set_input_grad(0, g0);
}

void array_ops::Gather::grad(op::GradientContext& ctx) const {
  const Tensor& indices = ctx.input(0);
  const Tensor& param = ctx.input(1);
  const Tensor hint = shape(param);
  const Tensor g1 = TensorBuilder(ctx.graph())
                        .append_input(indices, false)
                        .append_input(param, false)
                        .append_input(ctx.output_grad(), false)
                        .set_shape(hint)
                        .build(GatherGrad(axis, normalize_negative_indices));
  ctx.set_input_grad(0, std::nullopt);
  ctx.set_input_grad(1, g1);
}

}  // namespace gradix_autograd::tensor_ops

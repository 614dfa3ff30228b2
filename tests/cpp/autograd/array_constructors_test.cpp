// The node structure the shape, array, slicing and reduction constructors
// build: node order (ids), operators and fields, inputs, hints and flags.
#include "autograd/constructors.hpp"
#include "autograd/tensor_ops/array_constructors.hpp"

#include <gtest/gtest.h>

#include "autograd/grad_context.hpp"
#include "autograd/tensor_ops/array_ops.hpp"
#include "autograd/tensor_ops/const_gen_ops.hpp"
#include "autograd/tensor_ops/reduction_constructors.hpp"
#include "autograd/tensor_ops/reduction_ops.hpp"
#include "autograd/tensor_ops/slicing_ops.hpp"
#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
namespace names = gradix_autograd::op_names;
using gradix_autograd::Array;
using gradix_autograd::graph::Context;
using gradix_autograd::graph::Graph;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::tensor::TensorBuilder;
using gradix_autograd::tensor::TensorId;
using gradix_test::fatal_message;
using gradix_test::same_array;
using gradix_test::vec;

// What a test reads back of one node.
struct NodeView {
  std::string_view op;
  std::vector<TensorId> inputs;
  std::optional<TensorId> hint;
  bool differentiable;
};

NodeView view(const Tensor& t) {
  const auto nodes = t.graph().nodes();
  const auto& node = nodes[t.id()];
  NodeView v{node.op.get()->name(), {}, node.shape_hint, node.differentiable};
  for (const auto& input : node.inputs) v.inputs.push_back(input.id);
  return v;
}

const gradix_autograd::op::Op& op_of(const Tensor& t) {
  const auto nodes = t.graph().nodes();
  return *nodes[t.id()].op.get();
}

// The value of a constant node (ConvertToTensor or Scalar).
Array constant_value(const Tensor& t) { return gradix_test::compute1(op_of(t), {}); }

Tensor leaf(Graph& g) { return TensorBuilder(g).build(ops::const_gen_ops::Scalar(1.0)); }

TEST(ShapeConstructors, ShapeUsesTheHintOrBuildsANode) {
  gradix_autograd::graph::run([](Context& ctx) {
    Graph& g = ctx.graph();
    const Tensor x = leaf(g);
    const Tensor s1 = ops::shape(x);
    const Tensor s2 = ops::shape(x);  // nothing is cached
    EXPECT_EQ(s1.id(), 1u);
    EXPECT_EQ(s2.id(), 2u);
    const NodeView v = view(s1);
    EXPECT_EQ(v.op, names::kShape);
    EXPECT_EQ(v.inputs, std::vector<TensorId>{0});
    EXPECT_FALSE(v.differentiable);
    const Tensor hinted = TensorBuilder(g).append_input(x, false).set_shape(s1).build(ops::array_ops::Reshape{});
    EXPECT_EQ(ops::shape(hinted), s1);
    EXPECT_EQ(g.num_nodes(), 4u);
  });
}

TEST(ShapeConstructors, ArrayNodes) {
  gradix_autograd::graph::run([](Context& ctx) {
    Graph& g = ctx.graph();
    const Tensor x = leaf(g);
    const Tensor s = leaf(g);
    const NodeView r = view(ops::reshape(x, s));
    EXPECT_EQ(r.op, names::kReshape);
    EXPECT_EQ(r.inputs, (std::vector<TensorId>{x.id(), s.id()}));
    // A computed shape may hold an extent to infer: no hint.
    EXPECT_FALSE(r.hint);
    EXPECT_TRUE(r.differentiable);

    const NodeView sq = view(ops::squeeze(x, s));
    EXPECT_EQ(sq.op, names::kSqueeze);
    EXPECT_EQ(sq.inputs, (std::vector<TensorId>{x.id(), s.id()}));
    EXPECT_FALSE(sq.hint);
    const NodeView ex = view(ops::expand_dims(x, s));
    EXPECT_EQ(ex.op, names::kExpandDims);
    EXPECT_EQ(ex.inputs, (std::vector<TensorId>{x.id(), s.id()}));
    EXPECT_FALSE(ex.hint);

    // flatten: the constant [-1] comes first and is input 1; an extent to
    // infer is no shape of the result, so there is no hint.
    const TensorId before = g.num_nodes();
    const Tensor f = ops::flatten(x);
    EXPECT_EQ(f.id(), before + 1);
    const NodeView fv = view(f);
    EXPECT_EQ(fv.inputs, (std::vector<TensorId>{x.id(), before}));
    EXPECT_FALSE(fv.hint);
    const Tensor inferred = ops::convert_to_tensor(vec({3, -1}), g);
    EXPECT_FALSE(view(ops::reshape(x, inferred)).hint);
    const Tensor full = ops::convert_to_tensor(vec({3, 2}), g);
    EXPECT_EQ(view(ops::reshape(x, full)).hint, full.id());
    const Tensor c(g, before);
    EXPECT_EQ(view(c).op, names::kConvertToTensor);
    EXPECT_FALSE(view(c).differentiable);
    EXPECT_EQ(c.shape(), std::vector<std::size_t>{1});
    EXPECT_TRUE(same_array(constant_value(c), vec({-1})));

    const Tensor gathered = ops::gather_common(x, s, -1);
    const NodeView gv = view(gathered);
    EXPECT_EQ(gv.op, names::kGather);
    EXPECT_EQ(gv.inputs, (std::vector<TensorId>{s.id(), x.id()}));  // indices, param
    const auto& gather = dynamic_cast<const ops::array_ops::Gather&>(op_of(gathered));
    EXPECT_EQ(gather.axis, -1);
    EXPECT_TRUE(gather.normalize_negative_indices);
  });
}

TEST(ShapeConstructors, SliceEnds) {
  struct Row {
    std::int64_t start, end;
    std::optional<std::int64_t> range_end;
    Array want;  // over [0, 1, 2, 3, 4]
  };
  const Row rows[] = {
      {1, -1, std::nullopt, vec({1, 2, 3, 4})},
      {0, -3, -2, vec({0, 1, 2})},
      {0, 2, 2, vec({0, 1})},
  };
  gradix_autograd::graph::run([&](Context& ctx) {
    const Tensor x = leaf(ctx.graph());
    for (const Row& row : rows) {
      const Tensor t = ops::slice(x, row.start, row.end);
      EXPECT_EQ(view(t).op, names::kSlice);
      EXPECT_EQ(view(t).inputs, std::vector<TensorId>{x.id()});
      const auto* s = gradix_autograd::op::downcast<ops::array_ops::Slice>(op_of(t));
      ASSERT_NE(s, nullptr);
      ASSERT_EQ(s->slice_elements.size(), 1u);
      EXPECT_EQ(s->slice_elements[0].start, row.start);
      EXPECT_EQ(s->slice_elements[0].end, row.range_end);
      EXPECT_EQ(s->slice_elements[0].step, 1);
      EXPECT_TRUE(same_array(gradix_test::compute1(*s, {vec({0, 1, 2, 3, 4})}), row.want)) << row.end;
    }
  });
}

TEST(ShapeConstructors, Reductions) {
  gradix_autograd::graph::run([](Context& ctx) {
    Graph& g = ctx.graph();
    const Tensor x = leaf(g);
    const Tensor m = ops::reduction::reduce_mean(x);
    EXPECT_EQ(m.id(), 2u);
    const NodeView mv = view(m);
    EXPECT_EQ(mv.op, names::kReduceMean);
    EXPECT_EQ(mv.inputs, (std::vector<TensorId>{0, 1}));
    EXPECT_FALSE(mv.hint);
    const Tensor axes(g, 1);
    EXPECT_FALSE(view(axes).differentiable);
    EXPECT_TRUE(same_array(constant_value(axes), vec({0})));
    const auto& mean = dynamic_cast<const ops::reduction_ops::ReduceMean&>(op_of(m));
    EXPECT_FALSE(mean.keep_dims);
    EXPECT_FALSE(mean.sparse_axes);
    EXPECT_TRUE(same_array(gradix_test::compute1(mean, {vec({1, 2, 3, 4}), constant_value(axes)}),
                           gradix_test::scalar(2.5)));

    const Tensor p = ops::reduction::reduce_prod(x, {1}, true);
    EXPECT_EQ(view(p).op, names::kReduceProd);
    EXPECT_EQ(view(p).inputs, (std::vector<TensorId>{0, p.id() - 1}));
    EXPECT_TRUE(same_array(constant_value(Tensor(g, p.id() - 1)), vec({1})));
    EXPECT_TRUE(dynamic_cast<const ops::reduction_ops::ReduceProd&>(op_of(p)).keep_dims);
  });
}

TEST(ShapeConstructors, AddN) {
  gradix_autograd::graph::run([](Context& ctx) {
    Graph& g = ctx.graph();
    const Tensor a = leaf(g);
    const Tensor b = leaf(g);
    const Tensor c = leaf(g);
    const Tensor one[] = {a};
    EXPECT_EQ(ops::reduction::add_n(one), a);
    EXPECT_EQ(g.num_nodes(), 3u);
    // Summands of one shape: the hint Shape(a) is built before the sum.
    const Tensor three[] = {a, b, c};
    const Tensor sum = ops::reduction::add_n_of_one_shape(three);
    EXPECT_EQ(sum.id(), 4u);
    const NodeView v = view(sum);
    EXPECT_EQ(v.op, names::kAddN);
    EXPECT_EQ(v.inputs, (std::vector<TensorId>{0, 1, 2}));
    EXPECT_EQ(v.hint, 3u);
    EXPECT_EQ(view(Tensor(g, 3)).op, names::kShape);
    EXPECT_EQ(view(Tensor(g, 3)).inputs, std::vector<TensorId>{0});
    // A first summand with a hint adds only the sum.
    const Tensor again[] = {sum, a};
    EXPECT_EQ(view(ops::reduction::add_n_of_one_shape(again)).hint, 3u);
    EXPECT_EQ(g.num_nodes(), 6u);
    // Summands that may broadcast: the hint co-broadcasts every shape, in
    // order Shape(a), Shape(b), InferBinOpShape, Shape(c), InferBinOpShape.
    const Tensor general = ops::reduction::add_n(three);
    EXPECT_EQ(general.id(), 11u);
    EXPECT_EQ(view(general).hint, 10u);
    EXPECT_EQ(view(Tensor(g, 10)).op, names::kInferBinOpShape);
    EXPECT_EQ(view(Tensor(g, 10)).inputs, (std::vector<TensorId>{8, 9}));
    EXPECT_EQ(view(Tensor(g, 8)).inputs, (std::vector<TensorId>{6, 7}));

    EXPECT_NE(fatal_message([] { ops::reduction::add_n({}); }), "");
    Graph other(4);
    const Tensor stranger = leaf(other);
    const Tensor mixed[] = {a, stranger};
    EXPECT_EQ(fatal_message([&] { ops::reduction::add_n(mixed); }), "Detected tensors belonging to different graphs");
  });
}

TEST(ShapeConstructors, GradientsThatBuildNoNode) {
  using Grads = std::vector<std::optional<Tensor>>;
  gradix_autograd::graph::run([](Context& ctx) {
    Graph& g = ctx.graph();
    const Tensor a = leaf(g);
    const Tensor b = leaf(g);
    const Tensor c = leaf(g);
    const Tensor gy = leaf(g);
    const Tensor outputs[] = {a};
    const Tensor grads[] = {gy};
    const Tensor inputs[] = {a, b, c};
    const auto run_grad = [&](const gradix_autograd::op::Op& op, std::size_t num_inputs) {
      Grads input_grads;
      gradix_autograd::op::GradientContext gc(outputs, std::span<const Tensor>(inputs, num_inputs), ctx, grads,
                                              input_grads, 0);
      op.grad(gc);
      return input_grads;
    };
    EXPECT_EQ(run_grad(ops::array_ops::Shape{}, 1), Grads(1));
    EXPECT_EQ(g.num_nodes(), 4u);
  });
}

}  // namespace

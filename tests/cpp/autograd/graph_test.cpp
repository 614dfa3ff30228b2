#include "autograd/graph.hpp"

#include <gtest/gtest.h>

#include "autograd/tensor_ops/basic_source_ops.hpp"
#include "autograd/tensor_ops/binary_ops.hpp"
#include "autograd/tensor_ops/const_gen_ops.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
using gradix_autograd::graph::Context;
using gradix_autograd::graph::Graph;
using gradix_autograd::tensor::KnownShape;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::tensor::TensorBuilder;
using gradix_test::fatal_message;

Tensor constant(Graph& g) { return TensorBuilder(g).build(ops::const_gen_ops::Scalar(1.0)); }
Tensor exp_of(const Tensor& x) { return TensorBuilder(x.graph()).append_input(x, false).build(ops::math_ops::Exp{}); }

TEST(Graph, IdsAndTopologicalRanks) {
  gradix_autograd::graph::run([](Context& ctx) {
    Graph& g = ctx.graph();
    const Tensor a = constant(g);
    const Tensor b = constant(g);
    EXPECT_EQ(a.id(), 0u);
    EXPECT_EQ(b.id(), 1u);
    const Tensor deep = exp_of(exp_of(exp_of(b)));  // rank 3
    const Tensor sum = TensorBuilder(g).append_input(a, false).append_input(deep, false).build(ops::binary_ops::AddOp{});
    const auto nodes = g.nodes();
    EXPECT_EQ(nodes[a.id()].topo_rank, 0u);
    EXPECT_EQ(nodes[deep.id()].topo_rank, 3u);
    EXPECT_EQ(nodes[sum.id()].topo_rank, 4u);
    EXPECT_EQ(nodes[sum.id()].id, sum.id());
    EXPECT_EQ(nodes[sum.id()].op.get()->name(), ops::binary_ops::AddOp::kName);
  });
}

TEST(Graph, BuilderRecordsEveryField) {
  Graph g(4);
  const Tensor x = constant(g);
  const Tensor hint = constant(g);
  const Tensor y = TensorBuilder(g)
                       .append_input(x, true)
                       .append_input_with_selector(x, false, 0)
                       .set_shape(hint)
                       .set_known_shape(KnownShape{2, -1})
                       .set_differentiable(false)
                       .build(ops::binary_ops::MulOp{});
  const auto nodes = g.nodes();
  const auto& node = nodes[y.id()];
  ASSERT_EQ(node.inputs.size(), 2u);
  EXPECT_TRUE(node.inputs[0].in_place);
  EXPECT_FALSE(node.inputs[1].in_place);
  EXPECT_EQ(node.shape_hint, hint.id());
  EXPECT_FALSE(node.differentiable);
  EXPECT_FALSE(node.variable_id.has_value());
  EXPECT_EQ(node.placeholder_name, nullptr);
  EXPECT_EQ(node.backprop_inputs, nullptr);
}

TEST(Graph, SizeWarningOnceAndLimit) {
  Graph g(16);
  for (int i = 0; i < 50000; ++i) constant(g);
  testing::internal::CaptureStderr();
  constant(g);  // id 50,000
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Too many tensors in this graph: 50000. Use Graph::clear, or move the training loop out of the `run` "
            "block\n");
  testing::internal::CaptureStderr();
  constant(g);  // id 50,001
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  while (g.num_nodes() < 500001) constant(g);  // ids up to 500,000 fit
  EXPECT_EQ(fatal_message([&] { constant(g); }),
            "Maximum graph size exceeded: 500000. Use Graph::clear, or move the training loop out of the `run` block");
  EXPECT_EQ(g.num_nodes(), 500001u);
}

TEST(Graph, PlaceholdersAreFoundByTheirFirstName) {
  gradix_autograd::graph::run([](Context& ctx) {
    std::string name = "kvel_x0";
    const Tensor first = ctx.placeholder(name, {-1});
    name.assign("overwritten, so the graph must hold its own copy");
    constant(ctx.graph());
    const Tensor again = ctx.placeholder(std::string("kvel_x0"), {2, 3});
    const Tensor other = ctx.placeholder("kvel_x1", {});
    EXPECT_EQ(again, first);
    EXPECT_NE(other, first);
    EXPECT_EQ(other.id(), 2u);
    EXPECT_EQ(first.shape(), std::vector<std::size_t>{0});  // the first shape stays
    const auto nodes = ctx.graph().nodes();
    EXPECT_EQ(*nodes[first.id()].placeholder_name, "kvel_x0");
    EXPECT_EQ(nodes[first.id()].op.get()->name(), ops::basic_source_ops::Placeholder::kName);
  });
}

TEST(Graph, VariableNodesAreMemoisedPerGraph) {
  gradix_autograd::variable::VariableEnvironment env;
  const Tensor* first_graph_node = nullptr;
  std::optional<gradix_autograd::tensor::TensorId> first_id;
  env.run([&](Context& ctx) {
    constant(ctx.graph());
    const Tensor a = ctx.variable_by_id(7);
    const Tensor b = ctx.variable_by_id(3);
    EXPECT_EQ(ctx.variable_by_id(7), a);
    EXPECT_EQ(ctx.variable_by_id(3), b);
    EXPECT_EQ(ctx.graph().num_nodes(), 3u);
    const auto nodes = ctx.graph().nodes();
    EXPECT_EQ(nodes[a.id()].variable_id, 7u);
    EXPECT_EQ(nodes[a.id()].known_shape, std::nullopt);
    EXPECT_TRUE(nodes[a.id()].differentiable);
    first_id = a.id();
  });
  env.run([&](Context& ctx) {
    EXPECT_EQ(ctx.graph().num_nodes(), 0u);
    EXPECT_EQ(ctx.variable_by_id(7).id(), 0u);
  });
  (void)first_graph_node;
  EXPECT_EQ(first_id, 1u);
}

TEST(Graph, TensorShapeFromKnownShape) {
  Graph g(4);
  const Tensor unknown = TensorBuilder(g).set_known_shape(KnownShape{-1, 3}).build(ops::const_gen_ops::Scalar(0.0));
  const Tensor none = constant(g);
  const Tensor zero_d = TensorBuilder(g).set_known_shape(KnownShape{}).build(ops::const_gen_ops::Scalar(0.0));
  EXPECT_EQ(unknown.shape(), (std::vector<std::size_t>{0, 3}));
  EXPECT_TRUE(none.shape().empty());
  EXPECT_TRUE(zero_d.shape().empty());
}

TEST(Graph, KnownShapeValidation) {
  const std::pair<std::vector<std::int64_t>, bool> rows[] = {{{}, true}, {{-1}, false}, {{0, 2}, true}, {{3, -1, 4}, false}};
  for (const auto& [dims, fully] : rows) {
    const KnownShape s(dims);
    EXPECT_EQ(s.dims(), dims);
    EXPECT_EQ(s.is_fully_defined(), fully);
  }
  EXPECT_EQ(fatal_message([] { KnownShape{-2}; }), "Given shape ([-2]) contains invalid dim size(s)");
  EXPECT_EQ(fatal_message([] { KnownShape{3, -5}; }), "Given shape ([3, -5]) contains invalid dim size(s)");
}

TEST(Graph, TensorsOfAnotherGraphAreRejected) {
  Graph a(4);
  Graph b(4);
  constant(a);
  const Tensor from_b = constant(b);  // same id 0 as a's node
  EXPECT_EQ(fatal_message([&] { TensorBuilder(a).append_input(from_b, false); }),
            "Detected tensors belonging to different graphs");
  EXPECT_EQ(fatal_message([&] { TensorBuilder(a).append_input_with_selector(from_b, false, 0); }),
            "Detected tensors belonging to different graphs");
}

TEST(Graph, BackpropInputsFallBackToForwardInputs) {
  Graph g(8);
  const Tensor x = constant(g);
  const Tensor y = constant(g);
  const Tensor e = exp_of(x);
  gradix_autograd::tensor::InputList backprop;
  backprop.push_back({y.id(), 0, false});
  const Tensor custom = TensorBuilder(g).append_input(x, false).set_backprop_inputs(backprop).build(ops::math_ops::Exp{});
  EXPECT_EQ(e.get_backprop_input(0), x);
  EXPECT_EQ(custom.get_backprop_input(0), y);
  EXPECT_EQ(fatal_message([&] { e.get_backprop_input(1); }), "index out of bounds: the len is 1 but the index is 1");
}

TEST(Graph, InstallWhileReadingIsFatal) {
  Graph g(1);
  constant(g);
  {
    const auto nodes = g.nodes();
    EXPECT_EQ(fatal_message([&] { constant(g); }), "graph node store already borrowed");
    EXPECT_EQ(nodes.size(), 1u);
  }
  constant(g);  // the read access ended
  EXPECT_EQ(g.num_nodes(), 2u);
}

TEST(Graph, TakenOperatorLeavesTheNodeEmpty) {
  Graph g(2);
  const Tensor x = constant(g);
  const auto op = g.take_op(x.id());
  ASSERT_TRUE(op);
  EXPECT_EQ(op.get()->name(), ops::const_gen_ops::Scalar::kName);
  EXPECT_FALSE(g.nodes()[x.id()].op);
}

TEST(Graph, RunReturnsTheClosureResult) {
  const std::size_t n = gradix_autograd::graph::run([](Context& ctx) {
    EXPECT_EQ(ctx.env().num_variables(), 0u);
    constant(ctx.graph());
    return ctx.graph().num_nodes();
  });
  EXPECT_EQ(n, 1u);
}

}  // namespace

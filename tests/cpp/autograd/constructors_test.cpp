#include "autograd/constructors.hpp"

#include <gtest/gtest.h>

#include "autograd/evaluation.hpp"
#include "autograd/op_names.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "autograd/tensor_ops/scalar_ops.hpp"
#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
namespace names = gradix_autograd::op_names;
using gradix_autograd::Array;
using gradix_autograd::graph::Context;
using gradix_autograd::graph::Graph;
using gradix_autograd::tensor::Tensor;
using gradix_test::make;
using gradix_test::same_array;
using gradix_test::scalar;
using gradix_test::vec;

// What a test reads back about one node.
struct NodeSummary {
  std::string_view op_name;
  std::vector<std::uint64_t> inputs;
  std::optional<std::uint64_t> shape_hint;
  bool differentiable;
};

NodeSummary summary(Graph& g, std::uint64_t id) {
  const auto nodes = g.nodes();
  const auto& node = nodes[id];
  NodeSummary s{node.op.get()->name(), {}, node.shape_hint, node.differentiable};
  for (const auto& input : node.inputs) s.inputs.push_back(input.id);
  return s;
}

void expect_node(Graph& g, std::uint64_t id, std::string_view op_name, std::vector<std::uint64_t> inputs,
                 std::optional<std::uint64_t> hint = std::nullopt, bool differentiable = true) {
  const NodeSummary s = summary(g, id);
  EXPECT_EQ(s.op_name, op_name) << "node " << id;
  EXPECT_EQ(s.inputs, inputs) << "node " << id;
  EXPECT_EQ(s.shape_hint, hint) << "node " << id;
  EXPECT_EQ(s.differentiable, differentiable) << "node " << id;
}

Array value_of(Context& ctx, const Tensor& t) {
  auto r = gradix_autograd::evaluation::Evaluator(ctx).eval(t);
  EXPECT_TRUE(r.has_value()) << (r.has_value() ? "" : r.error().debug());
  return r.has_value() ? *r : Array();
}

TEST(Constructors, ClipBuildsBoundsThenMinimumThenMaximum) {
  gradix_autograd::graph::run([](Context& ctx) {
    Graph& g = ctx.graph();
    const Tensor x = ctx.placeholder("x", {4});  // 0
    const Tensor y = ops::arithmetic::clip(x, -50.0, 50.0);
    EXPECT_EQ(y.id(), 4u);
    EXPECT_EQ(g.num_nodes(), 5u);
    expect_node(g, 1, names::kScalar, {});
    expect_node(g, 2, names::kScalar, {});
    expect_node(g, 3, names::kMinimum, {0, 2});
    expect_node(g, 4, names::kMaximum, {3, 1});
    const Array fed = vec({-100, 0.5, 100, std::nan("")});
    auto r = gradix_autograd::evaluation::Evaluator(ctx).feed("x", fed).eval(y);
    EXPECT_TRUE(same_array(*r, vec({-50, 0.5, 50, 50})));
    EXPECT_TRUE(same_array(value_of(ctx, ops::arithmetic::clip(ops::scalar(g, 7.0), 1.0, 0.0)), scalar(1.0)));
  });
}

TEST(Constructors, ComparisonAndBroadcastHelperNodes) {
  gradix_autograd::graph::run([](Context& ctx) {
    Graph& g = ctx.graph();
    const Tensor a = ops::scalar(g, 1.0);  // 0
    const Tensor b = ops::scalar(g, 2.0);  // 1
    expect_node(g, ops::arithmetic::equal(a, b).id(), names::kEqual, {0, 1});
    expect_node(g, ops::arithmetic::greater(b, a).id(), names::kGreater, {1, 0});
    expect_node(g, ops::arithmetic::infer_bin_opshape(g, a, b).id(), names::kInferBinOpShape, {0, 1});
    // maybe_reduce takes (target, x) but its inputs are (x, target); the target is the hint.
    expect_node(g, ops::binary_ops::maybe_reduce(a, b, g).id(), names::kMaybeReduceSum, {1, 0}, 0);
    EXPECT_TRUE(same_array(value_of(ctx, ops::arithmetic::greater(b, a)), scalar(1.0)));
  });
}

TEST(Constructors, ConstantsAndTheirShapes) {
  gradix_autograd::graph::run([](Context& ctx) {
    Graph& g = ctx.graph();
    const Tensor s = ops::scalar(g, 2.5);
    expect_node(g, s.id(), names::kScalar, {});
    EXPECT_TRUE(g.nodes()[s.id()].known_shape->dims().empty());

    const Tensor c = ops::convert_to_tensor(make({2, 3}, {1, 2, 3, 4, 5, 6}), g);
    expect_node(g, c.id(), names::kConvertToTensor, {}, std::nullopt, false);
    EXPECT_EQ(g.nodes()[c.id()].known_shape->dims(), (std::vector<std::int64_t>{2, 3}));
    EXPECT_TRUE(g.nodes()[c.id()].known_shape->is_fully_defined());

    const std::vector<double> three{1, 2, 3};
    const std::vector<std::size_t> two_by_two{2, 2};
    EXPECT_TRUE(same_array(value_of(ctx, gradix_autograd::tensor::from_vec(three, two_by_two, g)),
                           make({2, 2}, {0, 0, 0, 0})));
    const std::vector<std::size_t> three_long{3};
    EXPECT_TRUE(same_array(value_of(ctx, gradix_autograd::tensor::from_vec(three, three_long, g)), vec({1, 2, 3})));

    const Tensor axes = gradix_autograd::tensor::as_tensor(std::array<std::int32_t, 1>{-1}, g);
    expect_node(g, axes.id(), names::kConvertToTensor, {}, std::nullopt, false);
    EXPECT_TRUE(same_array(value_of(ctx, axes), vec({-1})));
    EXPECT_TRUE(same_array(value_of(ctx, gradix_autograd::tensor::as_tensor(std::array<std::int32_t, 2>{1, 0}, g)),
                           vec({1, 0})));
  });
}

TEST(Constructors, InputsOfAnotherGraphAreFatal) {
  gradix_autograd::graph::run([](Context& first) {
    gradix_autograd::graph::run([&](Context& second) {
      const Tensor a = ops::scalar(first.graph(), 1.0);
      const Tensor b = ops::scalar(second.graph(), 1.0);
      EXPECT_EQ(gradix_test::fatal_message([&] { (void)ops::arithmetic::equal(a, b); }),
                "Detected tensors belonging to different graphs");
    });
  });
}

TEST(Constructors, BinaryArithmeticAddsTwoShapesAHintAndTheResult) {
  gradix_autograd::graph::run([](Context& ctx) {
    Graph& g = ctx.graph();
    const Tensor a = ctx.placeholder("a", {-1});  // 0
    const Tensor b = ctx.placeholder("b", {-1});  // 1
    const Tensor first = ops::arithmetic::mul(a, b);
    const Tensor second = ops::arithmetic::mul(a, b);
    EXPECT_EQ(first.id(), 5u);
    EXPECT_EQ(second.id(), 9u);
    EXPECT_EQ(g.num_nodes(), 10u);
    for (const std::uint64_t base : {2u, 6u}) {
      expect_node(g, base, names::kShape, {0}, std::nullopt, false);
      expect_node(g, base + 1, names::kShape, {1}, std::nullopt, false);
      expect_node(g, base + 2, names::kInferBinOpShape, {base, base + 1});
      expect_node(g, base + 3, names::kMulOp, {0, 1}, base + 2);
    }
    // The hint's nodes are not inputs: the result's rank comes from a and b only.
    EXPECT_EQ(g.nodes()[first.id()].topo_rank, 1u);
  });
}

TEST(Constructors, ArithmeticOperatorsAndTheirHints) {
  struct Case {
    std::string_view name;
    Tensor (*make)(const Tensor&, const Tensor&);
  };
  const Case binary[] = {
      {names::kAddOp, ops::arithmetic::add},
      {names::kSubOp, ops::arithmetic::sub},
      {names::kMulOp, ops::arithmetic::mul},
      {names::kDivOp, ops::arithmetic::div},
  };
  gradix_autograd::graph::run([&](Context& ctx) {
    Graph& g = ctx.graph();
    const Tensor x = ctx.placeholder("x", {2});  // 0
    for (const Case& c : binary) {
      const std::uint64_t n = g.num_nodes();
      expect_node(g, c.make(x, x).id(), c.name, {0, 0}, n + 2);
    }
    const std::uint64_t n = g.num_nodes();
    const Tensor e = ops::arithmetic::exp(x);  // Shape(x), Exp
    expect_node(g, n, names::kShape, {0}, std::nullopt, false);
    expect_node(g, e.id(), names::kExp, {0}, n);
    // e has a hint, so exp(e) reuses it and adds one node.
    expect_node(g, ops::arithmetic::exp(e).id(), names::kExp, {e.id()}, n);
    EXPECT_EQ(g.num_nodes(), n + 3);
    expect_node(g, ops::arithmetic::ln(e).id(), names::kLn, {e.id()}, n);
    expect_node(g, ops::arithmetic::neg(e).id(), names::kNegOp, {e.id()}, n);
    const Tensor p = ops::arithmetic::pow(e, 3.0);
    expect_node(g, p.id(), names::kPow, {e.id()}, n);
    EXPECT_EQ(dynamic_cast<const ops::math_ops::Pow*>(g.nodes()[p.id()].op.get())->exponent, 3.0);
    const Tensor m = ops::linear_algebra::scalar_mul(e, 2.5);
    expect_node(g, m.id(), names::kScalarMulOp, {e.id()}, n);
    EXPECT_EQ(gradix_autograd::op::downcast<ops::scalar_ops::ScalarMulOp>(*g.nodes()[m.id()].op.get())->factor, 2.5);
  });
}

TEST(Constructors, ForwardPassOfTheSearchEvaluates) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {-1});
    const Tensor ones = ctx.placeholder("ones", {-1});
    // eml(x, 2) = exp(x) - ln(2 * ones), clipped, then a squared error against y.
    const Tensor two = ops::linear_algebra::scalar_mul(ones, 2.0);
    const Tensor eml = ops::arithmetic::sub(ops::arithmetic::exp(ops::arithmetic::clip(x, -50, 50)),
                                            ops::arithmetic::ln(two));
    const Tensor residual = ops::arithmetic::sub(eml, ctx.placeholder("y", {-1}));
    const Tensor squared = ops::arithmetic::mul(residual, residual);
    const Array xs = vec({0.0, 1.0});
    const Array one = vec({1.0, 1.0});
    const Array ys = vec({0.0, 0.0});
    auto r = gradix_autograd::evaluation::Evaluator(ctx).feed("x", xs).feed("ones", one).feed("y", ys).eval(squared);
    const double e0 = 1.0 - std::log(2.0);
    const double e1 = std::exp(1.0) - std::log(2.0);
    EXPECT_TRUE(same_array(*r, vec({e0 * e0, e1 * e1})));
  });
}

}  // namespace

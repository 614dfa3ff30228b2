// What `grad` builds where the rule chain's own rows stand: the seed and the
// sum-to-scalar spreading, zeros for sources off the path, the visiting order
// of equal-rank nodes, and gradient lists summed once.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/gradient.hpp"
#include "autograd/tensor_ops/array_constructors.hpp"
#include "autograd/tensor_ops/binary_ops.hpp"
#include "autograd/tensor_ops/const_gen_ops.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "autograd/tensor_ops/reduction_ops.hpp"
#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
namespace ar = gradix_autograd::tensor_ops::arithmetic;
namespace names = gradix_autograd::op_names;
using gradix_autograd::Array;
using gradix_autograd::graph::Context;
using gradix_autograd::graph::Graph;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::tensor::TensorBuilder;
using gradix_test::vec;

std::string_view op_name(const Tensor& t) { return t.graph().nodes()[t.id()].op.get()->name(); }
Tensor input_of(const Tensor& t, std::size_t i) { return Tensor(t.graph(), t.graph().nodes()[t.id()].inputs.at(i).id); }

Array eval(Context& ctx, const Tensor& t, const Array* x = nullptr) {
  gradix_autograd::evaluation::Evaluator e(ctx);
  if (x != nullptr) e.feed("x", *x);
  auto got = e.eval(t);
  EXPECT_TRUE(got.has_value()) << got.error().debug();
  return got ? *got : Array();
}

std::vector<Tensor> grad1(const Tensor& y, const Tensor& x) {
  return ops::grad(std::vector<Tensor>{y}, std::vector<Tensor>{x});
}

TEST(GradientStructure, SourceThatIsTheTargetGetsTheSpreadSeed) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {2, 2});
    const Tensor g = grad1(x, x).at(0);
    EXPECT_EQ(op_name(g), names::kReduceSumToScalarGrad);
    const Tensor seed = input_of(g, 0);
    EXPECT_EQ(op_name(seed), names::kScalar);
    const Tensor s = input_of(g, 1);
    EXPECT_EQ(op_name(s), names::kShape);
    EXPECT_FALSE(ctx.graph().nodes()[s.id()].differentiable);
    const Array value = gradix_test::make({2, 2}, {5, 6, 7, 8});
    EXPECT_TRUE(gradix_test::same_array(eval(ctx, g, &value), gradix_test::make({2, 2}, {1, 1, 1, 1})));
  });
}

TEST(GradientStructure, SourcesOffThePathGetZeroProducts) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {2});
    const Tensor unused = ctx.placeholder("unused", {2});
    const Tensor hidden =
        TensorBuilder(ctx.graph()).append_input(x, false).set_differentiable(false).build(ops::math_ops::Exp{});
    const Tensor y = ar::exp(hidden);
    const std::vector<Tensor> grads = ops::grad(std::vector<Tensor>{y}, std::vector<Tensor>{unused, x});
    for (const Tensor& g : grads) {
      EXPECT_EQ(op_name(g), names::kMulOp);
      EXPECT_EQ(op_name(input_of(g, 1)), names::kScalar);
    }
    const Array inf = vec({std::numeric_limits<double>::infinity(), -2});
    gradix_autograd::evaluation::Evaluator e(ctx);
    e.feed("unused", inf).feed("x", inf).push(grads[0]).push(grads[1]);
    for (const auto& r : e.run()) EXPECT_TRUE(gradix_test::same_array(*r, vec({NAN, -0.0})));
  });
}

TEST(GradientStructure, SourceOnThePathWithoutContributionsGetsZerosOfItsKnownShape) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {6});
    // A differentiable constant used only as a shape.
    const Tensor s = TensorBuilder(ctx.graph())
                         .set_known_shape(gradix_autograd::tensor::KnownShape({2}))
                         .build(ops::const_gen_ops::ConvertToTensor(vec({2, 3})));
    const Tensor y = ops::reshape(x, s);
    const Tensor g = grad1(y, s).at(0);
    EXPECT_EQ(op_name(g), names::kConvertToTensor);
    EXPECT_TRUE(gradix_test::same_array(eval(ctx, g), vec({0, 0})));
  });
}

// Four wrappers of equal rank leave the heap as 0, 2, 3, 1 (each visit pushes
// a node of lower rank in between): the order in which their sum-to-scalar
// gradients are built.
TEST(GradientStructure, EqualRankTargetsAreVisitedInHeapOrder) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {3});
    const std::vector<Tensor> ys{ar::exp(x), ar::ln(x), ar::neg(x), ar::pow(x, 2.0)};
    const std::size_t before = ctx.graph().num_nodes();
    ops::grad(ys, std::vector<Tensor>{x});
    std::vector<std::size_t> order;
    const Graph& g = ctx.graph();
    for (std::size_t id = before; id < g.num_nodes(); ++id) {
      const auto nodes = g.nodes();
      if (nodes[id].op.get()->name() != names::kReduceSumToScalarGrad) continue;
      // Its shape input is Shape(y), y the input of the visited wrapper.
      const auto wrapped = nodes[nodes[id].inputs[1].id].inputs[0].id;
      for (std::size_t k = 0; k < ys.size(); ++k) {
        if (ys[k].id() == wrapped) order.push_back(k);
      }
    }
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 2, 3, 1}));
  });
}

TEST(GradientStructure, TwoTargetsShareTheSeedAndSumAtTheSource) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {2});
    const std::vector<Tensor> ys{ar::exp(x), ar::neg(x)};
    const Tensor g = ops::grad(ys, std::vector<Tensor>{x}).at(0);
    EXPECT_EQ(op_name(g), names::kAddN);
    const Array value = vec({0.0, 1.0});
    EXPECT_TRUE(gradix_test::same_array(eval(ctx, g, &value), vec({0.0, std::exp(1.0) - 1.0})));
  });
}

// An inner-node source with three contributions: d/du ((u + x) * u) = 2u + x,
// each contribution counted once.
TEST(GradientStructure, InnerSourceSumsEachContributionOnce) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {2});
    const Tensor u = ar::exp(x);
    const Tensor y = ar::mul(ar::add(u, x), u);
    const Tensor g = grad1(y, u).at(0);
    const Array value = vec({0.0, 0.5});
    const Array got = eval(ctx, g, &value);
    for (std::size_t i = 0; i < 2; ++i) {
      const double ux = std::exp(value.data()[i]);
      EXPECT_DOUBLE_EQ(got.data()[i], 2 * ux + value.data()[i]);
    }
  });
}

TEST(GradientStructure, EmptyTargetListIsFatal) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {2});
    EXPECT_EQ(gradix_test::fatal_message([&] { ops::grad({}, std::vector<Tensor>{x}); }),
              "index out of bounds: the len is 0 but the index is 0");
    EXPECT_TRUE(gradix_autograd::gradient::compute_gradients({}, std::vector<Tensor>{x}, ctx.graph()).find(x.id()) ==
                nullptr);
  });
}


TEST(GradientStructure, OneInputQuotientHasNoGradient) {
  // x / 0 has no derivative: the source gets zeros of its shape, and building
  // the gradient is not an error.
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {2});
    const Tensor y = TensorBuilder(ctx.graph()).append_input(x, false).build(ops::binary_ops::DivOp{});
    const Tensor g = grad1(y, x).at(0);
    const Array value = vec({2, -3});
    EXPECT_TRUE(gradix_test::same_array(eval(ctx, g, &value), vec({0.0, 0.0})));
  });
}

}  // namespace

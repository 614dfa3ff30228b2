#include "autograd/evaluation.hpp"

#include "autograd/constructors.hpp"

#include <gtest/gtest.h>

#include "autograd/tensor_ops/binary_ops.hpp"
#include "autograd/tensor_ops/const_gen_ops.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "eval_results.hpp"
#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
using gradix_autograd::Array;
using gradix_autograd::error::EvalError;
using gradix_autograd::error::OpError;
using gradix_autograd::evaluation::EvalResult;
using gradix_autograd::evaluation::Evaluator;
using gradix_autograd::graph::Context;
using gradix_autograd::graph::Graph;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::tensor::TensorBuilder;
using gradix_test::expect_same_results;
using gradix_test::same_array;
using gradix_test::scalar;
using gradix_test::vec;

// Adds 1 to input 0 and counts its calls; `fail` makes it return an error.
class CountingOp final : public gradix_autograd::op::NamedOp<CountingOp> {
 public:
  static constexpr std::string_view kName = "test::CountingOp";
  CountingOp(int* calls, bool fail) : calls_(calls), fail_(fail) {}
  gradix_autograd::op::OpResult compute(gradix_autograd::op::ComputeContext& ctx) const override {
    ++*calls_;
    if (fail_) return kvel_support::unexpected(OpError::incompatible_shape("bad shapes"));
    ctx.append_output(gradix_autograd::shape_helpers::map_elements(ctx.input(0), [](double v) { return v + 1; }));
    return gradix_autograd::op::ok();
  }
  void grad(gradix_autograd::op::GradientContext&) const override {}

 private:
  int* calls_;
  bool fail_;
};

// Appends nothing.
class SilentOp final : public gradix_autograd::op::NamedOp<SilentOp> {
 public:
  static constexpr std::string_view kName = "test::SilentOp";
  gradix_autograd::op::OpResult compute(gradix_autograd::op::ComputeContext&) const override {
    return gradix_autograd::op::ok();
  }
  void grad(gradix_autograd::op::GradientContext&) const override {}
};

// Records the order in which nodes are computed.
class RecordingOp final : public gradix_autograd::op::NamedOp<RecordingOp> {
 public:
  static constexpr std::string_view kName = "test::RecordingOp";
  RecordingOp(std::string* log, char label) : log_(log), label_(label) {}
  gradix_autograd::op::OpResult compute(gradix_autograd::op::ComputeContext& ctx) const override {
    log_->push_back(label_);
    ctx.append_output(gradix_autograd::shape_helpers::make_scalar(0.0));
    return gradix_autograd::op::ok();
  }
  void grad(gradix_autograd::op::GradientContext&) const override {}

 private:
  std::string* log_;
  char label_;
};

Tensor constant(Graph& g, double v) { return TensorBuilder(g).build(ops::const_gen_ops::Scalar(v)); }
Tensor counted(const Tensor& x, int* calls, bool fail = false) {
  return TensorBuilder(x.graph()).append_input(x, false).build(CountingOp(calls, fail));
}
Tensor add(const Tensor& a, const Tensor& b) {
  return TensorBuilder(a.graph()).append_input(a, false).append_input(b, false).build(ops::binary_ops::AddOp{});
}

std::string failure(const EvalResult& r) { return r.has_value() ? "value" : r.error().debug(); }
std::string failed_text(std::uint64_t id) {
  return "OpError(RuntimeError(\"Failed to compute tensor " + std::to_string(id) + "\"))";
}

TEST(Evaluator, SharedSubGraphIsComputedOnceAndResultsFollowTargetOrder) {
  gradix_autograd::graph::run([](Context& ctx) {
    int calls = 0;
    const Tensor shared = counted(constant(ctx.graph(), 1.0), &calls);  // 2
    const Tensor a = add(shared, constant(ctx.graph(), 10.0));          // 12
    const Tensor b = counted(shared, &calls);                           // 3
    const std::vector<EvalResult> results = Evaluator(ctx).push(b).push(a).push(b).run();
    ASSERT_EQ(results.size(), 3u);
    EXPECT_TRUE(same_array(*results[0], scalar(3.0)));
    EXPECT_TRUE(same_array(*results[1], scalar(12.0)));
    EXPECT_TRUE(same_array(*results[2], scalar(3.0)));
    EXPECT_EQ(calls, 2);
  });
}

TEST(Evaluator, FeedsByNameAndIdLaterFeedWins) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {-1});
    const Tensor c = constant(ctx.graph(), 5.0);
    const Tensor sum = add(x, c);
    const Array first = vec({1, 2});
    const Array second = vec({3, 4});
    const Array fed_constant = vec({100, 200});
    // Fed by id, a node that is not a placeholder is not computed.
    const EvalResult r = Evaluator(ctx)
                             .feed("x", first)
                             .feed(x, second)
                             .feed(c, fed_constant)
                             .eval(sum);
    EXPECT_TRUE(same_array(*r, vec({103, 204})));
  });
}

TEST(Evaluator, UnknownFeedNameGivesOneVariableError) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {});
    const Array v = scalar(1.0);
    const std::vector<EvalResult> results =
        Evaluator(ctx).push(x).push(x).push(x).feed("x", v).feed("y\"", v).feed("z", v).run();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(failure(results[0]), "VariableError(\"Placeholder not found: \\\"y\\\\\\\"\\\"\")");
  });
}

TEST(Evaluator, FailuresReachOnlyTheTargetsThatNeedThem) {
  gradix_autograd::graph::run([](Context& ctx) {
    int calls = 0;
    Graph& g = ctx.graph();
    const Tensor unfed = ctx.placeholder("x", {});
    const Tensor needs_unfed = counted(unfed, &calls);
    const Tensor fine = counted(constant(g, 1.0), &calls);
    const Tensor op_error = counted(fine, &calls, true);
    const Tensor silent = TensorBuilder(g).append_input(fine, false).build(SilentOp{});
    const Tensor missing_variable = ctx.variable_by_id(7);
    const std::vector<EvalResult> results =
        Evaluator(ctx).push(needs_unfed).push(fine).push(op_error).push(silent).push(missing_variable).run();
    ASSERT_EQ(results.size(), 5u);
    EXPECT_EQ(failure(results[0]), failed_text(needs_unfed.id()));
    EXPECT_TRUE(same_array(*results[1], scalar(2.0)));
    EXPECT_EQ(failure(results[2]), failed_text(op_error.id()));  // not the operator's own error
    EXPECT_EQ(failure(results[3]), failed_text(silent.id()));
    EXPECT_EQ(failure(results[4]), failed_text(missing_variable.id()));
    EXPECT_EQ(calls, 2);  // needs_unfed never ran
  });
}

TEST(Evaluator, VariablesAreReadFromTheEnvironment) {
  gradix_autograd::variable::VariableEnvironment env;
  const auto id = env.name("c").set(xt::xtensor<double, 1>({1.5, 2.5}));
  env.run([&](Context& ctx) {
    const EvalResult r = Evaluator(ctx).eval(add(ctx.variable_by_id(id), constant(ctx.graph(), 1.0)));
    EXPECT_TRUE(same_array(*r, vec({2.5, 3.5})));
  });
}

TEST(Evaluator, EdgeRuns) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor c = constant(ctx.graph(), 4.0);
    EXPECT_TRUE(Evaluator(ctx).run().empty());
    EXPECT_TRUE(same_array(*Evaluator(ctx).eval(c), scalar(4.0)));
    // A feed for an id past the end of the graph is ignored.
    const Array v = scalar(9.0);
    EXPECT_TRUE(same_array(*Evaluator(ctx).feed(gradix_autograd::evaluation::PlaceholderKey::by_id(1000), v).eval(c),
                           scalar(4.0)));
  });
}

TEST(Evaluator, ComputesInDepthFirstPostOrderFromEachTarget) {
  gradix_autograd::graph::run([](Context& ctx) {
    std::string log;
    Graph& g = ctx.graph();
    const Tensor a = TensorBuilder(g).build(RecordingOp(&log, 'a'));
    const Tensor b = TensorBuilder(g).build(RecordingOp(&log, 'b'));
    const Tensor c = TensorBuilder(g).append_input(b, false).append_input(a, false).build(RecordingOp(&log, 'c'));
    const Tensor d = TensorBuilder(g).append_input(a, false).build(RecordingOp(&log, 'd'));
    (void)Evaluator(ctx).push(d).push(c).run();
    EXPECT_EQ(log, "adbc");
  });
}

TEST(Evaluator, WhatLiesBelowAFedNodeIsNotComputed) {
  gradix_autograd::graph::run([](Context& ctx) {
    int below = 0;
    int above = 0;
    const Tensor hidden = counted(constant(ctx.graph(), 1.0), &below);
    const Tensor fed = counted(hidden, &below);
    const Tensor top = counted(fed, &above);
    const Array value = scalar(40.0);
    const std::vector<EvalResult> results =
        Evaluator(ctx).feed(fed, value).push(top).push(fed).run();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_TRUE(same_array(*results[0], scalar(41.0)));
    EXPECT_TRUE(same_array(*results[1], scalar(40.0)));
    EXPECT_EQ(below, 0);
    EXPECT_EQ(above, 1);
  });
}

TEST(FixedInputs, AreTheLargestPartsNoVariableReaches) {
  gradix_autograd::variable::VariableEnvironment env;
  const auto id = env.name("c").set(xt::xtensor<double, 1>({1.5}));
  env.run([&](Context& ctx) {
    int calls = 0;
    const Tensor x = ctx.placeholder("x", {-1});
    const Tensor data_part = counted(counted(x, &calls), &calls);
    const Tensor v = ctx.variable_by_id(id);
    const Tensor mixed = add(data_part, counted(v, &calls));
    const Tensor also_fixed = counted(x, &calls);
    const Tensor targets[] = {mixed, also_fixed, add(mixed, x)};
    EXPECT_EQ(gradix_autograd::evaluation::fixed_inputs(ctx.graph(), targets),
              (std::vector<gradix_autograd::tensor::TensorId>{data_part.id(), also_fixed.id(), x.id()}));
    EXPECT_EQ(calls, 0);
  });
}

TEST(RepeatedEvaluation, GivesWhatAFreshEvaluatorGivesAsVariablesChange) {
  gradix_autograd::variable::VariableEnvironment env;
  const auto id = env.name("c").set(xt::xtensor<double, 1>({1.5, 2.5}));
  env.run([&](Context& ctx) {
    int fixed_calls = 0;
    int varying_calls = 0;
    const Tensor x = ctx.placeholder("x", {-1});
    const Tensor v = ctx.variable_by_id(id);
    const Tensor sum = add(counted(x, &fixed_calls), counted(v, &varying_calls));
    const Tensor failing = add(sum, ctx.placeholder("unfed", {-1}));
    const Array fed = vec({4.0, 1.0});
    const gradix_autograd::evaluation::RepeatedEvaluation::FeedById feeds[] = {{x.id(), &fed}};
    gradix_autograd::evaluation::RepeatedEvaluation repeated(ctx, {sum, failing, x}, feeds);
    EXPECT_EQ(fixed_calls, 1);  // computed once, here
    EXPECT_EQ(varying_calls, 0);
    for (const double shift : {0.0, 10.0, -3.0}) {
      *env.write(id) = vec({1.5 + shift, 2.5});
      const std::vector<EvalResult> got = repeated.run();
      const std::vector<EvalResult> want = Evaluator(ctx).feed(x, fed).push(sum).push(failing).push(x).run();
      expect_same_results(got, want);
    }
    EXPECT_EQ(fixed_calls, 1 + 3);  // the fresh evaluators' calls only
    EXPECT_EQ(varying_calls, 3 + 3);
  });
}

// Each run writes its values over arrays of the previous run or of values
// already read, or passes an input on as it is: a variable whose shape
// changes from run to run must still give the targets the shapes and the
// values a fresh evaluation gives.
TEST(RepeatedEvaluation, FollowsAVariableWhoseShapeChanges) {
  namespace ar = ops::arithmetic;
  gradix_autograd::variable::VariableEnvironment env;
  const auto id = env.name("c").set(xt::xtensor<double, 1>({0.5}));
  env.run([&](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {-1});
    const Tensor v = ctx.variable_by_id(id);
    const Tensor product = ar::mul(v, x);
    const Tensor clipped = ar::clip(ar::exp(ar::neg(product)), 0.25, 0.75);
    const Tensor mask = ar::equal(clipped, product);
    const Tensor v_shape = ops::shape(v);
    const Tensor reduced = ops::binary_ops::maybe_reduce(v_shape, ar::mul(mask, v), ctx.graph());
    const Tensor quotient = ar::div(ar::sub(clipped, x), ops::linear_algebra::scalar_mul(v, -2.0));
    const std::vector<Tensor> targets = {reduced, v_shape, quotient};
    const Array fed = vec({4.0, -1.0, 0.0});
    const gradix_autograd::evaluation::RepeatedEvaluation::FeedById feeds[] = {{x.id(), &fed}};
    gradix_autograd::evaluation::RepeatedEvaluation repeated(ctx, targets, feeds);
    const Array values[] = {vec({0.5}), vec({-0.25, 0.0, 2.0}), scalar(-0.0), vec({1.0}), vec({3.0, 1.0, -7.5})};
    for (const Array& value : values) {
      *env.write(id) = value;
      const std::vector<EvalResult> got = repeated.run();
      Evaluator fresh(ctx);
      fresh.feed(x, fed);
      for (const Tensor& t : targets) fresh.push(t);
      const std::vector<EvalResult> want = fresh.run();
      expect_same_results(got, want);
    }
  });
}

TEST(Evaluator, StolenOperatorIsFatal) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor c = constant(ctx.graph(), 4.0);
    (void)ctx.graph().take_op(c.id());
    EXPECT_EQ(gradix_test::fatal_message([&] { (void)Evaluator(ctx).eval(c); }),
              "bad impl: Op is now stolen in gradient");
  });
}

TEST(Evaluator, DeepChainDoesNotExhaustTheStack) {
  gradix_autograd::graph::run([](Context& ctx) {
    Tensor x = constant(ctx.graph(), 0.0);
    for (int i = 0; i < 500000; ++i) {
      x = TensorBuilder(ctx.graph()).append_input(x, false).build(ops::math_ops::NegOp{});
    }
    EXPECT_TRUE(same_array(*Evaluator(ctx).eval(x), scalar(0.0)));  // an even number of sign flips
  });
}

}  // namespace

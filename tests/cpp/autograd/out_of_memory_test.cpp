// Running out of memory inside an evaluation: the failure is marked as such
// all the way to the targets, and storage that is recycled from run to run
// is never left half-changed by it.
#include <gtest/gtest.h>

#include <new>
#include <vector>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/gradient.hpp"
#include "autograd/optimizers/adam.hpp"
#include "autograd/tensor_ops/reduction_constructors.hpp"
#include "helpers/allocation_faults.hpp"
#include "eval_results.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
namespace ar = ops::arithmetic;
using gradix_autograd::Array;
using gradix_autograd::ArrayShape;
using gradix_autograd::error::OpError;
using gradix_autograd::evaluation::EvalResult;
using gradix_autograd::evaluation::Evaluator;
using gradix_autograd::evaluation::RepeatedEvaluation;
using gradix_autograd::graph::Context;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::variable::VariableEnvironment;
using gradix_test::expect_same_results;

Array ramp(std::size_t n, double step) {
  Array a(ArrayShape{n});
  for (std::size_t i = 0; i < n; ++i) a(i) = step * static_cast<double>(i);
  return a;
}

TEST(OutOfMemory, ARecycledArrayIsResizedWholeOrNotAtAll) {
  Array recycled(ArrayShape{1}, 7.0);
  const Array input = gradix_test::vec({1.0});
  const Array* inputs[] = {&input};
  std::vector<Array> outputs;
  gradix_autograd::op::ComputeContext ctx(inputs, outputs, recycled);
  {
    const kvel_test::AllocationLimit limit(7999);
    const std::size_t shape[] = {1000};
    EXPECT_THROW(ctx.output_array(shape), std::bad_alloc);
  }
  EXPECT_EQ(recycled.shape(), ArrayShape{1});
  EXPECT_EQ(recycled.storage().size(), 1u);
  EXPECT_EQ(recycled(0), 7.0);
}

// A run that fails for lack of memory leaves nothing behind that a later run
// could trip over: the next run gives what a fresh evaluation gives.
TEST(OutOfMemory, ARepeatedEvaluationRecoversFromAFailedRun) {
  VariableEnvironment env;
  const auto id = env.name("c").set(xt::xtensor<double, 1>{0.5});
  env.run([&](Context& ctx) {
    const Tensor target = ar::neg(ar::exp(ctx.variable_by_id(id)));
    RepeatedEvaluation repeated(ctx, {target}, {});
    ASSERT_TRUE(repeated.run().front().has_value());

    *env.write(id) = ramp(4096, 1e-3);
    {
      const kvel_test::AllocationLimit limit(4096 * sizeof(double) - 1);
      const std::vector<EvalResult> failed = repeated.run();
      ASSERT_FALSE(failed.front().has_value());
      EXPECT_TRUE(failed.front().error().is_out_of_memory());
    }
    const std::vector<EvalResult> got = repeated.run();
    ASSERT_TRUE(got.front().has_value());
    EXPECT_EQ(got.front()->size(), 4096u);
    expect_same_results(got, Evaluator(ctx).push(target).run());
  });
}

// The same for the gradients of a training step, failing at each of their
// allocations in turn.
TEST(OutOfMemory, ATrainingStepRecoversFromAFailureAtAnyAllocation) {
  const std::size_t rows = 3000;  // 24 kB per column
  const Array x = ramp(rows, 1e-3);
  const Array y = ramp(rows, 2e-3);
  VariableEnvironment env;
  const auto a = env.name("a").set(xt::xtensor<double, 1>{0.5});
  const auto b = env.name("b").set(xt::xtensor<double, 1>{-1.0});
  env.run([&](Context& ctx) {
    const Tensor xp = ctx.placeholder("x", {-1});
    const Tensor yp = ctx.placeholder("y", {-1});
    const std::vector<Tensor> params = {ctx.variable_by_id(a), ctx.variable_by_id(b)};
    const Tensor d = ar::sub(ar::exp(ar::add(ar::mul(params[0], xp), params[1])), yp);
    const Tensor loss = ops::reduction::reduce_mean(ar::mul(d, d));
    std::vector<Tensor> targets = ops::grad(std::vector<Tensor>{loss}, params);
    targets.push_back(loss);
    const RepeatedEvaluation::FeedById feeds[] = {{xp.id(), &x}, {yp.id(), &y}};
    RepeatedEvaluation repeated(ctx, targets, feeds);
    Evaluator fresh_evaluator(ctx);
    fresh_evaluator.feed(xp, x).feed(yp, y);
    for (const Tensor& t : targets) fresh_evaluator.push(t);
    const std::vector<EvalResult> fresh = fresh_evaluator.run();

    std::size_t failed_runs = 0;
    for (std::size_t nth = 1;; ++nth) {
      bool fired = false;
      {
        const kvel_test::NthAllocationFails fault(nth, rows * sizeof(double));
        const std::vector<EvalResult> results = repeated.run();
        fired = fault.fired();
        if (fired) {
          ++failed_runs;
          bool marked = false;
          for (const EvalResult& r : results) marked = marked || (!r && r.error().is_out_of_memory());
          EXPECT_TRUE(marked) << "allocation " << nth;
        }
      }
      expect_same_results(repeated.run(), fresh);
      if (!fired) break;
    }
    EXPECT_GT(failed_runs, 3u);
  });
}

// Only a lack of memory is marked: other failures, and the text of every
// failure, stay as they are.
TEST(OutOfMemory, OnlyTargetsThatNeedTheFailedNodeAreMarked) {
  gradix_autograd::graph::run([](Context& ctx) {
    const Tensor x = ctx.placeholder("x", {-1});
    const Tensor big = ar::exp(x);
    const Tensor needs_big = ar::neg(big);
    const Tensor unfed = ar::neg(ctx.placeholder("unfed", {-1}));
    const Tensor small = ar::neg(ctx.placeholder("s", {-1}));
    const Array x_value = ramp(4096, 1e-3);
    const Array s_value = gradix_test::vec({1.0, 2.0});
    std::vector<EvalResult> results;
    {
      const kvel_test::AllocationLimit limit(4096 * sizeof(double) - 1);
      results = Evaluator(ctx).feed(x, x_value).feed("s", s_value).push(needs_big).push(unfed).push(small).run();
    }
    ASSERT_EQ(results.size(), 3u);
    ASSERT_FALSE(results[0].has_value());
    EXPECT_TRUE(results[0].error().is_out_of_memory());
    EXPECT_EQ(results[0].error().debug(),
              "OpError(RuntimeError(\"Failed to compute tensor " + std::to_string(needs_big.id()) + "\"))");
    ASSERT_FALSE(results[1].has_value());
    EXPECT_FALSE(results[1].error().is_out_of_memory());
    ASSERT_TRUE(results[2].has_value());
  });
  EXPECT_FALSE(OpError::other("x").is_out_of_memory());
  EXPECT_TRUE(OpError::other("x").marked_out_of_memory().is_out_of_memory());
  EXPECT_EQ(OpError::other("x").marked_out_of_memory().debug(), OpError::other("x").debug());
}

// Adam tells its caller when a gradient or a step ran out of memory, and
// leaves that parameter as it was.
TEST(OutOfMemory, AdamReportsAStepThatRanOutOfMemory) {
  VariableEnvironment env;
  const auto p = env.name("p").set(xt::xtensor<double, 1>{1.0});
  const std::vector<std::uint64_t> ids{p};
  const auto adam = gradix_autograd::optimizers::Adam::create(ids, env, "adam", 0.1, 1e-8, 0.9, 0.999);
  const auto slots = adam.slots(ids, env);
  std::vector<EvalResult> gradients;
  gradients.emplace_back(kvel_support::unexpected(gradix_autograd::error::EvalError::not_computed(3, true)));
  EXPECT_TRUE(adam.apply(slots, gradients, env));
  gradients.front() = kvel_support::unexpected(gradix_autograd::error::EvalError::not_computed(3, false));
  EXPECT_FALSE(adam.apply(slots, gradients, env));
  gradients.front() = gradix_test::vec({0.5});
  EXPECT_FALSE(adam.apply(slots, gradients, env));
  EXPECT_NE((*env.read(p))(0), 1.0);
}

}  // namespace

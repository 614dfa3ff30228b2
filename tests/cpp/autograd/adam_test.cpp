// The Adam optimizer: its state variables, the arithmetic of one AdamOp step,
// and whole runs of updates against a plain loop over the same formulas.
#include <gtest/gtest.h>

#include <cmath>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/gradient.hpp"
#include "autograd/optimizers/adam.hpp"
#include "op_test_util.hpp"

namespace {

namespace ar = gradix_autograd::tensor_ops::arithmetic;
using gradix_autograd::Array;
using gradix_autograd::graph::Context;
using gradix_autograd::optimizers::Adam;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::tensor_ops::gradient_descent_ops::adam::AdamOp;
using gradix_autograd::variable::VariableEnvironment;
using gradix_test::make;
using gradix_test::vec;

const AdamOp kOp(0.05, 1e-8, 0.9, 0.999);

std::vector<Array> step(const std::vector<Array>& inputs) {
  gradix_test::OpRun run = gradix_test::run_op(kOp, inputs);
  EXPECT_TRUE(run.result.has_value());
  return run.outputs;
}

TEST(Adam, CreatesThreeStateVariablesPerParameter) {
  VariableEnvironment env;
  env.add({"", "a"}, vec({1.0}));
  env.add({"", "b"}, make({2, 2}, {1, 2, 3, 4}));
  Adam::create({0, 1}, env, "kvel_adam", 0.05, 1e-8, 0.9, 0.999);
  const char* names[] = {"0m", "0v", "0t", "1m", "1v", "1t"};
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(env.find({"kvel_adam", names[i]}), std::optional<std::uint64_t>(i + 2));
  EXPECT_TRUE(gradix_test::same_array(*env.read(5), make({2, 2}, {0, 0, 0, 0})));
  EXPECT_TRUE(gradix_test::same_array(*env.read(7), vec({1.0})));
  EXPECT_EQ(gradix_test::fatal_message([&] { Adam::create({9}, env, "kvel_adam", 0.05, 1e-8, 0.9, 0.999); }),
            "variable array not found");
}

TEST(Adam, OneStepFromTheInitialState) {
  const std::vector<Array> out = step({vec({1.0}), vec({2.0}), vec({0.0}), vec({0.0}), vec({1.0})});
  ASSERT_EQ(out.size(), 5u);
  EXPECT_DOUBLE_EQ(out[0].data()[0], 0.9627931590846772);
  EXPECT_TRUE(gradix_test::same_array(out[4], vec({2.0})));
}

TEST(Adam, GradientIsFittedToTheParameter) {
  struct Row {
    const char* label;
    Array p;
    Array g;
    Array fitted;
  };
  const std::vector<Row> rows{
      {"sum for one value", vec({1.0}), vec({1, 2, 3}), vec({6})},
      {"sum for 0-d", gradix_test::scalar(0.0), vec({1, 2}), gradix_test::scalar(3.0)},
      {"folded copies", vec({0, 0}), vec({1, 2, 3, 4, 5, 6}), vec({9, 12})},
      {"0-d gradient kept", vec({1, 2, 3}), gradix_test::scalar(0.5), gradix_test::scalar(0.5)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.label);
    const Array zero = gradix_test::scalar(0.0);
    const std::vector<Array> out = step({r.p, r.g, zero, zero, vec({1.0})});
    EXPECT_TRUE(gradix_test::same_array(out[1], r.fitted));
    EXPECT_EQ(out[0].shape(), r.p.shape());
  }
  EXPECT_NE(gradix_test::fatal_message([] { step({vec({0, 0}), vec({1, 2, 3}), vec({0}), vec({0}), vec({1})}); }),
            "");
}

TEST(Adam, OperatorErrors) {
  gradix_test::OpRun four = gradix_test::run_op(kOp, {vec({1}), vec({1}), vec({0}), vec({0})});
  ASSERT_FALSE(four.result.has_value());
  EXPECT_EQ(four.result.error().debug(), "IncompatibleShape(\"AdamOp requires 5 inputs, but got 4\")");
  gradix_test::OpRun bad_t = gradix_test::run_op(kOp, {vec({1}), vec({1}), vec({0}), vec({0}), vec({1, 1})});
  ASSERT_FALSE(bad_t.result.has_value());
  EXPECT_EQ(bad_t.result.error().debug(), "IncompatibleShape(\"Expected scalar or 1-element array, got shape [2]\")");
  EXPECT_TRUE(four.outputs.empty());
}

// Plain Adam over f(p) = sum((p - 3)^2), state carried from step to step,
// with the step count starting at 1 as the optimizer's state does.
std::vector<double> reference_run(std::vector<double> p, int steps, double alpha) {
  const double b1 = 0.9, b2 = 0.999, eps = 1e-8;
  std::vector<double> m(p.size(), 0.0), v(p.size(), 0.0);
  double t = 1.0;
  for (int s = 0; s < steps; ++s) {
    t = t + 1.0;
    const double m_scale = 1.0 / (1.0 - std::pow(b1, t));
    const double v_scale = 1.0 / (1.0 - std::pow(b2, t));
    for (std::size_t i = 0; i < p.size(); ++i) {
      const double d = p[i] - 3.0;
      const double g = d + d;
      m[i] = m[i] * b1 + (1.0 - b1) * g;
      v[i] = v[i] * b2 + ((1.0 - b2) * g) * g;
      const double u = (m[i] * m_scale) / (std::sqrt(v[i] * v_scale) + eps);
      p[i] = p[i] - alpha * u;
    }
  }
  return p;
}

TEST(Adam, UpdatesCarryTheMomentsFromStepToStep) {
  VariableEnvironment env;
  const auto id = env.name("p").set(xt::xtensor<double, 1>{1.0, 5.5});
  const Adam adam = Adam::create({id}, env, "kvel_adam", 0.1, 1e-8, 0.9, 0.999);
  const int steps = 25;
  for (int s = 0; s < steps; ++s) {
    env.run([&](Context& ctx) {
      const Tensor p = ctx.variable_by_id(id);
      const Tensor d = ar::sub(p, gradix_autograd::tensor_ops::scalar(ctx.graph(), 3.0));
      const Tensor loss = ar::mul(d, d);
      const std::vector<Tensor> params{p};
      const std::vector<Tensor> grads = gradix_autograd::tensor_ops::grad(std::vector<Tensor>{loss}, params);
      adam.update(params, grads, ctx, {});
    });
  }
  const std::vector<double> want = reference_run({1.0, 5.5}, steps, 0.1);
  const Array got = *env.read(id);
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_DOUBLE_EQ(got.data()[i], want[i]);
  const auto t = env.find({"kvel_adam", std::to_string(id) + "t"});
  EXPECT_TRUE(gradix_test::same_array(*env.read(*t), vec({1.0 + steps})));
}

TEST(Adam, FailedGradientLeavesTheParameterAndEmptyUpdatesNothing) {
  VariableEnvironment env;
  const auto id = env.name("p").set(xt::xtensor<double, 1>{1.0});
  const Adam adam = Adam::create({id}, env, "kvel_adam", 0.05, 1e-8, 0.9, 0.999);
  env.run([&](Context& ctx) {
    const Tensor p = ctx.variable_by_id(id);
    const Tensor y = ar::mul(p, ctx.placeholder("unfed", {1}));
    const std::vector<Tensor> params{p};
    const std::vector<Tensor> grads = gradix_autograd::tensor_ops::grad(std::vector<Tensor>{y}, params);
    adam.update(params, grads, ctx, {});
    const std::size_t nodes = ctx.graph().num_nodes();
    adam.update({}, {}, ctx, {});
    EXPECT_EQ(ctx.graph().num_nodes(), nodes);
    EXPECT_EQ(gradix_test::fatal_message([&] { adam.update(params, {}, ctx, {}); }).substr(0, 9), "assertion");
    const Tensor constant = gradix_autograd::tensor_ops::scalar(ctx.graph(), 1.0);
    EXPECT_EQ(gradix_test::fatal_message([&] { adam.update(std::vector<Tensor>{constant}, grads, ctx, {}); }),
              "Got non-variable tensor");
  });
  EXPECT_TRUE(gradix_test::same_array(*env.read(id), vec({1.0})));
}

// A parameter listed twice takes one step, exactly the step of listing it
// once: t advances by one and the value is the one-step value.
TEST(Adam, ParameterListedTwiceTakesOneStep) {
  const auto run = [](std::size_t listings) {
    VariableEnvironment env;
    const auto id = env.name("p").set(xt::xtensor<double, 1>{1.0, 5.5});
    const Adam adam = Adam::create({id}, env, "kvel_adam", 0.1, 1e-8, 0.9, 0.999);
    env.run([&](Context& ctx) {
      const Tensor p = ctx.variable_by_id(id);
      const Tensor d = ar::sub(p, gradix_autograd::tensor_ops::scalar(ctx.graph(), 3.0));
      const Tensor loss = ar::mul(d, d);
      const std::vector<Tensor> params(listings, p);
      const std::vector<Tensor> grads = gradix_autograd::tensor_ops::grad(std::vector<Tensor>{loss}, params);
      adam.update(params, grads, ctx, {});
    });
    const auto t = env.find({"kvel_adam", std::to_string(id) + "t"});
    return std::pair<Array, Array>{*env.read(id), *env.read(*t)};
  };
  const auto once = run(1);
  const auto twice = run(2);
  EXPECT_TRUE(gradix_test::same_array(twice.first, once.first));
  EXPECT_TRUE(gradix_test::same_array(twice.second, vec({2.0})));
}

}  // namespace

// Adam's step applied to gradients evaluated elsewhere: the state variables
// found by name once, and the same result as updates inside each graph.
#include <gtest/gtest.h>

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
using gradix_autograd::variable::VariableEnvironment;
using gradix_test::vec;

TEST(AdamApply, SlotsNameEachParametersStateVariables) {
  VariableEnvironment env;
  env.add({"", "a"}, vec({1.0}));
  env.add({"", "b"}, vec({2.0, 3.0}));
  const Adam adam = Adam::create({0, 1}, env, "kvel_adam", 0.05, 1e-8, 0.9, 0.999);
  const std::vector<Adam::Slots> slots = adam.slots(std::vector<std::uint64_t>{1, 0}, env);
  ASSERT_EQ(slots.size(), 2u);
  EXPECT_EQ((std::vector<std::uint64_t>{slots[0].param, slots[0].m, slots[0].v, slots[0].t}),
            (std::vector<std::uint64_t>{1, 5, 6, 7}));
  EXPECT_EQ((std::vector<std::uint64_t>{slots[1].param, slots[1].m, slots[1].v, slots[1].t}),
            (std::vector<std::uint64_t>{0, 2, 3, 4}));
  const Adam other("other", 0.05, 1e-8, 0.9, 0.999);
  EXPECT_EQ(gradix_test::fatal_message([&] { (void)other.slots(std::vector<std::uint64_t>{0}, env); }),
            "variable array `0m` not found in namespace other");
}

// One graph for all steps, its gradient evaluated each step and applied,
// moves the parameters exactly as an update in a fresh graph per step does.
TEST(AdamApply, MatchesUpdatesInFreshGraphs) {
  const auto train = [](bool once) {
    VariableEnvironment env;
    const auto p_id = env.name("p").set(xt::xtensor<double, 1>{1.0, 5.5});
    const auto q_id = env.name("q").set(xt::xtensor<double, 1>{2.0});
    const std::vector<std::uint64_t> ids{p_id, q_id};
    const Adam adam = Adam::create(ids, env, "kvel_adam", 0.1, 1e-8, 0.9, 0.999);
    const auto build = [&](Context& ctx) {
      const std::vector<Tensor> params{ctx.variable_by_id(p_id), ctx.variable_by_id(q_id)};
      const Tensor d = ar::sub(params[0], gradix_autograd::tensor_ops::scalar(ctx.graph(), 3.0));
      const Tensor loss = ar::add(ar::mul(d, d), ar::mul(params[1], params[1]));
      return std::make_pair(params, gradix_autograd::tensor_ops::grad(std::vector<Tensor>{loss}, params));
    };
    if (once) {
      const std::vector<Adam::Slots> slots = adam.slots(ids, env);
      env.run([&](Context& ctx) {
        const auto [params, grads] = build(ctx);
        for (int s = 0; s < 20; ++s) {
          gradix_autograd::evaluation::Evaluator evaluator(ctx);
          for (const Tensor& g : grads) evaluator.push(g);
          EXPECT_FALSE(adam.apply(slots, evaluator.run(), env));
        }
      });
    } else {
      for (int s = 0; s < 20; ++s) {
        env.run([&](Context& ctx) {
          const auto [params, grads] = build(ctx);
          adam.update(params, grads, ctx, {});
        });
      }
    }
    return std::make_pair(Array(*env.read(p_id)), Array(*env.read(q_id)));
  };
  const auto fresh = train(false);
  const auto reused = train(true);
  EXPECT_FALSE(gradix_test::same_array(fresh.first, vec({1.0, 5.5})));
  EXPECT_FALSE(gradix_test::same_array(fresh.second, vec({2.0})));
  EXPECT_TRUE(gradix_test::same_array(reused.first, fresh.first));
  EXPECT_TRUE(gradix_test::same_array(reused.second, fresh.second));
}

}  // namespace

#include "autograd/variable.hpp"

#include <gtest/gtest.h>

#include "op_test_util.hpp"

namespace {

using gradix_autograd::graph::Context;
using gradix_autograd::variable::FullName;
using gradix_autograd::variable::VariableEnvironment;
using gradix_test::fatal_message;
using gradix_test::same_array;
using gradix_test::vec;

xt::xtensor<double, 1> one_d(std::initializer_list<double> values) {
  xt::xtensor<double, 1> a = xt::xtensor<double, 1>::from_shape({values.size()});
  std::copy(values.begin(), values.end(), a.data());
  return a;
}

TEST(VariableEnvironment, DefaultSlotsGetConsecutiveIds) {
  VariableEnvironment env;
  EXPECT_EQ(env.name("b").set(one_d({1.0})), 0u);
  EXPECT_EQ(env.name("a").set(one_d({2.0, 3.0})), 1u);
  EXPECT_EQ(env.num_variables(), 2u);
  EXPECT_TRUE(same_array(*env.read(1), vec({2.0, 3.0})));
  EXPECT_EQ(env.find(FullName("", "a")), 1u);
}

TEST(VariableEnvironment, SettingANameAgainRebindsIt) {
  VariableEnvironment env;
  auto ns = env.namespace_handle("opt");
  ns.name("0m").set(vec({1.0}));
  ns.name("0m").set(vec({2.0}));
  EXPECT_EQ(env.find(FullName("opt", "0m")), 1u);
  EXPECT_TRUE(same_array(*env.read(0), vec({1.0})));  // still reachable by id
  env.run([&](Context& ctx) {
    EXPECT_EQ(ctx.variable_by_name("0m", ns), ctx.variable_by_id(1));
    const auto nodes = ctx.graph().nodes();
    EXPECT_EQ(nodes[0].variable_id, 1u);
  });
}

TEST(VariableEnvironment, NamespacesSeparateNames) {
  VariableEnvironment env;
  auto a = env.namespace_handle("a");
  auto b = env.namespace_handle("b");
  a.name("w").set(vec({1.0}));
  b.name("w").set(vec({2.0}));
  EXPECT_EQ(env.find(FullName("a", "w")), 0u);
  EXPECT_EQ(env.find(FullName("b", "w")), 1u);
  EXPECT_EQ(env.find(FullName("", "w")), std::nullopt);
}

TEST(VariableEnvironment, UnboundNamesAreFatal) {
  VariableEnvironment env;
  auto ns = env.namespace_handle("kvel_adam");
  ns.name("other").set(vec({1.0}));
  auto fallback = env.default_namespace();
  env.run([&](Context& ctx) {
    EXPECT_EQ(fatal_message([&] { ctx.variable_by_name("c0", fallback); }),
              "variable array not found in default namespace: c0");
    EXPECT_EQ(fatal_message([&] { ctx.variable_by_name("3m", ns); }),
              "variable array `3m` not found in namespace kvel_adam");
  });
}

TEST(VariableEnvironment, RunKeepsVariablesAndStartsFromAnEmptyGraph) {
  VariableEnvironment env;
  env.name("c").set(one_d({1.0}));
  env.run([&](Context& ctx) {
    ctx.variable_by_id(0);
    *ctx.env().write(0) = vec({5.0});
    ctx.env().name("d").set(one_d({7.0}));
  });
  const std::size_t nodes = env.run([&](Context& ctx) {
    EXPECT_TRUE(same_array(*ctx.env().read(0), vec({5.0})));
    EXPECT_EQ(ctx.env().num_variables(), 2u);
    return ctx.graph().num_nodes();
  });
  EXPECT_EQ(nodes, 0u);
}

TEST(VariableEnvironment, ConflictingArrayAccessIsFatal) {
  VariableEnvironment env;
  env.name("c").set(one_d({1.0}));
  {
    const auto reading = env.read(0);
    EXPECT_EQ(fatal_message([&] { env.write(0); }), "variable array already borrowed");
    const auto second_reader = env.read(0);  // readers share
    EXPECT_EQ(reading->size(), 1u);
  }
  {
    const auto writing = env.write(0);
    EXPECT_EQ(fatal_message([&] { env.read(0); }), "variable array already mutably borrowed");
  }
  EXPECT_EQ(fatal_message([&] { env.read(1); }), "variable array not found");
}

}  // namespace

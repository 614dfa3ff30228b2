#include "core/fit.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/gradient.hpp"
#include "autograd/tensor_ops/reduction_constructors.hpp"
#include "core/forest.hpp"
#include "helpers/eml_parse.hpp"
#include "support/panic.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
using gradix_autograd::Array;
using gradix_autograd::graph::Context;
using gradix_autograd::tensor::Tensor;
using kvel_core::dataset::DataSet;
using kvel_core::discoverer::Discoverer;
using kvel_core::fit::collect_consts;
using kvel_core::fit::fit_constants;
using kvel_core::fit::substitute_consts;
using tamrix::tree::EmlTree;

DataSet data_set(std::vector<double> x0, std::vector<double> y) {
  xt::xtensor<double, 2> x = xt::xtensor<double, 2>::from_shape({x0.size(), 1});
  xt::xtensor<double, 1> yy = xt::xtensor<double, 1>::from_shape({y.size()});
  for (std::size_t i = 0; i < x0.size(); ++i) x(i, 0) = x0[i];
  for (std::size_t i = 0; i < y.size(); ++i) yy(i) = y[i];
  return *DataSet::from_arrays(std::move(x), std::move(yy));
}

Discoverer config(std::size_t epochs, double learning_rate) {
  Discoverer c;
  c.max_epochs = epochs;
  c.learning_rate = learning_rate;
  return c;
}

TEST(FitConsts, LeafOrderCollectAndSubstitute) {
  const EmlTree tree = kvel_test::parse_tree("eml(eml(0.5, x0), eml(1, eml(-2, 3.25)))");
  EXPECT_EQ(collect_consts(*tree.root), (std::vector<double>{0.5, -2.0, 3.25}));
  const std::vector<double> values{7.0, 8.0, 9.0, 10.0};
  std::size_t position = 1;
  const EmlTree out = EmlTree::from_node(substitute_consts(*tree.root, values, position));
  EXPECT_EQ(position, 4u);
  EXPECT_EQ(out.to_string(), "eml(eml(8.000000, x0), eml(1, eml(9.000000, 10.000000)))");
  std::size_t late = 2;
  EXPECT_THROW(substitute_consts(*tree.root, values, late), kvel_support::FatalError);
}

TEST(FitConstants, ConstantTimesOnesConvergesToTheTarget) {
  const DataSet data = data_set({0.5, 1.0, 1.5, 2.0}, {3.0, 3.0, 3.0, 3.0});
  const auto fitted = fit_constants(kvel_test::parse_tree("1.0"), data, config(1000, 0.05));
  ASSERT_TRUE(fitted.has_value()) << fitted.error().display();
  EXPECT_NEAR(collect_consts(*fitted->tree.root).at(0), 3.0, 1e-3);
  EXPECT_LT(fitted->mse, 1e-6);
}

TEST(FitConstants, FitsThroughTheGuardedEml) {
  // y = exp(0.7) - ln(x0): the constant of eml(c, x0) is 0.7.
  std::vector<double> x0{0.5, 1.0, 1.5, 2.0, 3.0};
  std::vector<double> y;
  for (const double v : x0) y.push_back(std::exp(0.7) - std::log(v));
  const auto fitted = fit_constants(kvel_test::parse_tree("eml(0.2, x0)"), data_set(x0, y), config(600, 0.05));
  ASSERT_TRUE(fitted.has_value()) << fitted.error().display();
  EXPECT_NEAR(collect_consts(*fitted->tree.root).at(0), 0.7, 1e-3);
}

TEST(FitConstants, NoEpochsKeepsEveryConstantInItsPlace) {
  const DataSet data = data_set({0.5, 1.0, 2.0}, {1.0, 2.0, 3.0});
  const EmlTree tree = kvel_test::parse_tree("eml(eml(0.25, x0), eml(1.5, 2.75))");
  const auto fitted = fit_constants(tree, data, config(0, 0.05));
  ASSERT_TRUE(fitted.has_value());
  EXPECT_EQ(fitted->tree.to_string(), tree.to_string());
  const auto prediction = kvel_core::forest::eval_tree(tree, data.x);
  EXPECT_DOUBLE_EQ(fitted->mse, kvel_core::fit::mean_squared_error(*prediction, data.y));
}

TEST(FitConstants, Failures) {
  const DataSet data = data_set({0.5, 1.0}, {1.0, 2.0});
  const auto nan_rate = fit_constants(kvel_test::parse_tree("eml(0.5, x0)"), data, config(3, std::nan("")));
  ASSERT_FALSE(nan_rate.has_value());
  EXPECT_EQ(nan_rate.error().display(), "numerical instability: fitted constants are non-finite");
  // Without constants the tree is only scored.
  const auto plain = fit_constants(kvel_test::parse_tree("eml(x0, 1)"), data, config(5, 0.05));
  ASSERT_TRUE(plain.has_value());
  EXPECT_NEAR(plain->mse, (std::pow(std::exp(0.5) - 1, 2) + std::pow(std::exp(1.0) - 2, 2)) / 2, 1e-12);
}

// The gradient of the training loss with respect to the constants against
// central differences of the same loss, for trees that reach the clips, the
// logarithm and nested exponentials.
TEST(FitConstants, LossGradientMatchesFiniteDifferences) {
  const DataSet data = data_set({0.5, 0.9, 1.3, 2.2}, {0.3, -1.0, 2.0, 1.1});
  const kvel_core::forest::FeedColumns columns = kvel_core::forest::FeedColumns::from_matrix(data.x);
  const Array y = data.y;
  const char* trees[] = {
      "0.4",
      "eml(0.3, x0)",
      "eml(x0, 1.7)",
      "eml(eml(0.2, x0), -0.5)",  // the ln's argument is clipped: no gradient there
      "eml(eml(0.1, x0), eml(x0, eml(0.6, 1.4)))",
  };
  for (const char* text : trees) {
    SCOPED_TRACE(text);
    const EmlTree tree = kvel_test::parse_tree(text);
    const std::vector<double> consts = collect_consts(*tree.root);
    gradix_autograd::variable::VariableEnvironment env;
    std::vector<gradix_autograd::variable::VariableID> ids;
    for (std::size_t k = 0; k < consts.size(); ++k) {
      ids.push_back(env.name("c" + std::to_string(k)).set(xt::xtensor<double, 1>{consts[k]}));
    }
    env.run([&](Context& ctx) {
      std::vector<Tensor> cols;
      const Tensor ones = kvel_core::forest::make_placeholders(ctx, 1, cols);
      const Tensor target = ctx.placeholder("kvel_y", {-1});
      std::vector<Tensor> vars;
      for (const auto id : ids) vars.push_back(ctx.variable_by_id(id));
      std::size_t position = 0;
      const Tensor pred = kvel_core::fit::build_param(*tree.root, cols, ones, vars, position);
      const Tensor d = ops::arithmetic::sub(pred, target);
      const Tensor loss = ops::reduction::reduce_mean(ops::arithmetic::mul(d, d));
      const Tensor targets[] = {loss};
      const std::vector<Tensor> grads = ops::grad(targets, vars);
      const auto evaluate = [&](const Tensor& t) {
        gradix_autograd::evaluation::Evaluator e(ctx);
        e.feed(cols[0], columns.columns[0]).feed(ones, columns.ones).feed(target, y);
        auto r = e.eval(t);
        EXPECT_TRUE(r.has_value()) << r.error().debug();
        return *r;
      };
      for (std::size_t k = 0; k < ids.size(); ++k) {
        const Array g = evaluate(grads[k]);
        ASSERT_EQ(g.size(), 1u);
        const double h = 1e-6;
        (*env.write(ids[k])).data()[0] = consts[k] + h;
        const double up = evaluate(loss).data()[0];
        (*env.write(ids[k])).data()[0] = consts[k] - h;
        const double down = evaluate(loss).data()[0];
        (*env.write(ids[k])).data()[0] = consts[k];
        const double numeric = (up - down) / (2 * h);
        EXPECT_NEAR(g.data()[0], numeric, 1e-5 * (1 + std::abs(numeric))) << "constant " << k;
      }
    });
  }
}

}  // namespace

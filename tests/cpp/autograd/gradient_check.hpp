#pragma once
// `grad` against central finite differences. For a case the target is
// sum(W ⊙ f(x0, x1, ...)) with uneven weights W over f's output, the sources
// are the fed placeholders x0, x1, ...; every returned gradient must have its
// source's shape and match the difference quotient of the evaluated target.
// The second-order check takes the gradient of sum_i sum(V_i ⊙ g_i) for fixed
// uneven directions V_i (a Hessian-vector product) and compares it with the
// difference quotient of sum_i sum(V_i ⊙ g_i) itself.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/gradient.hpp"
#include "autograd/tensor_ops/reduction_constructors.hpp"
#include "autograd/tensor_ops/reduction_ops.hpp"
#include "support/panic.hpp"

namespace gradix_test {

using Build = std::function<gradix_autograd::tensor::Tensor(const std::vector<gradix_autograd::tensor::Tensor>&)>;

struct GradCase {
  std::string label;
  std::vector<gradix_autograd::Array> inputs;
  Build build;
};

namespace detail {

using gradix_autograd::Array;
using gradix_autograd::graph::Context;
using gradix_autograd::tensor::Tensor;

inline std::string feed_name(std::size_t i) { return "x" + std::to_string(i); }

// The value of `t` with the sources fed `values`, or nothing when it fails
// (with the error's text in `error`).
inline std::optional<Array> value_of(Context& ctx, const Tensor& t, const std::vector<Array>& values,
                                     std::string* error = nullptr) {
  gradix_autograd::evaluation::Evaluator e(ctx);
  for (std::size_t i = 0; i < values.size(); ++i) e.feed(feed_name(i), values[i]);
  auto got = e.eval(t);
  if (!got) {
    if (error != nullptr) *error = got.error().debug();
    return std::nullopt;
  }
  return std::move(*got);
}

inline double sum_of(Context& ctx, const Tensor& t, const std::vector<Array>& values) {
  const std::optional<Array> got = value_of(ctx, t, values);
  EXPECT_TRUE(got.has_value());
  double sum = 0.0;
  if (got) {
    for (std::size_t j = 0; j < got->size(); ++j) sum += got->data()[j];
  }
  return sum;
}

// W = 0.5 + 0.25 j over an array of `like`'s shape.
inline Array weights(const Array& like, double start, double step) {
  Array w = like;
  for (std::size_t j = 0; j < w.size(); ++j) w.data()[j] = start + step * static_cast<double>(j % 7);
  return w;
}

inline Tensor constant(const Tensor& like, Array value) {
  return gradix_autograd::tensor_ops::convert_to_tensor(std::move(value), like.graph());
}

// Builds the case's placeholders and sum(W ⊙ f); null target when f fails.
struct Built {
  std::vector<Tensor> xs;
  std::optional<Tensor> target;
};

inline Built build_target(Context& ctx, const GradCase& c) {
  Built b;
  for (std::size_t i = 0; i < c.inputs.size(); ++i) {
    const std::vector<std::int64_t> dims(c.inputs[i].shape().begin(), c.inputs[i].shape().end());
    b.xs.push_back(ctx.placeholder(feed_name(i), dims));
  }
  const Tensor y = c.build(b.xs);
  const std::optional<Array> value = value_of(ctx, y, c.inputs);
  EXPECT_TRUE(value.has_value()) << "the case itself fails to evaluate";
  if (!value) return b;
  b.target = gradix_autograd::tensor_ops::arithmetic::mul(y, constant(y, weights(*value, 0.5, 0.25)));
  return b;
}

// Every element of `grads[i]` against the central difference of `scalar`
// along x_i's element j, with step h.
inline void compare(Context& ctx, const std::vector<Tensor>& grads, const Tensor& scalar,
                    const std::vector<Array>& inputs, double h, double tolerance) {
  ASSERT_EQ(grads.size(), inputs.size());
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    std::string error;
    const std::optional<Array> g = value_of(ctx, grads[i], inputs, &error);
    ASSERT_TRUE(g.has_value()) << "gradient of input " << i << " fails to evaluate: " << error;
    ASSERT_EQ(g->shape(), inputs[i].shape()) << "input " << i;
    for (std::size_t j = 0; j < inputs[i].size(); ++j) {
      std::vector<Array> plus = inputs;
      std::vector<Array> minus = inputs;
      plus[i].data()[j] += h;
      minus[i].data()[j] -= h;
      const double numeric = (sum_of(ctx, scalar, plus) - sum_of(ctx, scalar, minus)) / (2 * h);
      EXPECT_NEAR(g->data()[j], numeric, tolerance * (1 + std::abs(numeric))) << "input " << i << " element " << j;
    }
  }
}

// Runs f, reporting a fatal error as a failure of the case alone.
template <class F>
void guarded(F&& f) {
  try {
    f();
  } catch (const kvel_support::FatalError& e) {
    ADD_FAILURE() << "fatal error: " << e.message();
  }
}

}  // namespace detail

// First order: the gradient of sum(W ⊙ f) against finite differences.
inline void check_first_order(const GradCase& c) {
  SCOPED_TRACE(c.label);
  detail::guarded([&] { gradix_autograd::graph::run([&](detail::Context& ctx) {
    const detail::Built b = detail::build_target(ctx, c);
    if (!b.target) return;
    const std::vector<detail::Tensor> grads = gradix_autograd::tensor_ops::grad(std::vector{*b.target}, b.xs);
    detail::compare(ctx, grads, *b.target, c.inputs, 1e-6, 1e-5);
  }); });
}

// Second order: the gradient of sum_i sum(V_i ⊙ g_i), g the first gradient,
// against finite differences of that same sum.
inline void check_second_order(const GradCase& c) {
  SCOPED_TRACE(c.label + " (second order)");
  detail::guarded([&] { gradix_autograd::graph::run([&](detail::Context& ctx) {
    const detail::Built b = detail::build_target(ctx, c);
    if (!b.target) return;
    const std::vector<detail::Tensor> grads = gradix_autograd::tensor_ops::grad(std::vector{*b.target}, b.xs);
    std::vector<detail::Tensor> terms;
    for (std::size_t i = 0; i < grads.size(); ++i) {
      const detail::Tensor v = detail::constant(b.xs[i], detail::weights(c.inputs[i], 0.3, 0.15));
      terms.push_back(gradix_autograd::tensor_ops::arithmetic::mul(grads[i], v));
    }
    std::vector<detail::Tensor> sums;
    for (const detail::Tensor& t : terms) {
      sums.push_back(gradix_autograd::tensor::TensorBuilder(t.graph())
                         .append_input(t, false)
                         .build(gradix_autograd::tensor_ops::reduction_ops::ReduceSumAll{}));
    }
    const detail::Tensor directional = gradix_autograd::tensor_ops::reduction::add_n(sums);
    const std::vector<detail::Tensor> hvp = gradix_autograd::tensor_ops::grad(std::vector{directional}, b.xs);
    detail::compare(ctx, hvp, directional, c.inputs, 1e-5, 1e-4);
  }); });
}

}  // namespace gradix_test

// The derivatives of a product over axes at zero factors, where a quotient
// by x would give 0·∞, and next to them, where a quotient would cancel,
// overflow or lose the small factor altogether.
#include "autograd/tensor_ops/exclusive_prod_ops.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iomanip>
#include <limits>
#include <vector>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/gradient.hpp"
#include "autograd/tensor_ops/reduction_constructors.hpp"
#include "autograd/tensor_ops/reduction_ops.hpp"
#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
namespace red = gradix_autograd::tensor_ops::reduction_ops;
using gradix_autograd::Array;
using gradix_autograd::tensor::Tensor;
using gradix_test::compute1;
using gradix_test::make;
using gradix_test::same_array;
using gradix_test::vec;

const red::ExclusiveProdGrad kByAxes(false);
const red::ExclusiveProdGrad kByMask(true);

struct Row {
  const char* what;
  const red::ExclusiveProdGrad* op;
  Array x;
  Array axes;
  std::vector<Array> weights;
  Array want;
};

// At element m: Σ over the group's other members j of g_j times the product
// of the members that are neither m nor j.
TEST(ExclusiveProdGrad, FirstDerivativeAtZeros) {
  const Array ones3 = vec({1, 1, 1});
  const Array g4 = vec({1, 2, 3, 4});
  const Row rows[] = {
      {"[2, 0, 3]", &kByAxes, vec({2, 0, 3}), vec({0}), {ones3}, vec({3, 5, 2})},
      // m = 1 (the zero): 1·3·5 + 3·2·5 + 4·2·3; elsewhere only j = 1.
      {"one zero", &kByAxes, vec({2, 0, 3, 5}), vec({0}), {g4}, vec({30, 69, 20, 12})},
      {"two zeros", &kByAxes, vec({0, 2, 0, 5}), vec({0}), {g4}, vec({30, 0, 10, 0})},
      {"three zeros", &kByAxes, vec({0, 2, 0, 0}), vec({0}), {g4}, vec({0, 0, 0, 0})},
      {"rows of a matrix, one without zeros", &kByAxes, make({2, 3}, {2, 0, 3, 1, 2, 4}), vec({-1}),
       {make({2, 3}, {1, 1, 1, 1, 1, 1})}, make({2, 3}, {3, 5, 2, 6, 5, 3})},
      {"columns of a matrix", &kByAxes, make({3, 2}, {0, 1, 2, 0, 3, 4}), vec({0}),
       {make({3, 2}, {1, 1, 1, 1, 1, 1})}, make({3, 2}, {5, 4, 3, 5, 2, 1})},
      {"a mask", &kByMask, make({2, 3}, {2, 0, 3, 0, 0, 1}), vec({0, 1}), {make({2, 3}, {1, 1, 1, 1, 1, 1})},
       make({2, 3}, {3, 5, 2, 1, 1, 0})},
      {"a broadcast weight", &kByAxes, vec({2, 0, 3}), vec({0}), {gradix_test::scalar(2)}, vec({6, 10, 4})},
      // The products beside the zeros overflow; no 0·∞ reaches the result.
      {"three zeros beside an overflow", &kByAxes, vec({1e200, 1e200, 0, 0, 0}), vec({0}),
       {vec({1, 1, 1, 1, 1})}, vec({0, 0, 0, 0, 0})},
      {"one zero beside an overflow", &kByAxes, vec({1e300, 1e300, 0}), vec({0}), {ones3},
       vec({1e300, 1e300, 2e300})},
      // Two weights: at m, Σ over ordered pairs (i, j) of other members of
      // g_i·h_j times the rest, here the one member left, which must not
      // be a zero.
      {"two weights, one zero", &kByAxes, vec({2, 0, 3, 5}), vec({0}), {g4, vec({1, 1, 1, 1})},
       vec({43, 49, 27, 19})},
      {"two weights, three zeros", &kByAxes, vec({0, 0, 0, 5}), vec({0}), {g4, g4}, vec({60, 30, 20, 0})},
  };
  for (const Row& row : rows) {
    std::vector<Array> inputs{row.x, row.axes};
    inputs.insert(inputs.end(), row.weights.begin(), row.weights.end());
    EXPECT_TRUE(same_array(compute1(*row.op, inputs), row.want)) << row.what;
  }
}

// How many doubles lie between a and b (0 when equal, infinities
// included); NaN is never near anything.
std::uint64_t ulps_apart(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::numeric_limits<std::uint64_t>::max();
  const auto ordered = [](double v) {
    const auto bits = std::bit_cast<std::uint64_t>(v);
    return (bits >> 63) != 0 ? std::uint64_t{0} - (bits & ~(std::uint64_t{1} << 63)) : bits;
  };
  const std::uint64_t d = ordered(a) - ordered(b);
  return std::min(d, std::uint64_t{0} - d);
}

constexpr std::uint64_t kFewUlps = 4;

::testing::AssertionResult within_few_ulps(const Array& got, const Array& want) {
  if (got.shape() != want.shape()) return ::testing::AssertionFailure() << "shapes differ";
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (ulps_apart(got.data()[i], want.data()[i]) > kFewUlps) {
      return ::testing::AssertionFailure() << std::setprecision(17) << "element " << i << ": " << got.data()[i]
                                           << " vs " << want.data()[i];
    }
  }
  return ::testing::AssertionSuccess();
}

// h = grad(grad(prod(x over axes), x), x): the Hessian of the product summed
// by columns, through the engine's own gradient construction.
Array product_hessian_sums(const Array& x, const Array& axes) {
  Array h;
  gradix_autograd::graph::run([&](gradix_autograd::graph::Context& ctx) {
    const std::vector<std::int64_t> dims(x.shape().begin(), x.shape().end());
    const Tensor xt = ctx.placeholder("x", dims);
    const Tensor p = gradix_autograd::tensor::TensorBuilder(ctx.graph())
                         .append_input(xt, false)
                         .append_input(ops::convert_to_tensor(axes, ctx.graph()), false)
                         .build(red::ReduceProd(false, false));
    const Tensor g = ops::grad(std::vector{p}, std::vector{xt}).at(0);
    const Tensor ht = ops::grad(std::vector{g}, std::vector{xt}).at(0);
    gradix_autograd::evaluation::Evaluator e(ctx);
    auto got = e.feed("x", x).eval(ht);
    ASSERT_TRUE(got.has_value()) << got.error().debug();
    h = std::move(*got);
  });
  return h;
}

// (H·1)_m = Σ_{i≠m} Π_{k∉{m,i}} x_k over m's group, in long double, whose
// range holds every product below and whose precision makes the sum exact
// to well under an ulp of a double. `group_of` numbers each element's group.
Array exact_hessian_sums(const Array& x, const std::function<std::size_t(std::size_t)>& group_of) {
  Array h = x;
  for (std::size_t m = 0; m < x.size(); ++m) {
    long double sum = 0.0L;
    for (std::size_t i = 0; i < x.size(); ++i) {
      if (i == m || group_of(i) != group_of(m)) continue;
      long double product = 1.0L;
      for (std::size_t k = 0; k < x.size(); ++k) {
        if (k != m && k != i && group_of(k) == group_of(m)) product *= x.data()[k];
      }
      sum += product;
    }
    h.data()[m] = static_cast<double>(sum);
  }
  return h;
}

// Next to a zero the quotient form E·(Σ g/x − g/x) cancels, and at subnormal,
// huge or infinite entries it overflows; the products alone do neither.
TEST(ExclusiveProdGrad, HessianSumsNextToZerosAndAtExtremes) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Case {
    const char* what;
    Array x;
    Array want;
  };
  const Case cases[] = {
      {"1e-8", vec({1e-8, 2, 3}), vec({5, 3.00000001, 2.00000001})},
      {"sin(pi) in doubles", vec({1.2246467991473532e-16, 2, 3}), vec({5, 3, 2})},
      {"1e-20", vec({1e-20, 2, 3}), vec({5, 3, 2})},
      {"-1e-17", vec({-1e-17, 2, 3}), vec({5, 3, 2})},
      {"a subnormal", vec({1e-310, 3}), vec({1, 1})},
      {"an overflowing product", vec({1e200, 1e200, 2}), vec({1e200, 1e200, 2e200})},
      {"an underflowing product", vec({1e-200, 1e-200, 2}), vec({2, 2, 2e-200})},
      {"an infinity", vec({kInf, 2}), vec({1, 1})},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(within_few_ulps(product_hessian_sums(c.x, vec({0})), c.want)) << c.what;
  }
}

// The small factor ε at every decade from 1e-300 up to 0.1, of either
// sign, and 0 itself: in one vector, and in a product over two axes whose
// groups interleave in memory.
TEST(ExclusiveProdGrad, HessianSumsSweepASmallFactor) {
  std::vector<double> epsilons{0.0};
  for (int e = -300; e <= -1; ++e) {
    epsilons.push_back(std::pow(10.0, e));
    epsilons.push_back(-std::pow(10.0, e));
  }
  const auto one_group = [](std::size_t) { return std::size_t{0}; };
  // Shape [2, 3, 2] reduced over axes 0 and 2: the group is the index on axis 1.
  const auto middle_index = [](std::size_t i) { return i / 2 % 3; };
  for (const double eps : epsilons) {
    const Array x = vec({eps, 2, 3});
    EXPECT_TRUE(within_few_ulps(product_hessian_sums(x, vec({0})), exact_hessian_sums(x, one_group))) << eps;
    Array cube(gradix_autograd::ArrayShape{2, 3, 2});
    for (std::size_t i = 0; i < cube.size(); ++i) cube.data()[i] = 0.5 + 0.375 * static_cast<double>(i % 5);
    cube.data()[2] = eps;    // (0, 1, 0)
    cube.data()[11] = -eps;  // (1, 2, 1)
    cube.data()[9] = eps;    // (1, 1, 1), with (0, 1, 0) in the same group
    EXPECT_TRUE(within_few_ulps(product_hessian_sums(cube, vec({0, 2})), exact_hessian_sums(cube, middle_index)))
        << "two axes, " << eps;
  }
}

TEST(ExclusiveProdGrad, WithoutWeightsStops) {
  EXPECT_EQ(gradix_test::fatal_message([] { compute1(kByAxes, {vec({1, 2}), vec({0})}); }),
            "ExclusiveProdGrad: 0 weights, where 1 to 16 are taken");
}

// p = prod(x) at x = [2, 0, 3]: the gradient [0, 6, 0], and the Hessian
// [[0, 3, 0], [3, 0, 2], [0, 2, 0]] summed by columns.
TEST(ExclusiveProdGrad, ProductHessianAtAZero) {
  gradix_autograd::graph::run([](gradix_autograd::graph::Context& ctx) {
    const Tensor x = ctx.placeholder("x", {3});
    const Tensor p = ops::reduction::reduce_prod(x, {0}, false);
    const Tensor g = ops::grad(std::vector{p}, std::vector{x}).at(0);
    const Tensor h = ops::grad(std::vector{g}, std::vector{x}).at(0);
    gradix_autograd::evaluation::Evaluator e(ctx);
    const auto got = e.feed("x", vec({2, 0, 3})).push(g).push(h).run();
    ASSERT_EQ(got.size(), 2u);
    ASSERT_TRUE(got[0].has_value() && got[1].has_value());
    EXPECT_TRUE(same_array(*got[0], vec({0, 6, 0})));
    EXPECT_TRUE(same_array(*got[1], vec({3, 5, 2})));
  });
}

}  // namespace

// The derivatives of a product over axes at zero factors, where a quotient
// by x would give 0·∞, and the first derivative's quotient form, which stays
// bit for bit where a group has no zero.
#include "autograd/tensor_ops/exclusive_prod_ops.hpp"

#include <gtest/gtest.h>

#include <cmath>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/gradient.hpp"
#include "autograd/tensor_ops/binary_ops.hpp"
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

// Without zeros the first derivative is E·(Σ q − q), q = g / x: the form the
// operators below would give it, element for element.
TEST(ExclusiveProdGrad, WithoutZerosTheQuotientFormBitForBit) {
  namespace bin = ops::binary_ops;
  struct Case {
    const char* what;
    bool sparse;
    Array x;
    Array axes;
  };
  const Array x234 = [] {
    Array a(gradix_autograd::ArrayShape{2, 3, 4});
    for (std::size_t i = 0; i < a.size(); ++i) a.data()[i] = 0.37 * static_cast<double>(i % 7) - 1.13;
    return a;
  }();
  const Case cases[] = {
      {"a vector", false, vec({0.7, -1.3, 2.9, 0.11}), vec({0})},
      {"axis -1", false, x234, vec({-1})},
      {"two axes", false, x234, vec({2, 0})},
      {"a repeated axis", false, x234, vec({1, 1})},
      {"a mask", true, x234, vec({1, 0, 1})},
      {"no axes", false, x234, vec({})},
  };
  for (const Case& c : cases) {
    Array g = c.x;
    for (std::size_t i = 0; i < g.size(); ++i) g.data()[i] = 0.5 + 0.25 * static_cast<double>(i % 5);
    Array shape(gradix_autograd::ArrayShape{c.x.dimension()});
    for (std::size_t d = 0; d < c.x.dimension(); ++d) shape.data()[d] = static_cast<double>(c.x.shape()[d]);
    const Array q = compute1(bin::DivOp{}, {g, c.x});
    const Array sums = compute1(red::ReduceSum(true, c.sparse), {q, c.axes});
    const Array spread = compute1(red::ReduceGradCommon(false, c.sparse), {sums, shape, c.axes});
    const Array rest = compute1(bin::SubOp{}, {spread, q});
    const Array want = compute1(bin::MulOp{}, {compute1(red::ExclusiveProd(c.sparse), {c.x, c.axes}), rest});
    const Array got = compute1(red::ExclusiveProdGrad(c.sparse), {c.x, c.axes, g});
    EXPECT_TRUE(same_array(got, want)) << c.what;
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

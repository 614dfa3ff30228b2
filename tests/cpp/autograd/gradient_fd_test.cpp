// `grad` against central finite differences (gradient_check.hpp), case by
// case: element-wise operators with broadcasting over operands of any ranks,
// reductions, shapes, slices and gathers, matrix products and inverses, and
// the ordinary graphs of the public builders that once stopped the process
// or gave a wrong gradient.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/gradient.hpp"
#include "autograd/tensor_ops/array_constructors.hpp"
#include "autograd/tensor_ops/array_ops.hpp"
#include "autograd/tensor_ops/binary_ops.hpp"
#include "autograd/tensor_ops/broadcast_helper_ops.hpp"
#include "autograd/tensor_ops/dot_ops.hpp"
#include "autograd/tensor_ops/exclusive_prod_ops.hpp"
#include "autograd/linalg/linear_algebra.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "autograd/tensor_ops/reduction_constructors.hpp"
#include "autograd/tensor_ops/reduction_ops.hpp"
#include "autograd/tensor_ops/slicing_ops.hpp"
#include "gradient_check.hpp"
#include "op_test_util.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
namespace ar = gradix_autograd::tensor_ops::arithmetic;
namespace red = gradix_autograd::tensor_ops::reduction_ops;
using gradix_autograd::Array;
using gradix_autograd::graph::Context;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::tensor::TensorBuilder;
using gradix_test::make;
using gradix_test::vec;

using Case = gradix_test::GradCase;

Tensor constant(const Tensor& like, Array value) { return ops::convert_to_tensor(std::move(value), like.graph()); }

template <class O>
Tensor node(O op, std::initializer_list<Tensor> inputs) {
  TensorBuilder b(inputs.begin()->graph());
  for (const Tensor& t : inputs) b.append_input(t, false);
  return b.build(std::move(op));
}

void check(const Case& c) { gradix_test::check_first_order(c); }

const Array kM23 = make({2, 3}, {0.5, 1.25, 2.0, 0.75, 1.5, 3.0});
const Array kM32 = make({3, 2}, {0.5, 1.25, 2.0, 0.75, 1.5, 3.0});
const Array kV3 = vec({1.5, -0.5, 2.5});
const Array kPos3 = vec({0.4, 1.7, 2.2});
const Array kRow3 = make({1, 3}, {1.5, -0.5, 2.5});
const Array kZeroD = gradix_test::scalar(0.7);

TEST(GradientFiniteDifferences, ElementWiseAndBroadcasting) {
  const std::vector<Case> cases{
      {"add broadcast", {kM23, kRow3}, [](const auto& x) { return ar::add(x[0], x[1]); }},
      {"sub broadcast", {kRow3, kM23}, [](const auto& x) { return ar::sub(x[0], x[1]); }},
      {"mul by 0-d", {kZeroD, kM23}, [](const auto& x) { return ar::mul(x[0], x[1]); }},
      {"constant times ones", {vec({1.3}), vec({1, 1, 1, 1})}, [](const auto& x) { return ar::mul(x[0], x[1]); }},
      {"div broadcast", {kM23, make({2, 1}, {0.4, 1.7})}, [](const auto& x) { return ar::div(x[0], x[1]); }},
      {"div by 0-d", {kV3, kZeroD}, [](const auto& x) { return ar::div(x[0], x[1]); }},
      {"exp", {kM23}, [](const auto& x) { return ar::exp(x[0]); }},
      {"exp 0-d", {kZeroD}, [](const auto& x) { return ar::exp(x[0]); }},
      {"ln", {kPos3}, [](const auto& x) { return ar::ln(x[0]); }},
      {"neg", {kV3}, [](const auto& x) { return ar::neg(x[0]); }},
      {"pow 2.5", {kPos3}, [](const auto& x) { return ar::pow(x[0], 2.5); }},
      {"pow 3", {kV3}, [](const auto& x) { return ar::pow(x[0], 3.0); }},
      {"clip", {vec({0.2, 0.7, 1.4, 2.6, 1.9, 0.1})}, [](const auto& x) { return ar::clip(x[0], 0.5, 2.0); }},
      {"maximum", {kM23, make({2, 3}, {0.1, 1.5, 2.5, 0.5, 1.0, 4.0})}, [](const auto& x) { return node(ops::math_ops::Maximum{}, {x[0], x[1]}); }},
      {"minimum", {kV3, kPos3}, [](const auto& x) { return node(ops::math_ops::Minimum{}, {x[0], x[1]}); }},
      {"scalar_mul", {kV3}, [](const auto& x) { return ops::linear_algebra::scalar_mul(x[0], -1.5); }},
      {"composite", {kPos3}, [](const auto& x) {
         const Tensor e = ar::exp(x[0]);
         const Tensor l = ar::ln(x[0]);
         const Tensor p = ar::mul(e, l);
         return ar::sub(p, ar::div(x[0], ar::add(x[0], e)));
       }},
  };
  for (const Case& c : cases) check(c);
}

Tensor reduce(auto op, const Tensor& x, Array axes) { return node(std::move(op), {x, constant(x, std::move(axes))}); }

TEST(GradientFiniteDifferences, Reductions) {
  const std::vector<Case> cases{
      {"reduce_mean rows", {kM32}, [](const auto& x) { return ops::reduction::reduce_mean(x[0]); }},
      {"reduce_mean vector", {kV3}, [](const auto& x) { return ops::reduction::reduce_mean(x[0]); }},
      {"reduce_prod", {kM32}, [](const auto& x) { return ops::reduction::reduce_prod(x[0], {0}, false); }},
      {"reduce_prod keep", {kM23}, [](const auto& x) { return ops::reduction::reduce_prod(x[0], {1}, true); }},
      {"sum axis 1", {kM23}, [](const auto& x) { return reduce(red::ReduceSum(false, false), x[0], vec({1})); }},
      {"sum axis -1 keep", {kM23}, [](const auto& x) { return reduce(red::ReduceSum(true, false), x[0], vec({-1})); }},
      {"sum all axes", {kM23}, [](const auto& x) { return reduce(red::ReduceSum(false, false), x[0], vec({0, 1})); }},
      {"sparse mask", {kM23}, [](const auto& x) { return reduce(red::ReduceSum(false, true), x[0], vec({1, 0})); }},
      {"mean two axes keep", {kM23}, [](const auto& x) {
         return reduce(red::ReduceMean(true, false), x[0], vec({0, 1}));
       }},
      {"sum all", {kM23}, [](const auto& x) { return node(red::ReduceSumAll{}, {x[0]}); }},
      {"sum to scalar", {kV3}, [](const auto& x) { return node(red::ReduceSumToScalar{}, {x[0]}); }},
      {"sum to scalar grad", {kZeroD}, [](const auto& x) {
         return node(red::ReduceSumToScalarGrad{}, {x[0], constant(x[0], vec({2, 3}))});
       }},
      {"reduce grad reinserting", {kV3}, [](const auto& x) {
         return node(red::ReduceGradCommon(true, false), {x[0], constant(x[0], vec({2, 3})), constant(x[0], vec({0}))});
       }},
      {"reduce grad kept axes", {make({2, 1}, {1.5, -2})}, [](const auto& x) {
         return node(red::ReduceGradCommon(false, false), {x[0], constant(x[0], vec({2, 3})), constant(x[0], vec({1}))});
       }},
      {"maybe reduce", {kM23}, [](const auto& x) {
         return ops::binary_ops::maybe_reduce(constant(x[0], vec({3})), x[0], x[0].graph());
       }},
      {"maybe broadcast", {kV3}, [](const auto& x) {
         return node(ops::binary_ops::MaybeBroadcast{}, {x[0], constant(x[0], vec({2, 3}))});
       }},
      {"add_n", {kV3, kPos3, vec({3, 2, 1})}, [](const auto& x) {
         return ops::reduction::add_n(std::vector<Tensor>{x[0], x[1], x[2]});
       }},
  };
  for (const Case& c : cases) check(c);
}

TEST(GradientFiniteDifferences, ShapesSlicesAndGathers) {
  namespace arr = ops::array_ops;
  const Array m234 = [] {
    Array a(gradix_autograd::ArrayShape{2, 3, 4});
    for (std::size_t i = 0; i < a.size(); ++i) a.data()[i] = 0.1 * static_cast<double>(i) - 0.7;
    return a;
  }();
  const std::vector<Case> cases{
      {"reshape", {kM23}, [](const auto& x) { return ops::reshape(x[0], constant(x[0], vec({3, 2}))); }},
      {"flatten", {kM23}, [](const auto& x) {
         // Reshaped back: flatten's own hint, [-1], is no shape to reduce to.
         return ops::reshape(ops::flatten(x[0]), constant(x[0], vec({6})));
       }},
      {"squeeze", {make({2, 1, 3}, {1, 2, 3, 4, 5, 6})}, [](const auto& x) {
         return ops::squeeze(x[0], constant(x[0], vec({1})));
       }},
      {"expand_dims", {kM23}, [](const auto& x) { return ops::expand_dims(x[0], constant(x[0], vec({1}))); }},
      {"transpose", {kM23}, [](const auto& x) {
         return node(ops::math_ops::Transpose(false), {x[0], constant(x[0], vec({1, 0}))});
       }},
      {"transpose inverted 3-d", {m234}, [](const auto& x) {
         return node(ops::math_ops::Transpose(true), {x[0], constant(x[0], vec({1, 2, 0}))});
       }},
      {"slice", {vec({1, 2, 3, 4, 5})}, [](const auto& x) { return ops::slice(x[0], 1, 4); }},
      {"slice 2-d strided", {m234}, [](const auto& x) {
         return node(arr::Slice({{0, 1, 1}, {0, std::nullopt, 2}, {-3, -1, 1}}), {x[0]});
       }},
      {"gather repeated", {make({4, 2}, {1, 2, 3, 4, 5, 6, 7, 8})}, [](const auto& x) {
         return ops::gather_common(x[0], constant(x[0], vec({2, 0, 2})), 0);
       }},
      {"gather axis 1", {kM23}, [](const auto& x) { return ops::gather_common(x[0], constant(x[0], vec({-1})), 1); }},
  };
  for (const Case& c : cases) check(c);
}

TEST(GradientFiniteDifferences, MatrixProductsAndInverses) {
  namespace la = ops::linear_algebra;
  const Array a22 = make({2, 2}, {2.0, 0.5, -0.75, 1.5});
  const Array a33 = make({3, 3}, {3.0, 0.5, -1.0, 0.25, 2.0, 0.75, -0.5, 1.0, 4.0});
  const std::vector<Case> cases{
      {"matmul", {kM23, kM32}, [](const auto& x) { return la::matmul(x[0], x[1]); }},
      {"matmul by itself", {a22}, [](const auto& x) { return la::matmul(x[0], x[0]); }},
      {"matmul by a transpose", {kM23}, [](const auto& x) { return la::matmul(x[0], la::transpose(x[0], {1, 0})); }},
      {"inverse", {a33}, [](const auto& x) { return la::matrix_inverse(x[0]); }},
      {"inverse of a product", {kM23, kM32}, [](const auto& x) {
         return la::matrix_inverse(la::matmul(x[0], x[1]));
       }},
      {"inverse times a matrix", {a33, kM32}, [](const auto& x) {
         return la::matmul(la::matrix_inverse(x[0]), x[1]);
       }},
      {"inverse of an inverse", {a22}, [](const auto& x) {
         return la::matrix_inverse(la::matrix_inverse(x[0]));
       }},
      {"element-wise over a product", {make({2, 3}, {0.1, 0.2, -0.3, 0.25, -0.15, 0.05}), kM32}, [](const auto& x) {
         return ar::exp(la::matmul(ar::mul(x[0], x[0]), x[1]));
       }},
  };
  for (const Case& c : cases) check(c);
}

// Ordinary graphs of the public builders, one row per fault they once had
// (a fatal error or a wrong gradient).
TEST(GradientFiniteDifferences, OrdinaryGraphs) {
  namespace la = ops::linear_algebra;
  namespace arr = ops::array_ops;
  const Array b32 = make({3, 2}, {0.5, -1.0, 2.0, 0.25, -3.0, 1.5});
  const std::vector<Case> cases{
      // Kept reduction axes over a vector.
      {"reduce_prod keep over a vector", {kV3}, [](const auto& x) { return ops::reduction::reduce_prod(x[0], {0}, true); }},
      {"sum keep over a vector", {kV3}, [](const auto& x) { return reduce(red::ReduceSum(true, false), x[0], vec({0})); }},
      {"mean keep over a vector", {kV3}, [](const auto& x) { return reduce(red::ReduceMean(true, false), x[0], vec({0})); }},
      // The diagonal operator under placeholders.
      {"diag", {kV3}, [](const auto& x) { return la::diag(x[0]); }},
      {"diag of a product", {kV3, kPos3}, [](const auto& x) { return la::diag(ar::mul(x[0], x[1])); }},
      // Products with a vector or 0-d operand.
      {"matmul of a mean", {kM23, b32}, [](const auto& x) { return la::matmul(ops::reduction::reduce_mean(x[0]), x[1]); }},
      {"matmul of a slice", {vec({1, 2, 3, 4}), make({2, 2}, {1, -2, 0.5, 3})}, [](const auto& x) {
         return la::matmul(ops::slice(x[0], 1, 3), x[1]);
       }},
      {"matrix by vector", {kM23, kV3}, [](const auto& x) { return la::matmul(x[0], x[1]); }},
      {"0-d by row", {kZeroD, kRow3}, [](const auto& x) { return la::matmul(x[0], x[1]); }},
      {"transposed operands", {kM32, b32}, [](const auto& x) {
         return node(ops::dot_ops::MatMul(true, false), {x[0], x[1]});
       }},
      {"both transposed", {kM23, kM32}, [](const auto& x) { return node(ops::dot_ops::MatMul(true, true), {x[0], x[1]}); }},
      // Negative axes.
      {"expand_dims -1", {kV3}, [](const auto& x) { return ops::expand_dims(x[0], constant(x[0], vec({-1}))); }},
      {"squeeze -1", {make({2, 1}, {1.5, -2})}, [](const auto& x) { return ops::squeeze(x[0], constant(x[0], vec({-1}))); }},
      // One-input sums and differences.
      {"one-input add", {kV3}, [](const auto& x) { return node(ops::binary_ops::AddOp{}, {x[0]}); }},
      {"one-input sub", {kV3}, [](const auto& x) { return node(ops::binary_ops::SubOp{}, {x[0]}); }},
      {"one-input mul", {kV3}, [](const auto& x) { return node(ops::binary_ops::MulOp{}, {x[0]}); }},
      // Mean over a mask: divided by the reduced count only.
      {"mean over a mask", {kM23}, [](const auto& x) { return reduce(red::ReduceMean(false, true), x[0], vec({0, 1})); }},
      // Products with a zero entry.
      {"reduce_prod with a zero", {vec({2, 0, 3})}, [](const auto& x) { return ops::reduction::reduce_prod(x[0], {0}, false); }},
      {"reduce_prod with two zeros", {make({2, 3}, {0, 2, 0, 1, 0, 3})}, [](const auto& x) {
         return ops::reduction::reduce_prod(x[0], {1}, true);
       }},
      // Extrema: a tie, and a broadcast operand.
      {"max of a tie", {kV3}, [](const auto& x) { return node(ops::math_ops::Maximum{}, {x[0], x[0]}); }},
      {"min of a tie", {kV3}, [](const auto& x) { return node(ops::math_ops::Minimum{}, {x[0], x[0]}); }},
      {"max against a row", {kM23, make({1, 3}, {1.0, 1.0, 2.5})}, [](const auto& x) {
         return node(ops::math_ops::Maximum{}, {x[0], x[1]});
       }},
      {"min against a 0-d", {kM23, kZeroD}, [](const auto& x) { return node(ops::math_ops::Minimum{}, {x[0], x[1]}); }},
      // Negative gather indices, fractional and beyond the extent.
      {"gather -1.5 and -5", {kV3}, [](const auto& x) { return ops::gather_common(x[0], constant(x[0], vec({-1.5, -5})), 0); }},
      // Reshape with an extent to infer.
      {"exp of reshape [3, -1]", {kM23}, [](const auto& x) {
         return ar::exp(ops::reshape(x[0], constant(x[0], vec({3, -1}))));
       }},
      {"exp of flatten", {kM23}, [](const auto& x) { return ar::exp(ops::flatten(x[0])); }},
      // Operands of different ranks.
      {"[2, 3] times [3]", {kM23, kV3}, [](const auto& x) { return ar::mul(x[0], x[1]); }},
      {"[3] minus [2, 3]", {kV3, kM23}, [](const auto& x) { return ar::sub(x[0], x[1]); }},
      {"[2, 3] over [3]", {kM23, kPos3}, [](const auto& x) { return ar::div(x[0], x[1]); }},
      // An n-ary sum with a broadcast summand.
      {"add_n of 0-d and [3]", {kZeroD, kV3}, [](const auto& x) { return ops::reduction::add_n(std::vector<Tensor>{x[0], x[1]}); }},
      {"add_n of [3] and [2, 3]", {kV3, kM23, kRow3}, [](const auto& x) {
         return ops::reduction::add_n(std::vector<Tensor>{x[0], x[1], x[2]});
       }},
  };
  for (const Case& c : cases) check(c);
}

// A reshape to a fed shape: the shape holds an extent to infer only when the
// graph runs, so the result's shape comes from the result itself. The
// gradient equals the one through a constant shape.
TEST(GradientFiniteDifferences, ReshapeToAFedShape) {
  // The shape from make_shape; `fed` feeds a placeholder "s" when given.
  const auto gradient = [](const std::function<Tensor(Context&)>& make_shape, const Array* fed) {
    Array out;
    gradix_autograd::graph::run([&](Context& ctx) {
      const Tensor x = ctx.placeholder("x", {2, 3});
      const Tensor y = ar::exp(ops::reshape(x, make_shape(ctx)));
      const Tensor loss = ops::reduction::reduce_mean(y);
      const Tensor g = ops::grad(std::vector{loss}, std::vector{x}).at(0);
      gradix_autograd::evaluation::Evaluator e(ctx);
      e.feed("x", kM23);
      if (fed != nullptr) e.feed("s", *fed);
      auto got = e.eval(g);
      ASSERT_TRUE(got.has_value()) << got.error().debug();
      out = std::move(*got);
    });
    return out;
  };
  const auto constant_shape = [](Context& ctx) { return constant(ctx.placeholder("x", {2, 3}), vec({3, 2})); };
  const Array want = gradient(constant_shape, nullptr);
  ASSERT_EQ(want.shape(), kM23.shape());
  const auto fed_shape = [](Context& ctx) { return ctx.placeholder("s", {2}); };
  for (const Array& fed : {vec({3, -1}), vec({-1, 2}), vec({3, 2})}) {
    EXPECT_TRUE(gradix_test::same_array(gradient(fed_shape, &fed), want)) << fed(0) << ", " << fed(1);
  }
}

// Hessian-vector products through the gradient operators: slicing and
// gathering spread a gradient linearly, so their gradients have gradients.
TEST(GradientFiniteDifferences, SecondOrderThroughSlicesAndGathers) {
  const std::vector<Case> cases{
      // The gradient reaching the slice or gather depends on x itself.
      {"cube of a slice", {vec({1.5, -0.5, 2.5, 0.75})}, [](const auto& x) {
         return ar::pow(ops::slice(x[0], 1, 3), 3.0);
       }},
      {"cube of a gather", {kV3}, [](const auto& x) {
         return ar::pow(ops::gather_common(x[0], constant(x[0], vec({2, -1, 0})), 0), 3.0);
       }},
      {"product through a gather", {kM23, kV3}, [](const auto& x) {
         return ar::mul(ops::gather_common(x[0], constant(x[0], vec({1, 0})), 1), ops::slice(x[1], 0, 2));
       }},
      {"product of a vector", {kPos3}, [](const auto& x) { return ops::reduction::reduce_prod(x[0], {0}, false); }},
      {"diag of a square", {kV3}, [](const auto& x) { return ops::linear_algebra::diag(ar::mul(x[0], x[0])); }},
  };
  for (const Case& c : cases) gradix_test::check_second_order(c);
}

// Products over groups with zero factors, to the second order; and the
// gradient operator of a product itself, whose own gradients are a product's
// third derivatives. Products are polynomials, so the difference quotients
// are exact up to rounding at the zeros too.
TEST(GradientFiniteDifferences, ProductsOverZerosToHigherOrders) {
  namespace la = ops::linear_algebra;
  const auto prod = [](std::int32_t axis, bool keep) {
    return [axis, keep](const auto& x) { return ops::reduction::reduce_prod(x[0], {axis}, keep); };
  };
  const auto exclusive_grad = [](const auto& x) {
    return node(red::ExclusiveProdGrad(false), {x[0], constant(x[0], vec({1})), x[1]});
  };
  const Array weights = make({2, 3}, {1, -0.5, 0.25, 2, 0.75, 1.5});
  const std::vector<Case> cases{
      {"[2, 0, 3]", {vec({2, 0, 3})}, prod(0, false)},
      {"one zero in a row", {make({2, 3}, {2, 0, 3, 1.5, -0.5, 2.5})}, prod(1, false)},
      {"two zeros, kept axis", {make({2, 3}, {0, 2, 0, 1, 0, 3})}, prod(1, true)},
      {"three zeros", {vec({0, 1.5, 0, 0, 2})}, prod(0, false)},
      {"columns, kept axis", {make({3, 2}, {0, 1, 2, 0, 3, 4})}, prod(0, true)},
      {"columns of a diag", {kV3}, [](const auto& x) {
         return ops::reduction::reduce_prod(la::diag(x[0]), {0}, false);
       }},
      {"a difference with itself", {kV3}, [](const auto& x) {
         return ops::reduction::reduce_prod(ar::add(ar::sub(x[0], x[0]), ar::mul(x[0], x[0])), {0}, false);
       }},
      {"the product's gradient operator", {make({2, 3}, {2, 0, 3, 0.5, 1.5, -1}), weights}, exclusive_grad},
      {"the product's gradient operator, two zeros", {make({2, 3}, {0, 1.5, 0, 0.5, 0, -1}), weights}, exclusive_grad},
  };
  for (const Case& c : cases) {
    gradix_test::check_first_order(c);
    gradix_test::check_second_order(c);
  }
}

}  // namespace

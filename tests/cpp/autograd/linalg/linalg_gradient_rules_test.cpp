// The gradient rules of the matrix operators, through `grad`: what the rows of
// the matrix product and the inverse build and evaluate to, and, through a
// test operator that reports a chosen short name, the backward node (type,
// field, input order) or the absence of a gradient of every other row.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "autograd/constructors.hpp"
#include "autograd/evaluation.hpp"
#include "autograd/gradient.hpp"
#include "autograd/op_test_util.hpp"
#include "autograd/linalg/decomposition_ops.hpp"
#include "autograd/tensor_ops/dot_ops.hpp"
#include "autograd/linalg/kronecker_ops.hpp"
#include "autograd/linalg/linear_algebra.hpp"

namespace {

namespace la = gradix_autograd::tensor_ops::linear_algebra;
namespace names = gradix_autograd::op_names;
namespace dec = gradix_autograd::tensor_ops::decomposition_ops::backward_ops;
using gradix_autograd::Array;
using gradix_autograd::graph::Context;
using gradix_autograd::op::Op;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::tensor::TensorBuilder;
using gradix_autograd::tensor::TensorId;
using gradix_test::make;

const Op& op_of(const Tensor& t) { return *t.graph().nodes()[t.id()].op.get(); }
Tensor input_of(const Tensor& t, std::size_t i) { return Tensor(t.graph(), t.graph().nodes()[t.id()].inputs.at(i).id); }
std::vector<TensorId> input_ids(const Tensor& t) {
  std::vector<TensorId> ids;
  for (const auto& input : t.graph().nodes()[t.id()].inputs) ids.push_back(input.id);
  return ids;
}

// Evaluates `t` with the placeholders x0, x1, ... fed.
Array eval(Context& ctx, const Tensor& t, const std::vector<Array>& feeds) {
  gradix_autograd::evaluation::Evaluator e(ctx);
  for (std::size_t i = 0; i < feeds.size(); ++i) e.feed("x" + std::to_string(i), feeds[i]);
  const auto got = e.eval(t);
  EXPECT_TRUE(got.has_value()) << got.error().debug();
  return got ? *got : Array();
}

::testing::AssertionResult near(const Array& got, const Array& want) {
  if (got.shape() != want.shape()) return ::testing::AssertionFailure() << "shape differs";
  for (std::size_t i = 0; i < got.size(); ++i) {
    if (std::abs(got.data()[i] - want.data()[i]) > 1e-12 * (1 + std::abs(want.data()[i]))) {
      return ::testing::AssertionFailure() << "element " << i << ": " << got.data()[i] << " vs " << want.data()[i];
    }
  }
  return ::testing::AssertionSuccess();
}

std::vector<Tensor> placeholders(Context& ctx, const std::vector<Array>& values) {
  std::vector<Tensor> xs;
  for (std::size_t i = 0; i < values.size(); ++i) {
    const std::vector<std::int64_t> dims(values[i].shape().begin(), values[i].shape().end());
    xs.push_back(ctx.placeholder("x" + std::to_string(i), dims));
  }
  return xs;
}

// The seed spread over y by the target's sum: the gy of the visited node.
bool is_spread_seed(const Tensor& t) { return op_of(t).name() == names::kReduceSumToScalarGrad; }

// Transpose(x, [1, 0]) as the builder makes it.
bool is_transpose_of(const Tensor& t, TensorId x) {
  return op_of(t).name() == names::kTranspose && input_of(t, 0).id() == x &&
         op_of(input_of(t, 1)).name() == names::kConvertToTensor;
}

struct ProductCase {
  const char* label;
  std::vector<Array> inputs;  // a, b
  std::vector<std::optional<Array>> want;  // the gradients of a and b for gy all ones
  bool transpose_a = false;
  bool transpose_b = false;
};

bool is_product(const Tensor& t, bool ta, bool tb) {
  const auto* product = dynamic_cast<const gradix_autograd::tensor_ops::dot_ops::MatMul*>(&op_of(t));
  return product != nullptr && product->transpose_a == ta && product->transpose_b == tb;
}

// y = op(a)·op(b), gy all ones: input 0 gets gy·op(b)ᵀ, input 1 op(a)ᵀ·gy,
// each transposed back where its flag is set and reshaped to the operand's
// shape, so a vector or 0-d operand gets a gradient of its own shape.
TEST(LinearAlgebraGradientRules, MatMulGivesProductsReshapedToTheOperands) {
  const Array b32 = make({3, 2}, {0.5, -1, 2, 0.25, -3, 1.5});
  const std::vector<ProductCase> cases{
      {"2x3 by 3x2",
       {make({2, 3}, {1, 2, 3, 4, 5, 6}), b32},
       {make({2, 3}, {-0.5, 2.25, -1.5, -0.5, 2.25, -1.5}), make({3, 2}, {5, 5, 7, 7, 9, 9})}},
      {"vector by 3x2", {make({3}, {1, 2, 3}), b32},
       {make({3}, {-0.5, 2.25, -1.5}), make({3, 2}, {1, 1, 2, 2, 3, 3})}},
      {"0-d by 1x3", {gradix_test::scalar(2.0), make({1, 3}, {1, 2, 3})},
       {gradix_test::scalar(6.0), make({1, 3}, {2, 2, 2})}},
      {"2x3 by vector", {make({2, 3}, {1, 2, 3, 4, 5, 6}), make({3}, {1, -1, 2})},
       {make({2, 3}, {1, -1, 2, 1, -1, 2}), make({3}, {5, 7, 9})}},
      {"vector by vector", {make({2}, {1, 2}), make({2}, {3, 4})},
       {make({2}, {3, 4}), make({2}, {1, 2})}},
      {"transposed left", {make({3, 2}, {1, 2, 3, 4, 5, 6}), b32},
       {make({3, 2}, {-0.5, -0.5, 2.25, 2.25, -1.5, -1.5}), make({3, 2}, {3, 3, 7, 7, 11, 11})}, true, false},
      {"transposed right", {make({2, 3}, {1, 0, 2, 0, 1, 3}), make({2, 3}, {1, 2, 3, 4, 5, 6})},
       {make({2, 3}, {5, 7, 9, 5, 7, 9}), make({2, 3}, {1, 1, 5, 1, 1, 5})}, false, true},
      {"both transposed, vector left", {make({3}, {1, 2, 3}), make({2, 1}, {2, 5})},
       {make({3}, {7, 7, 7}), make({2, 1}, {6, 6})}, true, true},
  };
  for (const ProductCase& c : cases) {
    SCOPED_TRACE(c.label);
    gradix_autograd::graph::run([&](Context& ctx) {
      const std::vector<Tensor> xs = placeholders(ctx, c.inputs);
      const Tensor y = TensorBuilder(ctx.graph())
                           .append_input(xs[0], false)
                           .append_input(xs[1], false)
                           .build(gradix_autograd::tensor_ops::dot_ops::MatMul(c.transpose_a, c.transpose_b));
      const std::size_t before = ctx.graph().num_nodes();
      const std::vector<Tensor> g = gradix_autograd::tensor_ops::grad(std::vector<Tensor>{y}, xs);
      if (!c.transpose_a && !c.transpose_b) {
        // Sum, seed, Shape and spread seed, then per input the product, the
        // operand's Shape and the Reshape.
        EXPECT_EQ(ctx.graph().num_nodes(), before + 4 + 6);
        EXPECT_EQ(g[0].id(), before + 6);
        EXPECT_EQ(g[1].id(), before + 9);
        for (const Tensor& gi : g) EXPECT_EQ(op_of(gi).name(), names::kReshape);
        const Tensor p0 = input_of(g[0], 0);
        const Tensor p1 = input_of(g[1], 0);
        EXPECT_TRUE(is_product(p0, false, true));
        EXPECT_TRUE(is_product(p1, true, false));
        EXPECT_TRUE(is_spread_seed(input_of(p0, 0)));
        EXPECT_EQ(input_of(p0, 1).id(), xs[1].id());
        EXPECT_EQ(input_of(p1, 0).id(), xs[0].id());
        EXPECT_TRUE(is_spread_seed(input_of(p1, 1)));
      }
      for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE("input " + std::to_string(i));
        EXPECT_TRUE(near(eval(ctx, g[i], c.inputs), *c.want[i]));
      }
    });
  }
}

struct InverseCase {
  const char* label;
  Array x;
  Array want;  // -(yᵀ · ones · yᵀ), y = x⁻¹
};

// Six nodes: the permutation, one transpose of y used twice, two products,
// the negation's Shape and the negation.
TEST(LinearAlgebraGradientRules, MatrixInverseGivesMinusYtGyYt) {
  const std::vector<InverseCase> cases{
      {"1x1", make({1, 1}, {2}), make({1, 1}, {-0.25})},
      // y = [[0.5, -0.25], [0, 0.5]]; yᵀ·1·yᵀ = [[0.125, 0.25], [0.0625, 0.125]]
      {"2x2", make({2, 2}, {2, 1, 0, 2}), make({2, 2}, {-0.125, -0.25, -0.0625, -0.125})},
  };
  for (const InverseCase& c : cases) {
    SCOPED_TRACE(c.label);
    gradix_autograd::graph::run([&](Context& ctx) {
      const std::vector<Tensor> xs = placeholders(ctx, {c.x});
      const Tensor y = la::matrix_inverse(xs[0]);
      const std::size_t before = ctx.graph().num_nodes();
      const Tensor g = gradix_autograd::tensor_ops::grad(std::vector<Tensor>{y}, xs).at(0);
      EXPECT_EQ(ctx.graph().num_nodes(), before + 4 + 6);
      EXPECT_EQ(op_of(g).name(), names::kNegOp);
      const Tensor v = input_of(g, 0);
      const Tensor u = input_of(v, 0);
      const Tensor t = input_of(v, 1);
      EXPECT_TRUE(is_transpose_of(t, y.id()));
      EXPECT_EQ(input_ids(u), (std::vector<TensorId>{t.id(), input_of(u, 1).id()}));
      EXPECT_TRUE(is_spread_seed(input_of(u, 1)));
      EXPECT_TRUE(near(eval(ctx, g, {c.x}), c.want));
    });
  }
}

using Forward = Array (*)(const gradix_autograd::op::ComputeContext&);

// An operator that reports `name` and computes `forward` (nothing without).
class NamedTestOp final : public Op {
 public:
  explicit NamedTestOp(std::string_view name, Forward forward = nullptr) : name_(name), forward_(forward) {}
  std::string_view name() const override { return name_; }
  gradix_autograd::op::OpResult compute(gradix_autograd::op::ComputeContext& ctx) const override {
    if (forward_ != nullptr) ctx.append_output(forward_(ctx));
    return gradix_autograd::op::ok();
  }
  void grad(gradix_autograd::op::GradientContext&) const override {}

 private:
  std::string_view name_;  // a literal: the rule is looked up by its address
  Forward forward_;
};

// det of a 2 x 2 matrix, as a 0-d array.
Array det2(const gradix_autograd::op::ComputeContext& ctx) {
  const double* a = ctx.input(0).data();
  return gradix_test::scalar(a[0] * a[3] - a[1] * a[2]);
}

// A⁻¹·B for a 2 x 2 A and a 2 x n B.
Array solve2(const gradix_autograd::op::ComputeContext& ctx) {
  const double* a = ctx.input(0).data();
  const Array& b = ctx.input(1);
  const std::size_t n = b.shape()[1];
  const double det = a[0] * a[3] - a[1] * a[2];
  Array y = b;
  for (std::size_t j = 0; j < n; ++j) {
    const double b0 = b.data()[j];
    const double b1 = b.data()[n + j];
    y.data()[j] = (a[3] * b0 - a[1] * b1) / det;
    y.data()[n + j] = (a[0] * b1 - a[2] * b0) / det;
  }
  return y;
}

struct SolveLikeCase {
  std::string_view name;
  Forward forward;
  std::vector<Array> inputs;
};

// The determinant and solve rows, whose results are built of inverses,
// transposes, products and element-wise nodes, against central differences
// of sum(y).
TEST(LinearAlgebraGradientRules, DeterminantAndSolveRowsMatchFiniteDifferences) {
  const Array a = make({2, 2}, {2.0, 1.0, 0.5, 3.0});
  const std::vector<SolveLikeCase> cases{
      {"Determinant", det2, {a}},
      {"my::GeneralDeterminantOp", det2, {a}},
      {"LinearSolve", solve2, {a, make({2, 3}, {1.0, -0.5, 2.0, 0.25, 1.5, -1.0})}},
  };
  for (const SolveLikeCase& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    gradix_autograd::graph::run([&](Context& ctx) {
      const std::vector<Tensor> xs = placeholders(ctx, c.inputs);
      TensorBuilder builder(ctx.graph());
      for (const Tensor& x : xs) builder.append_input(x, false);
      const Tensor y = builder.build(NamedTestOp(c.name, c.forward));
      const std::vector<Tensor> g = gradix_autograd::tensor_ops::grad(std::vector<Tensor>{y}, xs);
      for (std::size_t i = 0; i < xs.size(); ++i) {
        SCOPED_TRACE("input " + std::to_string(i));
        const Array got = eval(ctx, g[i], c.inputs);
        ASSERT_EQ(got.shape(), c.inputs[i].shape());
        for (std::size_t j = 0; j < got.size(); ++j) {
          const double h = 1e-6;
          std::vector<Array> plus = c.inputs;
          std::vector<Array> minus = c.inputs;
          plus[i].data()[j] += h;
          minus[i].data()[j] -= h;
          const Array yp = eval(ctx, y, plus);
          const Array ym = eval(ctx, y, minus);
          double numeric = 0.0;
          for (std::size_t k = 0; k < yp.size(); ++k) numeric += (yp.data()[k] - ym.data()[k]) / (2 * h);
          EXPECT_NEAR(got.data()[j], numeric, 1e-6 * (1 + std::abs(numeric))) << "element " << j;
        }
      }
      // The last node built is the gradient of the last input.
      const Tensor last = g.back();
      if (c.name == "LinearSolve") {
        // Input 1: (x0⁻¹)ᵀ·gy; input 0: its negated product with yᵀ.
        EXPECT_EQ(op_of(last).name(), names::kMatMul);
        EXPECT_EQ(op_of(g[0]).name(), names::kNegOp);
        const Tensor p = input_of(g[0], 0);
        EXPECT_TRUE(is_transpose_of(input_of(p, 1), y.id()));
        const Tensor t = input_of(p, 0);
        EXPECT_TRUE(is_spread_seed(input_of(t, 1)));
        const Tensor inverse_t = input_of(t, 0);
        EXPECT_EQ(op_of(input_of(inverse_t, 0)).name(), names::kMatrixInverseOp);
        EXPECT_TRUE(is_transpose_of(inverse_t, input_of(inverse_t, 0).id()));
        EXPECT_EQ(input_of(input_of(inverse_t, 0), 0).id(), xs[0].id());
      } else {
        // mul(mul(gy, y), transpose(inverse(x0))).
        EXPECT_EQ(op_of(last).name(), names::kMulOp);
        const Tensor u = input_of(last, 0);
        EXPECT_TRUE(is_spread_seed(input_of(u, 0)));
        EXPECT_EQ(input_of(u, 1).id(), y.id());
        const Tensor w = input_of(last, 1);
        const Tensor inverse = input_of(w, 0);
        EXPECT_TRUE(is_transpose_of(w, inverse.id()));
        EXPECT_EQ(op_of(inverse).name(), names::kMatrixInverseOp);
        EXPECT_EQ(input_of(inverse, 0).id(), xs[0].id());
      }
    });
  }
}

// Where a backward node's input comes from.
enum class From { kX0, kX1, kXi, kGy };

struct DeadRow {
  std::string_view name;
  std::size_t num_inputs;
  std::string_view backward;  // the backward node's name, when one for every input
  std::vector<From> inputs;  // empty: no gradient
  // The operator's field for input i holds what the row sets.
  std::function<bool(const Op&, std::size_t)> field;
};

template <class O>
std::function<bool(const Op&, std::size_t)> component_is(std::size_t want) {
  return [want](const Op& op, std::size_t) {
    const auto* o = dynamic_cast<const O*>(&op);
    return o != nullptr && o->component == want;
  };
}

TEST(LinearAlgebraGradientRules, BackwardOperatorRowsBuildOneNodePerInput) {
  const auto any = [](const Op&, std::size_t) { return true; };
  const auto which_is_i = [](const Op& op, std::size_t i) {
    const auto* o = dynamic_cast<const gradix_autograd::tensor_ops::kronecker_ops::KroneckerGradOp*>(&op);
    return o != nullptr && o->which == i && op.name() == (i == 0 ? names::kKroneckerGradA : names::kKroneckerGradB);
  };
  using enum From;
  const std::vector<DeadRow> rows{
      {"ExtractDiag", 1, names::kDiagOp, {kGy}, any},
      {"my::TraceOp", 2, names::kTraceBackwardOp, {kX0, kGy}, any},
      {"Trace", 1, names::kTraceBackwardOp, {kX0, kGy}, any},
      {"MatrixSqrt", 2, names::kMatrixSqrtBackwardOp, {kX0, kGy}, any},
      {"MatrixLog", 1, names::kMatrixLogBackwardOp, {kX0, kGy}, any},
      {"MatrixPow", 1, "", {}, any},
      {"Kronecker", 2, "", {kGy, kX0, kX1}, which_is_i},
      {"Cholesky", 2, names::kCholeskyBackwardOp, {kXi, kGy}, any},
      {"LUExtractL", 2, names::kLUExtractBackwardOp, {kXi, kGy}, component_is<dec::LUExtractBackwardOp>(1)},
      {"LUExtractU", 1, names::kLUExtractBackwardOp, {kXi, kGy}, component_is<dec::LUExtractBackwardOp>(2)},
      {"LUExtractP", 2, "", {}, any},
      {"QRExtractQ", 1, names::kQRExtractBackwardOp, {kXi, kGy}, component_is<dec::QRExtractBackwardOp>(0)},
      {"QRExtractR", 2, names::kQRExtractBackwardOp, {kXi, kGy}, component_is<dec::QRExtractBackwardOp>(1)},
      {"SVDExtractU", 1, names::kSVDBackwardOp, {kXi, kGy}, component_is<dec::SVDBackwardOp>(0)},
      {"SVDExtractS", 2, names::kSVDBackwardOp, {kXi, kGy}, component_is<dec::SVDBackwardOp>(1)},
      {"SVDExtractVt", 1, names::kSVDBackwardOp, {kXi, kGy}, component_is<dec::SVDBackwardOp>(2)},
  };
  for (const DeadRow& row : rows) {
    SCOPED_TRACE(std::string(row.name));
    gradix_autograd::graph::run([&](Context& ctx) {
      const std::vector<Tensor> xs = placeholders(ctx, std::vector<Array>(row.num_inputs, make({2, 2}, {1, 2, 3, 4})));
      TensorBuilder builder(ctx.graph());
      for (const Tensor& x : xs) builder.append_input(x, false);
      const Tensor y = builder.build(NamedTestOp(row.name));
      const std::size_t before = ctx.graph().num_nodes();
      const std::vector<Tensor> g = gradix_autograd::tensor_ops::grad(std::vector<Tensor>{y}, xs);
      if (row.inputs.empty()) {
        // No gradient arrives: each source gets a constant of zeros.
        EXPECT_EQ(ctx.graph().num_nodes(), before + 4 + row.num_inputs);
        for (const Tensor& gi : g) {
          EXPECT_EQ(op_of(gi).name(), names::kConvertToTensor);
          EXPECT_TRUE(gradix_test::same_array(eval(ctx, gi, {}), make({2, 2}, {0, 0, 0, 0})));
        }
        return;
      }
      EXPECT_EQ(ctx.graph().num_nodes(), before + 4 + row.num_inputs);
      const TensorId gy = before + 3;
      for (std::size_t i = 0; i < g.size(); ++i) {
        SCOPED_TRACE("input " + std::to_string(i));
        EXPECT_EQ(g[i].id(), before + 4 + i);
        if (!row.backward.empty()) {
          EXPECT_EQ(op_of(g[i]).name(), row.backward);
        }
        EXPECT_TRUE(row.field(op_of(g[i]), i));
        std::vector<TensorId> want;
        for (const From f : row.inputs) {
          want.push_back(f == kGy ? gy : f == kX0 ? xs[0].id() : f == kX1 ? xs[1].id() : xs[i].id());
        }
        EXPECT_EQ(input_ids(g[i]), want);
      }
      EXPECT_TRUE(is_spread_seed(Tensor(ctx.graph(), gy)));
    });
  }
}

// The product and Kronecker rows read input 1 whatever input they form: a
// node with one input is fatal.
TEST(LinearAlgebraGradientRules, MissingInputOfARowIsFatal) {
  for (const std::string_view name : {std::string_view("Kronecker"), std::string_view("my::MatMul")}) {
    SCOPED_TRACE(std::string(name));
    gradix_autograd::graph::run([&](Context& ctx) {
      const std::vector<Tensor> xs = placeholders(ctx, {make({2, 2}, {1, 2, 3, 4})});
      const Tensor y = TensorBuilder(ctx.graph()).append_input(xs[0], false).build(NamedTestOp(name));
      EXPECT_EQ(gradix_test::fatal_message([&] { gradix_autograd::tensor_ops::grad(std::vector<Tensor>{y}, xs); }),
                "index out of bounds: the len is 1 but the index is 1");
    });
  }
}

}  // namespace

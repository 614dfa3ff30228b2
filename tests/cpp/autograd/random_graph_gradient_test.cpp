// `grad` on random small graphs against finite differences (first order on
// every graph, Hessian-vector products on every fourth). A fixed seed makes
// the graphs the same on every run. Each graph starts from one to three fed
// sources of small shapes (0-d included) and applies a few operators drawn
// from: element-wise arithmetic with NumPy broadcasting across ranks, exp,
// ln, powers and scalar multiples, sums, means and products over an axis or a
// mask (with and without kept axes), slices with steps, gathers with negative
// indices, reshapes with an extent to infer, expand_dims and squeeze with
// negative axes, transposes, matrix products of vectors and matrices with
// either operand transposed, n-ary sums, maxima and minima, and diag.
// Values stay away from zero and from each other, so no extremum has a tie
// (those have rows of their own elsewhere) and a product's zero factors are
// structural ones only (a diag's, or a − a).
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "autograd/constructors.hpp"
#include "autograd/tensor_ops/array_constructors.hpp"
#include "autograd/tensor_ops/array_ops.hpp"
#include "autograd/tensor_ops/dot_ops.hpp"
#include "autograd/linalg/linear_algebra.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "autograd/tensor_ops/reduction_constructors.hpp"
#include "autograd/tensor_ops/reduction_ops.hpp"
#include "autograd/tensor_ops/slicing_ops.hpp"
#include "gradient_check.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
namespace ar = gradix_autograd::tensor_ops::arithmetic;
namespace red = gradix_autograd::tensor_ops::reduction_ops;
using gradix_autograd::Array;
using gradix_autograd::ArrayShape;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::tensor::TensorBuilder;
using Shape = std::vector<std::size_t>;

constexpr std::size_t kMaxElements = 36;

std::size_t count(const Shape& s) {
  std::size_t n = 1;
  for (const std::size_t e : s) n *= e;
  return n;
}

// NumPy's broadcast of two shapes, or nothing.
std::optional<Shape> broadcast(const Shape& a, const Shape& b) {
  const std::size_t rank = std::max(a.size(), b.size());
  Shape out(rank);
  for (std::size_t k = 0; k < rank; ++k) {
    const std::size_t ea = k < a.size() ? a[a.size() - 1 - k] : 1;
    const std::size_t eb = k < b.size() ? b[b.size() - 1 - k] : 1;
    if (ea != eb && ea != 1 && eb != 1) return std::nullopt;
    out[rank - 1 - k] = ea == 1 ? eb : ea;
  }
  return out;
}

// One-way: `from` stretches to `to`.
bool stretches_to(const Shape& from, const Shape& to) {
  const std::optional<Shape> b = broadcast(from, to);
  return b && *b == to;
}

bool single_value(const Shape& s) { return s.empty() || (s.size() == 1 && s[0] == 1); }

struct Value {
  Tensor t;
  Shape shape;
};

template <class O>
Tensor node(O op, std::initializer_list<Tensor> inputs) {
  TensorBuilder b(inputs.begin()->graph());
  for (const Tensor& t : inputs) b.append_input(t, false);
  return b.build(std::move(op));
}

Tensor constant(const Tensor& like, const std::vector<double>& values) {
  Array a(ArrayShape{values.size()});
  std::copy(values.begin(), values.end(), a.data());
  return ops::convert_to_tensor(std::move(a), like.graph());
}

// Builds one random graph over the sources; every draw comes from `rng`, so
// the same seed builds the same graph.
class GraphBuilder {
 public:
  explicit GraphBuilder(std::uint32_t seed) : rng_(seed) {}

  Tensor build(const std::vector<Tensor>& xs, const std::vector<Shape>& shapes, std::string& log) {
    for (std::size_t i = 0; i < xs.size(); ++i) pool_.push_back({xs[i], shapes[i]});
    const int steps = 2 + below(4);
    for (int s = 0; s < steps; ++s) {
      for (int attempt = 0; attempt < 20; ++attempt) {
        std::optional<Value> v = step(log);
        if (v && count(v->shape) <= kMaxElements) {
          pool_.push_back(*v);
          break;
        }
      }
    }
    return pool_.back().t;
  }

 private:
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
  const Value& any() { return pool_[static_cast<std::size_t>(below(static_cast<int>(pool_.size())))]; }
  // Prefers the newest values, so the graph grows deep as well as wide.
  const Value& recent() {
    const int n = static_cast<int>(pool_.size());
    return pool_[static_cast<std::size_t>(n - 1 - below(std::min(n, 2)))];
  }

  std::optional<Value> step(std::string& log) {
    const Value& a = recent();
    const Value& b = any();
    gradix_autograd::graph::Graph& g = a.t.graph();
    const std::size_t rank = a.shape.size();
    switch (below(14)) {
      case 0: {  // element-wise binary with broadcasting
        const std::optional<Shape> s = broadcast(a.shape, b.shape);
        if (!s) return std::nullopt;
        const int k = below(4);
        log += "binary" + std::to_string(k) + " ";
        if (k == 0) return Value{ar::add(a.t, b.t), *s};
        if (k == 1) return Value{ar::sub(b.t, a.t), *s};
        if (k == 2) return Value{ar::mul(a.t, b.t), *s};
        const Tensor denominator = ar::add(ar::mul(b.t, b.t), ops::scalar(g, 1.0));
        return Value{ar::div(a.t, denominator), *s};
      }
      case 1: {  // unary
        const int k = below(5);
        log += "unary" + std::to_string(k) + " ";
        if (k == 0) return Value{ar::exp(ops::linear_algebra::scalar_mul(a.t, 0.5)), a.shape};
        if (k == 1) return Value{ar::ln(ar::add(ar::mul(a.t, a.t), ops::scalar(g, 1.0))), a.shape};
        if (k == 2) return Value{ar::neg(a.t), a.shape};
        if (k == 3) return Value{ar::pow(a.t, 2.0), a.shape};
        return Value{ops::linear_algebra::scalar_mul(a.t, -1.3), a.shape};
      }
      case 2: {  // sum, mean or product over an axis, or over a mask
        if (rank == 0) return std::nullopt;
        const std::size_t axis = static_cast<std::size_t>(below(static_cast<int>(rank)));
        const bool keep = below(2) == 0;
        const bool sparse = below(3) == 0;
        const int kind = below(3);
        std::vector<double> axes;
        if (sparse) {
          axes.assign(rank, 0.0);
          axes[axis] = 1.0;
        } else {
          axes.push_back(below(2) == 0 ? static_cast<double>(axis) : static_cast<double>(axis) - static_cast<double>(rank));
        }
        Shape out = a.shape;
        if (!single_value(a.shape)) {
          if (keep) {
            out[axis] = 1;
          } else {
            out.erase(out.begin() + static_cast<std::ptrdiff_t>(axis));
          }
        }
        log += "reduce" + std::to_string(kind) + (keep ? "k" : "") + (sparse ? "s" : "") + " ";
        const Tensor axes_t = constant(a.t, axes);
        if (kind == 0) return Value{node(red::ReduceSum(keep, sparse), {a.t, axes_t}), out};
        if (kind == 1) return Value{node(red::ReduceMean(keep, sparse), {a.t, axes_t}), out};
        return Value{node(red::ReduceProd(keep, sparse), {a.t, axes_t}), out};
      }
      case 3: {  // slice with a step
        if (rank == 0) return std::nullopt;
        std::vector<ops::array_ops::SliceElement> ranges;
        Shape out;
        for (const std::size_t len : a.shape) {
          if (len == 0) return std::nullopt;
          const auto l = static_cast<std::int64_t>(len);
          const std::int64_t start = below(static_cast<int>(len));
          const std::int64_t end = start + 1 + below(static_cast<int>(len - static_cast<std::size_t>(start)));
          const std::int64_t step = 1 + below(2);
          ops::array_ops::SliceElement r;
          r.start = below(2) == 0 ? start : start - l;
          if (end < l || below(2) == 0) r.end = end;
          r.step = step;
          ranges.push_back(r);
          out.push_back(static_cast<std::size_t>((end - start + step - 1) / step));
        }
        log += "slice ";
        return Value{node(ops::array_ops::Slice(ranges), {a.t}), out};
      }
      case 4: {  // gather with negative indices
        if (rank == 0) return std::nullopt;
        const std::size_t axis = static_cast<std::size_t>(below(static_cast<int>(rank)));
        const auto len = static_cast<int>(a.shape[axis]);
        if (len == 0) return std::nullopt;
        std::vector<double> indices(static_cast<std::size_t>(1 + below(3)));
        for (double& i : indices) i = below(2 * len) - len;
        Shape out(a.shape.begin(), a.shape.begin() + static_cast<std::ptrdiff_t>(axis));
        out.push_back(indices.size());
        out.insert(out.end(), a.shape.begin() + static_cast<std::ptrdiff_t>(axis) + 1, a.shape.end());
        const auto signed_axis = below(2) == 0 ? static_cast<std::int64_t>(axis)
                                               : static_cast<std::int64_t>(axis) - static_cast<std::int64_t>(rank);
        log += "gather ";
        return Value{ops::gather_common(a.t, constant(a.t, indices), signed_axis), out};
      }
      case 5: {  // reshape with an extent to infer
        const std::size_t n = count(a.shape);
        if (n == 0) return std::nullopt;
        std::vector<std::size_t> divisors;
        for (std::size_t d = 1; d <= n; ++d) {
          if (n % d == 0) divisors.push_back(d);
        }
        const std::size_t d = divisors[static_cast<std::size_t>(below(static_cast<int>(divisors.size())))];
        log += "reshape ";
        switch (below(3)) {
          case 0:
            return Value{ops::flatten(a.t), {n}};
          case 1:
            return Value{ops::reshape(a.t, constant(a.t, {static_cast<double>(d), -1})), {d, n / d}};
          default:
            return Value{ops::reshape(a.t, constant(a.t, {-1, static_cast<double>(d)})), {n / d, d}};
        }
      }
      case 6: {  // expand_dims, a negative axis counting from the input's rank
        if (rank >= 3) return std::nullopt;
        const int position = below(static_cast<int>(rank) + 1);
        const double axis = (rank > 0 && position < static_cast<int>(rank) && below(2) == 0)
                                ? static_cast<double>(position) - static_cast<double>(rank)
                                : static_cast<double>(position);
        Shape out = a.shape;
        out.insert(out.begin() + position, 1);
        log += "expand ";
        return Value{ops::expand_dims(a.t, constant(a.t, {axis})), out};
      }
      case 7: {  // squeeze a unit axis, maybe by its negative number
        std::vector<std::size_t> units;
        for (std::size_t d = 0; d < rank; ++d) {
          if (a.shape[d] == 1) units.push_back(d);
        }
        if (units.empty()) return std::nullopt;
        const std::size_t d = units[static_cast<std::size_t>(below(static_cast<int>(units.size())))];
        const double axis = below(2) == 0 ? static_cast<double>(d) : static_cast<double>(d) - static_cast<double>(rank);
        Shape out = a.shape;
        out.erase(out.begin() + static_cast<std::ptrdiff_t>(d));
        log += "squeeze ";
        return Value{ops::squeeze(a.t, constant(a.t, {axis})), out};
      }
      case 8: {  // transpose
        if (rank != 2) return std::nullopt;
        log += "transpose ";
        return Value{ops::linear_algebra::transpose(a.t, {1, 0}), {a.shape[1], a.shape[0]}};
      }
      case 9: {  // matrix product, vectors promoted, either operand transposed
        if (rank > 2 || b.shape.size() > 2) return std::nullopt;
        const bool ta = below(3) == 0;
        const bool tb = below(3) == 0;
        // a as a row on the left, b as a column on the right.
        const Shape left = rank == 0 ? Shape{1, 1} : rank == 1 ? Shape{1, a.shape[0]} : a.shape;
        const Shape right = b.shape.empty() ? Shape{1, 1} : b.shape.size() == 1 ? Shape{b.shape[0], 1} : b.shape;
        const std::size_t m = left[ta ? 1 : 0];
        const std::size_t k = left[ta ? 0 : 1];
        const std::size_t k2 = right[tb ? 1 : 0];
        const std::size_t n = right[tb ? 0 : 1];
        if (k != k2) return std::nullopt;
        log += std::string("matmul") + (ta ? "T" : "") + (tb ? "T" : "") + " ";
        return Value{node(ops::dot_ops::MatMul(ta, tb), {a.t, b.t}), {m, n}};
      }
      case 10: {  // n-ary sum
        const std::optional<Shape> s = broadcast(a.shape, b.shape);
        if (!s) return std::nullopt;
        std::vector<Tensor> summands{a.t, b.t};
        const Value& c = any();
        if (below(2) == 0 && stretches_to(c.shape, *s)) summands.push_back(c.t);
        log += "add_n" + std::to_string(summands.size()) + " ";
        return Value{ops::reduction::add_n(summands), *s};
      }
      case 11: {  // maximum or minimum of two distinct values
        if (a.t == b.t) return std::nullopt;
        Shape out;
        if (single_value(b.shape)) {
          out = a.shape;
        } else if (single_value(a.shape)) {
          out = b.shape;
        } else if (a.shape.size() == b.shape.size() && stretches_to(a.shape, b.shape)) {
          out = b.shape;
        } else if (a.shape.size() == b.shape.size() && stretches_to(b.shape, a.shape)) {
          out = a.shape;
        } else {
          return std::nullopt;
        }
        // Shifted apart, so that no two compared values meet.
        const Tensor shifted = ar::add(b.t, ops::scalar(g, 0.37));
        log += "extremum ";
        if (below(2) == 0) return Value{node(ops::math_ops::Maximum{}, {a.t, shifted}), out};
        return Value{node(ops::math_ops::Minimum{}, {a.t, shifted}), out};
      }
      case 12: {  // diag
        if (rank != 1) return std::nullopt;
        log += "diag ";
        return Value{ops::linear_algebra::diag(a.t), {a.shape[0], a.shape[0]}};
      }
      default: {  // sum of every element
        log += "sum_all ";
        return Value{node(red::ReduceSumAll{}, {a.t}), {}};
      }
    }
  }

  std::mt19937 rng_;
  std::vector<Value> pool_;
};

// A random case, and the operators its graph drew (filled when it is built).
struct RandomCase {
  gradix_test::GradCase c;
  std::shared_ptr<std::string> drawn;
};

// The sources' shapes and values, then the graph's own seed.
RandomCase random_case(std::uint32_t seed) {
  std::mt19937 rng(seed);
  const auto below = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
  const std::vector<Shape> choices = {{}, {1}, {2}, {3}, {4}, {2, 3}, {3, 2}, {1, 3}, {2, 1}, {2, 2}, {3, 1}};
  const int num_sources = 1 + below(3);
  std::vector<Shape> shapes;
  std::vector<Array> values;
  std::uniform_real_distribution<double> magnitude(0.5, 1.5);
  for (int i = 0; i < num_sources; ++i) {
    const Shape s = choices[static_cast<std::size_t>(below(static_cast<int>(choices.size())))];
    Array v{ArrayShape(s.begin(), s.end())};
    for (std::size_t j = 0; j < v.size(); ++j) v.data()[j] = (below(2) == 0 ? -1.0 : 1.0) * magnitude(rng);
    shapes.push_back(s);
    values.push_back(std::move(v));
  }
  const auto graph_seed = static_cast<std::uint32_t>(rng());
  RandomCase r{{}, std::make_shared<std::string>()};
  r.c.label = "random graph " + std::to_string(seed);
  r.c.inputs = std::move(values);
  r.c.build = [graph_seed, shapes, drawn = r.drawn](const std::vector<Tensor>& xs) {
    drawn->clear();
    return GraphBuilder(graph_seed).build(xs, shapes, *drawn);
  };
  return r;
}

// Checks the graph of `seed`, with Hessian-vector products when
// `second_order`, and returns the operators it drew; a failure names them.
std::string check_graph(std::uint32_t seed, bool second_order) {
  const RandomCase r = random_case(seed);
  gradix_test::check_first_order(r.c);
  if (second_order) gradix_test::check_second_order(r.c);
  if (::testing::Test::HasFailure()) ADD_FAILURE() << r.c.label << " drew: " << *r.drawn;
  return *r.drawn;
}

TEST(RandomGraphGradients, FirstOrderEverywhereSecondOrderOnAShare) {
  constexpr std::uint32_t kGraphs = 300;
  for (std::uint32_t seed = 1; seed <= kGraphs; ++seed) {
    check_graph(seed, seed % 4 == 0);
    // Stops at the first graph that fails.
    if (::testing::Test::HasFailure()) return;
  }
}

// Graphs whose products meet zeros that no draw of values avoids: the
// off-diagonal entries of a diag, or a difference of a value with itself.
// Both orders on each.
TEST(RandomGraphGradients, ProductsOverStructuralZeros) {
  const std::uint32_t seeds[] = {115,  186,  730,  1222, 1496, 1840, 1937, 2005, 2716, 3115, 3184,
                                 3334, 3728, 3877, 3983, 4343, 4475, 6218, 6527, 6956, 7312, 7422};
  for (const std::uint32_t seed : seeds) {
    const std::string drawn = check_graph(seed, true);
    EXPECT_NE(drawn.find("reduce2"), std::string::npos) << "graph " << seed << " draws no product: " << drawn;
    if (::testing::Test::HasFailure()) return;
  }
}

}  // namespace

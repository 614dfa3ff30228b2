#include "core/codegen.hpp"

#include <gtest/gtest.h>

#include <string>

#include "core/solution.hpp"
#include "helpers/eml_parse.hpp"

namespace {

using kvel_core::solution::Solution;
using kvel_test::parse_tree;

Solution solution_of(const char* text) {
  auto tree = parse_tree(text);
  const std::size_t size = tree.size();
  return Solution{std::move(tree), 0.5, size};
}

TEST(Codegen, TextsOfEveryGenerator) {
  const struct {
    const char* tree;
    const char* numpy;
    const char* sympy;
    const char* rust;
    const char* pretty;
  } rows[] = {
      {"eml(x0, 1)", "lambda x0: (np.exp(x0) - np.log(1.0))", "# symbols('x0')\n(exp(x0) - log(1))",
       "fn f(x0: f64) -> f64 { ((x0).exp() - (1.0_f64).ln()) }", "eml(x0, 1)"},
      {"eml(x0, x2)", "lambda x0, x1, x2: (np.exp(x0) - np.log(x2))",
       "# symbols('x0 x1 x2')\n(exp(x0) - log(x2))",
       "fn f(x0: f64, x1: f64, x2: f64) -> f64 { ((x0).exp() - (x2).ln()) }", "eml(x0, x2)"},
      {"1", "lambda x0: 1.0", "# symbols('x0')\n1", "fn f(x0: f64) -> f64 { 1.0_f64 }", "1"},
      {"eml(2.5, 1.0)", "lambda x0: (np.exp(2.5) - np.log(1))", "# symbols('x0')\n(exp(2.5) - log(1))",
       "fn f(x0: f64) -> f64 { ((2.5_f64).exp() - (1_f64).ln()) }", "eml(2.500000, 1.000000)"},
      {"eml(1e-7, eml(-2, -0.0))", "lambda x0: (np.exp(0.0000001) - np.log((np.exp(-2) - np.log(-0))))",
       "# symbols('x0')\n(exp(0.0000001) - log((exp(-2) - log(-0))))",
       "fn f(x0: f64) -> f64 { ((0.0000001_f64).exp() - (((-2_f64).exp() - (-0_f64).ln())).ln()) }",
       "eml(0.000000, eml(-2.000000, -0.000000))"},
      {"eml(eml(1, x1), x0)", "lambda x0, x1: (np.exp((np.exp(1.0) - np.log(x1))) - np.log(x0))",
       "# symbols('x0 x1')\n(exp((exp(1) - log(x1))) - log(x0))",
       "fn f(x0: f64, x1: f64) -> f64 { ((((1.0_f64).exp() - (x1).ln())).exp() - (x0).ln()) }",
       "eml(eml(1, x1), x0)"},
  };
  for (const auto& row : rows) {
    const Solution s = solution_of(row.tree);
    EXPECT_EQ(s.numpy_code(), row.numpy) << row.tree;
    EXPECT_EQ(s.sympy_code(), row.sympy) << row.tree;
    EXPECT_EQ(s.rust_code(), row.rust) << row.tree;
    EXPECT_EQ(s.pretty(), row.pretty) << row.tree;
  }
}

TEST(Codegen, ExpressionRenderersAndNonFiniteConstants) {
  const auto root = kvel_test::parse_eml("eml(NaN, eml(inf, -inf))");
  EXPECT_EQ(kvel_core::codegen::numpy_expr(*root), "(np.exp(NaN) - np.log((np.exp(inf) - np.log(-inf))))");
  EXPECT_EQ(kvel_core::codegen::sympy_expr(*root), "(exp(NaN) - log((exp(inf) - log(-inf))))");
  EXPECT_EQ(kvel_core::codegen::rust_expr(*root), "((NaN_f64).exp() - (((inf_f64).exp() - (-inf_f64).ln())).ln())");
}

TEST(Solution, ComplexityAndSharedTree) {
  const Solution s = solution_of("eml(eml(1, x0), x1)");
  EXPECT_EQ(s.complexity, 5u);
  const Solution copy = s;
  EXPECT_EQ(copy.tree.root.get(), s.tree.root.get());
  EXPECT_EQ(copy.mse, 0.5);
}

}  // namespace

namespace {

TEST(Solution, LatexLowersSimplifiesAndRenders) {
  const std::pair<const char*, const char*> rows[] = {
      {"eml(x0, 1)", "e^{x_{0}}"},
      {"x0", "x_{0}"},
  };
  for (const auto& [tree, latex] : rows) {
    const kvel_core::solution::Solution s{kvel_test::parse_tree(tree), 0.0, 3};
    EXPECT_EQ(s.latex(), latex) << tree;
  }
}

}  // namespace

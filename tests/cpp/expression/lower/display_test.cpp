#include "expression/lower/display.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "support/panic.hpp"

namespace {

using tamrix::lower::LoweredOp;
using tamrix::lower::OpKind;
using tamrix::lower::display::render;
using tamrix::lower::display::to_latex;

LoweredOp c(double v) { return LoweredOp::constant(v); }
LoweredOp x(std::uint64_t i) { return LoweredOp::var(i); }
LoweredOp un(OpKind k, LoweredOp a) { return LoweredOp::unary(k, std::move(a)); }
LoweredOp bin(OpKind k, LoweredOp a, LoweredOp b) { return LoweredOp::binary(k, std::move(a), std::move(b)); }

TEST(LatexConstant, RulesInOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double value;
    const char* want;
  } rows[] = {
      {2.718281828459045, "e"},
      {2.718281828459045 - 1e-14, "2.718282"},
      {3.141592653589793, "\\pi"},
      {3.141592653589793 + 4e-15, "3.141593"},
      {6.283185307179586, "2\\pi"},
      {-1.0, "-1"},
      {-1.0 + 1e-16, "-1"},
      {2.99999999999, "3"},
      {-2.99999999999, "-3"},
      {-2.0, "-2"},
      {-0.0, "0"},
      {0.0, "0"},
      {1.00000000001, "1"},
      {1.0000000002, "1.000000"},
      {2.5, "2.500000"},
      {-2.5, "-2.500000"},
      {0.5, "0.500000"},
      {999999999999999.0, "999999999999999"},
      {1e15, "1000000000000000.000000"},
      {-1e15, "-1000000000000000.000000"},
      {nan, "NaN"},
      {inf, "inf"},
      {-inf, "-inf"},
  };
  for (const auto& row : rows) EXPECT_EQ(to_latex(c(row.value)), row.want) << row.value;
}

TEST(LatexNamedConstant, SeventeenNames) {
  const char* const names[] = {
      "\\pi",        "e",           "\\sqrt{2}",   "(-\\pi)",           "(-e)",      "(-\\sqrt{2})",
      "\\frac{1}{2}", "-\\frac{1}{2}", "\\frac{1}{3}", "\\frac{1}{4}",     "2\\pi",     "\\frac{\\pi}{2}",
      "\\sqrt{3}",   "e^{2}",       "\\varphi",    "\\ln(2)",           "(-2)",
  };
  for (std::uint8_t i = 0; i < 17; ++i) EXPECT_EQ(to_latex(LoweredOp::named_const(i)), names[i]) << int(i);
  EXPECT_THROW(to_latex(LoweredOp::named_const(17)), kvel_support::FatalError);
}

TEST(LatexExpression, Templates) {
  const LoweredOp x0 = x(0), x1 = x(1), one = c(1.0);
  const LoweredOp sum = bin(OpKind::Add, x0, one);
  const LoweredOp diff = bin(OpKind::Sub, x0, x1);
  const LoweredOp prod = bin(OpKind::Mul, x0, x1);
  const struct {
    LoweredOp op;
    const char* want;
  } rows[] = {
      {x(12), "x_{12}"},
      {sum, "x_{0} + 1"},
      {bin(OpKind::Mul, sum, x1), "(x_{0} + 1) \\cdot x_{1}"},
      {bin(OpKind::Add, sum, diff), "(x_{0} + 1) + (x_{0} - x_{1})"},
      {bin(OpKind::Div, sum, x1), "\\frac{x_{0} + 1}{x_{1}}"},
      {bin(OpKind::Mul, bin(OpKind::Div, x0, x1), x1), "\\frac{x_{0}}{x_{1}} \\cdot x_{1}"},
      {un(OpKind::Neg, diff), "-(x_{0} - x_{1})"},
      {un(OpKind::Neg, prod), "-(x_{0} \\cdot x_{1})"},
      {un(OpKind::Neg, un(OpKind::Neg, x0)), "--x_{0}"},
      {bin(OpKind::Sub, x0, un(OpKind::Neg, x1)), "x_{0} - -x_{1}"},
      {bin(OpKind::Pow, x0, c(2.0)), "x_{0}^{2}"},
      {bin(OpKind::Pow, sum, diff), "(x_{0} + 1)^{x_{0} - x_{1}}"},
      {bin(OpKind::Pow, bin(OpKind::Pow, x0, x1), c(0.5)), "x_{0}^{x_{1}}^{0.500000}"},
      {un(OpKind::Exp, sum), "e^{x_{0} + 1}"},
      {bin(OpKind::Sub, un(OpKind::Exp, x0), un(OpKind::Ln, x1)), "e^{x_{0}} - \\ln\\left(x_{1}\\right)"},
      {un(OpKind::Sin, sum), "\\sin\\left(x_{0} + 1\\right)"},
      {un(OpKind::Cos, x0), "\\cos\\left(x_{0}\\right)"},
      {un(OpKind::Tan, sum), "\\tan{x_{0} + 1}"},
      {un(OpKind::Sinh, x0), "\\sinh{x_{0}}"},
      {un(OpKind::Cosh, x0), "\\cosh{x_{0}}"},
      {un(OpKind::Tanh, x0), "\\tanh{x_{0}}"},
      {un(OpKind::Arcsin, x0), "\\arcsin{x_{0}}"},
      {un(OpKind::Arccos, x0), "\\arccos{x_{0}}"},
      {un(OpKind::Arctan, x0), "\\arctan{x_{0}}"},
      {un(OpKind::Arcsinh, x0), "\\operatorname{arcsinh}{x_{0}}"},
      {un(OpKind::Arccosh, x0), "\\operatorname{arccosh}{x_{0}}"},
      {un(OpKind::Arctanh, x0), "\\operatorname{arctanh}{x_{0}}"},
      {un(OpKind::Erf, sum), "\\operatorname{erf}\\!\\left(x_{0} + 1\\right)"},
      {un(OpKind::LnGamma, x0), "\\ln\\Gamma\\!\\left(x_{0}\\right)"},
      {un(OpKind::Digamma, x0), "\\psi\\!\\left(x_{0}\\right)"},
      {un(OpKind::Trigamma, x0), "\\psi^{(1)}\\!\\left(x_{0}\\right)"},
      {un(OpKind::Ei, x0), "\\operatorname{Ei}\\!\\left(x_{0}\\right)"},
      {un(OpKind::Si, x0), "\\operatorname{Si}\\!\\left(x_{0}\\right)"},
      {un(OpKind::Ci, x0), "\\operatorname{Ci}\\!\\left(x_{0}\\right)"},
      {bin(OpKind::Mul, LoweredOp::named_const(7), x0), "-\\frac{1}{2} \\cdot x_{0}"},
      {bin(OpKind::Add, c(3.141592653589793), c(std::nan(""))), "\\pi + NaN"},
  };
  for (const auto& row : rows) EXPECT_EQ(to_latex(row.op), row.want);
}

TEST(LatexExpression, TopFlagWrapsOnlySumsDifferencesAndProducts) {
  const LoweredOp x0 = x(0), x1 = x(1);
  EXPECT_EQ(render(bin(OpKind::Add, x0, x1), false), "(x_{0} + x_{1})");
  EXPECT_EQ(render(bin(OpKind::Sub, x0, x1), false), "(x_{0} - x_{1})");
  EXPECT_EQ(render(bin(OpKind::Mul, x0, x1), false), "(x_{0} \\cdot x_{1})");
  EXPECT_EQ(render(bin(OpKind::Div, x0, x1), false), "\\frac{x_{0}}{x_{1}}");
  EXPECT_EQ(render(un(OpKind::Neg, x0), false), "-x_{0}");
  EXPECT_EQ(render(un(OpKind::Exp, x0), false), "e^{x_{0}}");
}

}  // namespace

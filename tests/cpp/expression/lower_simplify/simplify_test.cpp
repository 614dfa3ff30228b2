#include "expression/lower_simplify/simplify.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "helpers/lowered_build.hpp"
#include "helpers/lowered_print.hpp"

namespace {

namespace ls = tamrix::lower_simplify;
using namespace kvel_test;

struct Case {
  std::string name;
  LoweredOp in;
  LoweredOp want;  // empty: the input comes back unchanged
};

// Same structure (text tells NamedConst from Const) and constants bit for bit.
void expect_same(const LoweredOp& got, const LoweredOp& want, const std::string& name) {
  EXPECT_EQ(lowered_text(got), lowered_text(want)) << name;
  EXPECT_EQ(stream(got), stream(want)) << name;
}

void check_rows(LoweredOp (*simplifier)(const LoweredOp&), std::initializer_list<Case> rows) {
  for (const Case& row : rows) expect_same(simplifier(row.in), row.want ? row.want : row.in, row.name);
}

LoweredOp named(std::uint8_t index) { return LoweredOp::named_const(index); }
LoweredOp ex(LoweredOp a) { return un(OpKind::Exp, std::move(a)); }
LoweredOp ln(LoweredOp a) { return un(OpKind::Ln, std::move(a)); }

constexpr double kInf = std::numeric_limits<double>::infinity();

// Through a volatile so that the library computes it at run time, as the
// simplifier does, rather than the compiler at build time.
double runtime(double v) {
  volatile double held = v;
  return held;
}

TEST(SimplifyInner, AdditionAndSubtraction) {
  check_rows(ls::simplify_inner, {
      {"0 + x0", add(c(0), x(0)), x(0)},
      {"x0 + 1e-16 is x0", add(x(0), c(1e-16)), x(0)},
      {"2 + 3 folds", add(c(2), c(3)), c(5)},
      {"x0 + 1 kept", add(x(0), c(1)), {}},
      {"x0 + -x1", add(x(0), neg(x(1))), sub(x(0), x(1))},
      {"-x1 + x0 kept: only the right operand", add(neg(x(1)), x(0)), {}},
      {"1e-15 is not 0", add(c(1e-15), x(0)), {}},
      {"x0 - 0", sub(x(0), c(0)), x(0)},
      {"0 - x0", sub(c(0), x(0)), neg(x(0))},
      {"0 - 3 negates, no fold", sub(c(0), c(3)), neg(c(3))},
      {"5 - 3 folds", sub(c(5), c(3)), c(2)},
      {"x0 - -x1", sub(x(0), neg(x(1))), add(x(0), x(1))},
      {"2 - -x1 goes on to the negation rule", sub(c(2), neg(x(1))), add(c(2), x(1))},
      {"0 - -x0: a rule's result is not simplified again", sub(c(0), neg(x(0))), neg(neg(x(0)))},
  });
}

TEST(SimplifyInner, Negation) {
  check_rows(ls::simplify_inner, {
      {"-(x0 - x1)", neg(sub(x(0), x(1))), sub(x(1), x(0))},
      {"--x0", neg(neg(x(0))), x(0)},
      {"-(0) is -0.0", neg(c(0)), c(-0.0)},
      {"-(-0.0) is +0.0", neg(c(-0.0)), c(0.0)},
      {"-exp(x0) kept", neg(ex(x(0))), {}},
      {"children first: -(0 - x0)", neg(sub(c(0), x(0))), x(0)},
  });
}

TEST(SimplifyInner, Multiplication) {
  check_rows(ls::simplify_inner, {
      {"-1 * x0", mul(c(-1), x(0)), neg(x(0))},
      {"x0 * 0", mul(x(0), c(0)), c(0)},
      {"0 * exp(x0)", mul(c(0), ex(x(0))), c(0)},
      {"-0.0 * x0 gives +0.0", mul(c(-0.0), x(0)), c(0.0)},
      {"0 * nan gives 0", mul(c(0), c(std::nan(""))), c(0)},
      {"1 * 7", mul(c(1), c(7)), c(7)},
      {"7 * 1", mul(c(7), c(1)), c(7)},
      {"-1 * 5 folds", mul(c(-1), c(5)), c(-5)},
      {"2 * 3", mul(c(2), c(3)), c(6)},
      {"1 * x0", mul(c(1), x(0)), x(0)},
      {"x0 * 1", mul(x(0), c(1)), x(0)},
      {"x0 * -1", mul(x(0), c(-1)), neg(x(0))},
      {"2 * x0 kept", mul(c(2), x(0)), {}},
      {"x0 * x1 kept", mul(x(0), x(1)), {}},
  });
}

TEST(SimplifyInner, DivisionAndPower) {
  const LoweredOp sinh_num = sub(ex(x(0)), ex(neg(x(0))));
  const LoweredOp cosh_num = add(ex(x(0)), ex(neg(x(0))));
  check_rows(ls::simplify_inner, {
      {"sin/cos", div(un(OpKind::Sin, x(0)), un(OpKind::Cos, x(0))), un(OpKind::Tan, x(0))},
      {"sin x0 / cos x1 kept", div(un(OpKind::Sin, x(0)), un(OpKind::Cos, x(1))), {}},
      {"sinh/cosh", div(un(OpKind::Sinh, x(1)), un(OpKind::Cosh, x(1))), un(OpKind::Tanh, x(1))},
      {"(e^x - e^-x)/2", div(sinh_num, c(2)), un(OpKind::Sinh, x(0))},
      {"(e^x + e^-x)/2", div(cosh_num, c(2)), un(OpKind::Cosh, x(0))},
      {"(e^x0 - e^-x1)/2 kept", div(sub(ex(x(0)), ex(neg(x(1)))), c(2)), {}},
      {"(e^x - e^-x)/3 kept", div(sinh_num, c(3)), {}},
      {"x0 / 1", div(x(0), c(1)), x(0)},
      {"x0 / 0 kept", div(x(0), c(0)), {}},
      {"1 / 0 is +inf", div(c(1), c(0)), c(kInf)},
      {"-1 / 0 is -inf", div(c(-1), c(0)), c(-kInf)},
      {"6 / 4", div(c(6), c(4)), c(1.5)},
      {"x0 ^ 1", pow(x(0), c(1)), x(0)},
      {"x0 ^ 0", pow(x(0), c(0)), c(1)},
      {"0 ^ 0", pow(c(0), c(0)), c(1)},
      {"2 ^ 3", pow(c(2), c(3)), c(8)},
      {"2 ^ x0 kept", pow(c(2), x(0)), {}},
  });
}

TEST(SimplifyInner, Functions) {
  check_rows(ls::simplify_inner, {
      {"exp ln", ex(ln(x(0))), x(0)},
      {"ln exp", ln(ex(x(0))), x(0)},
      {"ln 1", ln(c(1)), c(0)},
      {"ln(1 + 4e-16) snaps to 0", ln(c(1.0000000000000004)), c(0)},
      {"exp 0", ex(c(0)), c(1)},
      {"exp(-1e-16) snaps to 1", ex(c(-1e-16)), c(1)},
      {"exp 1", ex(c(1)), c(std::exp(runtime(1.0)))},
      {"ln 0 is -inf", ln(c(0)), c(-kInf)},
      {"sin arcsin", un(OpKind::Sin, un(OpKind::Arcsin, x(0))), x(0)},
      {"arcsin sin kept", un(OpKind::Arcsin, un(OpKind::Sin, x(0))), {}},
      {"tanh arctanh", un(OpKind::Tanh, un(OpKind::Arctanh, x(0))), x(0)},
      {"cos arcsin kept", un(OpKind::Cos, un(OpKind::Arcsin, x(0))), {}},
      {"arctanh 0.5", un(OpKind::Arctanh, c(0.5)), c(0.5 * std::log1p(runtime(2.0)))},
      {"arctanh 1", un(OpKind::Arctanh, c(1)), c(kInf)},
      {"cos 0", un(OpKind::Cos, c(0)), c(1)},
      {"folded argument: exp(ln(2 + 3))", ex(ln(add(c(2), c(3)))), c(std::exp(std::log(runtime(5.0))))},
  });
  const LoweredOp si_minus = ls::simplify_inner(un(OpKind::Si, c(-1)));
  const LoweredOp si_plus = ls::simplify_inner(un(OpKind::Si, c(1)));
  ASSERT_EQ(si_minus.kind(), OpKind::Const);
  ASSERT_EQ(si_plus.kind(), OpKind::Const);
  EXPECT_NEAR(si_plus.value(), 0.946083070367183, 1e-14);
  EXPECT_EQ(si_minus.value(), -si_plus.value());
  for (const LoweredOp& nan_case :
       {ln(c(-1)), un(OpKind::Ci, c(0)), un(OpKind::Ci, c(-1)), un(OpKind::Si, c(std::nan("")))}) {
    const LoweredOp got = ls::simplify_inner(nan_case);
    ASSERT_EQ(got.kind(), OpKind::Const) << lowered_text(nan_case);
    EXPECT_TRUE(std::isnan(got.value())) << lowered_text(nan_case);
  }
}

TEST(SimplifyInner, NamedConstantIsNeverFolded) {
  check_rows(ls::simplify_inner, {
      {"pi + 0", add(named(0), c(0)), named(0)},
      {"pi * 1", mul(named(0), c(1)), named(0)},
      {"1/2 + 1 kept", add(named(6), c(1)), {}},
      {"exp(pi) kept", ex(named(0)), {}},
      {"-(1/2) kept", neg(named(6)), {}},
  });
}

TEST(SimplifyInner, SharesUnchangedSubtrees) {
  const LoweredOp in = sub(ex(x(0)), ln(add(x(1), x(2))));
  EXPECT_TRUE(ls::simplify_inner(in).same_node(in));
  const LoweredOp partly = mul(in, c(1));
  EXPECT_TRUE(ls::simplify_inner(partly).same_node(in));
}

TEST(Simplify, NormalFormBetweenTwoPasses) {
  check_rows(ls::simplify, {
      {"x0 - x0 cancels", sub(x(0), x(0)), c(0)},
      {"exp(x0) - exp(x0) cancels", sub(ex(x(0)), ex(x(0))), c(0)},
      {"0 - -x0 settles to x0", sub(c(0), neg(x(0))), x(0)},
      {"x0 + x0", add(x(0), x(0)), mul(c(2), x(0))},
      {"coefficient -1 becomes a negation", sub(c(1), add(x(0), c(1))), neg(x(0))},
      {"x0 + x1 term order", add(x(0), x(1)), add(x(1), x(0))},
      {"x0 - x1 kept", sub(x(0), x(1)), {}},
      {"ln x0 kept", ln(x(0)), {}},
      {"e - ln x0 kept", sub(c(2.718281828459045), ln(x(0))), {}},
  });
}

}  // namespace

#include "expression/lower/eval.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "expression/special.hpp"
#include "support/panic.hpp"

namespace {

using tamrix::lower::eval;
using tamrix::lower::LoweredOp;
using tamrix::lower::OpKind;

constexpr double kInf = std::numeric_limits<double>::infinity();

LoweredOp c(double v) { return LoweredOp::constant(v); }
LoweredOp un(OpKind k, LoweredOp a) { return LoweredOp::unary(k, std::move(a)); }
LoweredOp bin(OpKind k, LoweredOp a, LoweredOp b) { return LoweredOp::binary(k, std::move(a), std::move(b)); }

double at(const LoweredOp& op, std::vector<double> vars = {}) { return eval(op, vars); }

TEST(Eval, ExactValues) {
  volatile double two = 2.0;  // the library's log1p at run time, not a folded constant
  const std::pair<LoweredOp, double> rows[] = {
      {bin(OpKind::Div, c(1), c(0)), kInf},
      {un(OpKind::Arctanh, c(0.5)), 0.5 * std::log1p(two)},
      {un(OpKind::Arctanh, c(1)), kInf},
      {LoweredOp::named_const(13), 7.3890560989306495},
      {LoweredOp::named_const(16), -2.0},
      {bin(OpKind::Sub, LoweredOp::var(1), LoweredOp::var(0)), 2.0 - 0.5},
      {bin(OpKind::Pow, c(2), c(10)), 1024.0},
      {un(OpKind::Neg, c(0.0)), -0.0},
      {un(OpKind::Si, c(2)), tamrix::special::si_ci_internal(2).first},
      {un(OpKind::Ci, c(2)), tamrix::special::si_ci_internal(2).second},
      {un(OpKind::Erf, c(0.7)), tamrix::special::erf(0.7)},
      {un(OpKind::LnGamma, c(4.5)), tamrix::special::lgamma(4.5)},
      {un(OpKind::Ei, c(-3)), tamrix::special::ei(-3)},
  };
  for (const auto& [op, want] : rows) {
    const double got = at(op, {0.5, 2.0});
    EXPECT_EQ(got, want);
    EXPECT_EQ(std::signbit(got), std::signbit(want));
  }
  EXPECT_EQ(at(un(OpKind::Si, c(-1))), -at(un(OpKind::Si, c(1))));
}

TEST(Eval, NotANumberRows) {
  const LoweredOp rows[] = {
      un(OpKind::Ln, c(-1)),
      un(OpKind::Ci, c(0)),
      un(OpKind::Ci, c(-2)),
      un(OpKind::Si, c(NAN)),
      bin(OpKind::Sub, c(kInf), c(kInf)),
  };
  for (const auto& op : rows) EXPECT_TRUE(std::isnan(at(op)));
}

TEST(Eval, VariableIndexPastTheEndIsFatal) {
  const LoweredOp op = bin(OpKind::Add, LoweredOp::var(0), LoweredOp::var(2));
  try {
    (void)at(op, {1.0, 2.0});
    FAIL() << "no fatal error";
  } catch (const kvel_support::FatalError& e) {
    EXPECT_NE(e.message().find("len is 2"), std::string::npos) << e.message();
    EXPECT_NE(e.message().find("index is 2"), std::string::npos) << e.message();
  }
}

}  // namespace

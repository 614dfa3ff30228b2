// Polynomial normal form and structural hash of small lowered expressions, the
// sizes a search produces: one that is rewritten, one whose conversion fails
// on a constant without a small fraction (the full 1000-denominator scan), and
// one that grows and is kept.
#include <benchmark/benchmark.h>

#include "expression/lower/lowered_op.hpp"
#include "expression/lower_simplify/normal_form.hpp"

namespace {

using tamrix::lower::LoweredOp;
using tamrix::lower::OpKind;

LoweredOp x(std::uint64_t i) { return LoweredOp::var(i); }
LoweredOp c(double v) { return LoweredOp::constant(v); }
LoweredOp bin(OpKind k, LoweredOp a, LoweredOp b) { return LoweredOp::binary(k, std::move(a), std::move(b)); }

LoweredOp sample(int which) {
  switch (which) {
    case 0:  // x0 * x0 + exp(x1) - x0 * 2
      return bin(OpKind::Sub, bin(OpKind::Add, bin(OpKind::Mul, x(0), x(0)), LoweredOp::unary(OpKind::Exp, x(1))),
                 bin(OpKind::Mul, x(0), c(2)));
    case 1:  // x0 * e + ln(x0)
      return bin(OpKind::Add, bin(OpKind::Mul, x(0), c(2.718281828459045)), LoweredOp::unary(OpKind::Ln, x(0)));
    default:  // (x0 + x1 + 1)^3
      return bin(OpKind::Pow, bin(OpKind::Add, bin(OpKind::Add, x(0), x(1)), c(1)), c(3));
  }
}

void BM_CanonicalizePoly(benchmark::State& state) {
  const LoweredOp e = sample(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(tamrix::lower_simplify::canonicalize_poly(e).get());
}
BENCHMARK(BM_CanonicalizePoly)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kNanosecond);

void BM_OpsStructHash(benchmark::State& state) {
  const LoweredOp e = sample(0);
  for (auto _ : state) benchmark::DoNotOptimize(tamrix::lower_simplify::ops_struct_hash(e));
}
BENCHMARK(BM_OpsStructHash)->Unit(benchmark::kNanosecond);

}  // namespace

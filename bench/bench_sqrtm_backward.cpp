// The square-root gradient dA with S·dA + dA·S = dS, S = A^(1/2): the
// operator (eigenbasis solve, O(n³)) beside the explicit Kronecker-sum solve
// (O(n⁶) time, O(n⁴) memory), which is feasible up to n = 50 only (n = 200
// would need 12.8 GB).
#include <benchmark/benchmark.h>

#include "autograd/linalg/matrix_functions.hpp"
#include "autograd/op.hpp"
#include "autograd/linalg/matrix_function_ops.hpp"
#include "fixed_matrices.hpp"

namespace {

namespace mf = gradix_autograd::tensor_ops::matrix_functions;
using Matrix = mf::Matrix;

// B·Bᵀ + n·I: symmetric positive definite and well conditioned.
Matrix fixed_spd(std::size_t n) {
  const Matrix b = bench_data::fixed_random(n, n, 3);
  Matrix a = mf::matmul_f64(b, mf::transpose_f64(b));
  for (std::size_t i = 0; i < n; ++i) a(i, i) += static_cast<double>(n);
  return a;
}

void BM_SqrtBackwardOp(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const gradix_autograd::Array a = mf::f64_to_owned(fixed_spd(n));
  const gradix_autograd::Array g = mf::f64_to_owned(bench_data::fixed_random(n, n, 5));
  const gradix_autograd::Array* inputs[] = {&a, &g};
  const mf::MatrixSqrtBackwardOp op;
  for (auto _ : state) {
    gradix_autograd::op::ComputeContext ctx(inputs);
    if (!op.compute(ctx)) state.SkipWithError("compute failed");
    benchmark::DoNotOptimize(ctx.outputs().data());
  }
}
BENCHMARK(BM_SqrtBackwardOp)->Arg(10)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond);

// The former path of the operator: S formed, then the explicit system.
void BM_SqrtBackwardExplicitSylvester(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const Matrix a = fixed_spd(n);
  const Matrix g = bench_data::fixed_random(n, n, 5);
  for (auto _ : state) {
    const auto s = mf::sqrtm_spd_f64(a);
    auto x = mf::solve_sylvester_local(*s, *s, g);
    if (!x) state.SkipWithError("solve failed");
    benchmark::DoNotOptimize(x->data());
  }
}
BENCHMARK(BM_SqrtBackwardExplicitSylvester)->Arg(10)->Arg(50)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

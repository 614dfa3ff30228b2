// The one-sided Jacobi SVD that the SVD gradient recomputes its factors with,
// on fixed pseudo-random square and tall matrices.
#include <benchmark/benchmark.h>

#include "autograd/linalg/decomposition_backward.hpp"
#include "fixed_matrices.hpp"

namespace {

void BM_SvdJacobi(benchmark::State& state) {
  const auto m = static_cast<std::size_t>(state.range(0));
  const auto n = static_cast<std::size_t>(state.range(1));
  const auto a = bench_data::fixed_random(m, n, 7);
  for (auto _ : state) {
    auto svd = gradix_autograd::tensor_ops::decomposition_ops::backward_ops::svd_jacobi_f64(a);
    benchmark::DoNotOptimize(svd.s.data());
  }
}
BENCHMARK(BM_SvdJacobi)->Args({10, 10})->Args({50, 50})->Args({200, 200})->Args({400, 100})->Unit(benchmark::kMillisecond);

}  // namespace

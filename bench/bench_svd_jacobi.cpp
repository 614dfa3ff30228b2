// The one-sided Jacobi SVD that the SVD gradient recomputes its factors with,
// on fixed pseudo-random square and tall matrices.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "autograd/decomposition_backward.hpp"

namespace {

using Matrix = xt::xtensor<double, 2>;

Matrix fixed_random(std::size_t r, std::size_t c, std::uint64_t seed) {
  Matrix out = xt::zeros<double>({r, c});
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
  for (double& e : out) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    e = static_cast<double>(state >> 11) / 9007199254740992.0 * 2.0 - 1.0;
  }
  return out;
}

void BM_SvdJacobi(benchmark::State& state) {
  const auto m = static_cast<std::size_t>(state.range(0));
  const auto n = static_cast<std::size_t>(state.range(1));
  const Matrix a = fixed_random(m, n, 7);
  for (auto _ : state) {
    auto svd = gradix_autograd::tensor_ops::decomposition_ops::backward_ops::svd_jacobi_f64(a);
    benchmark::DoNotOptimize(svd.s.data());
  }
}
BENCHMARK(BM_SvdJacobi)->Args({10, 10})->Args({50, 50})->Args({200, 200})->Args({400, 100})->Unit(benchmark::kMillisecond);

}  // namespace

// The floor under a search's time: how many exp and ln evaluations one
// default search makes (counted by interposing the C library's exp and log in
// this program only), and the time of that many plain std::exp/std::log calls.
// The search's own wall time comes from bench_search (BM_Fit), which runs
// without the counting indirection.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "core/discoverer.hpp"
#include "search_data.hpp"

namespace {

std::uint64_t g_exp_calls = 0;
std::uint64_t g_log_calls = 0;

using MathFn = double (*)(double);

MathFn next_symbol(const char* name) {
  void* found = dlsym(RTLD_NEXT, name);
  if (found == nullptr) {
    std::fprintf(stderr, "cannot resolve %s\n", name);
    std::abort();
  }
  return reinterpret_cast<MathFn>(found);
}

}  // namespace

extern "C" double exp(double x) noexcept {
  static const MathFn real = next_symbol("exp");
  ++g_exp_calls;
  return real(x);
}

extern "C" double log(double x) noexcept {
  static const MathFn real = next_symbol("log");
  ++g_log_calls;
  return real(x);
}

namespace {

struct Counts {
  std::uint64_t exps = 0;
  std::uint64_t logs = 0;
};

Counts count_search(std::size_t rows, std::size_t cols) {
  const auto data = kvel_bench::make_search_data(rows, cols);
  const std::uint64_t e0 = g_exp_calls;
  const std::uint64_t l0 = g_log_calls;
  // One refinement thread: the counters are plain integers, and the count is
  // the same for every thread count.
  benchmark::DoNotOptimize(kvel_core::discoverer::Discoverer{}.fit(data, kvel_core::cancel::never(), 1));
  return {g_exp_calls - e0, g_log_calls - l0};
}

// Times the counted number of calls straight through the C library.
void BM_ExpLogFloor(benchmark::State& state) {
  const Counts counts = count_search(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
  const MathFn real_exp = next_symbol("exp");
  const MathFn real_log = next_symbol("log");
  state.counters["exp_calls"] = static_cast<double>(counts.exps);
  state.counters["log_calls"] = static_cast<double>(counts.logs);
  for (auto _ : state) {
    double acc = 0.0;
    double v = 0.5;
    for (std::uint64_t i = 0; i < counts.exps; ++i) {
      acc += real_exp(v);
      v = v < 3.0 ? v + 1e-3 : 0.5;
    }
    for (std::uint64_t i = 0; i < counts.logs; ++i) {
      acc += real_log(v);
      v = v < 3.0 ? v + 1e-3 : 0.5;
    }
    benchmark::DoNotOptimize(acc);
  }
}
BENCHMARK(BM_ExpLogFloor)
    ->Args({200, 1})
    ->Args({200, 3})
    ->Args({10000, 1})
    ->Args({10000, 3})
    ->Unit(benchmark::kMillisecond);

}  // namespace

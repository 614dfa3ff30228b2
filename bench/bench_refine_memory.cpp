// Peak resident memory of a search by the number of fits it runs side by
// side. Peak RSS only grows within a process, so run one case per process:
// bench/refine_memory.py does.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include "core/discoverer.hpp"
#include "search_data.hpp"

namespace {

// Arguments: rows, refinement threads. Fifty epochs: a fit's memory does not
// grow with its epochs.
void BM_SearchPeakRss(benchmark::State& state) {
  const auto data = kvel_bench::make_search_data(static_cast<std::size_t>(state.range(0)), 1);
  kvel_core::discoverer::Discoverer config;
  config.max_epochs = 50;
  const auto threads = static_cast<std::size_t>(state.range(1));
  rusage before{};
  ::getrusage(RUSAGE_SELF, &before);
  for (auto _ : state) benchmark::DoNotOptimize(config.fit(data, kvel_core::cancel::never(), threads));
  rusage after{};
  ::getrusage(RUSAGE_SELF, &after);
  state.counters["peak_rss_MiB"] = static_cast<double>(after.ru_maxrss) / 1024.0;
  state.counters["before_MiB"] = static_cast<double>(before.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_SearchPeakRss)
    ->ArgsProduct({{50000}, {1, 2, 8, 24}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

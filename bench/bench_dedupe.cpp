// Semantic de-duplication: the full eager run over the 163,220 depth-3
// topologies of three columns, and the lazy walk that stops at the 512 kept
// trees a search scores, for 1, 3, 10 and 50 columns.
#include <benchmark/benchmark.h>

#include <vector>

#include "expression/symreg/dedupe.hpp"
#include "expression/symreg/topology.hpp"

namespace {

namespace topo = tamrix::symreg::topology;

void BM_DedupeAllThreeColumns(benchmark::State& state) {
  const std::vector<tamrix::tree::EmlTree> all = topo::enumerate_topologies(3, 3);
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<tamrix::tree::EmlTree> input = all;
    state.ResumeTiming();
    const std::vector<tamrix::tree::EmlTree> kept = topo::dedupe_by_semantics(std::move(input));
    benchmark::DoNotOptimize(kept.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * all.size()));
}
BENCHMARK(BM_DedupeAllThreeColumns)->Unit(benchmark::kMillisecond);

void BM_StreamingFirst512(benchmark::State& state) {
  const auto columns = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    const std::vector<tamrix::tree::EmlTree> kept = topo::first_distinct_topologies(3, columns, 512);
    benchmark::DoNotOptimize(kept.data());
  }
}
BENCHMARK(BM_StreamingFirst512)->Arg(1)->Arg(3)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);

}  // namespace

// Lazy enumeration of the first 10,000 topologies for 1, 3 and 10 columns.
#include <benchmark/benchmark.h>

#include "expression/symreg/topology.hpp"

static void BM_LazyFirst10000(benchmark::State& state) {
  const auto columns = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    std::size_t seen = 0;
    tamrix::symreg::topology::for_each_topology(3, columns, [&](const tamrix::tree::EmlTree& tree) {
      benchmark::DoNotOptimize(tree.root.get());
      return ++seen < 10000;
    });
    benchmark::DoNotOptimize(seen);
  }
}
BENCHMARK(BM_LazyFirst10000)->Arg(1)->Arg(3)->Arg(10)->Unit(benchmark::kMicrosecond);

// Simplification plus lowering of the first 10,000 depth-3 topologies over one
// and three columns: the per-tree work of the semantic de-duplication.
#include <benchmark/benchmark.h>

#include <vector>

#include "expression/lower/pattern.hpp"
#include "expression/simplify.hpp"
#include "expression/symreg/topology.hpp"

namespace {

std::vector<tamrix::tree::EmlTree> first_topologies(std::size_t columns, std::size_t count) {
  std::vector<tamrix::tree::EmlTree> trees;
  tamrix::symreg::topology::for_each_topology(3, columns, [&](const tamrix::tree::EmlTree& tree) {
    trees.push_back(tree);
    return trees.size() < count;
  });
  return trees;
}

void BM_Lower(benchmark::State& state) {
  const auto trees = first_topologies(static_cast<std::size_t>(state.range(0)), 10000);
  for (auto _ : state) {
    for (const auto& tree : trees) benchmark::DoNotOptimize(tamrix::lower::pattern::lower_node(*tree.root).get());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * trees.size()));
}
BENCHMARK(BM_Lower)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_SimplifyThenLower(benchmark::State& state) {
  const auto trees = first_topologies(static_cast<std::size_t>(state.range(0)), 10000);
  for (auto _ : state) {
    for (const auto& tree : trees) {
      const auto simplified = tamrix::simplify::simplify(tree);
      benchmark::DoNotOptimize(tamrix::lower::pattern::lower_node(*simplified.root).get());
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * trees.size()));
}
BENCHMARK(BM_SimplifyThenLower)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond);

}  // namespace

// Wall time of a search, and of its stages: enumeration with
// de-duplication, scoring every kept topology through the engine, fitting the
// constants of the refined trees, and polishing and snapping them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "core/discoverer.hpp"
#include "core/fit.hpp"
#include "core/polish.hpp"
#include "core/refine.hpp"
#include "search_data.hpp"

namespace {

using kvel_core::dataset::DataSet;

DataSet make_data(std::size_t rows, std::size_t cols) { return kvel_bench::make_search_data(rows, cols); }

void args(benchmark::internal::Benchmark* b) {
  for (long rows : {200L, 10000L})
    for (long cols : {1L, 3L, 10L}) b->Args({rows, cols});
  b->Unit(benchmark::kMillisecond);
}

// Arguments: rows, columns, refinement threads (0: one per usable CPU).
void BM_Fit(benchmark::State& state) {
  const DataSet data = make_data(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
  const kvel_core::discoverer::Discoverer config;
  const auto threads = static_cast<std::size_t>(state.range(2));
  for (auto _ : state) benchmark::DoNotOptimize(config.fit(data, kvel_core::cancel::never(), threads));
}
BENCHMARK(BM_Fit)->Apply([](benchmark::internal::Benchmark* b) {
  for (long rows : {200L, 10000L})
    for (long cols : {1L, 3L, 10L})
      for (long threads : {1L, 0L}) b->Args({rows, cols, threads});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
});

void BM_EnumerateAndDedupe(benchmark::State& state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(kvel_core::discoverer::search_topologies(3, static_cast<std::size_t>(state.range(1))));
}
BENCHMARK(BM_EnumerateAndDedupe)->Apply(args);

void BM_Scoring(benchmark::State& state) {
  const DataSet data = make_data(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
  const auto topologies = kvel_core::discoverer::search_topologies(3, data.x.shape(1));
  const auto columns = kvel_core::forest::FeedColumns::from_matrix(data.x);
  for (auto _ : state)
    for (const auto& tree : topologies) benchmark::DoNotOptimize(kvel_core::discoverer::eval_one(tree, columns, data.y));
}
BENCHMARK(BM_Scoring)->Apply(args);

// The trees refinement fits: the best-scoring topologies with 1 to 6 one-leaves,
// constantized, at most the budget's count.
std::vector<tamrix::tree::EmlTree> refinement_inputs(const DataSet& data, const kvel_core::forest::FeedColumns& columns) {
  namespace d = kvel_core::discoverer;
  const auto topologies = d::search_topologies(3, data.x.shape(1));
  std::vector<std::pair<double, std::size_t>> order;
  for (std::size_t i = 0; i < topologies.size(); ++i) {
    const auto scored = d::eval_one(topologies[i], columns, data.y);
    if (scored) order.emplace_back(scored->first, i);
  }
  std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<tamrix::tree::EmlTree> out;
  for (const auto& [error, index] : order) {
    if (out.size() == d::kRefineBudget) break;
    auto tree = tamrix::tree::EmlTree::from_node(d::constantize(*topologies[index].root));
    const std::size_t n = kvel_core::fit::collect_consts(*tree.root).size();
    if (n >= 1 && n <= d::kMaxRefinedConsts) out.push_back(std::move(tree));
  }
  return out;
}

void stage_args(benchmark::internal::Benchmark* b) {
  for (long rows : {200L, 10000L})
    for (long cols : {1L, 3L}) b->Args({rows, cols});
  b->Unit(benchmark::kMillisecond);
}

void BM_Fitting(benchmark::State& state) {
  const DataSet data = make_data(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
  const auto columns = kvel_core::forest::FeedColumns::from_matrix(data.x);
  const auto trees = refinement_inputs(data, columns);
  const kvel_core::discoverer::Discoverer config;
  for (auto _ : state)
    for (const auto& tree : trees) benchmark::DoNotOptimize(kvel_core::fit::fit_constants(tree, data, config));
}
BENCHMARK(BM_Fitting)->Apply(stage_args);

void BM_PolishAndSnap(benchmark::State& state) {
  const DataSet data = make_data(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
  const auto columns = kvel_core::forest::FeedColumns::from_matrix(data.x);
  const kvel_core::discoverer::Discoverer config;
  std::vector<tamrix::tree::EmlTree> fitted;
  for (const auto& tree : refinement_inputs(data, columns)) {
    auto result = kvel_core::fit::fit_constants(tree, data, config);
    if (result) fitted.push_back(result->tree);
  }
  for (auto _ : state) {
    for (const auto& tree : fitted) {
      auto polished = kvel_core::polish::lm_refine(tree, columns, data.y, 40, kvel_core::loss::RobustLoss::squared());
      benchmark::DoNotOptimize(kvel_core::polish::snap_constants(polished.tree, columns, data.y, 0.02));
    }
  }
}
BENCHMARK(BM_PolishAndSnap)->Apply(stage_args);

}  // namespace

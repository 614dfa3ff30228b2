// Wall time of a search, and of its two stages: enumeration with
// de-duplication, and scoring every kept topology through the engine.
#include <benchmark/benchmark.h>

#include <cmath>

#include "core/discoverer.hpp"

namespace {

using kvel_core::dataset::DataSet;

DataSet make_data(std::size_t rows, std::size_t cols) {
  xt::xtensor<double, 2> x = xt::xtensor<double, 2>::from_shape({rows, cols});
  xt::xtensor<double, 1> y = xt::xtensor<double, 1>::from_shape({rows});
  for (std::size_t i = 0; i < rows; ++i) {
    for (std::size_t j = 0; j < cols; ++j)
      x(i, j) = 0.5 + 2.5 * std::fmod(0.618033988749895 * static_cast<double>(i * cols + j + 1), 1.0);
    y(i) = std::exp(x(i, 0)) - std::log(x(i, 0));
  }
  return std::move(DataSet::from_arrays(std::move(x), std::move(y))).value();
}

void args(benchmark::internal::Benchmark* b) {
  for (long rows : {200L, 10000L})
    for (long cols : {1L, 3L, 10L}) b->Args({rows, cols});
  b->Unit(benchmark::kMillisecond);
}

void BM_Fit(benchmark::State& state) {
  const DataSet data = make_data(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
  const kvel_core::discoverer::Discoverer config;
  for (auto _ : state) benchmark::DoNotOptimize(config.fit(data));
}
BENCHMARK(BM_Fit)->Apply(args);

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

}  // namespace

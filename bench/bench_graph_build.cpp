// Building graphs without evaluating them: 10,000 graphs of 200 nodes each
// (the per-step pattern of constant fitting), reported as time per node.
#include <benchmark/benchmark.h>

#include "autograd/graph.hpp"
#include "autograd/tensor_ops/binary_ops.hpp"
#include "autograd/tensor_ops/const_gen_ops.hpp"
#include "autograd/tensor_ops/math_ops.hpp"
#include "autograd/tensor_ops/scalar_ops.hpp"

namespace {

namespace ops = gradix_autograd::tensor_ops;
using gradix_autograd::graph::Context;
using gradix_autograd::tensor::Tensor;
using gradix_autograd::tensor::TensorBuilder;

constexpr int kNodesPerGraph = 200;
constexpr int kGraphs = 10000;

// Placeholders, then a mix of unary, binary, constant and scalar-multiple nodes.
std::size_t build_graph(Context& ctx) {
  const Tensor x = ctx.placeholder("kvel_x0", {-1});
  const Tensor ones = ctx.placeholder("kvel_ones", {-1});
  Tensor last = x;
  while (ctx.graph().num_nodes() + 4 <= kNodesPerGraph) {
    const Tensor c = TensorBuilder(ctx.graph()).append_input(ones, false).build(ops::scalar_ops::ScalarMulOp(0.5));
    const Tensor lo = TensorBuilder(ctx.graph()).build(ops::const_gen_ops::Scalar(-50.0));
    const Tensor e = TensorBuilder(ctx.graph()).append_input(last, false).build(ops::math_ops::Exp{});
    last = TensorBuilder(ctx.graph()).append_input(e, false).append_input(c, false).append_input(lo, false).build(
        ops::binary_ops::AddOp{});
  }
  while (ctx.graph().num_nodes() < kNodesPerGraph) {
    last = TensorBuilder(ctx.graph()).append_input(last, false).build(ops::math_ops::Ln{});
  }
  return ctx.graph().num_nodes();
}

void BM_Build10000GraphsOf200Nodes(benchmark::State& state) {
  for (auto _ : state) {
    std::size_t nodes = 0;
    for (int g = 0; g < kGraphs; ++g) nodes += gradix_autograd::graph::run(build_graph);
    benchmark::DoNotOptimize(nodes);
  }
  state.counters["ns_per_node"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kGraphs * kNodesPerGraph,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Build10000GraphsOf200Nodes)->Unit(benchmark::kMillisecond);

}  // namespace

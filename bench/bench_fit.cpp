// One training step of constant fitting, through the engine (fit_constants,
// one graph per step) and as a direct loop over the same forward pass,
// gradient and Adam arithmetic without graphs. The tree has depth 3 and
// three constants; the counter "step" is the time of one step.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <vector>

#include "core/fit.hpp"

namespace {

using tamrix::tree::EmlNode;
using tamrix::tree::EmlTree;

constexpr std::size_t kEpochs = 50;

EmlTree bench_tree() {
  // eml(eml(eml(c0, x0), c1), eml(x0, c2))
  const auto inner = EmlNode::eml(EmlNode::constant(0.3), EmlNode::var(0));
  const auto left = EmlNode::eml(inner, EmlNode::constant(1.7));
  const auto right = EmlNode::eml(EmlNode::var(0), EmlNode::constant(2.2));
  return EmlTree::from_node(EmlNode::eml(left, right));
}

kvel_core::dataset::DataSet bench_data(std::size_t rows) {
  xt::xtensor<double, 2> x = xt::xtensor<double, 2>::from_shape({rows, 1});
  xt::xtensor<double, 1> y = xt::xtensor<double, 1>::from_shape({rows});
  for (std::size_t i = 0; i < rows; ++i) {
    const double v = 0.5 + 2.5 * static_cast<double>(i) / static_cast<double>(rows);
    x(i, 0) = v;
    y(i) = std::exp(0.5 * v) + 1.0 / v;
  }
  return *kvel_core::dataset::DataSet::from_arrays(std::move(x), std::move(y));
}

void set_step_counter(benchmark::State& state) {
  state.counters["step"] = benchmark::Counter(static_cast<double>(kEpochs),
                                              benchmark::Counter::kIsIterationInvariantRate |
                                                  benchmark::Counter::kInvert);
}

void BM_FitConstantsEngine(benchmark::State& state) {
  const EmlTree tree = bench_tree();
  const auto data = bench_data(static_cast<std::size_t>(state.range(0)));
  kvel_core::discoverer::Discoverer config;
  config.max_epochs = kEpochs;
  for (auto _ : state) {
    auto fitted = kvel_core::fit::fit_constants(tree, data, config);
    benchmark::DoNotOptimize(fitted);
  }
  set_step_counter(state);
}

long minor_faults() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_minflt;
}

// A steady-state step is measured as a fit of 10 + kEpochs epochs minus a fit
// of 10, so that setting up a fit, reading its constants back and scoring
// the result cancel out. `measure` gives a reading (time, page faults) of now.
template <class Reading, class Measure>
Reading steady_steps(benchmark::State& state, Measure measure) {
  const EmlTree tree = bench_tree();
  const auto data = bench_data(static_cast<std::size_t>(state.range(0)));
  kvel_core::discoverer::Discoverer short_fit;
  short_fit.max_epochs = 10;
  kvel_core::discoverer::Discoverer long_fit;
  long_fit.max_epochs = 10 + kEpochs;
  const Reading r0 = measure();
  benchmark::DoNotOptimize(kvel_core::fit::fit_constants(tree, data, short_fit));
  const Reading r1 = measure();
  benchmark::DoNotOptimize(kvel_core::fit::fit_constants(tree, data, long_fit));
  const Reading r2 = measure();
  return (r2 - r1) - (r1 - r0);
}

// The counter "step" is the time of one steady-state step.
void BM_FitConstantsEngineSteadyStep(benchmark::State& state) {
  for (auto _ : state) {
    const auto elapsed = steady_steps<std::chrono::steady_clock::duration>(
        state, [] { return std::chrono::steady_clock::now().time_since_epoch(); });
    state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
  }
  set_step_counter(state);
}

// Minor page faults of one steady-state step.
void BM_FitStepPageFaults(benchmark::State& state) {
  long faults = 0;
  for (auto _ : state) faults += steady_steps<long>(state, minor_faults);
  state.counters["faults_per_step"] =
      static_cast<double>(faults) / static_cast<double>(state.iterations() * kEpochs);
}

// The same steps by hand: nodes in post-order with one buffer each.
class DirectFit {
 public:
  DirectFit(const EmlTree& tree, const kvel_core::dataset::DataSet& data) : data_(data), rows_(data.y.size()) {
    flatten(*tree.root);
    for (Node& n : nodes_) {
      n.value.assign(rows_, 0.0);
      n.grad.assign(rows_, 0.0);
      n.exp_a.assign(rows_, 0.0);
      n.b.assign(rows_, 0.0);
    }
  }

  void step() {
    forward();
    backward();
    adam();
  }

 private:
  struct Node {
    EmlNode::Kind kind = EmlNode::Kind::One;
    std::size_t left = 0, right = 0, index = 0;
    std::vector<double> value, grad, exp_a, b;
  };

  std::size_t flatten(const EmlNode& n) {
    Node node;
    node.kind = n.kind;
    if (n.kind == EmlNode::Kind::Eml) {
      node.left = flatten(*n.left);
      node.right = flatten(*n.right);
    } else if (n.kind == EmlNode::Kind::Var) {
      node.index = n.index;
    } else if (n.kind == EmlNode::Kind::Const) {
      node.index = consts_.size();
      consts_.push_back(n.value);
      m_.push_back(0.0);
      v_.push_back(0.0);
    }
    nodes_.push_back(std::move(node));
    return nodes_.size() - 1;
  }

  void forward() {
    for (Node& n : nodes_) {
      for (std::size_t i = 0; i < rows_; ++i) {
        switch (n.kind) {
          case EmlNode::Kind::One: n.value[i] = 1.0; break;
          case EmlNode::Kind::Var: n.value[i] = data_.x(i, n.index); break;
          case EmlNode::Kind::Const: n.value[i] = consts_[n.index]; break;
          case EmlNode::Kind::Eml: {
            const double a = std::max(std::min(nodes_[n.left].value[i], 50.0), -50.0);
            const double b = std::max(std::min(nodes_[n.right].value[i], std::numeric_limits<double>::max()), 1e-12);
            n.exp_a[i] = std::exp(a);
            n.b[i] = b;
            n.value[i] = n.exp_a[i] - std::log(b);
          }
        }
      }
      std::fill(n.grad.begin(), n.grad.end(), 0.0);
    }
  }

  void backward() {
    Node& root = nodes_.back();
    const double scale = 1.0 / static_cast<double>(rows_);
    for (std::size_t i = 0; i < rows_; ++i) {
      const double d = root.value[i] - data_.y(i);
      root.grad[i] = scale * d + scale * d;
    }
    std::fill(g_.begin(), g_.end(), 0.0);
    g_.resize(consts_.size(), 0.0);
    for (std::size_t k = nodes_.size(); k-- > 0;) {
      Node& n = nodes_[k];
      if (n.kind == EmlNode::Kind::Const) {
        for (std::size_t i = 0; i < rows_; ++i) g_[n.index] += n.grad[i];
      } else if (n.kind == EmlNode::Kind::Eml) {
        Node& l = nodes_[n.left];
        Node& r = nodes_[n.right];
        for (std::size_t i = 0; i < rows_; ++i) {
          const double a = l.value[i];
          if (a >= -50.0 && a <= 50.0) l.grad[i] += n.grad[i] * n.exp_a[i];
          if (r.value[i] >= 1e-12) r.grad[i] += -n.grad[i] / n.b[i];
        }
      }
    }
  }

  void adam() {
    t_ += 1.0;
    const double m_scale = 1.0 / (1.0 - std::pow(0.9, t_));
    const double v_scale = 1.0 / (1.0 - std::pow(0.999, t_));
    for (std::size_t k = 0; k < consts_.size(); ++k) {
      m_[k] = m_[k] * 0.9 + (1.0 - 0.9) * g_[k];
      v_[k] = v_[k] * 0.999 + ((1.0 - 0.999) * g_[k]) * g_[k];
      consts_[k] -= 0.05 * ((m_[k] * m_scale) / (std::sqrt(v_[k] * v_scale) + 1e-8));
    }
  }

  const kvel_core::dataset::DataSet& data_;
  std::size_t rows_;
  std::vector<Node> nodes_;
  std::vector<double> consts_, m_, v_, g_;
  double t_ = 1.0;
};

void BM_FitConstantsDirect(benchmark::State& state) {
  const EmlTree tree = bench_tree();
  const auto data = bench_data(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    DirectFit fit(tree, data);
    for (std::size_t e = 0; e < kEpochs; ++e) fit.step();
    benchmark::ClobberMemory();
  }
  set_step_counter(state);
}

}  // namespace

BENCHMARK(BM_FitConstantsEngine)->Arg(200)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FitConstantsDirect)->Arg(200)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FitConstantsEngineSteadyStep)->Arg(200)->Arg(10000)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FitStepPageFaults)->Arg(10000)->Unit(benchmark::kMillisecond);

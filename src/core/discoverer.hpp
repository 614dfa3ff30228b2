#pragma once
// The search configuration and the symbolic search over it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "core/cancel.hpp"
#include "core/dataset.hpp"
#include "core/error.hpp"
#include "core/forest.hpp"
#include "core/pareto.hpp"
#include "support/expected.hpp"

namespace kvel_core::discoverer {

// Written once by the Python constructor; the search reads max_depth,
// max_epochs and learning_rate and carries the rest.
struct Discoverer {
  std::size_t population = 256;
  std::size_t max_depth = 3;
  std::size_t max_epochs = 1000;
  double learning_rate = 0.05;
  double lambda_complexity = 0.001;
  double lambda_sparsity = 0.001;
  double lambda_parsimony = 0.001;
  double fixed_two = 2.0;
  double fixed_tenth = 0.1;
  std::uint64_t seed = 0;
  std::size_t top_k = 5;
  bool fixed_false = false;
  bool fixed_true = true;

  // Candidates are refined on `refine_threads` threads, by default (0) one
  // per CPU the process may use, as many as the memory available holds; the
  // front is the same for every count.
  kvel_support::Expected<pareto::ParetoFront, error::KvelError> fit(const dataset::DataSet& data,
                                                                    const cancel::CancelToken& cancel = cancel::never(),
                                                                    std::size_t refine_threads = 0) const;
};

// The topologies a search scores: depth max_depth clamped to 1..3, the first
// 512 semantically distinct trees over n_vars columns, in enumeration order.
std::vector<tamrix::tree::EmlTree> search_topologies(std::size_t max_depth, std::size_t n_vars);

// Scores one tree as it stands: (mse, solution), or nothing when evaluation
// fails or the error is not finite.
std::optional<std::pair<double, solution::Solution>> eval_one(const tamrix::tree::EmlTree& tree,
                                                              const forest::FeedColumns& columns,
                                                              const xt::xtensor<double, 1>& y);

}  // namespace kvel_core::discoverer

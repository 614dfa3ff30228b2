#include "core/discoverer.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "autograd/buffer_pool.hpp"
#include "core/fit.hpp"
#include "core/forest.hpp"
#include "core/refine.hpp"
#include "core/shown.hpp"
#include "core/machine.hpp"
#include "expression/symreg/dedupe.hpp"
#include "expression/symreg/topology.hpp"

namespace kvel_core::discoverer {
namespace {

using solution::Solution;
using tamrix::tree::EmlTree;

// Only the first 512 distinct topologies are scored. They are found by a lazy
// walk that stops there, so wide data never enumerates the whole depth-3 list;
// the result equals de-duplicating the full list and truncating it.
constexpr std::size_t kMaxTopologies = 512;

}  // namespace

std::vector<EmlTree> search_topologies(std::size_t max_depth, std::size_t n_vars) {
  const std::size_t depth = max_depth == 0 ? 1 : std::min<std::size_t>(max_depth, 3);
  return tamrix::symreg::topology::first_distinct_topologies(depth, n_vars, kMaxTopologies);
}

std::optional<std::pair<double, Solution>> eval_one(const EmlTree& tree, const forest::FeedColumns& columns,
                                                    const xt::xtensor<double, 1>& y) {
  auto prediction = forest::eval_tree(tree, columns);
  if (!prediction) return std::nullopt;
  const double error = fit::mean_squared_error(*prediction, y);
  if (!std::isfinite(error)) return std::nullopt;
  return std::make_pair(error, Solution{tree, error, static_cast<std::size_t>(tree.size())});
}

namespace {

// Scores every topology in order; the finite ones become candidates, with
// (error, topology index) in the score order.
void score_topologies(std::span<const EmlTree> topologies, const forest::FeedColumns& columns,
                      const xt::xtensor<double, 1>& y, const cancel::CancelToken& cancel,
                      std::vector<Solution>& candidates, std::vector<std::pair<double, std::size_t>>& score_order) {
  // Each scoring frees and allocates arrays of the same few sizes.
  const gradix_autograd::buffer_pool::BufferScope buffers;
  for (std::size_t i = 0; i < topologies.size(); ++i) {
    cancel.check();
    auto scored = eval_one(topologies[i], columns, y);
    if (!scored) continue;
    score_order.emplace_back(scored->first, i);
    candidates.push_back(std::move(scored->second));
  }
}

}  // namespace

kvel_support::Expected<pareto::ParetoFront, error::KvelError> Discoverer::fit(const dataset::DataSet& data,
                                                                            const cancel::CancelToken& cancel,
                                                                            std::size_t refine_threads) const {
  if (data.y.size() == 0) return kvel_support::unexpected(error::KvelError::shape_mismatch("empty dataset"));
  const std::vector<EmlTree> topologies = search_topologies(max_depth, data.x.shape(1));

  // The columns are copied into feedable arrays once for the whole search.
  const forest::FeedColumns columns = forest::FeedColumns::from_matrix(data.x);

  // Raw candidates: every topology with a finite error, in topology order.
  std::vector<Solution> candidates;
  std::vector<std::pair<double, std::size_t>> score_order;
  score_topologies(topologies, columns, data.y, cancel, candidates, score_order);
  std::stable_sort(score_order.begin(), score_order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });

  const std::size_t rows = data.y.size();
  const std::size_t threads =
      refine_threads != 0 ? refine_threads
                          : fits_at_once(machine::available_cpus(), machine::available_memory(), rows,
                                         machine::thread_reservation());
  const gradix_autograd::Array target = data.y;
  refine_candidates(score_order, topologies, fit::FitData{columns, target, data.y}, *this, candidates, cancel,
                    threads);

  // Each solution reports the error of the formula it shows, not of the
  // guarded form it was scored and fitted in.
  candidates = shown::score_as_shown(std::move(candidates), columns, data.y, cancel);
  if (candidates.empty())
    return kvel_support::unexpected(error::KvelError::not_converged("no finite-scoring candidate expression found"));
  return pareto::ParetoFront::from_candidates(std::move(candidates));
}

}  // namespace kvel_core::discoverer

#include "core/discoverer.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

#include "core/forest.hpp"
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
  const std::size_t n = y.size();
  const std::size_t count = std::min(prediction->size(), n);
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) {
    const double d = (*prediction)[i] - y(i);
    sum += d * d;
  }
  const double error = sum / static_cast<double>(std::max<std::size_t>(n, 1));
  if (!std::isfinite(error)) return std::nullopt;
  return std::make_pair(error, Solution{tree, error, static_cast<std::size_t>(tree.size())});
}

kvel_support::Expected<pareto::ParetoFront, error::KvelError> Discoverer::fit(const dataset::DataSet& data) const {
  if (data.y.size() == 0) return kvel_support::unexpected(error::KvelError::shape_mismatch("empty dataset"));
  const std::vector<EmlTree> topologies = search_topologies(max_depth, data.x.shape(1));

  // The columns are copied into feedable arrays once for the whole search.
  const forest::FeedColumns columns = forest::FeedColumns::from_matrix(data.x);

  // Raw candidates: every topology with a finite error, in topology order.
  std::vector<Solution> candidates;
  for (const EmlTree& tree : topologies) {
    auto scored = eval_one(tree, columns, data.y);
    if (scored) candidates.push_back(std::move(scored->second));
  }

  if (candidates.empty())
    return kvel_support::unexpected(error::KvelError::not_converged("no finite-scoring candidate expression found"));
  return pareto::ParetoFront::from_candidates(std::move(candidates));
}

}  // namespace kvel_core::discoverer

#include "core/refine.hpp"

#include <algorithm>
#include <cmath>
#include <new>
#include <numeric>
#include <optional>
#include <string>

#include "autograd/buffer_pool.hpp"
#include "core/fit.hpp"
#include "core/polish.hpp"
#include "core/worker_pool.hpp"
#include "support/panic.hpp"
#include "support/saturating.hpp"

namespace kvel_core::discoverer {

using solution::Solution;
using tamrix::tree::EmlNode;
using tamrix::tree::EmlTree;
using tamrix::tree::NodePtr;

namespace {

constexpr std::size_t kPolishIterations = 40;
constexpr double kSnapTolerance = 0.02;
// A fit's peak working set: its graphs, pools and bookkeeping, and 40 arrays
// of one double per row. The largest trees a search fits were measured at
// about 35 such arrays (bench/refine_memory.py: peak RSS per fit run side by
// side).
constexpr std::uint64_t kFitFixedBytes = 4u << 20;
constexpr std::uint64_t kFitBytesPerRow = 320;

// LaTeX that shows a NaN or an infinity in any case marks a useless formula.
bool shows_non_finite(std::string latex) {
  for (char& ch : latex) {
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  }
  return latex.find("nan") != std::string::npos || latex.find("inf") != std::string::npos;
}

// Fits, polishes and snaps one tree; nothing when the result is unusable.
std::optional<Solution> refine_one(const EmlTree& tree, const fit::FitData& data, const Discoverer& config,
                                   const cancel::CancelToken& cancel) {
  // One pool for the fit, the polishing and the snapping.
  const gradix_autograd::buffer_pool::BufferScope buffers;
  auto fitted = fit::fit_constants(tree, data, config, cancel);
  if (!fitted) return std::nullopt;
  polish::Polished polished =
      polish::lm_refine(fitted->tree, data.columns, data.y, kPolishIterations, loss::RobustLoss::squared(), cancel);
  polish::Polished snapped = polish::snap_constants(polished.tree, data.columns, data.y, kSnapTolerance, cancel);
  if (!std::isfinite(snapped.error)) return std::nullopt;
  Solution solution{std::move(snapped.tree), snapped.error, 0};
  solution.complexity = static_cast<std::size_t>(solution.tree.size());
  if (shows_non_finite(solution.latex())) return std::nullopt;
  return solution;
}

}  // namespace

std::uint64_t fit_working_set(std::size_t rows) {
  using kvel_support::saturating_add;
  using kvel_support::saturating_mul;
  return saturating_add(kFitFixedBytes, saturating_mul(kFitBytesPerRow, rows));
}

std::size_t fits_at_once(std::size_t cpus, const machine::MemoryRoom& room, std::size_t rows,
                         std::uint64_t thread_reservation) {
  std::size_t fits = std::max<std::size_t>(cpus, 1);
  const std::uint64_t each = fit_working_set(rows);
  if (room.committed) fits = std::min<std::uint64_t>(fits, *room.committed / 2 / each);
  // t fits take t working sets and t - 1 thread reservations:
  // 2·t·each + (t − 1)·reservation ≤ room. Saturated, a room near 2^64 (in
  // effect no limit) stays larger than any need.
  if (room.address_space) {
    using kvel_support::saturating_add;
    fits = std::min<std::uint64_t>(fits, saturating_add(*room.address_space, thread_reservation) /
                                             saturating_add(kvel_support::saturating_mul(2, each), thread_reservation));
  }
  return std::max<std::size_t>(fits, 1);
}

NodePtr constantize(const EmlNode& node) {
  switch (node.kind) {
    case EmlNode::Kind::One:
      return EmlNode::constant(1.0);
    case EmlNode::Kind::Const:
      return EmlNode::constant(node.value);
    case EmlNode::Kind::Var:
      return EmlNode::var(node.index);
    case EmlNode::Kind::Eml: {
      NodePtr left = constantize(*node.left);
      NodePtr right = constantize(*node.right);
      return EmlNode::eml(std::move(left), std::move(right));
    }
  }
  kvel_support::panic("unknown EML node kind");
}

std::size_t refine_candidates(std::span<const std::pair<double, std::size_t>> score_order,
                              std::span<const EmlTree> topologies, const fit::FitData& data,
                              const Discoverer& config, std::vector<Solution>& candidates,
                              const cancel::CancelToken& cancel, std::size_t threads) {
  // The trees to fit follow from the score order alone (a failed fit still
  // uses up the budget), so they are chosen first and fitted side by side.
  std::vector<EmlTree> to_fit;
  for (const auto& [score, index] : score_order) {
    if (to_fit.size() >= kRefineBudget) break;
    cancel.check();
    EmlTree tree = EmlTree::from_node(constantize(*topologies[index].root));
    const std::size_t count = fit::collect_consts(*tree.root).size();
    if (count == 0 || count > kMaxRefinedConsts) continue;
    to_fit.push_back(std::move(tree));
  }

  // On several threads the largest trees go first, so that no long fit is
  // left running alone at the end; each result keeps its place.
  std::vector<std::size_t> job_order(to_fit.size());
  std::iota(job_order.begin(), job_order.end(), std::size_t{0});
  if (threads > 1) {
    std::stable_sort(job_order.begin(), job_order.end(),
                     [&](std::size_t a, std::size_t b) { return to_fit[a].size() > to_fit[b].size(); });
  }
  std::vector<std::optional<Solution>> refined(to_fit.size());
  worker_pool::run_jobs(
      to_fit.size(), threads, cancel,
      [&](std::size_t i) {
        std::optional<Solution> result = refine_one(to_fit[i], data, config, cancel);
        // Made anew over the slot, never assigned to it: in a forked child a
        // job runs again over what a vanished thread may have half written.
        new (&refined[i]) std::optional<Solution>(std::move(result));
      },
      job_order);
  for (std::optional<Solution>& solution : refined)
    if (solution) candidates.push_back(std::move(*solution));
  return to_fit.size();
}

}  // namespace kvel_core::discoverer

#pragma once
// Refinement of the best-scoring raw topologies: their one-leaves become
// constants, which are fitted, polished and snapped; the survivors are
// appended to the candidate list.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "core/cancel.hpp"
#include "core/discoverer.hpp"
#include "core/fit.hpp"
#include "core/machine.hpp"
#include "core/solution.hpp"
#include "expression/tree.hpp"

namespace kvel_core::discoverer {

// At most this many fits per search, failed ones included.
inline constexpr std::size_t kRefineBudget = 24;
// Trees with fewer or more constants than this are not refined.
inline constexpr std::size_t kMaxRefinedConsts = 6;

// The memory one fit holds at its peak on `rows` rows (measured on the
// largest trees a search fits; it grows with the rows alone, since a fit
// reads the search's columns in place).
std::uint64_t fit_working_set(std::size_t rows);

// How many fits a search runs side by side: one per CPU, no more than half
// of the memory the process may still fill holds, and, under an
// address-space limit, no more than half of the address space left holds
// once every thread but the calling one is charged `thread_reservation` (a
// thread's stack and arena, machine::thread_reservation()); at least 1.
std::size_t fits_at_once(std::size_t cpus, const machine::MemoryRoom& room, std::size_t rows,
                         std::uint64_t thread_reservation);

// A deep copy in which every One leaf is a Const leaf of value 1.0.
tamrix::tree::NodePtr constantize(const tamrix::tree::EmlNode& node);

// Walks `score_order` (error, topology index) in order and appends each
// refined solution to `candidates`, in that order. Returns the number of fits
// attempted. The fits run on up to `threads` threads (the calling thread among
// them); the result is the same for every thread count.
std::size_t refine_candidates(std::span<const std::pair<double, std::size_t>> score_order,
                              std::span<const tamrix::tree::EmlTree> topologies, const fit::FitData& data,
                              const Discoverer& config, std::vector<solution::Solution>& candidates,
                              const cancel::CancelToken& cancel = cancel::never(), std::size_t threads = 1);

}  // namespace kvel_core::discoverer

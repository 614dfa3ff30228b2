// Running out of memory ends a search with std::bad_alloc, wherever it
// happens: never a crash, and never a front quietly computed without the
// step, trial or candidate that failed. What a failed call recycles leaves
// the next call as it would have been.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "core/discoverer.hpp"
#include "core/fit.hpp"
#include "core/polish.hpp"
#include "core/trial_eval.hpp"
#include "helpers/allocation_faults.hpp"
#include "helpers/eml_parse.hpp"
#include "helpers/front_text.hpp"
#include "helpers/grid_data.hpp"

namespace {

using kvel_core::dataset::DataSet;
using kvel_core::discoverer::Discoverer;
using kvel_core::forest::FeedColumns;

// Arrays of this many rows take 4 kB: every column-sized allocation counts.
constexpr std::size_t kRows = 500;
constexpr std::size_t kColumnBytes = kRows * sizeof(double);

DataSet exp_plus_two() {
  return kvel_test::grid_data(kRows, [](double v) { return std::exp(v) + 2.0; });
}

// Calls `call` with the nth large allocation failing, for nth = 1, 1 + step,
// ... until one run makes fewer large allocations than nth: each run where
// the failure happened must throw bad_alloc, the others return normally.
// Returns the number of runs that failed.
template <class Call>
std::size_t sweep(std::size_t step, Call&& call) {
  std::size_t failed = 0;
  for (std::size_t nth = 1;; nth += step) {
    const kvel_test::NthAllocationFails fault(nth, kColumnBytes);
    bool threw = false;
    try {
      call();
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    EXPECT_EQ(threw, fault.fired()) << "allocation " << nth;
    if (!fault.fired()) return failed;
    ++failed;
  }
}

// Polishing and snapping evaluate trial after trial in storage kept from one
// trial to the next; a trial that runs out of memory ends the call, and a
// later trial, or a later call, computes what it computes without the failure.
TEST(OutOfMemory, TrialsRecoverFromAFailedTrial) {
  const DataSet data = exp_plus_two();
  const FeedColumns columns = FeedColumns::from_matrix(data.x);
  const tamrix::tree::EmlTree tree = kvel_test::parse_tree("eml(eml(0.7, x0), 1.3)");
  kvel_core::polish::TrialEvaluator trials(tree, columns);
  const std::vector<double> values = {0.25, 1.5};
  const auto fresh = kvel_core::forest::eval_tree(kvel_core::polish::with_consts(tree, values), columns);
  ASSERT_TRUE(fresh.has_value());
  std::size_t failed = sweep(1, [&] { (void)trials.predict(values); });
  EXPECT_GT(failed, 0u);
  const auto again = trials.predict(values);
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(*again, *fresh);

  const auto lm = [&] {
    return kvel_core::polish::lm_refine(tree, columns, data.y, 40, kvel_core::loss::RobustLoss::squared());
  };
  const auto snap = [&] { return kvel_core::polish::snap_constants(tree, columns, data.y, 0.02); };
  const kvel_core::polish::Polished lm_fresh = lm();
  const kvel_core::polish::Polished snap_fresh = snap();
  EXPECT_GT(sweep(37, [&] { (void)lm(); }), 0u);
  EXPECT_GT(sweep(3, [&] { (void)snap(); }), 0u);
  const kvel_core::polish::Polished lm_again = lm();
  const kvel_core::polish::Polished snap_again = snap();
  EXPECT_EQ(lm_again.tree.to_string(), lm_fresh.tree.to_string());
  EXPECT_EQ(std::bit_cast<std::uint64_t>(lm_again.error), std::bit_cast<std::uint64_t>(lm_fresh.error));
  EXPECT_EQ(snap_again.tree.to_string(), snap_fresh.tree.to_string());
  EXPECT_EQ(std::bit_cast<std::uint64_t>(snap_again.error), std::bit_cast<std::uint64_t>(snap_fresh.error));
}

TEST(OutOfMemory, AFitThatRunsOutOfMemoryThrows) {
  const DataSet data = exp_plus_two();
  Discoverer config;
  config.max_epochs = 20;
  const tamrix::tree::EmlTree tree = kvel_test::parse_tree("eml(x0, 1.0)");
  const auto fresh = kvel_core::fit::fit_constants(tree, data, config);
  ASSERT_TRUE(fresh.has_value());
  EXPECT_GT(sweep(1, [&] { (void)kvel_core::fit::fit_constants(tree, data, config); }), 2u);
  const auto again = kvel_core::fit::fit_constants(tree, data, config);
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(again->tree.to_string(), fresh->tree.to_string());
  EXPECT_EQ(std::bit_cast<std::uint64_t>(again->mse), std::bit_cast<std::uint64_t>(fresh->mse));
}

// One injected failure per search, at positions spread over all of its large
// allocations (scoring, fitting, polishing, snapping, the final pass), on one
// thread and on several: bad_alloc every time the failure happened.
TEST(OutOfMemory, ASearchThatRunsOutOfMemoryThrowsBadAlloc) {
  const DataSet data = exp_plus_two();
  Discoverer config;
  config.max_depth = 2;
  config.max_epochs = 60;
  for (const std::size_t threads : {1u, 3u}) {
    const auto reference = config.fit(data, kvel_core::cancel::never(), threads);
    ASSERT_TRUE(reference.has_value());
    std::size_t runs = 0;
    const std::size_t failed = sweep(41, [&] {
      ++runs;
      const auto front = config.fit(data, kvel_core::cancel::never(), threads);
      ASSERT_TRUE(front.has_value());
      EXPECT_EQ(kvel_test::describe(*front), kvel_test::describe(*reference));
    });
    EXPECT_GT(failed, 10u) << threads;
    EXPECT_EQ(runs, failed + 1);
  }
}

// One failed allocation of any size per search (enumeration and
// de-duplication of depth-3 topologies with their normal forms, scoring,
// fitting, polishing, snapping, the final pass), at a coarse step over all of
// them, on one thread and on several: every failure ends the search with
// bad_alloc. The exceptions are nothrow allocations, whose callers do
// without them: the buffer pool's bookkeeping (the block is freed instead of
// kept) and the buffer of a stable sort (which then sorts in place). Each of
// those, failed in turn on one thread, leaves the front as it was.
TEST(OutOfMemory, AFailedAllocationOfAnySizeEndsTheSearch) {
  using Forms = kvel_test::NthAllocationFails::Forms;
  const DataSet data = kvel_test::grid_data(100, [](double v) { return std::exp(v) + 2.0; });
  Discoverer config;
  config.max_depth = 3;
  config.max_epochs = 10;
  for (const std::size_t threads : {1u, 3u}) {
    const auto reference = config.fit(data, kvel_core::cancel::never(), threads);
    ASSERT_TRUE(reference.has_value());
    const auto count = [&](Forms forms) {
      const kvel_test::NthAllocationFails counting(static_cast<std::size_t>(-1), 0, forms);
      EXPECT_TRUE(config.fit(data, kvel_core::cancel::never(), threads).has_value());
      return counting.counted();
    };
    const std::size_t total = count(Forms::All);
    const std::size_t step = total / 120 | 1;
    std::size_t threw = 0;
    for (std::size_t nth = 1; nth <= total; nth += step) {
      const kvel_test::NthAllocationFails fault(nth, 0);
      try {
        const auto front = config.fit(data, kvel_core::cancel::never(), threads);
        EXPECT_TRUE(!fault.fired() || fault.fired_nothrow()) << "allocation " << nth << " failed unseen";
        ASSERT_TRUE(front.has_value());
        EXPECT_EQ(kvel_test::describe(*front), kvel_test::describe(*reference)) << "allocation " << nth;
      } catch (const std::bad_alloc&) {
        EXPECT_TRUE(fault.fired() && !fault.fired_nothrow()) << "allocation " << nth;
        ++threw;
      }
    }
    EXPECT_GT(threw, 100u) << threads << " threads, " << total << " allocations";

    if (threads != 1) continue;  // the same nothrow allocations, on more threads
    const std::size_t optional = count(Forms::NoThrowOnly);
    EXPECT_GT(optional, 0u);
    for (std::size_t nth = 1; nth <= optional; ++nth) {
      const kvel_test::NthAllocationFails fault(nth, 0, Forms::NoThrowOnly);
      const auto front = config.fit(data, kvel_core::cancel::never(), threads);
      ASSERT_TRUE(front.has_value());
      EXPECT_EQ(kvel_test::describe(*front), kvel_test::describe(*reference)) << "nothrow allocation " << nth;
    }
  }
}

}  // namespace

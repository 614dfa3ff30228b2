#include "core/worker_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <thread>
#include <vector>

#include "support/panic.hpp"

namespace {

using kvel_core::cancel::Cancelled;
using kvel_core::cancel::CancelToken;
using kvel_core::worker_pool::run_jobs;

TEST(WorkerPool, RunsEveryJobOnceForEveryThreadCount) {
  for (const std::size_t threads : {0u, 1u, 2u, 5u, 64u}) {
    std::vector<std::atomic<int>> runs(24);
    run_jobs(runs.size(), threads, kvel_core::cancel::never(), [&](std::size_t i) { ++runs[i]; });
    for (const auto& r : runs) EXPECT_EQ(r.load(), 1) << threads;
  }
  run_jobs(0, 4, kvel_core::cancel::never(), [](std::size_t) { FAIL(); });
}

TEST(WorkerPool, OneThreadRunsInOrderOnTheCallingThread) {
  std::vector<std::size_t> order;
  const auto caller = std::this_thread::get_id();
  run_jobs(5, 1, kvel_core::cancel::never(), [&](std::size_t i) {
    EXPECT_EQ(std::this_thread::get_id(), caller);
    order.push_back(i);
  });
  EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3, 4}));
}

// A job's exception reaches the caller whichever thread ran the job.
TEST(WorkerPool, CarriesAJobsExceptionToTheCaller) {
  for (const std::size_t failing : {0u, 3u, 7u}) {
    EXPECT_THROW(run_jobs(8, 3, kvel_core::cancel::never(),
                          [&](std::size_t i) {
                            if (i == failing) kvel_support::panic("job failed");
                          }),
                 kvel_support::FatalError);
    EXPECT_THROW(run_jobs(8, 3, kvel_core::cancel::never(),
                          [&](std::size_t i) {
                            if (i == failing) throw std::bad_alloc();
                          }),
                 std::bad_alloc);
  }
}

// Workers see the stop at their next poll; the caller rethrows Cancelled.
TEST(WorkerPool, CallerStopsTheWorkersAndRethrowsCancelled) {
  std::atomic<bool> stop{false};
  const CancelToken token([&] { return stop.load(); });
  std::atomic<int> started{0};
  EXPECT_THROW(run_jobs(4, 4, token,
                        [&](std::size_t) {
                          ++started;
                          if (started == 4) stop = true;
                          for (;;) {
                            token.check();
                            std::this_thread::yield();
                          }
                        }),
               Cancelled);
  EXPECT_TRUE(token.stopped());
}

}  // namespace

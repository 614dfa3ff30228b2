#include "core/worker_pool.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>
#include <vector>

#include "helpers/child_process.hpp"
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

// Which failure surfaces depends neither on the thread count nor on the
// order the jobs start in: the lowest failing index, even when a higher one
// fails first.
TEST(WorkerPool, TheLowestFailingJobWinsOnEveryThreadCount) {
  const std::vector<std::size_t> backwards = {7, 6, 5, 4, 3, 2, 1, 0};
  for (const std::size_t threads : {1u, 2u, 7u}) {
    std::vector<std::atomic<int>> runs(8);
    try {
      run_jobs(
          8, threads, kvel_core::cancel::never(),
          [&](std::size_t i) {
            ++runs[i];
            if (i == 5) throw std::bad_alloc();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (i == 2) kvel_support::panic("job 2 failed");
          },
          backwards);
      ADD_FAILURE() << "no exception on " << threads << " threads";
    } catch (const kvel_support::FatalError& e) {
      EXPECT_STREQ(e.what(), "job 2 failed") << threads;
    } catch (const std::bad_alloc&) {
      ADD_FAILURE() << "job 5's failure surfaced on " << threads << " threads";
    }
    for (std::size_t i = 0; i < 2; ++i) EXPECT_EQ(runs[i].load(), 1) << "job " << i << " on " << threads;
    if (threads == 1) {
      EXPECT_EQ(runs[3].load(), 0);
    }
  }
}

// A job that fails once the token has stopped (on its way out, say) does not
// turn the stop into another error.
TEST(WorkerPool, CancelledWinsOverFailuresAfterTheStop) {
  for (const std::size_t threads : {1u, 3u}) {
    const CancelToken token([] { return true; });
    // Only the calling thread asks the hook, in a job of its own or while it
    // waits; every job fails once the stop is known.
    EXPECT_THROW(run_jobs(6, threads, token,
                          [&](std::size_t i) {
                            try {
                              token.check();
                            } catch (const Cancelled&) {
                            }
                            while (!token.stopped()) std::this_thread::yield();
                            if (i % 2 == 0) kvel_support::panic("failed after the stop");
                            throw std::bad_alloc();
                          }),
                 Cancelled)
        << threads;
    EXPECT_TRUE(token.stopped());
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

// After a run whose hook forked at its `fork_at`-th poll: the child exits
// with whether its results are right; the parent checks its own and that
// the child ended well.
void check_both_sides(pid_t child, const std::vector<long>& results, const std::vector<long>& expected,
                      std::size_t threads, int fork_at) {
  if (child == 0) ::_exit(results == expected ? 0 : 1);
  EXPECT_EQ(results, expected) << threads << " threads, fork at poll " << fork_at;
  ASSERT_GT(child, 0) << "fork failed";
  const kvel_test::ChildEnd end = kvel_test::wait_for_child(child, std::chrono::seconds(120));
  EXPECT_TRUE(end.exited_with_zero())
      << threads << " threads, fork at poll " << fork_at << (end.hung ? ": the child waits for workers" : "");
}

// The token's hook runs on the calling thread and may fork (a signal handler
// of a daemon, say), inside one of the caller's own jobs. The child has none
// of the workers: it finishes every job alone, the ones they had taken and
// not finished included, and gets the results of an undisturbed run; the
// parent is not disturbed either. No job ends before the fork, so wherever
// it comes the workers hold unfinished jobs, and the caller asks its hook
// until it does.
TEST(WorkerPool, AChildForkedFromTheHookFinishesEveryJobAlone) {
  constexpr std::size_t kJobs = 10;
  for (const std::size_t threads : {2u, 4u}) {
    for (const int fork_at : {1, 2, 5, 12, 30, 200}) {
      int polls = 0;
      pid_t child = -1;
      std::atomic<bool> forked{false};
      const CancelToken token([&] {
        if (++polls == fork_at) {
          child = ::fork();
          forked.store(true, std::memory_order_release);
        }
        return false;
      });
      std::vector<long> results(kJobs, -1);
      run_jobs(kJobs, threads, token, [&](std::size_t i) {
        long value = 0;
        for (std::size_t step = 0; step < 2 * (kJobs - i); ++step) {
          token.check();
          value += static_cast<long>(i + step);
        }
        while (!forked.load(std::memory_order_acquire)) {
          token.check();
          std::this_thread::yield();
        }
        results[i] = value;
      });
      std::vector<long> expected(kJobs);
      for (std::size_t i = 0; i < kJobs; ++i)
        for (std::size_t step = 0; step < 2 * (kJobs - i); ++step) expected[i] += static_cast<long>(i + step);
      check_both_sides(child, results, expected, threads, fork_at);
    }
  }
}

// As above, with the fork while the caller waits for its workers, holding no
// job of its own: there is one job per thread, the workers' jobs run until
// the fork, and the caller's own job ends once every worker holds one.
TEST(WorkerPool, AChildForkedWhileTheCallerWaitsFinishesEveryJobAlone) {
  for (const std::size_t threads : {2u, 4u}) {
    for (const int fork_at : {1, 3}) {
      const std::thread::id caller = std::this_thread::get_id();
      std::atomic<std::size_t> workers_holding{0};
      bool caller_holds_a_job = false;
      int polls_holding_none = 0;
      pid_t child = -1;
      std::atomic<bool> forked{false};
      const CancelToken token([&] {
        if (!caller_holds_a_job && ++polls_holding_none == fork_at) {
          child = ::fork();
          forked.store(true, std::memory_order_release);
        }
        return false;
      });
      const auto value = [](std::size_t i) { return static_cast<long>(7 * i + 3); };
      std::vector<long> results(threads, -1);
      run_jobs(threads, threads, token, [&](std::size_t i) {
        if (std::this_thread::get_id() != caller) {
          ++workers_holding;
          while (!forked.load(std::memory_order_acquire)) std::this_thread::yield();
        } else if (!forked.load(std::memory_order_acquire)) {
          caller_holds_a_job = true;
          while (workers_holding.load() < threads - 1) {
            token.check();
            std::this_thread::yield();
          }
          caller_holds_a_job = false;
        }
        results[i] = value(i);
      });
      std::vector<long> expected(threads);
      for (std::size_t i = 0; i < threads; ++i) expected[i] = value(i);
      check_both_sides(child, results, expected, threads, fork_at);
    }
  }
}

}  // namespace

#pragma once
// Running independent jobs side by side while the calling thread keeps
// answering for the search's cancellation token.

#include <cstddef>
#include <functional>
#include <span>

#include "core/cancel.hpp"

namespace kvel_core::worker_pool {

// Runs job(0) .. job(count - 1), each at most once, on at most `threads`
// threads (never more than `count`); the calling thread is one of them and
// takes jobs too. With one thread every job runs in index order on the
// calling thread; with several they are started in `order` (a permutation of
// the indices; index order when empty). Jobs must not depend on one another;
// each writes its own result.
//
// The calling thread asks `cancel` between its own jobs' polls and while it
// waits for the others. When jobs fail, what is rethrown here is the same
// for every thread count: Cancelled once the token has stopped, whatever
// else failed; otherwise the exception of the lowest failing job index (a
// job above a failed one is not started, one below still runs).
//
// Should the process fork while the jobs run (the token's hook may run
// anything, a fork among it), the child goes on alone: the jobs that the
// parent's other threads had taken and not finished run again on its one
// thread, so the child gets the same results. A job that may run twice
// writes its result without reading what an earlier run left there.
void run_jobs(std::size_t count, std::size_t threads, const cancel::CancelToken& cancel,
              const std::function<void(std::size_t)>& job, std::span<const std::size_t> order = {});

}  // namespace kvel_core::worker_pool

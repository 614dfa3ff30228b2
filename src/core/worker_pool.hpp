#pragma once
// Running independent jobs side by side while the calling thread keeps
// answering for the search's cancellation token.

#include <cstddef>
#include <functional>

#include "core/cancel.hpp"

namespace kvel_core::worker_pool {

// The number of CPUs this process may run on (at least 1).
std::size_t available_cpus();

// Runs job(0) .. job(count - 1), each exactly once, on at most `threads`
// threads (never more than `count`); the calling thread is one of them and
// takes jobs too. With one thread every job runs in index order on the
// calling thread. Jobs must not depend on one another; each writes its own
// result.
//
// The calling thread asks `cancel` between its own jobs' polls and while it
// waits for the others. Once any job throws (Cancelled, a fatal error,
// bad_alloc), no further job starts; the threads are joined and the exception
// is rethrown here: the calling thread's own, else that of the lowest job
// index.
void run_jobs(std::size_t count, std::size_t threads, const cancel::CancelToken& cancel,
              const std::function<void(std::size_t)>& job);

}  // namespace kvel_core::worker_pool

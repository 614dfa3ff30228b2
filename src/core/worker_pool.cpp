#include "core/worker_pool.hpp"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace kvel_core::worker_pool {

namespace {

// How often a waiting calling thread asks the token.
constexpr std::chrono::milliseconds kPollInterval{5};

class JobQueue {
 public:
  JobQueue(std::size_t count, const std::function<void(std::size_t)>& job) : count_(count), job_(job), errors_(count) {}

  // Takes jobs until none is left or one has failed. Returns normally even
  // when a job threw: the exception is kept under the job's index.
  void work() {
    for (;;) {
      if (failed_.load(std::memory_order_acquire)) return;
      const std::size_t i = next_.fetch_add(1, std::memory_order_relaxed);
      if (i >= count_) return;
      try {
        job_(i);
      } catch (...) {
        errors_[i] = std::current_exception();
        failed_.store(true, std::memory_order_release);
      }
    }
  }

  void worker_done() {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++workers_done_;
    done_.notify_all();
  }

  // Waits up to one poll interval for `workers` workers to finish.
  bool wait_for_workers(std::size_t workers) {
    std::unique_lock<std::mutex> lock(mutex_);
    return done_.wait_for(lock, kPollInterval, [&] { return workers_done_ == workers; });
  }

  void stop_new_jobs() { failed_.store(true, std::memory_order_release); }

  // The exception of the lowest job index, if any.
  std::exception_ptr first_error() const {
    for (const std::exception_ptr& e : errors_)
      if (e) return e;
    return nullptr;
  }

 private:
  const std::size_t count_;
  const std::function<void(std::size_t)>& job_;
  std::atomic<std::size_t> next_{0};
  std::atomic<bool> failed_{false};
  std::vector<std::exception_ptr> errors_;  // each written only by its job's thread
  std::mutex mutex_;
  std::condition_variable done_;
  std::size_t workers_done_ = 0;
};

}  // namespace

std::size_t available_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  return static_cast<std::size_t>(std::max(CPU_COUNT(&set), 1));
}

void run_jobs(std::size_t count, std::size_t threads, const cancel::CancelToken& cancel,
              const std::function<void(std::size_t)>& job) {
  const std::size_t workers = std::min(threads, count) > 1 ? std::min(threads, count) - 1 : 0;
  if (workers == 0) {
    for (std::size_t i = 0; i < count; ++i) job(i);
    return;
  }

  JobQueue queue(count, job);
  std::vector<std::thread> pool;
  pool.reserve(workers);
  for (std::size_t w = 0; w < workers; ++w) {
    try {
      pool.emplace_back([&queue] {
        queue.work();
        queue.worker_done();
      });
    } catch (const std::exception&) {
      // No more threads to be had (system_error, or bad_alloc for a thread's
      // state): the ones running share the jobs.
      break;
    }
  }
  std::exception_ptr own_error;
  try {
    queue.work();
    while (!queue.wait_for_workers(pool.size())) cancel.check();
  } catch (...) {
    // Cancelled from the token: the workers see it at their next poll.
    own_error = std::current_exception();
    queue.stop_new_jobs();
  }
  for (std::thread& t : pool) t.join();
  if (own_error) std::rethrow_exception(own_error);
  if (const std::exception_ptr error = queue.first_error()) std::rethrow_exception(error);
}

}  // namespace kvel_core::worker_pool

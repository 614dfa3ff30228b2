#include "core/worker_pool.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "support/panic.hpp"

namespace kvel_core::worker_pool {

namespace {

// How often a waiting calling thread asks the token.
constexpr std::chrono::milliseconds kPollInterval{5};

class JobQueue {
 public:
  JobQueue(std::size_t count, const std::function<void(std::size_t)>& job, std::span<const std::size_t> order,
           const cancel::CancelToken& cancel)
      : count_(count), job_(job), order_(order), cancel_(cancel), errors_(count), lowest_failed_(count) {}

  // Takes jobs until none is left or the token has stopped. Returns normally
  // even when a job threw: the exception is kept under the job's index.
  void work() {
    for (;;) {
      if (cancel_.stopped()) return;
      const std::size_t k = next_.fetch_add(1, std::memory_order_relaxed);
      if (k >= count_) return;
      const std::size_t i = order_.empty() ? k : order_[k];
      // Past a failed job its error can no longer be the one reported.
      if (i > lowest_failed_.load(std::memory_order_acquire)) continue;
      try {
        job_(i);
      } catch (...) {
        errors_[i] = std::current_exception();
        std::size_t lowest = lowest_failed_.load(std::memory_order_relaxed);
        while (i < lowest && !lowest_failed_.compare_exchange_weak(lowest, i, std::memory_order_acq_rel)) {
        }
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

  // The exception of the lowest failing job index, if any.
  std::exception_ptr first_error() const {
    const std::size_t lowest = lowest_failed_.load(std::memory_order_acquire);
    return lowest < count_ ? errors_[lowest] : nullptr;
  }

 private:
  const std::size_t count_;
  const std::function<void(std::size_t)>& job_;
  const std::span<const std::size_t> order_;
  const cancel::CancelToken& cancel_;
  std::atomic<std::size_t> next_{0};
  std::vector<std::exception_ptr> errors_;  // each written only by its job's thread
  std::atomic<std::size_t> lowest_failed_;  // count_ while none has failed
  std::mutex mutex_;
  std::condition_variable done_;
  std::size_t workers_done_ = 0;
};

// Cancelled wins over any other failure once the token has stopped: a job
// that failed on its way out must not turn a stop into another error.
[[noreturn]] void rethrow(std::exception_ptr error, const cancel::CancelToken& cancel) {
  if (cancel.stopped()) throw cancel::Cancelled{};
  std::rethrow_exception(error);
}

}  // namespace

void run_jobs(std::size_t count, std::size_t threads, const cancel::CancelToken& cancel,
              const std::function<void(std::size_t)>& job, std::span<const std::size_t> order) {
  if (!order.empty() && order.size() != count) kvel_support::panic("run_jobs: the order does not list every job");
  const std::size_t workers = std::min(threads, count) > 1 ? std::min(threads, count) - 1 : 0;
  if (workers == 0) {
    try {
      for (std::size_t i = 0; i < count; ++i) job(i);
    } catch (...) {
      rethrow(std::current_exception(), cancel);
    }
    return;
  }

  JobQueue queue(count, job, order, cancel);
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
    // Cancelled from the token: the workers see it at their next poll and
    // start no further job.
    own_error = std::current_exception();
  }
  for (std::thread& t : pool) t.join();
  if (own_error) rethrow(own_error, cancel);
  if (const std::exception_ptr error = queue.first_error()) rethrow(error, cancel);
}

}  // namespace kvel_core::worker_pool

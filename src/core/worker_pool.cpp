#include "core/worker_pool.hpp"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
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
      : count_(count),
        job_(job),
        order_(order),
        cancel_(cancel),
        errors_(count),
        done_(std::make_unique<std::atomic<bool>[]>(count)),
        lowest_failed_(count) {}

  // Takes jobs until none is left or the token has stopped. Returns normally
  // even when a job threw: the exception is kept under the job's index.
  void work() {
    for (;;) {
      if (cancel_.stopped()) return;
      const std::size_t k = next_.fetch_add(1, std::memory_order_relaxed);
      if (k >= count_) return;
      run_one(job_at(k));
    }
  }

  // In a child forked while the jobs ran, on its only thread: the parent's
  // other threads are gone, and with them the jobs they had taken and not
  // finished. Those run again here; what a vanished thread left half done
  // is given up (a job rewrites its own result from scratch).
  void finish_alone() {
    std::size_t lowest = count_;
    for (std::size_t i = count_; i-- > 0;) {
      if (!done_[i].load(std::memory_order_acquire)) errors_[i] = nullptr;
      if (errors_[i]) lowest = i;
    }
    lowest_failed_.store(lowest, std::memory_order_release);
    for (std::size_t k = 0; k < count_; ++k) {
      if (cancel_.stopped()) return;
      const std::size_t i = job_at(k);
      if (!done_[i].load(std::memory_order_acquire)) run_one(i);
    }
  }

  void worker_done() {
    const std::lock_guard<std::mutex> lock(mutex_);
    ++workers_done_;
    done_cv_.notify_all();
  }

  // Waits up to one poll interval for `workers` workers to finish.
  bool wait_for_workers(std::size_t workers) {
    std::unique_lock<std::mutex> lock(mutex_);
    return done_cv_.wait_for(lock, kPollInterval, [&] { return workers_done_ == workers; });
  }

  // The exception of the lowest failing job index, if any.
  std::exception_ptr first_error() const {
    const std::size_t lowest = lowest_failed_.load(std::memory_order_acquire);
    return lowest < count_ ? errors_[lowest] : nullptr;
  }

 private:
  std::size_t job_at(std::size_t k) const { return order_.empty() ? k : order_[k]; }

  void run_one(std::size_t i) {
    // Past a failed job its error can no longer be the one reported.
    if (i > lowest_failed_.load(std::memory_order_acquire)) return;
    try {
      job_(i);
    } catch (...) {
      errors_[i] = std::current_exception();
      std::size_t lowest = lowest_failed_.load(std::memory_order_relaxed);
      while (i < lowest && !lowest_failed_.compare_exchange_weak(lowest, i, std::memory_order_acq_rel)) {
      }
    }
    done_[i].store(true, std::memory_order_release);
  }

  const std::size_t count_;
  const std::function<void(std::size_t)>& job_;
  const std::span<const std::size_t> order_;
  const cancel::CancelToken& cancel_;
  std::atomic<std::size_t> next_{0};
  std::vector<std::exception_ptr> errors_;         // each written only by its job's thread
  std::unique_ptr<std::atomic<bool>[]> done_;      // set once a job's result or error is in place
  std::atomic<std::size_t> lowest_failed_;         // count_ while none has failed
  std::mutex mutex_;
  std::condition_variable done_cv_;
  std::size_t workers_done_ = 0;
};

// The worker threads. POSIX threads rather than std::thread: a child forked
// while they run must be able to forget them (it has none of them, and a
// std::thread may be neither joined nor dropped there).
class Workers {
 public:
  // Starts up to `count` workers on `queue`; fewer when the system gives no
  // more threads (the ones running share the jobs).
  Workers(JobQueue& queue, std::size_t count) : process_(::getpid()) {
    threads_.reserve(count);
    for (std::size_t w = 0; w < count; ++w) {
      pthread_t thread;
      if (::pthread_create(&thread, nullptr, &Workers::run, &queue) != 0) break;
      threads_.push_back(thread);
    }
  }
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;
  // Waits for every worker; a forked child, which has none of them, forgets them.
  ~Workers() {
    if (!in_forked_child())
      for (const pthread_t thread : threads_) ::pthread_join(thread, nullptr);
  }

  std::size_t size() const noexcept { return threads_.size(); }
  // Whether this is a child forked since the workers started.
  bool in_forked_child() const noexcept { return ::getpid() != process_; }

 private:
  static void* run(void* queue) {
    auto& q = *static_cast<JobQueue*>(queue);
    q.work();
    q.worker_done();
    return nullptr;
  }

  pid_t process_;
  std::vector<pthread_t> threads_;
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
  std::exception_ptr own_error;
  {
    Workers pool(queue, workers);
    // The token's hook may run anything on this thread, a fork among it (a
    // signal handler of a daemon, say); a forked child goes on without the
    // workers.
    try {
      queue.work();
      while (!pool.in_forked_child() && !queue.wait_for_workers(pool.size())) cancel.check();
      if (pool.in_forked_child()) queue.finish_alone();
    } catch (...) {
      // Cancelled from the token: the workers see it at their next poll and
      // start no further job.
      own_error = std::current_exception();
    }
  }  // the workers are joined
  if (own_error) rethrow(own_error, cancel);
  if (const std::exception_ptr error = queue.first_error()) rethrow(error, cancel);
}

}  // namespace kvel_core::worker_pool

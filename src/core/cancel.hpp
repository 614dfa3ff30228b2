#pragma once
// Stopping a running search on its caller's request.
//
// The search asks its token at cheap points (between scored topologies,
// between fits, once per training step and per Levenberg–Marquardt
// iteration). The caller's hook is asked only on the thread that made the
// token, since a hook may need that thread (to take an interpreter lock, for
// instance); every other thread of the search sees the answer once it has
// been given. A search whose hook never says stop computes exactly what it
// computes without one.

#include <atomic>
#include <functional>
#include <thread>

#include "support/made_at_load.hpp"

namespace kvel_core::cancel {

// Thrown through the search when the hook says stop. Nothing inside the
// search catches it; every guard on the way out restores what it changed.
struct Cancelled {};

class CancelToken {
 public:
  using Hook = std::function<bool()>;

  // A token that never stops anything.
  CancelToken() = default;
  // `hook` returns true when the search should stop.
  explicit CancelToken(Hook hook) : hook_(std::move(hook)), owner_(std::this_thread::get_id()) {}
  CancelToken(const CancelToken&) = delete;
  CancelToken& operator=(const CancelToken&) = delete;

  // Throws Cancelled once the hook has said stop.
  void check() const {
    if (hook_ && !stop_.load(std::memory_order_relaxed) && std::this_thread::get_id() == owner_ && hook_())
      stop_.store(true, std::memory_order_relaxed);
    if (stop_.load(std::memory_order_relaxed)) throw Cancelled{};
  }
  bool stopped() const noexcept { return stop_.load(std::memory_order_relaxed); }

 private:
  Hook hook_;
  std::thread::id owner_;
  mutable std::atomic<bool> stop_{false};
};

// The shared token that never stops anything: the default of every search step.
inline const CancelToken& never() {
  static const CancelToken* const token = new CancelToken;  // never destroyed, like every shared instance
  return *token;
}
inline const kvel_support::MadeAtLoad<&never> never_made_at_load;

}  // namespace kvel_core::cancel

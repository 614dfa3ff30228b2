#include "support/fork_handlers.hpp"

#include <pthread.h>

#include <vector>

namespace kvel_support {

namespace {

struct Held {
  std::mutex* mutex;
  void (*in_child)();
};

// Never destroyed: a fork may come at any time until the process ends.
struct Registry {
  std::mutex lock;  // taken while registering and from before a fork to after it
  std::vector<Held> held;
};

Registry& registry() {
  static Registry* const r = new Registry;
  return *r;
}

void before_fork() {
  Registry& r = registry();
  r.lock.lock();
  for (const Held& h : r.held) h.mutex->lock();
}

void release_all() {
  Registry& r = registry();
  for (auto h = r.held.rbegin(); h != r.held.rend(); ++h) h->mutex->unlock();
  r.lock.unlock();
}

void in_child() {
  for (const Held& h : registry().held)
    if (h.in_child != nullptr) h.in_child();
  release_all();
}

}  // namespace

void hold_across_fork(std::mutex& mutex, void (*child)()) {
  static const bool installed = [] { return ::pthread_atfork(before_fork, release_all, in_child) == 0; }();
  (void)installed;
  Registry& r = registry();
  const std::lock_guard<std::mutex> lock(r.lock);
  r.held.push_back(Held{&mutex, child});
}

}  // namespace kvel_support

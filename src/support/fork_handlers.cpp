#include "support/fork_handlers.hpp"

#include <pthread.h>

#include <vector>

#include "support/made_at_load.hpp"

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

void before_fork();
void release_all();
void in_child();

// The handlers are installed with the registry, while the library loads: a
// handler registered while a fork is under way would not run for that fork.
Registry& registry() {
  static Registry* const r = [] {
    auto* made = new Registry;
    // It fails only for want of memory, while the library loads.
    (void)::pthread_atfork(before_fork, release_all, in_child);
    return made;
  }();
  return *r;
}
const MadeAtLoad<&registry> registry_made_at_load;

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
  Registry& r = registry();
  const std::lock_guard<std::mutex> lock(r.lock);
  r.held.push_back(Held{&mutex, child});
}

}  // namespace kvel_support

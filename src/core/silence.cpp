#include "core/silence.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <mutex>

#include "support/fork_handlers.hpp"
#include "support/made_at_load.hpp"

namespace kvel_core::silence {

namespace {

struct Redirection {
  std::mutex mutex;
  int active_guards = 0;
  int saved = -1;  // the duplicate of descriptor 1 taken by the first guard
  // Guards of an earlier generation belong to threads a fork left behind.
  unsigned long generation = 0;
};

void restore_in_child();

Redirection& redirection() {
  // Never destroyed: a guard may be released during process exit.
  static Redirection* const state = [] {
    auto* r = new Redirection;
    kvel_support::hold_across_fork(r->mutex, restore_in_child);
    return r;
  }();
  return *state;
}
const kvel_support::MadeAtLoad<&redirection> redirection_made_at_load;

// Descriptor 1 back to what the first guard saved.
void put_back(Redirection& r) {
  ::dup2(r.saved, 1);
  ::close(r.saved);
  r.saved = -1;
}

// A forked child keeps none of its parent's other threads, so none of the
// guards they held: descriptor 1 goes back to what it was before them.
void restore_in_child() {
  Redirection& r = redirection();
  if (r.active_guards > 0) put_back(r);
  r.active_guards = 0;
  ++r.generation;
}

void flush_stdout() {
  std::cout.flush();
  std::fflush(stdout);
}

}  // namespace

std::optional<SilenceStdout> SilenceStdout::create() {
  Redirection& r = redirection();
  const std::lock_guard<std::mutex> lock(r.mutex);
  if (r.active_guards == 0) {
    flush_stdout();
    // Neither descriptor may outlive an exec: a process started meanwhile
    // would hold the real standard output open through a descriptor it
    // never asked for. Descriptor 1 itself is inherited as /dev/null.
    const int saved = ::fcntl(1, F_DUPFD_CLOEXEC, 0);
    if (saved < 0) return std::nullopt;
    const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null_fd < 0) {
      ::close(saved);
      return std::nullopt;
    }
    const int redirected = ::dup2(null_fd, 1);
    ::close(null_fd);
    if (redirected < 0) {
      ::close(saved);
      return std::nullopt;
    }
    r.saved = saved;
  }
  ++r.active_guards;
  return SilenceStdout(r.generation);
}

SilenceStdout::~SilenceStdout() {
  if (!active_) return;
  Redirection& r = redirection();
  const std::lock_guard<std::mutex> lock(r.mutex);
  if (generation_ != r.generation) return;  // made before a fork, in the parent
  if (--r.active_guards > 0) return;
  flush_stdout();
  put_back(r);
}

}  // namespace kvel_core::silence

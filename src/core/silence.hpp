#pragma once
// The stdout guard: while at least one guard lives, file descriptor 1 of the
// process refers to /dev/null.
//
// Descriptor 1 is process-wide and fits may overlap on several threads, so
// the redirection is shared: the first guard saves descriptor 1 and redirects
// it, the last one to go restores it. The lock is held only while a guard is
// made or released. A forked child starts with no guard and descriptor 1 as
// it was before the parent's redirection; a guard it inherited from the
// parent's thread that forked changes nothing when it goes.

#include <optional>

namespace kvel_core::silence {

class SilenceStdout {
 public:
  // A guard, or nothing when the redirection cannot be set up (then nothing
  // is redirected).
  static std::optional<SilenceStdout> create();

  SilenceStdout(SilenceStdout&& other) noexcept : generation_(other.generation_), active_(other.active_) {
    other.active_ = false;
  }
  SilenceStdout& operator=(SilenceStdout&&) = delete;
  SilenceStdout(const SilenceStdout&) = delete;
  SilenceStdout& operator=(const SilenceStdout&) = delete;
  ~SilenceStdout();

 private:
  explicit SilenceStdout(unsigned long generation) : generation_(generation) {}
  unsigned long generation_;
  bool active_ = true;
};

}  // namespace kvel_core::silence

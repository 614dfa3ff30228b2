#pragma once
// Waiting for a forked child with a deadline, for tests of what a child does
// with state it inherited from a busy parent.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace kvel_test {

struct ChildEnd {
  bool hung = false;  // still running at the deadline (then killed)
  int status = 0;
  bool exited_with_zero() const { return !hung && WIFEXITED(status) && WEXITSTATUS(status) == 0; }
};

// Waits up to `deadline` for `child` to end, and kills it if it has not.
inline ChildEnd wait_for_child(pid_t child, std::chrono::milliseconds deadline) {
  ChildEnd end;
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (::waitpid(child, &end.status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &end.status, 0);
      end.hung = true;
      return end;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return end;
}

}  // namespace kvel_test

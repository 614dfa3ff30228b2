#pragma once
// Running a search with the interpreter lock released while still letting
// Ctrl-C stop it.

#include <Python.h>

#include <chrono>

namespace kvel_module {

// True when this thread is where Python runs signal handlers: the main
// thread of the main interpreter. Only there can a search be interrupted.
bool can_handle_signals();

// Releases the interpreter lock until relock().
//
// While the interpreter finalizes, a thread that takes the lock back does
// not return: Python ends it (pthread_exit, a forced unwind through its
// frames), and an unwind that meets a noexcept frame aborts the process. So
// the lock is taken back by an explicit call in ordinary code; the
// destructor, not noexcept, does it only if relock() was never reached.
class UnlockedInterpreter {
 public:
  UnlockedInterpreter() : saved_(PyEval_SaveThread()) {}
  ~UnlockedInterpreter() noexcept(false) { relock(); }
  UnlockedInterpreter(const UnlockedInterpreter&) = delete;
  UnlockedInterpreter& operator=(const UnlockedInterpreter&) = delete;

  void relock() {
    if (saved_ == nullptr) return;
    PyThreadState* const saved = saved_;
    saved_ = nullptr;
    PyEval_RestoreThread(saved);
  }

  // At most every few tens of milliseconds, takes the lock back for a moment
  // and runs the pending signal handlers; true when one raised (its exception
  // stays set for the caller). Call only from the thread that released the lock.
  bool signal_raised();

 private:
  PyThreadState* saved_;
  std::chrono::steady_clock::time_point next_poll_{};
};

}  // namespace kvel_module

#pragma once
// Running a search with the interpreter lock released while still letting
// Ctrl-C stop it.

#include <Python.h>

#include <chrono>

namespace kvel_module {

// True when this thread is where Python runs signal handlers: the main
// thread of the main interpreter. Only there can a search be interrupted.
bool can_handle_signals();

// Releases the interpreter lock for its lifetime.
class UnlockedInterpreter {
 public:
  UnlockedInterpreter() : saved_(PyEval_SaveThread()) {}
  ~UnlockedInterpreter() { PyEval_RestoreThread(saved_); }
  UnlockedInterpreter(const UnlockedInterpreter&) = delete;
  UnlockedInterpreter& operator=(const UnlockedInterpreter&) = delete;

  // At most every few tens of milliseconds, takes the lock back for a moment
  // and runs the pending signal handlers; true when one raised (its exception
  // stays set for the caller). Call only from the thread that released the lock.
  bool signal_raised();

 private:
  PyThreadState* saved_;
  std::chrono::steady_clock::time_point next_poll_{};
};

}  // namespace kvel_module

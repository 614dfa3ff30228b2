#include "module/interrupt.hpp"

namespace kvel_module {
namespace {

constexpr std::chrono::milliseconds kPollInterval{40};

}  // namespace

bool can_handle_signals() {
  if (PyInterpreterState_Get() != PyInterpreterState_Main()) return false;
  bool main_thread = false;
  if (PyObject* threading = PyImport_ImportModule("threading")) {
    if (PyObject* thread = PyObject_CallMethod(threading, "main_thread", nullptr)) {
      if (PyObject* ident = PyObject_GetAttrString(thread, "ident")) {
        main_thread = PyLong_AsUnsignedLong(ident) == PyThread_get_thread_ident();
        Py_DECREF(ident);
      }
      Py_DECREF(thread);
    }
    Py_DECREF(threading);
  }
  PyErr_Clear();  // whatever failed above only means "not interruptible"
  return main_thread;
}

bool UnlockedInterpreter::signal_raised() {
  const auto now = std::chrono::steady_clock::now();
  if (now < next_poll_) return false;
  next_poll_ = now + kPollInterval;
  PyEval_RestoreThread(saved_);
  const bool raised = PyErr_CheckSignals() != 0;
  saved_ = PyEval_SaveThread();
  return raised;
}

}  // namespace kvel_module

#pragma once
// Turning C++ failures into Python exceptions, and argument notes.

#include <Python.h>

#include "module/state.hpp"

namespace kvel_module {

// `pyo3_runtime.PanicException` of the module, a BaseException subclass made
// on first use; nullptr with the error set when it cannot be made.
PyObject* panic_exception_type(ModuleState& state);

// Call inside a catch block: sets the Python error for the exception in flight
// (fatal errors and stray C++ exceptions become PanicException carrying their
// message, std::bad_alloc becomes MemoryError).
void set_error_from_current_exception(ModuleState& state);

// Attaches the note "while processing '<name>'" to the pending exception.
void add_argument_note(const char* name);

}  // namespace kvel_module

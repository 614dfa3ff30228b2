#pragma once
// Turning C++ failures into Python exceptions, and argument notes.

#include <Python.h>

namespace kvel_module {

// `pyo3_runtime.PanicException`, a BaseException subclass created on first use.
PyObject* panic_exception_type();

// Call inside a catch block: sets the Python error for the exception in flight
// (fatal errors and stray C++ exceptions become PanicException carrying their
// message, std::bad_alloc becomes MemoryError).
void set_error_from_current_exception();

// Attaches the note "while processing '<name>'" to the pending exception.
void add_argument_note(const char* name);

}  // namespace kvel_module

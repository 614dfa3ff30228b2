#pragma once
// What one `kvel` module object owns. Every import (a re-import, a
// sub-interpreter) gets a module object of its own, so nothing Python-side is
// kept process-wide: classes, the panic exception and the NumPy array type
// are all reached from the module that made the object at hand.

#include <Python.h>

namespace kvel_module {

struct ModuleState {
  PyObject* discoverer_type = nullptr;
  PyObject* discovery_result_type = nullptr;
  PyObject* solution_type = nullptr;
  // Made on first use.
  PyObject* panic_type = nullptr;
  // numpy.ndarray, imported on the first array conversion; a failed import is
  // not remembered, so the next conversion tries again.
  PyObject* ndarray_type = nullptr;
};

ModuleState& module_state(PyObject* module);
// The state of the module whose class `type` is (every kvel class is made
// with its module, and none can be subclassed).
ModuleState& state_of(PyTypeObject* type);
inline ModuleState& state_of(PyObject* self) { return state_of(Py_TYPE(self)); }

}  // namespace kvel_module

#pragma once
// The three Python classes of the module. Each `make_*_type` creates its class
// object with PyType_FromSpec (no module name, so `__module__` reads
// "builtins"); the module adds them in the order Discoverer, DiscoveryResult,
// Solution.

#include <Python.h>

#include "core/pareto.hpp"
#include "core/solution.hpp"

namespace kvel_module {

PyObject* make_discoverer_type();
PyObject* make_discovery_result_type();
PyObject* make_solution_type();

// Wrap search results; the class objects must have been made.
PyObject* new_discovery_result(kvel_core::ParetoFront front);
PyObject* new_solution(const kvel_core::solution::Solution& solution);

// Stores the class objects made at module execution (borrowed).
void remember_result_types(PyObject* discovery_result, PyObject* solution);

// tp_new of the result classes: Python cannot instantiate them.
PyObject* refuse_instantiation(PyTypeObject* type, PyObject* args, PyObject* kwargs);

}  // namespace kvel_module

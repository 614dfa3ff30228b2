#pragma once
// The three Python classes of the module. Each `make_*_type` creates its class
// object with PyType_FromModuleAndSpec under the name "builtins.X" (so
// `__module__` reads "builtins"); the module adds them in the order
// Discoverer, DiscoveryResult, Solution and keeps them in its state.

#include <Python.h>

#include "core/pareto.hpp"
#include "core/solution.hpp"
#include "module/state.hpp"

namespace kvel_module {

PyObject* make_discoverer_type(PyObject* module);
PyObject* make_discovery_result_type(PyObject* module);
PyObject* make_solution_type(PyObject* module);

// Wrap search results as instances of the classes of `state`'s module.
PyObject* new_discovery_result(ModuleState& state, kvel_core::ParetoFront front);
PyObject* new_solution(ModuleState& state, const kvel_core::solution::Solution& solution);

// tp_new of the result classes: Python cannot instantiate them.
PyObject* refuse_instantiation(PyTypeObject* type, PyObject* args, PyObject* kwargs);

}  // namespace kvel_module

// The `kvel` Python extension module: multi-phase initialisation whose single
// execution slot adds Discoverer, DiscoveryResult and Solution, in that order.
//
// The module definition is written against the C API because the classes
// live in the module's own state (see state.hpp), which also makes the module
// safe to import again and in sub-interpreters.

#include <Python.h>

#include "module/classes.hpp"
#include "module/state.hpp"

namespace kvel_module {
namespace {

// Adds `type` (a new reference, or nullptr after a failure) as attribute
// `name` and to `all`; the state keeps a reference of its own.
int add_class(PyObject* module, PyObject* all, const char* name, PyObject* type, PyObject*& slot) {
  if (type == nullptr) return -1;
  slot = type;
  Py_INCREF(type);
  if (PyModule_AddObject(module, name, type) != 0) {
    Py_DECREF(type);
    return -1;
  }
  PyObject* text = PyUnicode_FromString(name);
  if (text == nullptr) return -1;
  const int appended = PyList_Append(all, text);
  Py_DECREF(text);
  return appended;
}

int module_exec(PyObject* module) {
  ModuleState& state = module_state(module);
  PyObject* all = PyList_New(0);
  if (all == nullptr) return -1;
  int rc = add_class(module, all, "Discoverer", make_discoverer_type(module), state.discoverer_type);
  if (rc == 0)
    rc = add_class(module, all, "DiscoveryResult", make_discovery_result_type(module), state.discovery_result_type);
  if (rc == 0) rc = add_class(module, all, "Solution", make_solution_type(module), state.solution_type);
  if (rc == 0) rc = PyModule_AddObject(module, "__all__", all);  // steals `all` on success
  if (rc != 0) Py_DECREF(all);
  return rc;
}

int module_traverse(PyObject* module, visitproc visit, void* arg) {
  ModuleState& state = module_state(module);
  Py_VISIT(state.discoverer_type);
  Py_VISIT(state.discovery_result_type);
  Py_VISIT(state.solution_type);
  Py_VISIT(state.panic_type);
  Py_VISIT(state.ndarray_type);
  return 0;
}

int module_clear(PyObject* module) {
  ModuleState& state = module_state(module);
  Py_CLEAR(state.discoverer_type);
  Py_CLEAR(state.discovery_result_type);
  Py_CLEAR(state.solution_type);
  Py_CLEAR(state.panic_type);
  Py_CLEAR(state.ndarray_type);
  return 0;
}

void module_free(void* module) { module_clear(static_cast<PyObject*>(module)); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "kvel",
    "The `kvel` Python extension module.",
    sizeof(ModuleState),
    nullptr,
    module_slots,
    module_traverse,
    module_clear,
    module_free,
};

}  // namespace

ModuleState& module_state(PyObject* module) { return *static_cast<ModuleState*>(PyModule_GetState(module)); }

ModuleState& state_of(PyTypeObject* type) { return module_state(PyType_GetModule(type)); }

}  // namespace kvel_module

PyMODINIT_FUNC PyInit_kvel(void) { return PyModuleDef_Init(&kvel_module::module_def); }

// The `kvel` Python extension module: multi-phase initialisation whose single
// execution slot adds Discoverer, DiscoveryResult and Solution, in that order.

#include <nanobind/nanobind.h>

#include "module/classes.hpp"

namespace nb = nanobind;

NB_MODULE(kvel, m) {
  m.doc() = "The `kvel` Python extension module.";
  nb::list all;
  const auto add = [&](const char* name, PyObject* type) {
    if (type == nullptr) throw nb::python_error();
    m.attr(name) = nb::steal(type);
    all.append(name);
  };
  add("Discoverer", kvel_module::make_discoverer_type());
  PyObject* result_type = kvel_module::make_discovery_result_type();
  add("DiscoveryResult", result_type);
  PyObject* solution_type = kvel_module::make_solution_type();
  add("Solution", solution_type);
  // The module keeps both class objects alive for the interpreter's lifetime.
  kvel_module::remember_result_types(result_type, solution_type);
  m.attr("__all__") = all;
}

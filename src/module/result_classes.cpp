// classes DiscoveryResult and Solution: read-only views of a search result.

#include <new>
#include <type_traits>
#include <string>

#include "module/classes.hpp"
#include "module/argument_parser.hpp"
#include "module/arguments.hpp"
#include "module/python_errors.hpp"
#include "support/debug_text.hpp"
#include "support/number_format.hpp"

namespace kvel_module {
namespace {

using kvel_core::ParetoFront;
using kvel_core::solution::Solution;

struct DiscoveryResultObject {
  PyObject_HEAD
  ParetoFront* front;
};

struct SolutionObject {
  PyObject_HEAD
  Solution* solution;
};

const ParetoFront& front_of(PyObject* self) { return *reinterpret_cast<DiscoveryResultObject*>(self)->front; }
const Solution& solution_of(PyObject* self) { return *reinterpret_cast<SolutionObject*>(self)->solution; }

PyObject* string_object(const std::string& text) {
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// Renderers may throw only on fatal errors; those become PanicException.
template <class Body>
PyObject* guarded(ModuleState& state, Body&& body) {
  try {
    return body();
  } catch (...) {
    set_error_from_current_exception(state);
    return nullptr;
  }
}

// `function` names the method in argument errors, e.g. "DiscoveryResult.top()".
bool parse_k(PyObject* args, PyObject* kwargs, const char* function, std::size_t& k) {
  static constexpr const char* parameters[] = {"k"};
  ArgumentValues<1> given;
  if (!parse_arguments({function, parameters, 1}, args, kwargs, given.slots())) return false;
  return convert_usize(given[0], "k", k);
}

// A list of one item per solution of pareto_top(k).
template <class Item>
PyObject* top_list(PyObject* self, PyObject* args, PyObject* kwargs, const char* function, Item&& item) {
  std::size_t k = 0;
  if (!parse_k(args, kwargs, function, k)) return nullptr;
  return guarded(state_of(self), [&]() -> PyObject* {
    const auto top = front_of(self).pareto_top(k);
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(top.size()));
    if (list == nullptr) return nullptr;
    for (std::size_t i = 0; i < top.size(); ++i) {
      PyObject* entry = item(*top[i]);
      if (entry == nullptr) {
        Py_DECREF(list);
        return nullptr;
      }
      PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), entry);
    }
    return list;
  });
}

PyObject* result_top(PyObject* self, PyObject* args, PyObject* kwargs) {
  ModuleState& state = state_of(self);
  return top_list(self, args, kwargs, "DiscoveryResult.top()",
                  [&](const Solution& s) { return new_solution(state, s); });
}
PyObject* result_top_latex(PyObject* self, PyObject* args, PyObject* kwargs) {
  return top_list(self, args, kwargs, "DiscoveryResult.top_latex()",
                  [](const Solution& s) { return string_object(s.latex()); });
}
PyObject* result_top_sympy(PyObject* self, PyObject* args, PyObject* kwargs) {
  return top_list(self, args, kwargs, "DiscoveryResult.top_sympy()",
                  [](const Solution& s) { return string_object(s.sympy_code()); });
}
PyObject* result_best(PyObject* self, PyObject*) {
  const Solution* best = front_of(self).best();
  if (best == nullptr) Py_RETURN_NONE;
  return new_solution(state_of(self), *best);
}
Py_ssize_t result_length(PyObject* self) { return static_cast<Py_ssize_t>(front_of(self).size()); }

void result_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<DiscoveryResultObject*>(self)->front;
  type->tp_free(self);
  Py_DECREF(type);
}

template <PyCFunctionWithKeywords F>
PyCFunction as_cfunction() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

PyMethodDef result_methods[] = {
    {"top", as_cfunction<result_top>(), METH_VARARGS | METH_KEYWORDS,
     "top($self, k)\n--\n\nReturn the top-`k` Pareto-optimal solutions as [`PySolution`] objects."},
    {"top_latex", as_cfunction<result_top_latex>(), METH_VARARGS | METH_KEYWORDS,
     "top_latex($self, k)\n--\n\nReturn the LaTeX strings of the top-`k` Pareto-optimal solutions."},
    {"top_sympy", as_cfunction<result_top_sympy>(), METH_VARARGS | METH_KEYWORDS,
     "top_sympy($self, k)\n--\n\nReturn the SymPy source strings of the top-`k` Pareto-optimal solutions."},
    {"best", result_best, METH_NOARGS,
     "best($self)\n--\n\nReturn the single best solution, or `None` if the front is empty."},
    {nullptr, nullptr, 0, nullptr},
};

// Solution getters: every text is rendered anew on each access.
template <std::string (Solution::*Render)() const>
PyObject* text_getter(PyObject* self, void*) {
  return guarded(state_of(self), [&] { return string_object((solution_of(self).*Render)()); });
}
PyObject* mse_getter(PyObject* self, void*) { return PyFloat_FromDouble(solution_of(self).mse); }
PyObject* complexity_getter(PyObject* self, void*) {
  return PyLong_FromSize_t(static_cast<std::size_t>(solution_of(self).complexity));
}

PyGetSetDef solution_getters[] = {
    {"latex", text_getter<&Solution::latex>, nullptr, "LaTeX rendering of the expression.", nullptr},
    {"pretty", text_getter<&Solution::pretty>, nullptr, "Human-readable infix rendering of the expression.", nullptr},
    {"rust_code", text_getter<&Solution::rust_code>, nullptr, "Rust source code that evaluates the expression.",
     nullptr},
    {"numpy_code", text_getter<&Solution::numpy_code>, nullptr,
     "NumPy/Python source code that evaluates the expression.", nullptr},
    {"sympy_code", text_getter<&Solution::sympy_code>, nullptr, "SymPy source code that constructs the expression.",
     nullptr},
    {"mse", mse_getter, nullptr, "Mean squared error of the expression on the training data.", nullptr},
    {"complexity", complexity_getter, nullptr, "Structural complexity (node count) of the expression.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* solution_repr(PyObject* self) {
  return guarded(state_of(self), [&] {
    const Solution& s = solution_of(self);
    std::string text = "Solution(pretty=";
    kvel_support::append_debug_text(text, s.pretty());
    text += ", mse=";
    kvel_support::append_shortest(text, s.mse);
    text += ", complexity=";
    text += std::to_string(s.complexity);
    text += ')';
    return string_object(text);
  });
}

void solution_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<SolutionObject*>(self)->solution;
  type->tp_free(self);
  Py_DECREF(type);
}

const char result_doc[] =
    "The Pareto front returned by `Discoverer::fit`.\n\n"
    "Wraps a [`kvel_core::ParetoFront`] and exposes convenient accessors for the\n"
    "top-`k` solutions.";
const char solution_doc[] =
    "A single discovered closed-form expression and its quality metrics.\n\n"
    "Instances are produced by [`DiscoveryResult`] accessors and are read-only.";

template <class Object, class Payload>
PyObject* wrap(PyObject* type_object, Payload* payload) {
  if (type_object == nullptr) {
    delete payload;
    PyErr_SetString(PyExc_RuntimeError, "the kvel module has been cleared");
    return nullptr;
  }
  PyTypeObject* type = reinterpret_cast<PyTypeObject*>(type_object);
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) {
    delete payload;
    return nullptr;
  }
  if constexpr (std::is_same_v<Object, DiscoveryResultObject>)
    reinterpret_cast<Object*>(self)->front = payload;
  else
    reinterpret_cast<Object*>(self)->solution = payload;
  return self;
}

}  // namespace

PyObject* refuse_instantiation(PyTypeObject* type, PyObject*, PyObject*) {
  PyErr_Format(PyExc_TypeError, "cannot create '%s' instances", type->tp_name);
  return nullptr;
}

PyObject* make_discovery_result_type(PyObject* module) {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(refuse_instantiation)},
      {Py_tp_dealloc, reinterpret_cast<void*>(result_dealloc)},
      {Py_tp_methods, result_methods},
      {Py_mp_length, reinterpret_cast<void*>(result_length)},
      {Py_tp_doc, const_cast<char*>(result_doc)},
      {0, nullptr},
  };
  PyType_Spec type_slots_and_size = {"builtins.DiscoveryResult", sizeof(DiscoveryResultObject), 0, Py_TPFLAGS_DEFAULT, slots};
  return PyType_FromModuleAndSpec(module, &type_slots_and_size, nullptr);
}

PyObject* make_solution_type(PyObject* module) {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(refuse_instantiation)},
      {Py_tp_dealloc, reinterpret_cast<void*>(solution_dealloc)},
      {Py_tp_getset, solution_getters},
      {Py_tp_repr, reinterpret_cast<void*>(solution_repr)},
      {Py_tp_doc, const_cast<char*>(solution_doc)},
      {0, nullptr},
  };
  PyType_Spec type_slots_and_size = {"builtins.Solution", sizeof(SolutionObject), 0, Py_TPFLAGS_DEFAULT, slots};
  return PyType_FromModuleAndSpec(module, &type_slots_and_size, nullptr);
}

PyObject* new_discovery_result(ModuleState& state, ParetoFront front) {
  return guarded(state, [&] {
    return wrap<DiscoveryResultObject>(state.discovery_result_type, new ParetoFront(std::move(front)));
  });
}

PyObject* new_solution(ModuleState& state, const Solution& solution) {
  return guarded(state, [&] { return wrap<SolutionObject>(state.solution_type, new Solution(solution)); });
}

}  // namespace kvel_module

#pragma once
// Matching the arguments of a call from Python to a function's parameters,
// with Python's own TypeError texts for a bad count or name of arguments.

#include <Python.h>

#include <array>
#include <cstddef>
#include <span>

namespace kvel_module {

// Parameters that are all positional-or-keyword; the first `required` of
// them have no default.
struct Parameters {
  const char* function;  // as the errors name it, e.g. "Discoverer.fit()"
  std::span<const char* const> names;
  std::size_t required;
};

// The values passed for a function's parameters: given[i] is a strong
// reference to the value passed for parameter i, or nullptr where none was,
// released when this goes. Converting one value may run Python code (an
// `__index__`, say) that drops the caller's last reference to another: a C
// caller's keyword dict, cleared.
template <std::size_t N>
class ArgumentValues {
 public:
  ArgumentValues() = default;
  ArgumentValues(const ArgumentValues&) = delete;
  ArgumentValues& operator=(const ArgumentValues&) = delete;
  ~ArgumentValues() {
    for (PyObject* value : values_) Py_XDECREF(value);
  }
  PyObject* operator[](std::size_t i) const { return values_[i]; }
  std::span<PyObject*> slots() { return values_; }

 private:
  std::array<PyObject*, N> values_{};
};

// Fills `given` (ArgumentValues::slots(), every entry nullptr) with new
// references to the values passed. `args` is a tuple and `kwargs` a dict or
// nullptr, as CPython hands them to a function; `given` has one entry per
// parameter. Checks, in this order: the count of positional arguments, each
// keyword in the order given, then the required parameters still missing.
// Returns false with a TypeError set at the first failure, and every entry
// nullptr again.
bool parse_arguments(const Parameters& parameters, PyObject* args, PyObject* kwargs, std::span<PyObject*> given);

}  // namespace kvel_module

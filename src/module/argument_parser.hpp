#pragma once
// Matching the arguments of a call from Python to a function's parameters,
// with Python's own TypeError texts for a bad count or name of arguments.

#include <Python.h>

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

// Fills given[i] with a borrowed reference to the value passed for
// parameter i, or nullptr where none was. `args` is a tuple and `kwargs` a
// dict or nullptr, as CPython hands them to a function; `given` has one
// entry per parameter. Checks, in this order: the count of positional
// arguments, each keyword in the order given, then the required parameters
// still missing. Returns false with a TypeError set at the first failure.
bool parse_arguments(const Parameters& parameters, PyObject* args, PyObject* kwargs, std::span<PyObject*> given);

}  // namespace kvel_module

#include "module/argument_parser.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace kvel_module {
namespace {

// "1 positional argument", "2 positional arguments".
std::string count_of(std::size_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

bool too_many_positional(const Parameters& parameters, std::size_t passed) {
  const std::size_t total = parameters.names.size();
  const std::string takes =
      parameters.required == total
          ? count_of(total, "positional argument")
          : "from " + std::to_string(parameters.required) + " to " + std::to_string(total) + " positional arguments";
  PyErr_Format(PyExc_TypeError, "%s takes %s but %zu %s given", parameters.function, takes.c_str(), passed,
               passed == 1 ? "was" : "were");
  return false;
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string name_list(const std::vector<const char*>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
    text += std::string("'") + names[i] + "'";
  }
  return text;
}

bool missing(const Parameters& parameters, const std::vector<const char*>& names) {
  PyErr_Format(PyExc_TypeError, "%s missing %s: %s", parameters.function,
               count_of(names.size(), "required positional argument").c_str(), name_list(names).c_str());
  return false;
}

std::optional<std::size_t> index_of(const Parameters& parameters, PyObject* keyword) {
  const auto& names = parameters.names;
  const auto found = std::find_if(names.begin(), names.end(), [keyword](const char* name) {
    return PyUnicode_CompareWithASCIIString(keyword, name) == 0;
  });
  if (found == names.end()) return std::nullopt;
  return static_cast<std::size_t>(found - names.begin());
}

// One keyword argument into its parameter's place.
bool take_keyword(const Parameters& parameters, PyObject* keyword, PyObject* value, std::span<PyObject*> given) {
  // Python passes only str keywords; a caller of the C API may pass others.
  if (!PyUnicode_Check(keyword)) {
    PyErr_Format(PyExc_TypeError, "%s keywords must be strings", parameters.function);
    return false;
  }
  const std::optional<std::size_t> index = index_of(parameters, keyword);
  if (!index) {
    PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", parameters.function, keyword);
    return false;
  }
  if (given[*index] != nullptr) {
    PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", parameters.function,
                 parameters.names[*index]);
    return false;
  }
  given[*index] = value;
  return true;
}

// Fills `given` with borrowed references.
bool match_arguments(const Parameters& parameters, PyObject* args, PyObject* kwargs, std::span<PyObject*> given) {
  const auto passed = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
  if (passed > parameters.names.size()) return too_many_positional(parameters, passed);
  for (std::size_t i = 0; i < passed; ++i) given[i] = PyTuple_GET_ITEM(args, static_cast<Py_ssize_t>(i));

  if (kwargs != nullptr) {
    Py_ssize_t position = 0;
    PyObject* keyword = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &position, &keyword, &value)) {
      if (!take_keyword(parameters, keyword, value, given)) return false;
    }
  }

  std::vector<const char*> absent;
  for (std::size_t i = 0; i < parameters.required; ++i) {
    if (given[i] == nullptr) absent.push_back(parameters.names[i]);
  }
  if (!absent.empty()) return missing(parameters, absent);
  return true;
}

}  // namespace

bool parse_arguments(const Parameters& parameters, PyObject* args, PyObject* kwargs, std::span<PyObject*> given) {
  // Matching runs no Python code, so the values are borrowed until it is
  // done; each is then held for the conversions that follow.
  if (!match_arguments(parameters, args, kwargs, given)) {
    std::fill(given.begin(), given.end(), nullptr);
    return false;
  }
  for (PyObject* value : given) Py_XINCREF(value);
  return true;
}

}  // namespace kvel_module

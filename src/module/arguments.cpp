#include "module/arguments.hpp"

#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "module/python_errors.hpp"

namespace kvel_module {
namespace {

bool convert_unsigned(PyObject* object, const char* name, unsigned long long max, unsigned long long& out) {
  PyObject* index = PyNumber_Index(object);
  if (index != nullptr) {
    const unsigned long long value = PyLong_AsUnsignedLongLong(index);
    Py_DECREF(index);
    if (!(value == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
      if (value <= max) {
        out = value;
        return true;
      }
      PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C unsigned long");
    }
  }
  add_argument_note(name);
  return false;
}

// numpy.ndarray, imported on the first array conversion and kept in the
// module's state. A failed import leaves its ImportError set and is tried
// again next time.
PyObject* ndarray_type(ModuleState& state) {
  if (state.ndarray_type != nullptr) return state.ndarray_type;
  PyObject* numpy = PyImport_ImportModule("numpy");
  if (numpy == nullptr) return nullptr;
  state.ndarray_type = PyObject_GetAttrString(numpy, "ndarray");
  Py_DECREF(numpy);
  return state.ndarray_type;
}

bool is_native_float64(const char* format) {
  if (format == nullptr) return false;
  if (format[0] == '@' || format[0] == '=') ++format;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  else if (format[0] == '<') ++format;
#else
  else if (format[0] == '>' || format[0] == '!') ++format;
#endif
  return std::strcmp(format, "d") == 0;
}

std::string attribute_text(PyObject* object, const char* attribute) {
  std::string text = "?";
  if (PyObject* value = PyObject_GetAttrString(object, attribute)) {
    if (PyObject* str = PyObject_Str(value)) {
      if (const char* utf8 = PyUnicode_AsUTF8(str)) text = utf8;
      Py_DECREF(str);
    }
    Py_DECREF(value);
  }
  PyErr_Clear();
  return text;
}

bool fail_type(const char* name, const std::string& message) {
  PyErr_SetString(PyExc_TypeError, message.c_str());
  add_argument_note(name);
  return false;
}

}  // namespace

bool convert_usize(PyObject* object, const char* name, std::size_t& out) {
  unsigned long long value = 0;
  if (!convert_unsigned(object, name, std::numeric_limits<std::size_t>::max(), value)) return false;
  out = static_cast<std::size_t>(value);
  return true;
}

bool convert_u64(PyObject* object, const char* name, std::uint64_t& out) {
  unsigned long long value = 0;
  if (!convert_unsigned(object, name, std::numeric_limits<std::uint64_t>::max(), value)) return false;
  out = static_cast<std::uint64_t>(value);
  return true;
}

bool convert_double(PyObject* object, const char* name, double& out) {
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) {
    add_argument_note(name);
    return false;
  }
  out = value;
  return true;
}

bool copy_float64_array(ModuleState& state, PyObject* object, int ndim, const char* name, CopiedArray& out) {
  PyObject* ndarray = ndarray_type(state);
  if (ndarray == nullptr) {
    add_argument_note(name);
    return false;
  }
  if (!PyObject_TypeCheck(object, reinterpret_cast<PyTypeObject*>(ndarray))) {
    return fail_type(name, std::string("'") + Py_TYPE(object)->tp_name + "' object is not an instance of 'ndarray'");
  }
  Py_buffer view;
  if (PyObject_GetBuffer(object, &view, PyBUF_RECORDS_RO) != 0) {
    add_argument_note(name);
    return false;
  }
  struct Release {
    Py_buffer* view;
    ~Release() { PyBuffer_Release(view); }
  } release{&view};

  if (view.ndim != ndim) {
    return fail_type(name, "dimensionality mismatch:\n from=" + std::to_string(view.ndim) +
                               ", to=" + std::to_string(ndim));
  }
  if (!is_native_float64(view.format) || view.itemsize != sizeof(double)) {
    return fail_type(name, "type mismatch:\n from=" + attribute_text(object, "dtype") + ", to=float64");
  }

  out.rows = static_cast<std::size_t>(view.shape[0]);
  out.cols = ndim == 2 ? static_cast<std::size_t>(view.shape[1]) : 1;
  const std::size_t count = out.rows * out.cols;
  try {
    out.values.resize(count);
  } catch (const std::exception&) {  // bad_alloc, or length_error past max_size()
    PyErr_NoMemory();
    add_argument_note(name);
    return false;
  }
  if (count == 0) return true;
  if (PyBuffer_IsContiguous(&view, 'C')) {
    std::memcpy(out.values.data(), view.buf, count * sizeof(double));
    return true;
  }
  const char* base = static_cast<const char*>(view.buf);
  const Py_ssize_t row_stride = view.strides[0];
  const Py_ssize_t col_stride = ndim == 2 ? view.strides[1] : 0;
  double* dst = out.values.data();
  for (std::size_t r = 0; r < out.rows; ++r) {
    const char* row = base + static_cast<Py_ssize_t>(r) * row_stride;
    for (std::size_t c = 0; c < out.cols; ++c)
      std::memcpy(dst++, row + static_cast<Py_ssize_t>(c) * col_stride, sizeof(double));
  }
  return true;
}

}  // namespace kvel_module

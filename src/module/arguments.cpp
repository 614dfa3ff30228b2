#include "module/arguments.hpp"

#include <cstring>
#include <limits>
#include <optional>
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

bool fail_dimensionality(const char* name, long from, int to) {
  return fail_type(name, "dimensionality mismatch:\n from=" + std::to_string(from) + ", to=" + std::to_string(to));
}

bool fail_dtype(PyObject* array, const char* name) {
  return fail_type(name, "type mismatch:\n from=" + attribute_text(array, "dtype") + ", to=float64");
}

// An attribute read without leaving an error behind; nullopt when it is
// missing or of another type.
std::optional<long> long_attribute(PyObject* object, const char* attribute) {
  std::optional<long> result;
  if (PyObject* value = PyObject_GetAttrString(object, attribute)) {
    if (PyLong_Check(value)) {
      const long v = PyLong_AsLong(value);
      if (!(v == -1 && PyErr_Occurred())) result = v;
    }
    Py_DECREF(value);
  }
  PyErr_Clear();
  return result;
}

// Whether the array's dtype is float64 in native byte order, read from the
// dtype object; nullopt when it cannot be read.
std::optional<bool> has_native_float64_dtype(PyObject* array) {
  std::optional<bool> result;
  if (PyObject* dtype = PyObject_GetAttrString(array, "dtype")) {
    PyObject* kind = PyObject_GetAttrString(dtype, "char");
    PyObject* native = kind != nullptr ? PyObject_GetAttrString(dtype, "isnative") : nullptr;
    if (native != nullptr && PyUnicode_Check(kind)) {
      const int is_native = PyObject_IsTrue(native);
      if (is_native >= 0) result = is_native == 1 && PyUnicode_CompareWithASCIIString(kind, "d") == 0;
    }
    Py_XDECREF(native);
    Py_XDECREF(kind);
    Py_DECREF(dtype);
  }
  PyErr_Clear();
  return result;
}

// NumPy exports no buffer for some dtypes (datetime64, timedelta64,
// StringDType, long double in an explicit byte order): such an array fails
// as any other array of the wrong shape or dtype would, read from its
// attributes. Where those do not tell, or say float64, the export's own
// error stands.
bool fail_unexported(PyObject* array, int ndim, const char* name) {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  const std::optional<long> dims = long_attribute(array, "ndim");
  const std::optional<bool> float64 = dims ? has_native_float64_dtype(array) : std::nullopt;
  if (dims && (*dims != ndim || (float64 && !*float64))) {
    Py_XDECREF(type);
    Py_XDECREF(value);
    Py_XDECREF(traceback);
    return *dims != ndim ? fail_dimensionality(name, *dims, ndim) : fail_dtype(array, name);
  }
  PyErr_Restore(type, value, traceback);
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
  if (PyObject_GetBuffer(object, &view, PyBUF_RECORDS_RO) != 0) return fail_unexported(object, ndim, name);
  struct Release {
    Py_buffer* view;
    ~Release() { PyBuffer_Release(view); }
  } release{&view};

  if (view.ndim != ndim) return fail_dimensionality(name, view.ndim, ndim);
  if (!is_native_float64(view.format) || view.itemsize != sizeof(double)) return fail_dtype(object, name);

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

#include "module/python_errors.hpp"

#include <exception>
#include <new>
#include <string>

#include "support/panic.hpp"

namespace kvel_module {

PyObject* panic_exception_type(ModuleState& state) {
  if (state.panic_type != nullptr) return state.panic_type;
  state.panic_type = PyErr_NewExceptionWithDoc(
      "pyo3_runtime.PanicException",
      "The exception raised when Rust code called from Python panics.\n\n"
      "Like SystemExit, this exception is derived from BaseException so that\n"
      "it will typically propagate all the way through the stack and cause the\n"
      "Python interpreter to exit.",
      PyExc_BaseException, nullptr);
  return state.panic_type;
}

namespace {

void raise_panic(ModuleState& state, const char* message) {
  PyObject* type = panic_exception_type(state);
  if (type == nullptr) return;  // creating the type failed: that error is set
  PyErr_SetString(type, message);
}

}  // namespace

void set_error_from_current_exception(ModuleState& state) {
  try {
    throw;
  } catch (const kvel_support::FatalError& e) {
    raise_panic(state, e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    raise_panic(state, e.what());
  } catch (...) {
    raise_panic(state, "unknown C++ exception");
  }
}

void add_argument_note(const char* name) {
  PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr) {
    const std::string note = std::string("while processing '") + name + "'";
    PyObject* result = PyObject_CallMethod(value, "add_note", "s", note.c_str());
    if (result == nullptr) {
      PyErr_Clear();  // Python < 3.11: keep the notes list by hand
      PyObject* notes = PyObject_GetAttrString(value, "__notes__");
      if (notes == nullptr) {
        PyErr_Clear();
        notes = PyList_New(0);
        if (notes != nullptr) PyObject_SetAttrString(value, "__notes__", notes);
      }
      if (notes != nullptr) {
        PyObject* text = PyUnicode_FromString(note.c_str());
        if (text != nullptr) PyList_Append(notes, text);
        Py_XDECREF(text);
        Py_DECREF(notes);
      }
      PyErr_Clear();
    }
    Py_XDECREF(result);
  }
  if (traceback != nullptr) PyException_SetTraceback(value, traceback);
  PyErr_Restore(type, value, traceback);
}

}  // namespace kvel_module

#pragma once
// Conversion of Python arguments, with the note naming a failed argument.

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "module/state.hpp"

namespace kvel_module {

// Integer protocol: a float or a non-number is a TypeError, a negative or too
// large value an OverflowError. Return false with the Python error set.
bool convert_usize(PyObject* object, const char* name, std::size_t& out);
bool convert_u64(PyObject* object, const char* name, std::uint64_t& out);
// Anything Python converts to a float, integers included.
bool convert_double(PyObject* object, const char* name, double& out);

// A NumPy float64 array of `ndim` dimensions, copied in row-major logical
// order whatever its strides (one pass when C-contiguous). A copy that does
// not fit in memory is a MemoryError.
struct CopiedArray {
  std::vector<double> values;
  std::size_t rows = 0;  // the first extent
  std::size_t cols = 0;  // the second extent (2-D only)
};
bool copy_float64_array(ModuleState& state, PyObject* object, int ndim, const char* name, CopiedArray& out);

}  // namespace kvel_module

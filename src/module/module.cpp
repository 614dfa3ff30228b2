// The `kvel` Python extension module.

#include <nanobind/nanobind.h>

namespace nb = nanobind;

NB_MODULE(kvel, m) {
  m.doc() = "The `kvel` Python extension module.";
}

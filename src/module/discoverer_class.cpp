// class Discoverer: the search configuration and `fit`.

#include <cxxabi.h>

#include <exception>
#include <iterator>
#include <new>
#include <optional>
#include <string>

#include "core/cancel.hpp"
#include "core/dataset.hpp"
#include "core/discoverer.hpp"
#include "module/argument_parser.hpp"
#include "module/arguments.hpp"
#include "module/classes.hpp"
#include "module/interrupt.hpp"
#include "module/python_errors.hpp"
#include "support/xtensor.hpp"

namespace kvel_module {
namespace {

using kvel_core::discoverer::Discoverer;

struct DiscovererObject {
  PyObject_HEAD
  Discoverer config;
};

constexpr const char* kDiscovererParameters[] = {"population",        "max_depth",       "max_epochs",
                                                  "learning_rate",     "seed",            "top_k",
                                                  "lambda_complexity", "lambda_sparsity", "lambda_parsimony"};

PyObject* discoverer_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  ArgumentValues<std::size(kDiscovererParameters)> given;
  if (!parse_arguments({"Discoverer.__new__()", kDiscovererParameters, 0}, args, kwargs, given.slots()))
    return nullptr;

  Discoverer config;
  // Converted in parameter order; the first failure names its argument.
  if (given[0] && !convert_usize(given[0], "population", config.population)) return nullptr;
  if (given[1] && !convert_usize(given[1], "max_depth", config.max_depth)) return nullptr;
  if (given[2] && !convert_usize(given[2], "max_epochs", config.max_epochs)) return nullptr;
  if (given[3] && !convert_double(given[3], "learning_rate", config.learning_rate)) return nullptr;
  if (given[4] && !convert_u64(given[4], "seed", config.seed)) return nullptr;
  if (given[5] && !convert_usize(given[5], "top_k", config.top_k)) return nullptr;
  if (given[6] && !convert_double(given[6], "lambda_complexity", config.lambda_complexity)) return nullptr;
  if (given[7] && !convert_double(given[7], "lambda_sparsity", config.lambda_sparsity)) return nullptr;
  if (given[8] && !convert_double(given[8], "lambda_parsimony", config.lambda_parsimony)) return nullptr;

  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  new (&reinterpret_cast<DiscovererObject*>(self)->config) Discoverer(config);
  return self;
}

void discoverer_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<DiscovererObject*>(self)->config.~Discoverer();
  type->tp_free(self);
  Py_DECREF(type);
}

// The search, without the interpreter lock and without touching Python objects.
using FitResult = kvel_support::Expected<kvel_core::ParetoFront, kvel_core::error::KvelError>;

FitResult run_search(const Discoverer& config, CopiedArray& x, CopiedArray& y,
                     const kvel_core::cancel::CancelToken& cancel) {
  xt::xtensor<double, 2> matrix = xt::xtensor<double, 2>::from_shape({x.rows, x.cols});
  std::copy(x.values.begin(), x.values.end(), matrix.begin());
  xt::xtensor<double, 1> target = xt::xtensor<double, 1>::from_shape({y.rows});
  std::copy(y.values.begin(), y.values.end(), target.begin());
  auto data = kvel_core::dataset::DataSet::from_arrays(std::move(matrix), std::move(target));
  if (!data) return kvel_support::unexpected(std::move(data).error());
  return config.fit(*data, cancel);
}

// Copies fit's arguments. Their references go before the search lets go of
// the interpreter lock: a thread that Python ends at exit while it takes the
// lock back unwinds without it, and must touch no Python object on the way.
bool copy_fit_arguments(ModuleState& state, PyObject* args, PyObject* kwargs, CopiedArray& x, CopiedArray& y) {
  static constexpr const char* parameters[] = {"x", "y"};
  ArgumentValues<std::size(parameters)> given;
  if (!parse_arguments({"Discoverer.fit()", parameters, 2}, args, kwargs, given.slots())) return false;
  return copy_float64_array(state, given[0], 2, "x", x) && copy_float64_array(state, given[1], 1, "y", y);
}

PyObject* discoverer_fit(PyObject* self, PyObject* args, PyObject* kwargs) {
  ModuleState& state = state_of(self);
  CopiedArray x, y;
  if (!copy_fit_arguments(state, args, kwargs, x, y)) return nullptr;
  const Discoverer config = reinterpret_cast<DiscovererObject*>(self)->config;

  std::optional<FitResult> result;
  std::exception_ptr error;
  bool interrupted = false;
  const bool interruptible = can_handle_signals();
  {
    UnlockedInterpreter unlocked;
    try {
      using kvel_core::cancel::CancelToken;
      const CancelToken cancel(interruptible ? CancelToken::Hook([&] { return unlocked.signal_raised(); })
                                             : CancelToken::Hook());
      result.emplace(run_search(config, x, y, cancel));
    } catch (const abi::__forced_unwind&) {
      throw;  // the thread is being ended: let it go
    } catch (const kvel_core::cancel::Cancelled&) {
      interrupted = true;  // a signal handler raised; its exception is set
    } catch (...) {
      error = std::current_exception();  // translated once the lock is held again
    }
    unlocked.relock();
  }
  if (interrupted) {
    if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
    return nullptr;
  }
  if (error) {
    try {
      std::rethrow_exception(error);
    } catch (...) {
      set_error_from_current_exception(state);
    }
    return nullptr;
  }

  if (!result->has_value()) {
    const std::string text = result->error().display();
    PyErr_SetString(PyExc_ValueError, text.c_str());
    return nullptr;
  }
  return new_discovery_result(state, std::move(*result).value());
}

PyMethodDef discoverer_methods[] = {
    {"fit", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(discoverer_fit)),
     METH_VARARGS | METH_KEYWORDS,
     "fit($self, x, y)\n--\n\n"
     "Run discovery on `x` (2D, rows \xC3\x97 n_vars) and `y` (1D) NumPy float64 arrays.\n\n"
     "Returns a [`DiscoveryResult`]. Raises `ValueError` on shape/numeric errors."},
    {nullptr, nullptr, 0, nullptr},
};

const char discoverer_doc[] =
    "Discoverer(population=256, max_depth=3, max_epochs=1000, learning_rate=0.05, seed=0, top_k=5, "
    "lambda_complexity=..., lambda_sparsity=..., lambda_parsimony=...)\n--\n\n"
    "Differentiable symbolic discovery driver.\n\n"
    "Constructed with hyperparameters; call `fit` with NumPy arrays to run\n"
    "discovery. The expensive compute releases the GIL.";

}  // namespace

PyObject* make_discoverer_type(PyObject* module) {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(discoverer_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(discoverer_dealloc)},
      {Py_tp_methods, discoverer_methods},
      {Py_tp_doc, const_cast<char*>(discoverer_doc)},
      {0, nullptr},
  };
  PyType_Spec type_slots_and_size = {"builtins.Discoverer", sizeof(DiscovererObject), 0, Py_TPFLAGS_DEFAULT, slots};
  return PyType_FromModuleAndSpec(module, &type_slots_and_size, nullptr);
}

}  // namespace kvel_module

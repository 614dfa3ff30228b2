#include <array>
#include <mutex>
#include <string_view>

#include "autograd/registry/apiversioning.hpp"

namespace gradix_core::api_freeze {
namespace {

struct ModuleNames {
  std::string_view module;
  std::initializer_list<std::string_view> names;
};

void register_all() {
  static const ModuleNames kModules[] = {
      {"error", {"CoreError", "CoreResult", "ErrorContext", "ErrorKind", "ErrorContextWithDetails", "PreciseError"}},
      {"validation", {"check_finite", "check_array_finite", "check_positive", "checkshape", "check_in_bounds"}},
      {"numeric", {"NumericOps", "Complex", "Precision", "StableAlgorithms"}},
      {"array_protocol", {"ArrayProtocol", "ArrayLike", "IntoArray", "ArrayView", "ArrayViewMut"}},
      {"simd_ops", {"SimdOps", "SimdUnifiedOps", "PlatformCapabilities"}},
      {"parallel_ops",
       {"par_chunks", "par_chunks_mut", "par_range", "par_join", "par_scope", "num_threads", "is_parallel_enabled"}},
      {"gpu", {"GpuContext", "GpuBuffer", "GpuBackend", "GpuCompute"}},
      {"array", {"MaskedArray", "RecordArray", "masked_where", "masked_invalid", "record_array_from_arrays"}},
      {"config", {"Config", "ConfigValue", "get_config", "set_config_value"}},
      {"constants", {"math::PI", "math::E", "physical::C", "physical::G"}},
      {"io", {"read_file", "write_file"}},
      {"resource", {"SystemResources", "get_system_resources", "get_available_memory", "is_gpu_available"}},
      {"units", {"UnitValue", "UnitRegistry", "unit_value", "convert"}},
      {"versioning", {"Version", "ApiVersion", "CompatibilityLevel"}},
      {"metrics", {"Counter", "Gauge", "Histogram", "Timer"}},
      {"safe_ops", {"safe_add", "safe_sub", "safe_mul", "safe_div", "safe_pow", "safe_sqrt", "safelog", "safe_exp"}},
      {"random",
       {"RandomGenerator", "SeedableRng", "random_array", "random_normal", "random_uniform", "set_random_seed"}},
      {"ndarray_ext", {"arange", "linspace", "meshgrid", "concatenate", "stack", "split", "broadcast_to"}},
  };
  constexpr apiversioning::Version kStable{1, 0, 0};
  auto guard = apiversioning::global_registry_mut();
  for (const ModuleNames& module : kModules)
    for (std::string_view name : module.names) guard->register_api(name, module.module, kStable);
}

}  // namespace

void api_freeze_impl() {
  static std::once_flag once;
  std::call_once(once, register_all);
}

}  // namespace gradix_core::api_freeze

namespace gradix_core {
namespace {

// Runs when the binary loads, before the interpreter initialises the module.
struct LoadTimeInit {
  LoadTimeInit() {
    static std::once_flag once;
    std::call_once(once, api_freeze::api_freeze_impl);
  }
};
const LoadTimeInit INIT;

}  // namespace
}  // namespace gradix_core

#include "autograd/registry/apiversioning.hpp"

namespace gradix_core::apiversioning {

VersionRegistry& VersionRegistry::register_api(std::string_view name, std::string_view module,
                                               Version version) {
  for (const ApiEntry& entry : entries_)
    if (entry.name == name && entry.module == module) return *this;
  ApiEntry entry;
  entry.name = std::string(name);
  entry.module = std::string(module);
  entry.version = version;
  entries_.push_back(std::move(entry));
  return *this;
}

RegistryGuard global_registry_mut() {
  // Leaked on purpose: the registry lives until the process ends.
  static std::mutex* const mutex = new std::mutex;
  static VersionRegistry* const registry = new VersionRegistry;
  return RegistryGuard(std::unique_lock<std::mutex>(*mutex), registry);
}

}  // namespace gradix_core::apiversioning

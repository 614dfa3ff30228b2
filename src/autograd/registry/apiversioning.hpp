#pragma once
// The support library's process-wide registry of its public interface names,
// each with its module and the version since which it is stable. Filled once
// when the binary loads; nothing reads it on the search's path.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace gradix_core::apiversioning {

struct Version {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t patch = 0;
  bool operator==(const Version&) const = default;
};

struct ApiEntry {
  std::string name;
  std::string module;
  std::vector<std::string> related;  // always empty at registration
  std::optional<std::string> deprecated_since;
  std::optional<std::string> replacement;
  std::optional<std::string> notes;
  Version version;
};

class VersionRegistry {
 public:
  // Appends {name, module, version} unless that (name, module) pair exists.
  VersionRegistry& register_api(std::string_view name, std::string_view module, Version version);
  const std::vector<ApiEntry>& entries() const noexcept { return entries_; }

 private:
  std::vector<ApiEntry> entries_;
};

// The one registry, created empty on first use; the guard holds its mutex.
class RegistryGuard {
 public:
  VersionRegistry& operator*() const noexcept { return *registry_; }
  VersionRegistry* operator->() const noexcept { return registry_; }

 private:
  friend RegistryGuard global_registry_mut();
  RegistryGuard(std::unique_lock<std::mutex> lock, VersionRegistry* registry)
      : lock_(std::move(lock)), registry_(registry) {}
  std::unique_lock<std::mutex> lock_;
  VersionRegistry* registry_;
};

RegistryGuard global_registry_mut();

}  // namespace gradix_core::apiversioning

namespace gradix_core::api_freeze {

// Registers the 85 interface names, at most once per process.
void api_freeze_impl();

}  // namespace gradix_core::api_freeze

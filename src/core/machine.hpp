#pragma once
// What the machine lets this process use: CPUs and memory, as the kernel
// limits them through the affinity mask and the cgroup the process runs in.
//
// The readings come from /proc and the cgroup file systems (version 2, or the
// controllers of version 1, whichever the process's own cgroup has); a file
// that is missing or unreadable sets no limit.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace kvel_core::machine {

// The CPUs this process may use: those of its affinity mask, further limited
// by its cgroup's CPU quota rounded up; at least 1.
std::size_t available_cpus();

// What this process may still use of memory, as two bounds that run out in
// different ways.
struct MemoryRoom {
  // Bytes it may still fill: MemAvailable, further limited by its cgroup's
  // memory limit less the cgroup's working set (its use without the page
  // cache that the kernel reclaims before an allocation fails).
  std::optional<std::uint64_t> committed;
  // Address space left below its address-space limit (RLIMIT_AS): there,
  // memory that is reserved and never touched counts too.
  std::optional<std::uint64_t> address_space;
};
MemoryRoom available_memory();

// The address space that one more thread takes: its stack (the default
// thread stack size and its guard) and what glibc maps to make the thread
// a malloc arena of its own.
std::uint64_t thread_reservation();

// The readings above, with `root` standing for "/" (tests point it at a
// folder of sample files).
//
// The CPU quota in CPUs (quota / period, the smallest along the cgroup's
// ancestry); nothing when no quota is set.
std::optional<double> cpu_quota(const std::filesystem::path& root);
// Memory left below the cgroup's limits (the smallest along its ancestry)
// and MemAvailable, whichever is smaller; and `address_space_limit` less the
// process's size (from /proc/self/statm). Each is nothing when unknown.
MemoryRoom memory_available(const std::filesystem::path& root,
                            std::optional<std::uint64_t> address_space_limit = std::nullopt);

// `affinity` CPUs limited by `quota` CPUs, rounded up; at least 1.
std::size_t cpus_within(std::size_t affinity, std::optional<double> quota);

}  // namespace kvel_core::machine

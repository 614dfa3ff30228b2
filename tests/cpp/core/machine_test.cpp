#include "core/machine.hpp"

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/refine.hpp"

namespace {

namespace fs = std::filesystem;
using kvel_core::machine::cpu_quota;
using kvel_core::machine::cpus_within;
using kvel_core::machine::memory_available;

// A folder standing for "/", holding the sample files of one case.
class SampleRoot {
 public:
  explicit SampleRoot(const std::vector<std::pair<std::string, std::string>>& files) {
    root_ = fs::temp_directory_path() / ("kvel_machine_" + std::to_string(::getpid()) + "_" + std::to_string(next_++));
    fs::remove_all(root_);
    for (const auto& [path, text] : files) {
      const fs::path file = root_ / path;
      fs::create_directories(file.parent_path());
      std::ofstream(file) << text;
    }
    fs::create_directories(root_);
  }
  ~SampleRoot() { fs::remove_all(root_); }
  SampleRoot(const SampleRoot&) = delete;
  SampleRoot& operator=(const SampleRoot&) = delete;
  const fs::path& path() const { return root_; }

 private:
  static inline int next_ = 0;
  fs::path root_;
};

constexpr const char* kV2Mount = "30 23 0:26 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw\n";
constexpr const char* kV1Mounts =
    "33 32 0:30 / /sys/fs/cgroup/cpu,cpuacct rw,relatime - cgroup cgroup rw,cpu,cpuacct\n"
    "36 32 0:33 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
    "42 32 0:39 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n";
constexpr const char* kMeminfo = "MemTotal:       24000000 kB\nMemAvailable:    8000000 kB\n";

struct QuotaCase {
  const char* what;
  std::vector<std::pair<std::string, std::string>> files;
  std::optional<double> quota;
};

TEST(Machine, ReadsTheCpuQuotaOfTheProcesssCgroup) {
  const std::vector<QuotaCase> cases = {
      {"no files", {}, std::nullopt},
      {"v2, max", {{"proc/self/cgroup", "0::/app\n"}, {"proc/self/mountinfo", kV2Mount},
                   {"sys/fs/cgroup/app/cpu.max", "max 100000\n"}}, std::nullopt},
      {"v2, 1.5 CPUs", {{"proc/self/cgroup", "0::/app\n"}, {"proc/self/mountinfo", kV2Mount},
                        {"sys/fs/cgroup/app/cpu.max", "150000 100000\n"}}, 1.5},
      {"v2, the parent's quota limits the child",
       {{"proc/self/cgroup", "0::/kube/pod/app\n"}, {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/kube/pod/app/cpu.max", "max 100000\n"}, {"sys/fs/cgroup/kube/pod/cpu.max", "200000 100000\n"},
        {"sys/fs/cgroup/kube/cpu.max", "400000 100000\n"}},
       2.0},
      {"v2, a container's own namespace",
       {{"proc/self/cgroup", "0::/\n"}, {"proc/self/mountinfo", kV2Mount}, {"sys/fs/cgroup/cpu.max", "50000 100000\n"}},
       0.5},
      {"v2, mounted below the cgroup's root",
       {{"proc/self/cgroup", "0::/docker/abc\n"},
        {"proc/self/mountinfo", "30 23 0:26 /docker/abc /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"},
        {"sys/fs/cgroup/cpu.max", "300000 100000\n"}},
       3.0},
      {"v2, cpu.max missing", {{"proc/self/cgroup", "0::/app\n"}, {"proc/self/mountinfo", kV2Mount}}, std::nullopt},
      {"v1, quota set",
       {{"proc/self/cgroup", "4:memory:/x\n2:cpu,cpuacct:/job\n0::/\n"}, {"proc/self/mountinfo", kV1Mounts},
        {"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_quota_us", "250000\n"},
        {"sys/fs/cgroup/cpu,cpuacct/job/cpu.cfs_period_us", "100000\n"}},
       2.5},
      {"v1, no quota (-1)",
       {{"proc/self/cgroup", "2:cpu,cpuacct:/\n"}, {"proc/self/mountinfo", kV1Mounts},
        {"sys/fs/cgroup/cpu,cpuacct/cpu.cfs_quota_us", "-1\n"},
        {"sys/fs/cgroup/cpu,cpuacct/cpu.cfs_period_us", "100000\n"}},
       std::nullopt},
      {"escaped mount point",
       {{"proc/self/cgroup", "0::/\n"},
        {"proc/self/mountinfo", "30 23 0:26 / /sys/fs/cg\\040roup rw - cgroup2 cgroup2 rw\n"},
        {"sys/fs/cg roup/cpu.max", "100000 100000\n"}},
       1.0},
      {"garbage", {{"proc/self/cgroup", "nonsense"}, {"proc/self/mountinfo", "- -\n\n"}}, std::nullopt},
  };
  for (const QuotaCase& c : cases) {
    const SampleRoot root(c.files);
    EXPECT_EQ(cpu_quota(root.path()), c.quota) << c.what;
  }
}

TEST(Machine, CpusAreTheAffinityLimitedByTheQuotaRoundedUp) {
  EXPECT_EQ(cpus_within(64, 2.0), 2u);
  EXPECT_EQ(cpus_within(64, 1.5), 2u);
  EXPECT_EQ(cpus_within(64, 0.1), 1u);
  EXPECT_EQ(cpus_within(4, 16.0), 4u);
  EXPECT_EQ(cpus_within(4, std::nullopt), 4u);
  EXPECT_EQ(cpus_within(0, std::nullopt), 1u);
  EXPECT_GE(kvel_core::machine::available_cpus(), 1u);
}

struct MemoryCase {
  const char* what;
  std::vector<std::pair<std::string, std::string>> files;
  std::optional<std::uint64_t> bytes;
};

TEST(Machine, ReadsTheMemoryLeftToTheProcess) {
  constexpr std::uint64_t kAvailable = 8000000ull * 1024;
  const std::vector<MemoryCase> cases = {
      {"nothing readable", {}, std::nullopt},
      {"MemAvailable alone", {{"proc/meminfo", kMeminfo}}, kAvailable},
      {"v2, max", {{"proc/self/cgroup", "0::/app\n"}, {"proc/self/mountinfo", kV2Mount},
                   {"sys/fs/cgroup/app/memory.max", "max\n"}, {"proc/meminfo", kMeminfo}}, kAvailable},
      {"v2, limit less use", {{"proc/self/cgroup", "0::/app\n"}, {"proc/self/mountinfo", kV2Mount},
                              {"sys/fs/cgroup/app/memory.max", "1073741824\n"},
                              {"sys/fs/cgroup/app/memory.current", "73741824\n"}, {"proc/meminfo", kMeminfo}},
       1000000000},
      {"v2, over the limit", {{"proc/self/cgroup", "0::/app\n"}, {"proc/self/mountinfo", kV2Mount},
                              {"sys/fs/cgroup/app/memory.max", "1000\n"}, {"sys/fs/cgroup/app/memory.current", "5000\n"}},
       0},
      {"v2, the host has less than the cgroup",
       {{"proc/self/cgroup", "0::/app\n"}, {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/app/memory.max", "100000000000\n"}, {"sys/fs/cgroup/app/memory.current", "0\n"},
        {"proc/meminfo", kMeminfo}},
       kAvailable},
      {"v1, limit less use",
       {{"proc/self/cgroup", "4:memory:/job\n2:cpu,cpuacct:/\n"}, {"proc/self/mountinfo", kV1Mounts},
        {"sys/fs/cgroup/memory/job/memory.limit_in_bytes", "536870912\n"},
        {"sys/fs/cgroup/memory/job/memory.usage_in_bytes", "36870912\n"},
        {"sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n"}, {"proc/meminfo", kMeminfo}},
       500000000},
      {"v1, unlimited",
       {{"proc/self/cgroup", "4:memory:/\n"}, {"proc/self/mountinfo", kV1Mounts},
        {"sys/fs/cgroup/memory/memory.limit_in_bytes", "9223372036854771712\n"},
        {"sys/fs/cgroup/memory/memory.usage_in_bytes", "1000\n"}, {"proc/meminfo", kMeminfo}},
       kAvailable},
      // The page cache that the kernel reclaims first is not counted as used.
      {"v2, inactive file pages are free",
       {{"proc/self/cgroup", "0::/app\n"}, {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/app/memory.max", "1073741824\n"}, {"sys/fs/cgroup/app/memory.current", "1000000000\n"},
        {"sys/fs/cgroup/app/memory.stat", "anon 60000000\nfile 940000000\nactive_file 13741824\n"
                                          "inactive_file 926258176\nslab 100\n"}},
       1000000000},
      {"v2, inactive file pages above the use",
       {{"proc/self/cgroup", "0::/app\n"}, {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/app/memory.max", "1000\n"}, {"sys/fs/cgroup/app/memory.current", "900\n"},
        {"sys/fs/cgroup/app/memory.stat", "inactive_file 5000\n"}},
       1000},
      {"v2, a stat without inactive_file, or garbage in it",
       {{"proc/self/cgroup", "0::/app\n"}, {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/app/memory.max", "1000\n"}, {"sys/fs/cgroup/app/memory.current", "900\n"},
        {"sys/fs/cgroup/app/memory.stat", "active_file 800\ninactive_filex 800\ninactive_file lots\n"}},
       100},
      {"v2, a parent's working set",
       {{"proc/self/cgroup", "0::/app/job\n"}, {"proc/self/mountinfo", kV2Mount},
        {"sys/fs/cgroup/app/memory.max", "3000\n"}, {"sys/fs/cgroup/app/memory.current", "2500\n"},
        {"sys/fs/cgroup/app/memory.stat", "inactive_file 2000\n"},
        {"sys/fs/cgroup/app/job/memory.max", "max\n"}},
       2500},
      {"v1, total inactive file pages are free",
       {{"proc/self/cgroup", "4:memory:/job\n2:cpu,cpuacct:/\n"}, {"proc/self/mountinfo", kV1Mounts},
        {"sys/fs/cgroup/memory/job/memory.limit_in_bytes", "536870912\n"},
        {"sys/fs/cgroup/memory/job/memory.usage_in_bytes", "436870912\n"},
        {"sys/fs/cgroup/memory/job/memory.stat", "cache 400000000\ninactive_file 1\n"
                                                 "total_inactive_file 400000000\n"},
        {"proc/meminfo", kMeminfo}},
       500000000},
  };
  for (const MemoryCase& c : cases) {
    const SampleRoot root(c.files);
    const kvel_core::machine::MemoryRoom room = memory_available(root.path());
    EXPECT_EQ(room.committed, c.bytes) << c.what;
    EXPECT_EQ(room.address_space, std::nullopt) << c.what;
  }

  // An address-space limit counts from what the process already holds, and
  // is a bound of its own.
  const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  const SampleRoot root({{"proc/self/statm", "1000 200 50 1 0 300 0\n"}, {"proc/meminfo", kMeminfo}});
  EXPECT_EQ(memory_available(root.path(), 1000 * page + 12345).address_space, 12345u);
  EXPECT_EQ(memory_available(root.path(), 10 * page).address_space, 0u);
  EXPECT_EQ(memory_available(root.path(), kAvailable * 2).address_space, kAvailable * 2 - 1000 * page);
  EXPECT_EQ(memory_available(root.path(), 10 * page).committed, kAvailable);
  EXPECT_EQ(memory_available(root.path(), std::nullopt).address_space, std::nullopt);

  // A size in pages too large for bytes counts as all of the address space,
  // never as a wrapped small size.
  const SampleRoot huge({{"proc/self/statm", "18446744073709551615 1 1 1 0 1 0\n"}, {"proc/meminfo", kMeminfo}});
  EXPECT_EQ(memory_available(huge.path(), std::numeric_limits<std::uint64_t>::max() - 1).address_space, 0u);
}

// A thread reserves at least its stack and what glibc maps to make its arena.
TEST(Machine, AThreadReservesItsStackAndAnArena) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_getattr_default_np(&attr), 0);
  std::size_t stack = 0;
  ASSERT_EQ(pthread_attr_getstacksize(&attr, &stack), 0);
  pthread_attr_destroy(&attr);
  EXPECT_GT(stack, 0u);
  EXPECT_GE(kvel_core::machine::thread_reservation(), stack + (std::uint64_t{128} << 20));
}

// A search runs no more fits at once than it has CPUs for, nor more than
// half of the memory it may fill holds, nor, under an address-space limit,
// more than half of it holds once each thread beyond the first is charged
// its reservation.
TEST(Machine, FitsAtOnceStayWithinCpusAndHalfTheMemory) {
  using kvel_core::discoverer::fit_working_set;
  using kvel_core::discoverer::fits_at_once;
  using kvel_core::machine::MemoryRoom;
  const std::size_t rows = 50000;
  const std::uint64_t one = fit_working_set(rows);
  const std::uint64_t thread = 72u << 20;
  constexpr std::uint64_t kHuge = std::numeric_limits<std::uint64_t>::max();
  EXPECT_GT(fit_working_set(2 * rows), one);
  struct Case {
    std::size_t cpus;
    MemoryRoom room;
    std::size_t fits;
  };
  const std::vector<Case> cases = {
      {24, {}, 24},
      {0, {}, 1},
      {24, {100 * one, std::nullopt}, 24},
      {24, {8 * one, std::nullopt}, 4},
      {24, {8 * one - 1, std::nullopt}, 3},
      {24, {0, std::nullopt}, 1},
      // The address space: t fits need 2·t·one + (t − 1)·thread.
      {24, {std::nullopt, 2 * one}, 1},
      {24, {std::nullopt, 4 * one + thread - 1}, 1},
      {24, {std::nullopt, 4 * one + thread}, 2},
      {24, {std::nullopt, 10 * one + 4 * thread}, 5},
      {2, {std::nullopt, 10 * one + 4 * thread}, 2},
      {24, {std::nullopt, 0}, 1},
      // The smaller bound holds.
      {24, {4 * one, 10 * one + 4 * thread}, 2},
      {24, {100 * one, 6 * one + 2 * thread}, 3},
      // Room near 2^64 (a limit of 2^64 − 2 less a small process) is in
      // effect no limit: the charge for threads must not wrap it to little.
      {24, {std::nullopt, kHuge}, 24},
      {24, {std::nullopt, kHuge - 1}, 24},
      {24, {std::nullopt, kHuge - thread + 1}, 24},
      {24, {std::nullopt, kHuge - thread}, 24},
      {24, {std::nullopt, kHuge - (100u << 20)}, 24},
      {24, {kHuge, kHuge}, 24},
      {3, {kHuge - 5, kHuge - 5}, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fits_at_once(c.cpus, c.room, rows, thread), c.fits)
        << c.cpus << " CPUs, " << c.room.committed.value_or(0) << " committed, "
        << c.room.address_space.value_or(0) << " address space";
  }
  // Readings at the top of the range: a working set or a thread reservation
  // too large to add up leaves room for one fit, never for more.
  const std::size_t all_rows = std::numeric_limits<std::size_t>::max();
  EXPECT_EQ(fit_working_set(all_rows), kHuge);
  EXPECT_EQ(fits_at_once(24, {kHuge, kHuge}, all_rows, thread), 1u);
  EXPECT_EQ(fits_at_once(24, {std::nullopt, kHuge}, rows, kHuge), 1u);
  EXPECT_EQ(fits_at_once(24, {std::nullopt, kHuge - 1}, rows, kHuge - 1), 1u);
}

}  // namespace

#include "core/machine.hpp"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "support/saturating.hpp"

namespace kvel_core::machine {

namespace fs = std::filesystem;

namespace {

// A version 1 memory limit this large means "no limit" (the kernel's
// largest page count in bytes is just below 2^63).
constexpr std::uint64_t kNoMemoryLimit = std::uint64_t{1} << 62;

std::optional<std::string> read_text(const fs::path& path) {
  std::ifstream in(path);
  if (!in) return std::nullopt;
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return text;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

std::vector<std::string_view> lines(std::string_view text) {
  std::vector<std::string_view> out = split(text, '\n');
  if (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

std::string_view trim(std::string_view text) {
  const std::size_t begin = text.find_first_not_of(" \t\n");
  if (begin == std::string_view::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\n") - begin + 1);
}

template <class T>
std::optional<T> parse_number(std::string_view text) {
  text = trim(text);
  T value{};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

bool lists(std::string_view comma_list, std::string_view name) {
  for (const std::string_view item : split(comma_list, ','))
    if (item == name) return true;
  return false;
}

// Mount points in mountinfo write a blank, a tab, a line feed and a
// backslash as three octal digits after a backslash.
std::string unescape(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const std::string_view digits = text.substr(i + 1, 3);
      int code = 0;
      const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), code, 8);
      if (error == std::errc() && end == digits.data() + digits.size()) {
        out += static_cast<char>(code);
        i += 3;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// Which cgroup hierarchy: version 2, or the version 1 one of a controller.
struct Hierarchy {
  std::string_view controller;  // empty for version 2
  bool v2() const noexcept { return controller.empty(); }
};

// The cgroup directories that limit the process in `hierarchy`: its own
// cgroup's first, then each parent up to the mounted root. Empty when the
// process's cgroup or the hierarchy's mount cannot be found.
std::vector<fs::path> cgroup_chain(const fs::path& root, Hierarchy hierarchy) {
  const std::optional<std::string> membership = read_text(root / "proc/self/cgroup");
  const std::optional<std::string> mountinfo = read_text(root / "proc/self/mountinfo");
  if (!membership || !mountinfo) return {};

  // "hierarchy-id:controllers:path"; version 2 is "0::path".
  std::optional<fs::path> cgroup;
  for (const std::string_view line : lines(*membership)) {
    const std::size_t first = line.find(':');
    const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view id = line.substr(0, first);
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const bool match = hierarchy.v2() ? (id == "0" && controllers.empty()) : lists(controllers, hierarchy.controller);
    if (match) {
      cgroup = fs::path(std::string(line.substr(second + 1)));
      break;
    }
  }
  if (!cgroup) return {};

  // "id parent major:minor root mount-point options [optional...] - type source super-options"
  for (const std::string_view line : lines(*mountinfo)) {
    const std::vector<std::string_view> fields = split(line, ' ');
    const auto dash = std::find(fields.begin(), fields.end(), std::string_view("-"));
    if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 2) continue;
    const std::string_view type = *(dash + 1);
    const std::string_view options = fields.end() - dash >= 4 ? *(dash + 3) : std::string_view();
    const bool match = hierarchy.v2() ? type == "cgroup2" : (type == "cgroup" && lists(options, hierarchy.controller));
    if (!match) continue;

    const fs::path mount_root(unescape(fields[3]));
    const fs::path mount_point = root / fs::path(unescape(fields[4])).relative_path();
    // The process's cgroup below the mounted root; a cgroup outside it (seen
    // from another namespace) is read at the mount point.
    fs::path below = cgroup->lexically_relative(mount_root);
    if (below.empty() || below == "." || *below.begin() == "..") below.clear();
    std::vector<fs::path> chain;
    fs::path dir = below.empty() ? mount_point : mount_point / below;
    chain.push_back(dir);
    while (dir != mount_point && dir.has_relative_path() && dir != dir.parent_path()) {
      dir = dir.parent_path();
      chain.push_back(dir);
    }
    return chain;
  }
  return {};
}

template <class T>
void keep_smaller(std::optional<T>& best, T value) {
  if (!best || value < *best) best = value;
}

// "MemAvailable:  24131932 kB" in /proc/meminfo.
std::optional<std::uint64_t> mem_available(const fs::path& root) {
  const std::optional<std::string> meminfo = read_text(root / "proc/meminfo");
  if (!meminfo) return std::nullopt;
  for (std::string_view line : lines(*meminfo)) {
    constexpr std::string_view kKey = "MemAvailable:";
    if (line.substr(0, kKey.size()) != kKey) continue;
    line = trim(line.substr(kKey.size()));
    if (line.size() > 2 && line.substr(line.size() - 2) == "kB") line = line.substr(0, line.size() - 2);
    const std::optional<std::uint64_t> kib = parse_number<std::uint64_t>(line);
    if (!kib || *kib > std::numeric_limits<std::uint64_t>::max() / 1024) return std::nullopt;
    return *kib * 1024;
  }
  return std::nullopt;
}

// The process's size (its address space) from the first field of
// /proc/self/statm, in pages.
std::optional<std::uint64_t> address_space_held(const fs::path& root) {
  const std::optional<std::string> statm = read_text(root / "proc/self/statm");
  if (!statm) return std::nullopt;
  const std::optional<std::uint64_t> pages = parse_number<std::uint64_t>(split(trim(*statm), ' ').front());
  const long page_size = ::sysconf(_SC_PAGESIZE);
  if (!pages || page_size <= 0) return std::nullopt;
  return kvel_support::saturating_mul(*pages, static_cast<std::uint64_t>(page_size));
}

// The value of `key` in a memory.stat file ("key value" lines).
std::optional<std::uint64_t> stat_value(const std::optional<std::string>& stat, std::string_view key) {
  if (!stat) return std::nullopt;
  for (const std::string_view line : lines(*stat)) {
    const std::size_t blank = line.find(' ');
    if (blank != std::string_view::npos && line.substr(0, blank) == key)
      return parse_number<std::uint64_t>(line.substr(blank + 1));
  }
  return std::nullopt;
}

// Memory left below one cgroup's limit: the limit less the cgroup's working
// set, which is its use less the inactive file pages (`reclaimable`, read
// from memory.stat): page cache that the kernel drops before it fails an
// allocation, as container tooling counts a working set.
std::optional<std::uint64_t> left_below(const std::optional<std::string>& limit_text,
                                        const std::optional<std::string>& usage_text,
                                        std::optional<std::uint64_t> reclaimable) {
  if (!limit_text || trim(*limit_text) == "max") return std::nullopt;
  const std::optional<std::uint64_t> limit = parse_number<std::uint64_t>(*limit_text);
  if (!limit || *limit >= kNoMemoryLimit) return std::nullopt;
  const std::optional<std::uint64_t> usage = usage_text ? parse_number<std::uint64_t>(*usage_text) : std::nullopt;
  std::uint64_t used = usage.value_or(0);
  used -= std::min(used, reclaimable.value_or(0));
  return used < *limit ? *limit - used : 0;
}

// The address space that glibc takes to make the malloc arena of a thread
// other than the first: an arena spans twice the largest mmap threshold (64
// MiB on 64-bit systems), and to find one aligned to its size glibc maps
// twice that and gives the excess back. Short of it, the thread gets no
// arena and maps every allocation apart, which works but is slow.
constexpr std::uint64_t kArenaSpan = 2 * (std::uint64_t{4} << 20) * sizeof(long);
constexpr std::uint64_t kArenaReservation = 2 * kArenaSpan;

}  // namespace

std::optional<double> cpu_quota(const fs::path& root) {
  std::optional<double> cpus;
  // Version 2: cpu.max holds "max period" or "quota period".
  for (const fs::path& dir : cgroup_chain(root, Hierarchy{})) {
    const std::optional<std::string> text = read_text(dir / "cpu.max");
    if (!text) continue;
    const std::vector<std::string_view> fields = split(trim(*text), ' ');
    if (fields.empty() || fields[0] == "max") continue;
    const std::optional<double> quota = parse_number<double>(fields[0]);
    const std::optional<double> period = fields.size() > 1 ? parse_number<double>(fields[1]) : 100000.0;
    if (quota && period && *quota > 0 && *period > 0) keep_smaller(cpus, *quota / *period);
  }
  // Version 1: a quota of -1 sets none.
  for (const fs::path& dir : cgroup_chain(root, Hierarchy{"cpu"})) {
    const std::optional<std::string> quota_text = read_text(dir / "cpu.cfs_quota_us");
    const std::optional<std::string> period_text = read_text(dir / "cpu.cfs_period_us");
    if (!quota_text || !period_text) continue;
    const std::optional<double> quota = parse_number<double>(*quota_text);
    const std::optional<double> period = parse_number<double>(*period_text);
    if (quota && period && *quota > 0 && *period > 0) keep_smaller(cpus, *quota / *period);
  }
  return cpus;
}

MemoryRoom memory_available(const fs::path& root, std::optional<std::uint64_t> address_space_limit) {
  MemoryRoom room;
  for (const fs::path& dir : cgroup_chain(root, Hierarchy{})) {
    if (const auto left = left_below(read_text(dir / "memory.max"), read_text(dir / "memory.current"),
                                     stat_value(read_text(dir / "memory.stat"), "inactive_file")))
      keep_smaller(room.committed, *left);
  }
  for (const fs::path& dir : cgroup_chain(root, Hierarchy{"memory"})) {
    if (const auto left =
            left_below(read_text(dir / "memory.limit_in_bytes"), read_text(dir / "memory.usage_in_bytes"),
                       stat_value(read_text(dir / "memory.stat"), "total_inactive_file")))
      keep_smaller(room.committed, *left);
  }
  if (const auto available = mem_available(root)) keep_smaller(room.committed, *available);
  if (address_space_limit) {
    if (const auto held = address_space_held(root))
      room.address_space = *held < *address_space_limit ? *address_space_limit - *held : 0;
  }
  return room;
}

std::size_t cpus_within(std::size_t affinity, std::optional<double> quota) {
  const std::size_t cpus = std::max<std::size_t>(affinity, 1);
  // A positive quota rounds up to at least one CPU.
  if (!quota || !(*quota > 0) || std::ceil(*quota) >= static_cast<double>(cpus)) return cpus;
  return static_cast<std::size_t>(std::ceil(*quota));
}

std::size_t available_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  const std::size_t affinity =
      ::sched_getaffinity(0, sizeof(set), &set) == 0 ? static_cast<std::size_t>(CPU_COUNT(&set)) : 1;
  return cpus_within(affinity, cpu_quota("/"));
}

MemoryRoom available_memory() {
  rlimit limit{};
  std::optional<std::uint64_t> address_space;
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) address_space = limit.rlim_cur;
  return memory_available("/", address_space);
}

std::uint64_t thread_reservation() {
  std::size_t stack = 0;
  std::size_t guard = 0;
  pthread_attr_t attr;
  if (::pthread_getattr_default_np(&attr) == 0) {
    ::pthread_attr_getstacksize(&attr, &stack);
    ::pthread_attr_getguardsize(&attr, &guard);
    ::pthread_attr_destroy(&attr);
  }
  using kvel_support::saturating_add;
  return saturating_add(saturating_add(stack, guard), kArenaReservation);
}

}  // namespace kvel_core::machine

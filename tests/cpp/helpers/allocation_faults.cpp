#include "helpers/allocation_faults.hpp"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>

namespace {

constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

std::atomic<std::size_t> g_limit{kNoLimit};
// The n-th allocation of at least g_nth_bytes fails: g_counted counts them
// while g_nth is not 0.
std::atomic<std::size_t> g_nth{0};
std::atomic<std::size_t> g_nth_bytes{kNoLimit};
std::atomic<std::size_t> g_counted{0};
std::atomic<bool> g_fired{false};
std::atomic<bool> g_fired_nothrow{false};
std::atomic<bool> g_nothrow_only{false};

enum class Form { Throwing, NoThrow };

bool should_fail(std::size_t size, Form form) {
  if (size > g_limit.load(std::memory_order_relaxed)) return true;
  const std::size_t nth = g_nth.load(std::memory_order_relaxed);
  if (nth == 0 || size < g_nth_bytes.load(std::memory_order_relaxed)) return false;
  if (form == Form::Throwing && g_nothrow_only.load(std::memory_order_relaxed)) return false;
  if (g_counted.fetch_add(1, std::memory_order_relaxed) + 1 != nth) return false;
  g_fired.store(true, std::memory_order_relaxed);
  g_fired_nothrow.store(form == Form::NoThrow, std::memory_order_relaxed);
  return true;
}

void* allocate(std::size_t size, Form form) noexcept {
  if (should_fail(size, form)) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

void* allocate_aligned(std::size_t size, std::align_val_t align, Form form) noexcept {
  if (should_fail(size, form)) return nullptr;
  const auto alignment = static_cast<std::size_t>(align);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = size == 0 ? alignment : (size + alignment - 1) / alignment * alignment;
  return std::aligned_alloc(alignment, rounded);
}

}  // namespace

namespace kvel_test {

AllocationLimit::AllocationLimit(std::size_t bytes) { g_limit.store(bytes); }
AllocationLimit::~AllocationLimit() { g_limit.store(kNoLimit); }

NthAllocationFails::NthAllocationFails(std::size_t n, std::size_t min_bytes, Forms forms) {
  g_counted.store(0);
  g_nothrow_only.store(forms == Forms::NoThrowOnly);
  g_fired.store(false);
  g_fired_nothrow.store(false);
  g_nth_bytes.store(min_bytes);
  g_nth.store(n);
}
NthAllocationFails::~NthAllocationFails() {
  g_nth.store(0);
  g_nth_bytes.store(kNoLimit);
}
bool NthAllocationFails::fired() const { return g_fired.load(); }
bool NthAllocationFails::fired_nothrow() const { return g_fired.load() && g_fired_nothrow.load(); }
std::size_t NthAllocationFails::counted() const { return g_counted.load(); }

}  // namespace kvel_test

// Every replaceable form. GCC pairs operator new with operator delete by name
// and reports the free() below as a mismatch wherever it inlines the two.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  if (void* p = allocate(size, Form::Throwing)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = allocate(size, Form::Throwing)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, Form::NoThrow); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, Form::NoThrow); }
void* operator new(std::size_t size, std::align_val_t align) {
  if (void* p = allocate_aligned(size, align, Form::Throwing)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t align) {
  if (void* p = allocate_aligned(size, align, Form::Throwing)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return allocate_aligned(size, align, Form::NoThrow);
}
void* operator new[](std::size_t size, std::align_val_t align, const std::nothrow_t&) noexcept {
  return allocate_aligned(size, align, Form::NoThrow);
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }

#pragma GCC diagnostic pop

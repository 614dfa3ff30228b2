#pragma once
// Injected allocation failures for the test programs that link
// allocation_faults.cpp, which replaces every form of the global operator new
// and operator delete (plain, array, nothrow, sized, aligned) with malloc and
// free, so that sanitizers see one allocator throughout.
//
// Only allocations made through operator new are affected; the faults are
// process-wide and apply to every thread.

#include <cstddef>

namespace kvel_test {

// While it lives, every allocation of more than `bytes` bytes fails.
class AllocationLimit {
 public:
  explicit AllocationLimit(std::size_t bytes);
  ~AllocationLimit();
  AllocationLimit(const AllocationLimit&) = delete;
  AllocationLimit& operator=(const AllocationLimit&) = delete;
};

// While it lives, the n-th allocation (counting from 1) of at least
// `min_bytes` bytes fails, and only that one; with Forms::NoThrowOnly only
// nothrow allocations are counted.
class NthAllocationFails {
 public:
  enum class Forms { All, NoThrowOnly };
  NthAllocationFails(std::size_t n, std::size_t min_bytes, Forms forms = Forms::All);
  ~NthAllocationFails();
  NthAllocationFails(const NthAllocationFails&) = delete;
  NthAllocationFails& operator=(const NthAllocationFails&) = delete;

  // Whether the failure has happened.
  bool fired() const;
  // Whether it happened to a nothrow allocation, whose caller was told by a
  // null pointer rather than by std::bad_alloc.
  bool fired_nothrow() const;
  // The allocations counted so far, the failed one included.
  std::size_t counted() const;
};

}  // namespace kvel_test

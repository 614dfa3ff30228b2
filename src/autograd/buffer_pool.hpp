#pragma once
// Recycled storage for array values.
//
// A fit evaluates the same graph shape step after step, so it frees and
// allocates the same block sizes over and over. Handing those blocks back to
// the C library lets it return the top of the heap to the kernel, and the next
// step faults every page in again. While a BufferScope lives on a thread,
// array blocks freed on that thread are kept, by size, and handed out again to
// allocations of the same size on that thread; when the outermost scope ends,
// every kept block is freed. Blocks are plain operator-new blocks, so a block
// may be freed on any thread, inside or outside a scope.

#include <cstddef>
#include <new>

namespace gradix_autograd::buffer_pool {

void* allocate(std::size_t bytes);
void deallocate(void* block, std::size_t bytes) noexcept;

// Recycles array blocks on this thread for as long as it lives; scopes nest.
class BufferScope {
 public:
  BufferScope();
  ~BufferScope();
  BufferScope(const BufferScope&) = delete;
  BufferScope& operator=(const BufferScope&) = delete;
};

// The allocator of array storage: stateless, every instance equal.
template <class T>
struct PooledAllocator {
  using value_type = T;

  PooledAllocator() noexcept = default;
  template <class U>
  PooledAllocator(const PooledAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(buffer_pool::allocate(n * sizeof(T)));
  }
  void deallocate(T* block, std::size_t n) noexcept { buffer_pool::deallocate(block, n * sizeof(T)); }

  template <class U>
  friend bool operator==(const PooledAllocator&, const PooledAllocator<U>&) noexcept {
    return true;
  }
};

}  // namespace gradix_autograd::buffer_pool

#include "autograd/buffer_pool.hpp"

#include <memory>
#include <new>
#include <utility>

namespace gradix_autograd::buffer_pool {

namespace {

// A stack whose own storage comes from nothrow allocations: keeping a block
// is optional, so running short of memory for the bookkeeping only means that
// the block is freed instead (and never ends a computation). T must move
// without throwing.
template <class T>
class NoThrowStack {
 public:
  NoThrowStack() = default;
  NoThrowStack(NoThrowStack&& other) noexcept
      : items_(std::exchange(other.items_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  NoThrowStack& operator=(NoThrowStack&&) = delete;
  ~NoThrowStack() {
    std::destroy_n(items_, size_);
    ::operator delete(items_, std::nothrow);
  }

  // False when there was no room and no memory for more.
  bool push(T&& item) noexcept {
    if (size_ == capacity_) {
      const std::size_t grown = capacity_ == 0 ? 4 : 2 * capacity_;
      T* items = static_cast<T*>(::operator new(grown * sizeof(T), std::nothrow));
      if (items == nullptr) return false;
      std::uninitialized_move_n(items_, size_, items);
      std::destroy_n(items_, size_);
      ::operator delete(items_, std::nothrow);
      items_ = items;
      capacity_ = grown;
    }
    new (items_ + size_) T(std::move(item));
    ++size_;
    return true;
  }
  void pop() noexcept { std::destroy_at(items_ + --size_); }

  bool empty() const noexcept { return size_ == 0; }
  T& back() noexcept { return items_[size_ - 1]; }
  T* begin() noexcept { return items_; }
  T* end() noexcept { return items_ + size_; }

 private:
  T* items_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Kept blocks by size. A fit uses a handful of distinct sizes, so a short
// list searched from the front beats any map.
class Pool {
 public:
  Pool() = default;
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;
  ~Pool() {
    for (Bin& bin : bins_)
      for (void* block : bin.blocks) ::operator delete(block);
  }

  void* take(std::size_t bytes) noexcept {
    for (Bin& bin : bins_) {
      if (bin.bytes != bytes) continue;
      if (bin.blocks.empty()) return nullptr;
      void* block = bin.blocks.back();
      bin.blocks.pop();
      return block;
    }
    return nullptr;
  }

  // False when the block could not be kept (no memory for the list).
  bool keep(void* block, std::size_t bytes) noexcept {
    for (Bin& bin : bins_)
      if (bin.bytes == bytes) return bin.blocks.push(std::move(block));
    Bin bin{bytes, {}};
    return bin.blocks.push(std::move(block)) && bins_.push(std::move(bin));
  }

 private:
  struct Bin {
    std::size_t bytes;
    NoThrowStack<void*> blocks;
  };
  NoThrowStack<Bin> bins_;
};

struct ThreadState {
  Pool* pool = nullptr;
  std::size_t depth = 0;
};

thread_local ThreadState state;

}  // namespace

void* allocate(std::size_t bytes) {
  if (state.pool != nullptr && bytes != 0) {
    if (void* block = state.pool->take(bytes)) return block;
  }
  return ::operator new(bytes);
}

void deallocate(void* block, std::size_t bytes) noexcept {
  if (block == nullptr) return;
  if (state.pool != nullptr && bytes != 0 && state.pool->keep(block, bytes)) return;
  ::operator delete(block);
}

BufferScope::BufferScope() {
  if (state.depth == 0) state.pool = new Pool;
  ++state.depth;
}

BufferScope::~BufferScope() {
  if (--state.depth > 0) return;
  Pool* pool = state.pool;
  state.pool = nullptr;
  delete pool;
}

}  // namespace gradix_autograd::buffer_pool

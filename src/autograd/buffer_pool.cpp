#include "autograd/buffer_pool.hpp"

#include <vector>

namespace gradix_autograd::buffer_pool {

namespace {

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
      bin.blocks.pop_back();
      return block;
    }
    return nullptr;
  }

  // False when the block could not be kept (no memory for the list).
  bool keep(void* block, std::size_t bytes) noexcept {
    try {
      for (Bin& bin : bins_) {
        if (bin.bytes == bytes) {
          bin.blocks.push_back(block);
          return true;
        }
      }
      bins_.push_back(Bin{bytes, {}});
      bins_.back().blocks.push_back(block);
      return true;
    } catch (...) {
      return false;
    }
  }

 private:
  struct Bin {
    std::size_t bytes;
    std::vector<void*> blocks;
  };
  std::vector<Bin> bins_;
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

#include "autograd/buffer_pool.hpp"

#include <gtest/gtest.h>

#include <thread>

#include "autograd/array.hpp"
#include "helpers/allocation_faults.hpp"

namespace {

namespace bp = gradix_autograd::buffer_pool;
using gradix_autograd::Array;
using gradix_autograd::ArrayShape;

TEST(BufferPool, ReusesFreedBlocksOfTheSameSizeWhileAScopeLives) {
  const bp::BufferScope scope;
  const double* first = nullptr;
  {
    const Array a(ArrayShape{1000}, 1.0);
    first = a.data();
  }
  {
    const Array same_size(ArrayShape{10, 100}, 2.0);
    EXPECT_EQ(same_size.data(), first);
  }
  // The 1000-element block is free again: only its own size takes it.
  const Array other_size(ArrayShape{999}, 3.0);
  EXPECT_NE(other_size.data(), first);
  const Array same_again(ArrayShape{1000}, 4.0);
  EXPECT_EQ(same_again.data(), first);
}

TEST(BufferPool, BlocksOutliveTheirScopeAndCrossThreads) {
  Array kept;
  {
    const bp::BufferScope outer;
    {
      const bp::BufferScope inner;  // nested: the outer scope keeps the pool
      kept = Array(ArrayShape{64}, 4.0);
    }
    Array scratch(ArrayShape{64}, 5.0);
    const double* block = scratch.data();
    scratch = Array();
    EXPECT_EQ(Array(ArrayShape{64}, 6.0).data(), block);
  }
  // Allocated in a scope, freed on another thread inside a scope of its own
  // and then outside any scope: always a plain heap block.
  std::thread([moved = std::move(kept)]() mutable {
    const bp::BufferScope scope;
    EXPECT_EQ(moved(63), 4.0);
    moved = Array();
  }).join();
  Array plain(ArrayShape{3}, 1.0);
  EXPECT_EQ(plain(2), 1.0);
}

// Keeping a block needs room in the pool's lists, taken by nothrow
// allocations; without memory for it the block is freed instead, and the
// pool goes on as before.
TEST(BufferPool, ABlockThatCannotBeKeptIsFreed) {
  using kvel_test::NthAllocationFails;
  // In a new pool the first block kept grows its size's list, then the list of sizes.
  for (const std::size_t nth : {1u, 2u}) {
    const bp::BufferScope scope;
    {
      const NthAllocationFails fault(nth, 0, NthAllocationFails::Forms::NoThrowOnly);
      { const Array a(ArrayShape{64}, 1.0); }
      EXPECT_TRUE(fault.fired()) << nth;
    }
    const double* kept = nullptr;
    {
      const Array a(ArrayShape{64}, 2.0);
      kept = a.data();
    }
    const Array again(ArrayShape{64}, 3.0);
    EXPECT_EQ(again.data(), kept) << nth;
    EXPECT_EQ(again(63), 3.0);
  }
}

}  // namespace

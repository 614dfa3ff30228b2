#pragma once
// The input records of a node. Almost every node has one to three inputs, so
// they are stored inline; longer lists (AddN, the Adam update) spill to the heap.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "support/panic.hpp"

namespace gradix_autograd::tensor {

using TensorId = std::uint64_t;

struct InputRecord {
  TensorId id = 0;
  std::uint32_t array_selector = 0;  // which output of the input node; always 0 here
  bool in_place = false;
};

class InputList {
 public:
  static constexpr std::uint32_t kInline = 3;

  InputList() = default;
  InputList(const InputList& other) { assign(other.data(), other.size_); }
  InputList(InputList&& other) noexcept { steal(other); }
  InputList& operator=(const InputList& other) {
    if (this != &other) {
      clear_storage();
      assign(other.data(), other.size_);
    }
    return *this;
  }
  InputList& operator=(InputList&& other) noexcept {
    if (this != &other) {
      clear_storage();
      steal(other);
    }
    return *this;
  }
  ~InputList() { clear_storage(); }

  void push_back(const InputRecord& record) {
    if (size_ == capacity_) grow();
    data()[size_++] = record;
  }

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const InputRecord* data() const noexcept { return heap_ ? heap_.get() : inline_; }
  InputRecord* data() noexcept { return heap_ ? heap_.get() : inline_; }
  const InputRecord* begin() const noexcept { return data(); }
  const InputRecord* end() const noexcept { return data() + size_; }
  const InputRecord& operator[](std::size_t i) const noexcept { return data()[i]; }
  const InputRecord& at(std::size_t i) const {
    if (i >= size_) {
      kvel_support::panic("index out of bounds: the len is " + std::to_string(size_) + " but the index is " +
                          std::to_string(i));
    }
    return data()[i];
  }

 private:
  void grow() {
    const std::uint32_t capacity = capacity_ * 2;
    auto heap = std::make_unique<InputRecord[]>(capacity);
    std::copy(data(), data() + size_, heap.get());
    heap_ = std::move(heap);
    capacity_ = capacity;
  }
  void assign(const InputRecord* records, std::uint32_t count) {
    if (count > kInline) {
      heap_ = std::make_unique<InputRecord[]>(count);
      capacity_ = count;
    }
    std::copy(records, records + count, data());
    size_ = count;
  }
  void steal(InputList& other) noexcept {
    if (other.heap_) {
      heap_ = std::move(other.heap_);
    } else {
      std::copy(other.inline_, other.inline_ + other.size_, inline_);
    }
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.size_ = 0;
    other.capacity_ = kInline;
  }
  void clear_storage() noexcept {
    heap_.reset();
    size_ = 0;
    capacity_ = kInline;
  }

  InputRecord inline_[kInline];
  std::unique_ptr<InputRecord[]> heap_;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = kInline;
};

}  // namespace gradix_autograd::tensor

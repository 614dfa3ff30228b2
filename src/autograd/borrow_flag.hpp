#pragma once
// Detects re-entrant access to a store that is being read or changed (any
// number of readers or one writer). Single-threaded by design: it is a check,
// not a lock. A conflict is a programming error and stops with a fatal error.

#include <string>
#include <string_view>

#include "support/panic.hpp"

namespace gradix_autograd {

class BorrowFlag {
 public:
  void acquire_read(std::string_view what) {
    if (state_ < 0) kvel_support::panic(std::string(what) + " already mutably borrowed");
    ++state_;
  }
  void release_read() noexcept { --state_; }
  void acquire_write(std::string_view what) {
    if (state_ != 0) kvel_support::panic(std::string(what) + " already borrowed");
    state_ = -1;
  }
  void release_write() noexcept { state_ = 0; }

 private:
  int state_ = 0;  // > 0: readers, -1: one writer
};

class ReadBorrow {
 public:
  ReadBorrow(BorrowFlag& flag, std::string_view what) : flag_(flag) { flag_.acquire_read(what); }
  ~ReadBorrow() { flag_.release_read(); }
  ReadBorrow(const ReadBorrow&) = delete;
  ReadBorrow& operator=(const ReadBorrow&) = delete;

 private:
  BorrowFlag& flag_;
};

class WriteBorrow {
 public:
  WriteBorrow(BorrowFlag& flag, std::string_view what) : flag_(flag) { flag_.acquire_write(what); }
  ~WriteBorrow() { flag_.release_write(); }
  WriteBorrow(const WriteBorrow&) = delete;
  WriteBorrow& operator=(const WriteBorrow&) = delete;

 private:
  BorrowFlag& flag_;
};

}  // namespace gradix_autograd

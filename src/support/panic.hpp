#pragma once
// Fatal errors: misuse by calling code (an index past the end, tensors of two
// graphs, re-entrant access to a guarded store). They are never caused by data;
// the Python module turns them into `pyo3_runtime.PanicException`.

#include <exception>
#include <string>

namespace kvel_support {

class FatalError final : public std::exception {
 public:
  explicit FatalError(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

[[noreturn]] void panic(std::string message);

}  // namespace kvel_support

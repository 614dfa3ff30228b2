#pragma once
// The search reads an engine failure as a fact about the candidate (it is
// dropped, the step skipped, the trial rejected), except when the engine ran
// out of memory: that says nothing of the candidate, so the search ends with
// std::bad_alloc instead of quietly returning another front.

#include <new>

#include "autograd/error.hpp"

namespace kvel_core {

inline void throw_if_out_of_memory(const gradix_autograd::error::EvalError& error) {
  if (error.is_out_of_memory()) throw std::bad_alloc();
}

}  // namespace kvel_core

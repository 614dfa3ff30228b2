#pragma once
// One discovered expression with its training error and its size.
// Copies share the tree; a solution is not changed after it is made.

#include <cstddef>
#include <string>

#include "expression/tree.hpp"

namespace kvel_core::solution {

struct Solution {
  tamrix::tree::EmlTree tree;
  double mse = 0.0;             // mean squared error on the training data
  std::size_t complexity = 0;   // tree.size(): all nodes, leaves included

  // LaTeX of the lowered, algebraically simplified tree.
  std::string latex() const;
  // The EML text form: 1, six-decimal constants, x{i}, eml(left, right).
  std::string pretty() const;
  std::string numpy_code() const;
  std::string sympy_code() const;
  std::string rust_code() const;
};

}  // namespace kvel_core::solution

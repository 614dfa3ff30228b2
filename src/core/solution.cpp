#include "core/solution.hpp"

#include "core/codegen.hpp"

namespace kvel_core::solution {

std::string Solution::pretty() const { return tree.to_string(); }
std::string Solution::numpy_code() const { return codegen::numpy_code(tree); }
std::string Solution::sympy_code() const { return codegen::sympy_code(tree); }
std::string Solution::rust_code() const { return codegen::rust_code(tree); }

}  // namespace kvel_core::solution

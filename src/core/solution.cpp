#include "core/solution.hpp"

#include "core/codegen.hpp"
#include "expression/lower/display.hpp"
#include "expression/lower/lowered_op.hpp"
#include "expression/lower_simplify/simplify.hpp"

namespace kvel_core::solution {

// Lowered, simplified and rendered anew on every call.
std::string Solution::latex() const {
  return tamrix::lower::display::to_latex(tamrix::lower_simplify::simplify(tree.lower()));
}

std::string Solution::pretty() const { return tree.to_string(); }
std::string Solution::numpy_code() const { return codegen::numpy_code(tree); }
std::string Solution::sympy_code() const { return codegen::sympy_code(tree); }
std::string Solution::rust_code() const { return codegen::rust_code(tree); }

}  // namespace kvel_core::solution

#pragma once
// Source code for an EML tree in NumPy, SymPy and Rust. The raw tree is
// written as it stands: every eml node becomes exp(left) - ln(right), with no
// lowering or simplification. Constants are written in the shortest form that
// reads back as the same double; a One leaf keeps its own spelling (1.0 in
// NumPy), so a fitted constant equal to one stays distinguishable (1).

#include <string>

#include "expression/tree.hpp"

namespace kvel_core::codegen {

// "lambda x0, x1: <expr>"
std::string numpy_code(const tamrix::tree::EmlTree& tree);
// "# symbols('x0 x1')", a line feed, then the expression.
std::string sympy_code(const tamrix::tree::EmlTree& tree);
// "fn f(x0: f64, x1: f64) -> f64 { <expr> }"
std::string rust_code(const tamrix::tree::EmlTree& tree);

// The expression alone, left child first.
std::string numpy_expr(const tamrix::tree::EmlNode& node);
std::string sympy_expr(const tamrix::tree::EmlNode& node);
std::string rust_expr(const tamrix::tree::EmlNode& node);

}  // namespace kvel_core::codegen

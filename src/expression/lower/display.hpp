#pragma once
// LaTeX rendering of lowered expressions.
//
// A node renders from its children's texts with a fixed template. The top flag
// says whether the node stands where no parentheses are needed (the whole
// expression, a fraction part, an exponent, a function argument); only sums,
// differences and products look at it and wrap themselves when it is false.

#include <string>

#include "expression/lower/lowered_op.hpp"

namespace tamrix::lower::display {

// The whole expression: render(op, true).
std::string to_latex(const LoweredOp& op);

std::string render(const LoweredOp& op, bool top);

}  // namespace tamrix::lower::display

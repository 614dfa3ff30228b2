#pragma once
// Numeric value of a lowered expression: IEEE arithmetic, the C math library
// and the special functions, left operand before right.

#include <span>

#include "expression/lower/lowered_op.hpp"

namespace tamrix::lower {

// Variable i reads vars[i]; an index past the end is a fatal error.
double eval(const LoweredOp& op, std::span<const double> vars);
// The same with every variable, whatever its index, at `every_var`.
double eval_at(const LoweredOp& op, double every_var);

// The value of a one-child kind (Neg included) applied to v.
double apply_unary(OpKind kind, double v);

}  // namespace tamrix::lower

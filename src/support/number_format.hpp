#pragma once
// The two ways this system writes a double. Both are locale independent.
//
// * `format_fixed6`: exactly six digits after the point, exact decimal
//   expansion of the value ("100000000000000000000.000000" for 1e20).
// * `format_shortest`: the shortest digits that read back as the same value,
//   laid out positionally, never in exponent notation, without a fractional
//   part when integral ("1", "0.0000001", "100000000000000000000000").
//
// * `format_shortest_exponent`: the shortest round-trip digits in exponent
//   form, one digit before the point (no point when there is one digit), "e"
//   and the exponent without "+" or leading zeros ("0e0", "-5e-1", "2.5e2").
//
// In all, any NaN is written "NaN" and the infinities "inf" and "-inf";
// -0.0 keeps its sign ("-0.000000", "-0").

#include <string>

namespace kvel_support {

std::string format_fixed6(double value);
std::string format_shortest(double value);
std::string format_shortest_exponent(double value);

// Appending forms, for writers that build a larger text.
void append_fixed6(std::string& out, double value);
void append_shortest(std::string& out, double value);
void append_shortest_exponent(std::string& out, double value);

}  // namespace kvel_support

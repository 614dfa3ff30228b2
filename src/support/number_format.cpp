#include "support/number_format.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace kvel_support {
namespace {

// Writes NaN / inf / -inf; returns false for finite values.
bool append_non_finite(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NaN";
    return true;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-inf" : "inf";
    return true;
  }
  return false;
}

}  // namespace

void append_fixed6(std::string& out, double value) {
  if (append_non_finite(out, value)) return;
  // Largest finite double has 309 integer digits; 6 decimals, sign, point.
  char buffer[330];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  out.append(buffer, result.ptr);
}

void append_shortest(std::string& out, double value) {
  if (append_non_finite(out, value)) return;
  // Shortest round-trip digits in scientific form, e.g. "-1.2345e-7".
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));

  if (text.front() == '-') {
    out += '-';
    text.remove_prefix(1);
  }
  const std::size_t e_pos = text.find('e');
  const std::string_view mantissa = text.substr(0, e_pos);
  const int exponent = std::atoi(std::string(text.substr(e_pos + 1)).c_str());

  std::string digits;
  digits.reserve(mantissa.size());
  for (char c : mantissa)
    if (c != '.') digits += c;
  // Value = 0.d1d2d3... * 10^(exponent + 1): the point goes after `point` digits.
  const long point = static_cast<long>(exponent) + 1;
  const long count = static_cast<long>(digits.size());

  if (point <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-point), '0');
    out += digits;
  } else if (point >= count) {
    out += digits;
    out.append(static_cast<std::size_t>(point - count), '0');
  } else {
    out.append(digits, 0, static_cast<std::size_t>(point));
    out += '.';
    out.append(digits, static_cast<std::size_t>(point), std::string::npos);
  }
}

void append_shortest_exponent(std::string& out, double value) {
  if (append_non_finite(out, value)) return;
  // to_chars writes the exponent as "e+05" / "e-07"; keep its sign only when
  // negative and drop the leading zeros.
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t e_pos = text.find('e');
  out.append(text.substr(0, e_pos + 1));
  std::string_view exponent = text.substr(e_pos + 1);
  if (exponent.front() == '-') out += '-';
  exponent.remove_prefix(1);
  while (exponent.size() > 1 && exponent.front() == '0') exponent.remove_prefix(1);
  out.append(exponent);
}

std::string format_fixed6(double value) {
  std::string out;
  append_fixed6(out, value);
  return out;
}

std::string format_shortest(double value) {
  std::string out;
  append_shortest(out, value);
  return out;
}

}  // namespace kvel_support

namespace kvel_support {

std::string format_shortest_exponent(double value) {
  std::string out;
  append_shortest_exponent(out, value);
  return out;
}

}  // namespace kvel_support

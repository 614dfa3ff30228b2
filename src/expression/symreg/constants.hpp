#pragma once
// The seventeen named constants and their numbering (17 = none), shared by
// evaluation, hashing, LaTeX, polynomial conversion and constant snapping.

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

namespace tamrix::symreg::constants {

using NamedConst = std::uint8_t;

inline constexpr NamedConst kNoNamedConst = 17;

struct NamedConstInfo {
  double value;
  std::string_view latex;
};

// Index order. Entry 13 is the double product e * e, one unit in the last place
// below the double nearest e^2.
inline constexpr std::array<NamedConstInfo, 17> kNamedConsts{{
    {3.141592653589793, "\\pi"},
    {2.718281828459045, "e"},
    {1.4142135623730951, "\\sqrt{2}"},
    {-3.141592653589793, "(-\\pi)"},
    {-2.718281828459045, "(-e)"},
    {-1.4142135623730951, "(-\\sqrt{2})"},
    {0.5, "\\frac{1}{2}"},
    {-0.5, "-\\frac{1}{2}"},
    {0.3333333333333333, "\\frac{1}{3}"},
    {0.25, "\\frac{1}{4}"},
    {6.283185307179586, "2\\pi"},
    {1.5707963267948966, "\\frac{\\pi}{2}"},
    {1.7320508075688772, "\\sqrt{3}"},
    {7.3890560989306495, "e^{2}"},
    {1.618033988749895, "\\varphi"},
    {0.6931471805599453, "\\ln(2)"},
    {-2.0, "(-2)"},
}};

static_assert(kNamedConsts[13].value == kNamedConsts[1].value * kNamedConsts[1].value);

// The value of a named constant; `index` must be 0 to 16.
constexpr double named_const_value(NamedConst index) { return kNamedConsts[index].value; }

// The 17 (value, index) pairs in candidate order: pi, -pi, e, -e, sqrt 2,
// -sqrt 2, then the remaining indices 6 .. 16 in order.
std::array<std::pair<double, NamedConst>, 17> named_const_candidates();

// The first candidate b in candidate order with |x - b| <= |b| * 0.02, or 17.
NamedConst snap_to_named_const(double x);

}  // namespace tamrix::symreg::constants

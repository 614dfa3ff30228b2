#pragma once
// Exact power-of-two scaling for the Jacobi kernels. Their sums of squares
// and products overflow above entries of about 1e154 and underflow below
// about 1e-154; scaling by 2^e before the iteration and by 2^-e after is
// exact in binary floating point, so it changes no digit of a result that the
// plain arithmetic gets right.

#include <cmath>

#include "support/xtensor.hpp"

namespace gradix_autograd::tensor_ops::matrix_scaling {

using Matrix = xt::xtensor<double, 2>;

// Largest magnitudes that the kernels take as they are: about 4.5e-103 to
// 2.2e102. Inside this range no scaling happens, so results there are those
// of the unscaled arithmetic bit for bit.
inline constexpr int kSafeExponent = 340;

// The e for which 2^e·a has its largest magnitude in [1, 2), when that
// magnitude lies outside [2^-340, 2^340); 0 for matrices inside the range,
// for a zero matrix and when the largest magnitude is infinite (NaN entries
// are ignored).
inline int safe_scale_exponent(const Matrix& a) {
  double amax = 0.0;
  for (const double x : a) {
    const double m = std::fabs(x);
    if (m > amax) amax = m;  // NaN never wins
  }
  if (amax == 0.0 || !std::isfinite(amax)) return 0;
  const int exponent = std::ilogb(amax);
  if (exponent >= -kSafeExponent && exponent < kSafeExponent) return 0;
  return -exponent;
}

// 2^e·a, entry by entry (a copy of a when e = 0).
inline Matrix scaled(const Matrix& a, int e) {
  Matrix out = a;
  if (e != 0)
    for (double& x : out) x = std::ldexp(x, e);
  return out;
}

}  // namespace gradix_autograd::tensor_ops::matrix_scaling

#pragma once
// Non-elementary functions that a lowered expression may contain. Pure
// functions of one double, built from series, continued fractions, asymptotic
// expansions and fitted approximations over the C math library. The switch
// points and stopping rules decide the exact values and must not be tuned
// casually: evaluation and constant folding both depend on them.

#include <utility>

namespace tamrix::special {

// (Si(x), Ci(x)) for x >= 0; callers handle negative arguments themselves.
std::pair<double, double> si_ci_internal(double x);

double ei(double x);
double erf(double x);
double erfc(double x);
double lgamma(double x);  // ln|Gamma(x)|; never touches the global signgam
double digamma(double x);
double trigamma(double x);

}  // namespace tamrix::special

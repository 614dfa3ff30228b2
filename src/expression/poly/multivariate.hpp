#pragma once
// Exact multivariate polynomials with rational coefficients, used to collect
// like terms of a lowered expression and write them back in a fixed order.
//
// Terms live in an ordered map keyed by exponent vectors (lexicographic over
// the variables in index order, the constant term first). The order is part
// of the result: it fixes the term order of `to_lowered` and the order of the
// checked additions, and so which inputs overflow. Never replace it with a
// hash map.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "expression/lower/lowered_op.hpp"
#include "expression/poly/rational.hpp"

namespace tamrix::poly::multivariate {

// The exponents of one term. Only the variables with an exponent above 0 are
// stored, as (variable, exponent) pairs in ascending variable order, so the
// cost follows the term rather than the largest variable index; the order is
// that of the full exponent vectors over every variable.
class Exponents {
 public:
  using Entry = std::pair<std::uint64_t, std::uint32_t>;

  Exponents() = default;
  // From the full vector: entry j is the exponent of variable j.
  Exponents(std::initializer_list<std::uint32_t> full);
  // Variable `var` to the power k (k > 0).
  static Exponents of_var(std::uint64_t var, std::uint32_t k);

  const std::vector<Entry>& entries() const noexcept { return entries_; }

  // The exponents of a product, or nothing when one leaves the 32-bit range.
  static std::optional<Exponents> product(const Exponents& a, const Exponents& b);

  friend bool operator==(const Exponents& a, const Exponents& b) = default;
  // Lexicographic over the full vectors.
  friend bool operator<(const Exponents& a, const Exponents& b);

 private:
  std::vector<Entry> entries_;
};

// The largest integer exponent that counts as polynomial.
inline constexpr double kMaxPolyExponent = 100.0;

// True for a Const exponent k with 0 <= k <= 100 and k integral (NaN fails).
bool is_poly_exponent(const lower::LoweredOp& exponent);

class MultiPoly {
 public:
  std::size_t num_vars = 0;
  std::map<Exponents, Rational> terms;  // no zero coefficient after a public operation

  // The polynomial of `e` over `num_vars` variables (x_j is Var j).
  static PolyResult<MultiPoly> from_lowered(const lower::LoweredOp& e, std::size_t num_vars);
  lower::LoweredOp to_lowered() const;

  static PolyResult<MultiPoly> add(const MultiPoly& a, const MultiPoly& b);
  static PolyResult<MultiPoly> mul(const MultiPoly& a, const MultiPoly& b);
  static PolyResult<MultiPoly> neg(const MultiPoly& a);
  static PolyResult<MultiPoly> pow(const MultiPoly& a, std::size_t k);
  static MultiPoly constant(Rational r, std::size_t num_vars);

  // Adds c to the term with exponents e (created at 0 when missing; a term
  // that becomes 0 stays until `normalize`).
  PolyResult<kvel_support::Unit> add_term(const Exponents& e, Rational c);
  void normalize();
};

}  // namespace tamrix::poly::multivariate

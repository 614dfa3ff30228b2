#pragma once
// Polynomial normal form of a lowered expression: the expression is read as a
// polynomial over its variables and its non-polynomial sub-terms (atoms), like
// terms are collected exactly, and the result is written back in a fixed term
// order. A cautious rewrite: the original comes back unless the polynomial has
// at most 50 terms, the new tree is no larger and both agree at five probes.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "expression/lower/lowered_op.hpp"

namespace tamrix::lower_simplify {

using lower::LoweredOp;

// Entry j stands for the variable x(n + j), n the variable count of the whole
// expression; atoms equal by structural hash share one entry.
using AtomList = std::vector<std::pair<std::uint64_t, LoweredOp>>;

inline constexpr std::size_t kMaxNormalFormTerms = 50;
inline constexpr double kProbePoints[] = {0.7, 1.3, 2.1, -0.5, 0.3};

// Highest Var index + 1; 0 without variables.
std::size_t count_vars(const LoweredOp& e);
std::size_t node_count(const LoweredOp& e);
// SipHash-1-3 under zero keys over the structural byte stream.
std::uint64_t ops_struct_hash(const LoweredOp& e);

// Replaces every maximal non-polynomial sub-term by a variable x(n + j),
// appending new atoms to `atoms` in left-to-right order of first occurrence.
LoweredOp extract_atoms(const LoweredOp& e, std::size_t n, AtomList& atoms);
// Puts the atoms back for their variables.
LoweredOp substitute_atoms(const LoweredOp& e, std::size_t n, const AtomList& atoms);

// The normal form of `op`, or `op` itself.
LoweredOp canonicalize_poly(const LoweredOp& op);

}  // namespace tamrix::lower_simplify

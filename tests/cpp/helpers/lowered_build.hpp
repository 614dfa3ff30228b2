#pragma once
// Test-only shorthands for building lowered expressions and comparing them by
// their structural byte stream (equal streams = equal structure).

#include <cstdint>
#include <vector>

#include "expression/lower/lowered_op.hpp"
#include "expression/lower/structural_hash.hpp"

namespace kvel_test {

using tamrix::lower::LoweredOp;
using tamrix::lower::OpKind;

inline LoweredOp c(double v) { return LoweredOp::constant(v); }
inline LoweredOp x(std::uint64_t i) { return LoweredOp::var(i); }
inline LoweredOp un(OpKind k, LoweredOp a) { return LoweredOp::unary(k, std::move(a)); }
inline LoweredOp bin(OpKind k, LoweredOp a, LoweredOp b) { return LoweredOp::binary(k, std::move(a), std::move(b)); }
inline LoweredOp add(LoweredOp a, LoweredOp b) { return bin(OpKind::Add, std::move(a), std::move(b)); }
inline LoweredOp sub(LoweredOp a, LoweredOp b) { return bin(OpKind::Sub, std::move(a), std::move(b)); }
inline LoweredOp mul(LoweredOp a, LoweredOp b) { return bin(OpKind::Mul, std::move(a), std::move(b)); }
inline LoweredOp div(LoweredOp a, LoweredOp b) { return bin(OpKind::Div, std::move(a), std::move(b)); }
inline LoweredOp pow(LoweredOp a, LoweredOp b) { return bin(OpKind::Pow, std::move(a), std::move(b)); }
inline LoweredOp neg(LoweredOp a) { return un(OpKind::Neg, std::move(a)); }

inline std::vector<std::uint8_t> stream(const LoweredOp& op) {
  tamrix::lower::ByteSink sink;
  tamrix::lower::structural_hash(op, sink);
  return sink.bytes;
}

}  // namespace kvel_test

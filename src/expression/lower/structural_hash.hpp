#pragma once
// The structural byte stream of a lowered expression, in post order (children
// before their parent, left before right). A sink is anything with
// `void write(std::span<const std::uint8_t>)`: a byte vector for inspection or
// a streaming hasher, so hashing never materialises the stream.
//
//   Const c        0, then the 8 bytes of c's bit pattern, little-endian
//   NamedConst k   exactly as the Const of k's value
//   Var i          1, then the 8 bytes of i, little-endian
//   other kinds    the children's bytes, then one code byte (`structural_code`)

#include <array>
#include <bit>
#include <cstdint>
#include <span>
#include <vector>

#include "expression/lower/lowered_op.hpp"
#include "expression/symreg/constants.hpp"

namespace tamrix::lower {

// The code byte of an inner kind. Add .. Arctanh use their tag; the special
// functions are numbered apart from their tags (Erf is tag 23 but code 22).
constexpr std::uint8_t structural_code(OpKind kind) noexcept {
  switch (kind) {
    case OpKind::Erf: return 22;
    case OpKind::LnGamma: return 23;
    case OpKind::Digamma: return 24;
    case OpKind::Ei: return 25;
    case OpKind::Si: return 26;
    case OpKind::Ci: return 27;
    case OpKind::Trigamma: return 28;
    default: return static_cast<std::uint8_t>(kind);
  }
}

namespace detail {

template <class Sink>
void write_tagged_word(Sink& sink, std::uint8_t tag, std::uint64_t word) {
  const std::array<std::uint8_t, 1> head{tag};
  std::array<std::uint8_t, 8> body{};
  for (int i = 0; i < 8; ++i) body[i] = static_cast<std::uint8_t>(word >> (8 * i));
  sink.write(std::span<const std::uint8_t>(head));
  sink.write(std::span<const std::uint8_t>(body));
}

}  // namespace detail

template <class Sink>
void structural_hash(const LoweredOp& op, Sink& sink) {
  switch (op.kind()) {
    case OpKind::Const:
      detail::write_tagged_word(sink, 0, std::bit_cast<std::uint64_t>(op.value()));
      return;
    case OpKind::NamedConst:
      detail::write_tagged_word(
          sink, 0, std::bit_cast<std::uint64_t>(symreg::constants::named_const_value(op.named_index())));
      return;
    case OpKind::Var:
      detail::write_tagged_word(sink, 1, op.index());
      return;
    default:
      break;
  }
  if (arity(op.kind()) == 2) {
    structural_hash(op.left(), sink);
    structural_hash(op.right(), sink);
  } else {
    structural_hash(op.child(), sink);
  }
  const std::array<std::uint8_t, 1> code{structural_code(op.kind())};
  sink.write(std::span<const std::uint8_t>(code));
}

// Collects the stream, for tests and diagnostics.
struct ByteSink {
  std::vector<std::uint8_t> bytes;
  void write(std::span<const std::uint8_t> piece) { bytes.insert(bytes.end(), piece.begin(), piece.end()); }
};

}  // namespace tamrix::lower

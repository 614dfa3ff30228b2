#include "expression/lower/structural_hash.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "expression/lower/siphash.hpp"
#include "support/panic.hpp"

namespace {

using tamrix::lower::ByteSink;
using tamrix::lower::LoweredOp;
using tamrix::lower::OpKind;

std::vector<std::uint8_t> stream_of(const LoweredOp& op) {
  ByteSink sink;
  tamrix::lower::structural_hash(op, sink);
  return sink.bytes;
}

std::uint64_t hash_of(const LoweredOp& op) {
  tamrix::lower::SipHasher13 hasher;
  tamrix::lower::structural_hash(op, hasher);
  return hasher.finish();
}

std::vector<std::uint8_t> iota_bytes(std::size_t n) {
  std::vector<std::uint8_t> bytes(n);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{0});
  return bytes;
}

LoweredOp sub_x0_one() {
  return LoweredOp::binary(OpKind::Sub, LoweredOp::var(0), LoweredOp::constant(1.0));
}

TEST(SipHash, OneThreeZeroKeyReferenceValues) {
  EXPECT_EQ(tamrix::lower::siphash13({}), 0xd1fba762150c532cULL);
  const std::pair<std::size_t, std::uint64_t> rows[] = {
      {7, 0x2f098ab0c751325aULL},  {8, 0xead411e67ebe2eeaULL},  {9, 0x75927f9d95124362ULL},
      {16, 0x8972188433a5c5b7ULL}, {17, 0x4883c49a2c009c1dULL},
  };
  for (const auto& [n, want] : rows) EXPECT_EQ(tamrix::lower::siphash13(iota_bytes(n)), want) << n;
}

// The published SipHash-2-4 vectors (key 00 01 .. 0f, message 00 01 .. n-1)
// check the same core with other round counts.
TEST(SipHash, TwoFourPublishedVectors) {
  const std::uint64_t k0 = 0x0706050403020100ULL;
  const std::uint64_t k1 = 0x0f0e0d0c0b0a0908ULL;
  const std::pair<std::size_t, std::uint64_t> rows[] = {
      {0, 0x726fdb47dd0e0e31ULL}, {1, 0x74f839c593dc67fdULL}, {15, 0xa129ca6149be45e5ULL}};
  for (const auto& [n, want] : rows) {
    tamrix::lower::SipHasher24 hasher(k0, k1);
    hasher.write(iota_bytes(n));
    EXPECT_EQ(hasher.finish(), want) << n;
  }
}

TEST(SipHash, SplitWritesHashLikeOneMessage) {
  const auto bytes = iota_bytes(17);
  tamrix::lower::SipHasher13 hasher;
  hasher.write(std::span(bytes).first(3));
  hasher.write(std::span(bytes).subspan(3, 9));
  hasher.write(std::span(bytes).subspan(12));
  EXPECT_EQ(hasher.finish(), tamrix::lower::siphash13(bytes));
}

TEST(StructuralHash, SubOfVarAndOneStream) {
  const std::vector<std::uint8_t> want{0x01, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                       0x00, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F,
                                       0x03};
  EXPECT_EQ(stream_of(sub_x0_one()), want);
  EXPECT_EQ(hash_of(sub_x0_one()), 0x9cebdf152e47e7c9ULL);
  EXPECT_EQ(tamrix::lower::siphash13(stream_of(sub_x0_one())), 0x9cebdf152e47e7c9ULL);
}

TEST(StructuralHash, LeafHashes) {
  EXPECT_EQ(hash_of(LoweredOp::constant(3.141592653589793)), 0x5df6c2940d2a572aULL);
  EXPECT_EQ(hash_of(LoweredOp::named_const(0)), 0x5df6c2940d2a572aULL);
  EXPECT_EQ(hash_of(LoweredOp::var(0)), 0xdc58fdc2e5c5babeULL);
  EXPECT_NE(hash_of(LoweredOp::constant(0.0)), hash_of(LoweredOp::constant(-0.0)));
  EXPECT_EQ(stream_of(LoweredOp::named_const(13)), stream_of(LoweredOp::constant(7.3890560989306495)));
}

TEST(StructuralHash, OrderAndKindShowInTheStream) {
  const LoweredOp x = LoweredOp::var(0);
  const LoweredOp y = LoweredOp::var(1);
  EXPECT_NE(stream_of(LoweredOp::binary(OpKind::Add, x, y)), stream_of(LoweredOp::binary(OpKind::Add, y, x)));
  EXPECT_NE(hash_of(LoweredOp::binary(OpKind::Add, x, y)), hash_of(LoweredOp::binary(OpKind::Add, y, x)));

  auto exp_stream = stream_of(LoweredOp::unary(OpKind::Exp, x));
  auto ln_stream = stream_of(LoweredOp::unary(OpKind::Ln, x));
  EXPECT_EQ(exp_stream.back(), 6);
  EXPECT_EQ(ln_stream.back(), 7);
  exp_stream.pop_back();
  ln_stream.pop_back();
  EXPECT_EQ(exp_stream, ln_stream);
}

TEST(StructuralHash, CodeBytesOfEveryInnerKind) {
  const std::pair<OpKind, int> rows[] = {
      {OpKind::Add, 2},      {OpKind::Sub, 3},      {OpKind::Mul, 4},      {OpKind::Div, 5},
      {OpKind::Pow, 10},     {OpKind::Exp, 6},      {OpKind::Ln, 7},       {OpKind::Sin, 8},
      {OpKind::Cos, 9},      {OpKind::Neg, 11},     {OpKind::Tan, 12},     {OpKind::Sinh, 13},
      {OpKind::Cosh, 14},    {OpKind::Tanh, 15},    {OpKind::Arcsin, 16},  {OpKind::Arccos, 17},
      {OpKind::Arctan, 18},  {OpKind::Arcsinh, 19}, {OpKind::Arccosh, 20}, {OpKind::Arctanh, 21},
      {OpKind::Erf, 22},     {OpKind::LnGamma, 23}, {OpKind::Digamma, 24}, {OpKind::Ei, 25},
      {OpKind::Si, 26},      {OpKind::Ci, 27},      {OpKind::Trigamma, 28},
  };
  const LoweredOp x = LoweredOp::var(3);
  for (const auto& [kind, code] : rows) {
    const LoweredOp op = tamrix::lower::arity(kind) == 2 ? LoweredOp::binary(kind, x, x) : LoweredOp::unary(kind, x);
    const auto bytes = stream_of(op);
    EXPECT_EQ(bytes.size(), tamrix::lower::arity(kind) == 2 ? 19u : 10u);
    EXPECT_EQ(bytes.back(), code) << static_cast<int>(kind);
    EXPECT_EQ(bytes[1], 3);  // the variable index, little-endian
  }
}

// The index of a named constant is checked where the node is made, so no
// reader (hash, evaluation, LaTeX, polynomial conversion) meets one past the
// table of seventeen.
TEST(StructuralHash, NamedConstantPastTheTableIsFatalWhereMade) {
  for (const int index : {17, 18, 255}) {
    EXPECT_THROW(LoweredOp::named_const(static_cast<std::uint8_t>(index)), kvel_support::FatalError) << index;
  }
  EXPECT_EQ(LoweredOp::named_const(16).named_index(), 16);
}

}  // namespace

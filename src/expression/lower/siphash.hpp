#pragma once
// Streaming SipHash with fixed keys. Hashes that decide results (structural
// hashes of lowered expressions) use SipHash-1-3 under two zero keys, so they
// are the same in every process. The round counts are parameters only so the
// same core can be checked against the published SipHash-2-4 vectors.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tamrix::lower {

template <int CompressionRounds, int FinalizationRounds>
class SipHasher {
 public:
  explicit SipHasher(std::uint64_t k0 = 0, std::uint64_t k1 = 0) noexcept
      : v0_(k0 ^ 0x736f6d6570736575ULL),
        v1_(k1 ^ 0x646f72616e646f6dULL),
        v2_(k0 ^ 0x6c7967656e657261ULL),
        v3_(k1 ^ 0x7465646279746573ULL) {}

  // Only the concatenation of all written bytes matters.
  void write(std::span<const std::uint8_t> bytes) noexcept {
    for (const std::uint8_t byte : bytes) {
      tail_ |= static_cast<std::uint64_t>(byte) << (8 * (length_ & 7));
      ++length_;
      if ((length_ & 7) == 0) {
        compress(tail_);
        tail_ = 0;
      }
    }
  }

  // The hash of everything written so far; the hasher itself is unchanged.
  std::uint64_t finish() const noexcept {
    SipHasher state = *this;
    const std::uint64_t last = tail_ | (static_cast<std::uint64_t>(length_ & 0xff) << 56);
    state.compress(last);
    state.v2_ ^= 0xff;
    for (int i = 0; i < FinalizationRounds; ++i) state.round();
    return state.v0_ ^ state.v1_ ^ state.v2_ ^ state.v3_;
  }

 private:
  void compress(std::uint64_t m) noexcept {
    v3_ ^= m;
    for (int i = 0; i < CompressionRounds; ++i) round();
    v0_ ^= m;
  }

  void round() noexcept {
    v0_ += v1_;
    v1_ = std::rotl(v1_, 13);
    v1_ ^= v0_;
    v0_ = std::rotl(v0_, 32);
    v2_ += v3_;
    v3_ = std::rotl(v3_, 16);
    v3_ ^= v2_;
    v0_ += v3_;
    v3_ = std::rotl(v3_, 21);
    v3_ ^= v0_;
    v2_ += v1_;
    v1_ = std::rotl(v1_, 17);
    v1_ ^= v2_;
    v2_ = std::rotl(v2_, 32);
  }

  std::uint64_t v0_, v1_, v2_, v3_;
  std::uint64_t tail_ = 0;  // pending bytes of the current block, little-endian
  std::uint64_t length_ = 0;
};

using SipHasher13 = SipHasher<1, 3>;
using SipHasher24 = SipHasher<2, 4>;

// SipHash-1-3 of one message under the zero keys.
inline std::uint64_t siphash13(std::span<const std::uint8_t> bytes) noexcept {
  SipHasher13 hasher;
  hasher.write(bytes);
  return hasher.finish();
}

}  // namespace tamrix::lower

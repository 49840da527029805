#include "ledger/sha256.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define TOLLBOOK_SHA_NI 1
#endif

namespace tollbook::ledger {
namespace {

constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t Rotate(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

#ifdef TOLLBOOK_SHA_NI
// The SHA extensions with the SSSE3 and SSE4.1 shuffles they need.
bool HasShaInstructions() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0 || (b & (1u << 29)) == 0) return false;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return false;
  return (c & (1u << 9)) != 0 && (c & (1u << 19)) != 0;
}

// The state is kept as the instructions want it: ABEF and CDGH.
__attribute__((target("sha,ssse3,sse4.1"))) void ShaNiBlocks(std::uint32_t* state,
                                                             const unsigned char* data,
                                                             std::size_t count) {
  const __m128i kByteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
  __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
  __m128i state1 =
      _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);
  for (; count > 0; --count, data += 64) {
    __m128i w[16];
    for (int g = 0; g < 4; ++g) {
      w[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * g)),
                              kByteSwap);
    }
    for (int g = 4; g < 16; ++g) {
      w[g] = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(w[g - 4], w[g - 3]),
                                                _mm_alignr_epi8(w[g - 1], w[g - 2], 4)),
                                  w[g - 1]);
    }
    const __m128i abef = state0, cdgh = state1;
    for (int g = 0; g < 16; ++g) {
      const __m128i k = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * g));
      const __m128i message = _mm_add_epi32(w[g], k);
      state1 = _mm_sha256rnds2_epu32(state1, state0, message);
      state0 = _mm_sha256rnds2_epu32(state0, state1, _mm_shuffle_epi32(message, 0x0E));
    }
    state0 = _mm_add_epi32(state0, abef);
    state1 = _mm_add_epi32(state1, cdgh);
  }
  tmp = _mm_shuffle_epi32(state0, 0x1B);
  state1 = _mm_shuffle_epi32(state1, 0xB1);
  state0 = _mm_blend_epi16(tmp, state1, 0xF0);
  state1 = _mm_alignr_epi8(state1, tmp, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), state1);
}
#endif

}  // namespace

Sha256::Sha256(bool useCpuInstructions)
    : state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
             0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {
#ifdef TOLLBOOK_SHA_NI
  static const bool available = HasShaInstructions();
  cpuInstructions_ = useCpuInstructions && available;
#else
  cpuInstructions_ = false;
  (void)useCpuInstructions;
#endif
}

void Sha256::Blocks(const unsigned char* blocks, std::size_t count) {
#ifdef TOLLBOOK_SHA_NI
  if (cpuInstructions_) {
    ShaNiBlocks(state_.data(), blocks, count);
    return;
  }
#endif
  for (; count > 0; --count, blocks += 64) Block(blocks);
}

void Sha256::Block(const unsigned char* block) {
  std::uint32_t w[64];
  for (int i = 0; i < 16; ++i) {
    w[i] = std::uint32_t(block[4 * i]) << 24 | std::uint32_t(block[4 * i + 1]) << 16 |
           std::uint32_t(block[4 * i + 2]) << 8 | std::uint32_t(block[4 * i + 3]);
  }
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  std::uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) +
                             ((e & f) ^ (~e & g)) + kRound[i] + w[i];
    const std::uint32_t t2 =
        (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
  state_[5] += f;
  state_[6] += g;
  state_[7] += h;
}

void Sha256::Update(std::string_view bytes) {
  if (bytes.empty()) return;
  length_ += bytes.size();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t n = bytes.size();
  if (buffered_ > 0) {
    const std::size_t take = std::min(n, buffer_.size() - buffered_);
    std::memcpy(buffer_.data() + buffered_, p, take);
    buffered_ += take;
    p += take;
    n -= take;
    if (buffered_ < buffer_.size()) return;
    Blocks(buffer_.data(), 1);
    buffered_ = 0;
  }
  Blocks(p, n / 64);
  p += n / 64 * 64;
  n %= 64;
  std::memcpy(buffer_.data(), p, n);
  buffered_ = n;
}

std::string Sha256::HexDigest() {
  const std::uint64_t bits = length_ * 8;
  const unsigned char one = 0x80;
  Update(std::string_view(reinterpret_cast<const char*>(&one), 1));
  const unsigned char zero[64] = {};
  const std::size_t pad = (buffered_ <= 56 ? 56 : 120) - buffered_;
  Update(std::string_view(reinterpret_cast<const char*>(zero), pad));
  unsigned char tail[8];
  for (int i = 0; i < 8; ++i) tail[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
  Update(std::string_view(reinterpret_cast<const char*>(tail), 8));
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (std::uint32_t word : state_) {
    for (int shift = 28; shift >= 0; shift -= 4) hex += kHex[(word >> shift) & 0xf];
  }
  return hex;
}

}  // namespace tollbook::ledger

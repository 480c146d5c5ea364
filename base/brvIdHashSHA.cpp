#include "base/brvIdHashSHA.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "base/private/HashBlocks.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace brv {

bool TIdHashSHA256::IsAvailable() {
  const TIdHashHooks hooks = GetHashHooks();
  return hooks.HashingAvailable != nullptr && hooks.HashingAvailable() &&
         hooks.SHA256Available != nullptr && hooks.SHA256Available();
}

TIdHashContext TIdHashSHA256::NewContext(const TIdHashHooks& AHooks) {
  if (AHooks.NewSHA256Context == nullptr) throw EIdDigestInitEx("EVP_DigestInit_ex error");
  return AHooks.NewSHA256Context();
}

namespace {

constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
    0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
    0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
    0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
    0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
    0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
    0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
    0xc67178f2};

constexpr std::uint32_t Rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

std::uint32_t LoadBigEndian(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

}  // namespace

void TIdSHA256Builtin::Reset() {
  state_ = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  buffered_ = 0;
  length_ = 0;
}

namespace {

void CompressPortable(std::uint32_t* state, const std::uint8_t* block) {
  std::uint32_t w[64];
  for (int t = 0; t < 16; ++t) w[t] = LoadBigEndian(block + 4 * t);
  for (int t = 16; t < 64; ++t) {
    const std::uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
    const std::uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
    w[t] = w[t - 16] + s0 + w[t - 7] + s1;
  }
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
  for (int t = 0; t < 64; ++t) {
    const std::uint32_t S1 = Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25);
    const std::uint32_t ch = (e & f) ^ (~e & g);
    const std::uint32_t t1 = h + S1 + ch + kRound[t] + w[t];
    const std::uint32_t S0 = Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22);
    const std::uint32_t maj = (a & b) ^ (a & c) ^ (b & c);
    const std::uint32_t t2 = S0 + maj;
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

#if defined(__x86_64__) || defined(__i386__)

bool CpuHasShaExtensions() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return false;
  const bool ssse3 = (c & (1u << 9)) != 0;
  const bool sse41 = (c & (1u << 19)) != 0;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return false;
  const bool sha = (b & (1u << 29)) != 0;
  return ssse3 && sse41 && sha;
}

// The same compression with the SHA extensions: the state is kept as the register pairs
// ABEF and CDGH that the round instruction works on, four rounds per message vector.
__attribute__((target("sha,sse4.1,ssse3"))) void CompressShaExtensions(std::uint32_t* state,
                                                                        const std::uint8_t* blocks,
                                                                        std::size_t count) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  tmp = _mm_shuffle_epi32(tmp, 0xB1);                // CDAB
  state1 = _mm_shuffle_epi32(state1, 0x1B);          // EFGH
  __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);  // ABEF
  state1 = _mm_blend_epi16(state1, tmp, 0xF0);       // CDGH

  for (; count > 0; --count, blocks += 64) {
    const __m128i abefSaved = state0;
    const __m128i cdghSaved = state1;
    __m128i w[16];
    for (int i = 0; i < 16; ++i) {
      if (i < 4) {
        w[i] = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byteSwap);
      } else {
        const __m128i w7 = _mm_alignr_epi8(w[i - 1], w[i - 2], 4);
        w[i] = _mm_sha256msg2_epu32(_mm_add_epi32(_mm_sha256msg1_epu32(w[i - 4], w[i - 3]), w7),
                                    w[i - 1]);
      }
      __m128i msg = _mm_add_epi32(w[i], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * i)));
      state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
      msg = _mm_shuffle_epi32(msg, 0x0E);
      state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
    }
    state0 = _mm_add_epi32(state0, abefSaved);
    state1 = _mm_add_epi32(state1, cdghSaved);
  }

  tmp = _mm_shuffle_epi32(state0, 0x1B);        // FEBA
  state1 = _mm_shuffle_epi32(state1, 0xB1);     // DCHG
  state0 = _mm_blend_epi16(tmp, state1, 0xF0);  // DCBA
  state1 = _mm_alignr_epi8(state1, tmp, 8);     // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), state0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), state1);
}

std::atomic<bool>& UseShaExtensions() {
  static std::atomic<bool> use(CpuHasShaExtensions());
  return use;
}

#endif

}  // namespace

bool TIdSHA256Builtin::HardwareAccelerated() {
#if defined(__x86_64__) || defined(__i386__)
  return UseShaExtensions().load(std::memory_order_relaxed);
#else
  return false;
#endif
}

void TIdSHA256Builtin::SetHardwareAcceleration(bool Enabled) {
#if defined(__x86_64__) || defined(__i386__)
  UseShaExtensions().store(Enabled && CpuHasShaExtensions(), std::memory_order_relaxed);
#else
  (void)Enabled;
#endif
}

void TIdSHA256Builtin::Compress(const std::uint8_t* Blocks, std::size_t Count) {
#if defined(__x86_64__) || defined(__i386__)
  if (UseShaExtensions().load(std::memory_order_relaxed)) {
    CompressShaExtensions(state_.data(), Blocks, Count);
    return;
  }
#endif
  for (; Count > 0; --Count, Blocks += kBlockSize) CompressPortable(state_.data(), Blocks);
}

void TIdSHA256Builtin::Update(const void* Data, std::size_t Size) {
  length_ += Size;
  detail::FeedBlocks(
      buffer_, buffered_, static_cast<const std::uint8_t*>(Data), Size,
      [this](const std::uint8_t* Blocks, std::size_t Count) { Compress(Blocks, Count); });
}

TIdSHA256Builtin::TDigest TIdSHA256Builtin::Final() {
  const std::uint64_t bits = length_ * 8;
  buffer_[buffered_++] = 0x80;
  if (buffered_ > kBlockSize - 8) {
    std::memset(buffer_.data() + buffered_, 0, kBlockSize - buffered_);
    Compress(buffer_.data(), 1);
    buffered_ = 0;
  }
  std::memset(buffer_.data() + buffered_, 0, kBlockSize - 8 - buffered_);
  for (int i = 0; i < 8; ++i) {
    buffer_[kBlockSize - 1 - static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
  Compress(buffer_.data(), 1);
  TDigest digest;
  for (std::size_t i = 0; i < 8; ++i) {
    digest[4 * i] = static_cast<std::uint8_t>(state_[i] >> 24);
    digest[4 * i + 1] = static_cast<std::uint8_t>(state_[i] >> 16);
    digest[4 * i + 2] = static_cast<std::uint8_t>(state_[i] >> 8);
    digest[4 * i + 3] = static_cast<std::uint8_t>(state_[i]);
  }
  Reset();
  return digest;
}

TIdSHA256Builtin::TDigest TIdSHA256Builtin::Digest(const void* Data, std::size_t Size) {
  TIdSHA256Builtin sha;
  sha.Update(Data, Size);
  return sha.Final();
}

}  // namespace brv

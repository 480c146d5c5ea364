#include "base/brvIdHashMD5.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "base/brvIdHashHooks.h"
#include "base/private/HashBlocks.h"

namespace brv {
namespace {

constexpr std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// Left rotations per round, four per quarter of the 64 steps.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

constexpr std::uint32_t Rotl(std::uint32_t x, int n) {
  return (x << n) | (x >> (32 - n));
}

}  // namespace

void TIdMD5Builtin::Reset() {
  state_ = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
  buffered_ = 0;
  length_ = 0;
}

void TIdMD5Builtin::Compress(const std::uint8_t* Block) {
  std::uint32_t m[16];
  for (int i = 0; i < 16; ++i)
    m[i] = std::uint32_t{Block[4 * i]} | (std::uint32_t{Block[4 * i + 1]} << 8) |
           (std::uint32_t{Block[4 * i + 2]} << 16) | (std::uint32_t{Block[4 * i + 3]} << 24);
  std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  // One step: the round function's value F, the message word and the rotation of step I; the
  // four words then move round by one. A loop per round, so that each unrolls without a branch.
  const auto step = [&](std::uint32_t F, int I, int G) {
    const std::uint32_t rotated = Rotl(a + F + kSine[I] + m[G], kShift[I / 16][I % 4]);
    a = d;
    d = c;
    c = b;
    b += rotated;
  };
#pragma GCC unroll 16
  for (int i = 0; i < 16; ++i) step((b & c) | (~b & d), i, i);
#pragma GCC unroll 16
  for (int i = 16; i < 32; ++i) step((d & b) | (~d & c), i, (5 * i + 1) % 16);
#pragma GCC unroll 16
  for (int i = 32; i < 48; ++i) step(b ^ c ^ d, i, (3 * i + 5) % 16);
#pragma GCC unroll 16
  for (int i = 48; i < 64; ++i) step(c ^ (b | ~d), i, (7 * i) % 16);
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void TIdMD5Builtin::Update(const void* Data, std::size_t Size) {
  length_ += Size;
  detail::FeedBlocks(buffer_, buffered_, static_cast<const std::uint8_t*>(Data), Size,
                     [this](const std::uint8_t* Blocks, std::size_t Count) {
                       for (; Count > 0; --Count, Blocks += kBlockSize) Compress(Blocks);
                     });
}

TIdMD5Builtin::TDigest TIdMD5Builtin::Final() {
  const std::uint64_t bits = length_ * 8;
  static constexpr std::uint8_t kPad[kBlockSize] = {0x80};
  Update(kPad, buffered_ < 56 ? 56 - buffered_ : 120 - buffered_);
  std::uint8_t tail[8];
  for (int i = 0; i < 8; ++i) tail[i] = static_cast<std::uint8_t>(bits >> (8 * i));
  Update(tail, sizeof tail);
  TDigest digest;
  for (int i = 0; i < 16; ++i)
    digest[i] = static_cast<std::uint8_t>(state_[i / 4] >> (8 * (i % 4)));
  Reset();
  return digest;
}

TIdMD5Builtin::TDigest TIdMD5Builtin::Digest(const void* Data, std::size_t Size) {
  TIdMD5Builtin md5;
  md5.Update(Data, Size);
  return md5.Final();
}

TIdMD5Builtin::TDigest ComputeMD5(std::string_view ABytes) {
  const auto offered = [](const TIdHashHooks& AHooks) {
    return AHooks.HashingAvailable != nullptr && AHooks.HashingAvailable() &&
           AHooks.MD5Available != nullptr && AHooks.MD5Available() &&
           AHooks.NewMD5Context != nullptr && AHooks.UpdateDigest != nullptr &&
           AHooks.FinishDigest != nullptr;
  };
  TIdHashHooks hooks = GetHashHooks();
  if (hooks.LoadHashLibrary != nullptr) hooks.LoadHashLibrary();
  // The load hook may install another table; read it again only when this one says no.
  if (!offered(hooks)) hooks = GetHashHooks();
  if (offered(hooks)) {
    try {
      TIdHashContext context = hooks.NewMD5Context();
      TIdBytes digest;
      try {
        hooks.UpdateDigest(context, reinterpret_cast<const std::uint8_t*>(ABytes.data()),
                           ABytes.size());
      } catch (...) {
        try {
          (void)hooks.FinishDigest(context);  // releases the context
        } catch (...) {
        }
        throw;
      }
      digest = hooks.FinishDigest(context);
      if (digest.size() == TIdMD5Builtin::kDigestSize) {
        TIdMD5Builtin::TDigest out;
        std::memcpy(out.data(), digest.data(), out.size());
        return out;
      }
    } catch (const std::exception&) {
      // any failure of the library road falls back to the built-in MD5
    }
  }
  return TIdMD5Builtin::Digest(ABytes.data(), ABytes.size());
}

}  // namespace brv

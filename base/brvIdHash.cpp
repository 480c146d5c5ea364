#include "base/brvIdHash.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace brv {

namespace {

constexpr std::int64_t kChunkSize = 2048;

}  // namespace

namespace {

// The two digits of every byte value, in one table per case: one look-up and one two-byte store
// per byte.
struct HexPairs {
  char digits[256][2];
};

constexpr HexPairs MakeHexPairs(const char* ADigits) {
  HexPairs pairs{};
  for (int b = 0; b < 256; ++b) {
    pairs.digits[b][0] = ADigits[b >> 4];
    pairs.digits[b][1] = ADigits[b & 0x0F];
  }
  return pairs;
}

constexpr HexPairs kHexPairsUpper = MakeHexPairs(kHexDigitsUpper);
constexpr HexPairs kHexPairsLower = MakeHexPairs(kHexDigitsLower);

}  // namespace

std::string ToHex(std::string_view ABytes, bool AUpperCase) {
  // Written into its final size at once: every digest of a signed request passes here.
  const HexPairs& pairs = AUpperCase ? kHexPairsUpper : kHexPairsLower;
  std::string hex(ABytes.size() * 2, '\0');
  char* to = hex.data();
  for (const char b : ABytes) {
    std::memcpy(to, pairs.digits[static_cast<std::uint8_t>(b)], 2);
    to += 2;
  }
  return hex;
}

std::string ToHex(const TIdBytes& ABytes, bool AUpperCase) {
  return ToHex(std::string_view(reinterpret_cast<const char*>(ABytes.data()), ABytes.size()),
               AUpperCase);
}

TIdBytes TIdHash::HashString(const std::string& AStr) {
  TMemoryStream stream;
  if (!AStr.empty()) stream.WriteBuffer(AStr.data(), static_cast<std::int64_t>(AStr.size()));
  stream.SetPosition(0);
  return HashStream(stream);
}

std::string TIdHash::HashStringAsHex(const std::string& AStr) {
  return HashBytesToHex(HashString(AStr));
}

TIdBytes TIdHash::HashBytes(const TIdBytes& ASrc) {
  TMemoryStream stream;
  if (!ASrc.empty()) stream.WriteBuffer(ASrc.data(), static_cast<std::int64_t>(ASrc.size()));
  stream.SetPosition(0);
  return HashStream(stream);
}

std::string TIdHash::HashBytesAsHex(const TIdBytes& ASrc) { return HashBytesToHex(HashBytes(ASrc)); }

TIdBytes TIdHash::HashStream(TStream& AStream) { return ComputeHashBytes(AStream, -1); }

TIdBytes TIdHash::HashStream(TStream& AStream, std::int64_t AStartPosition, std::int64_t ASize) {
  if (AStartPosition >= 0) AStream.SetPosition(AStartPosition);
  return ComputeHashBytes(AStream, ASize);
}

std::string TIdHash::HashStreamAsHex(TStream& AStream) {
  return HashBytesToHex(HashStream(AStream));
}

std::string TIdHash::HashStreamAsHex(TStream& AStream, std::int64_t AStartPosition,
                                     std::int64_t ASize) {
  return HashBytesToHex(HashStream(AStream, AStartPosition, ASize));
}

bool TIdHashIntF::IsIntfAvailable() {
  const TIdHashHooks hooks = GetHashHooks();
  return hooks.HashingAvailable != nullptr && hooks.HashingAvailable();
}

TIdBytes TIdHashIntF::ComputeHashBytes(TStream& AStream, std::int64_t ASize) {
  const TIdHashHooks hooks = GetHashHooks();
  if (hooks.UpdateDigest == nullptr || hooks.FinishDigest == nullptr) {
    throw EIdDigestInitEx("EVP_DigestInit_ex error");
  }
  TIdHashContext context = NewContext(hooks);
  try {
    std::array<std::uint8_t, kChunkSize> buffer;
    std::int64_t left = ASize < 0 ? AStream.Size() - AStream.Position() : ASize;
    while (left > 0) {
      const std::int64_t read = AStream.Read(buffer.data(), std::min(left, kChunkSize));
      if (read <= 0) break;
      hooks.UpdateDigest(context, buffer.data(), static_cast<std::size_t>(read));
      left -= read;
    }
  } catch (...) {
    // The context is released whatever happened; the first failure is the one reported.
    try {
      (void)hooks.FinishDigest(context);
    } catch (...) {
    }
    throw;
  }
  return hooks.FinishDigest(context);
}

std::string TIdHashIntF::HashBytesToHex(const TIdBytes& AHash) { return ToHex(AHash, true); }

}  // namespace brv

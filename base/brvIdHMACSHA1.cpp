#include "base/brvIdHMACSHA1.h"

#include <array>
#include <cstring>

namespace brv {

TIdHMACSHA256::TIdHMACSHA256() { Init(); }

void TIdHMACSHA256::SetHashParameters() {
  FHashSize = 32;
  FBlockSize = 64;
  FHashName = "SHA256";
}

void TIdHMACSHA256::PrepareHash() {
  if (!TIdHashSHA256::IsAvailable()) {
    throw EIdHMACHashNotAvailable("HMAC hash algorithm \"SHA-256\" is not available");
  }
  FHash = std::make_unique<TIdHashSHA256>();
}

bool TIdHMACSHA256::LibraryHMACUsable() {
  const TIdHashHooks hooks = GetHashHooks();
  return hooks.HMACAvailable != nullptr && hooks.HMACAvailable() &&
         hooks.HMACSHA256Available != nullptr && hooks.HMACSHA256Available();
}

TIdHashContext TIdHMACSHA256::NewLibraryHMACContext(const TIdHashHooks& AHooks,
                                                    const TIdBytes& AKey) {
  if (AHooks.NewHMACSHA256Context == nullptr) throw EIdDigestInitEx("HMAC_Init_ex error");
  return AHooks.NewHMACSHA256Context(AKey.data(), AKey.size());
}

TIdHMACSHA256Builtin::TIdHMACSHA256Builtin(const void* Key, std::size_t KeySize) {
  std::array<std::uint8_t, TIdSHA256Builtin::kBlockSize> block{};
  if (KeySize > block.size()) {
    const TDigest hashed = TIdSHA256Builtin::Digest(Key, KeySize);
    std::memcpy(block.data(), hashed.data(), hashed.size());
  } else if (KeySize > 0) {
    std::memcpy(block.data(), Key, KeySize);
  }
  std::array<std::uint8_t, TIdSHA256Builtin::kBlockSize> pad;
  for (std::size_t i = 0; i < pad.size(); ++i) pad[i] = static_cast<std::uint8_t>(block[i] ^ 0x36);
  inner_.Update(pad.data(), pad.size());
  for (std::size_t i = 0; i < pad.size(); ++i) pad[i] = static_cast<std::uint8_t>(block[i] ^ 0x5C);
  outer_.Update(pad.data(), pad.size());
}

TIdHMACSHA256Builtin::TDigest TIdHMACSHA256Builtin::Compute(const void* Data,
                                                            std::size_t Size) const {
  TIdSHA256Builtin inner = inner_;
  inner.Update(Data, Size);
  const TDigest innerHash = inner.Final();
  TIdSHA256Builtin outer = outer_;
  outer.Update(innerHash.data(), innerHash.size());
  return outer.Final();
}

TIdHMACSHA256Builtin::TDigest TIdHMACSHA256Builtin::Digest(const void* Key, std::size_t KeySize,
                                                           const void* Data, std::size_t Size) {
  return TIdHMACSHA256Builtin(Key, KeySize).Compute(Data, Size);
}

}  // namespace brv

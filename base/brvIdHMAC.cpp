#include "base/brvIdHMAC.h"

#include <random>

namespace brv {

TIdHMAC::TIdHMAC() = default;

TIdHMAC::~TIdHMAC() = default;

void TIdHMAC::Init() {
  SetHashParameters();
  const TIdHashHooks hooks = GetHashHooks();
  if (hooks.HMACAvailable == nullptr || !hooks.HMACAvailable()) PrepareHash();
}

bool TIdHMAC::LibraryHMACUsable() {
  const TIdHashHooks hooks = GetHashHooks();
  return hooks.HMACAvailable != nullptr && hooks.HMACAvailable();
}

TIdBytes TIdHMAC::HashValue(const TIdBytes& ABuffer, int ATruncateTo) {
  TIdBytes result;
  if (LibraryHMACUsable()) {
    if (FKey.empty()) FKey = TIdHMACKeyBuilder::Key(FHashSize);
    result = LibraryHashValue(GetHashHooks(), ABuffer);
  } else {
    result = BuiltHashValue(ABuffer);
  }
  if (ATruncateTo >= 0 && static_cast<std::size_t>(ATruncateTo) < result.size()) {
    result.resize(static_cast<std::size_t>(ATruncateTo));
  }
  return result;
}

TIdBytes TIdHMAC::LibraryHashValue(const TIdHashHooks& AHooks, const TIdBytes& ABuffer) {
  if (AHooks.UpdateHMAC == nullptr || AHooks.FinishHMAC == nullptr) {
    throw EIdDigestInitEx("HMAC_Init_ex error");
  }
  TIdHashContext context = NewLibraryHMACContext(AHooks, FKey);
  try {
    AHooks.UpdateHMAC(context, ABuffer.data(), ABuffer.size());
  } catch (...) {
    try {
      (void)AHooks.FinishHMAC(context);
    } catch (...) {
    }
    throw;
  }
  return AHooks.FinishHMAC(context);
}

TIdBytes TIdHMAC::BuiltHashValue(const TIdBytes& ABuffer) {
  // The hash object is made by Init only when the library did not offer HMACs then; when
  // the library offers HMACs but not this one, it is made here on first need.
  if (!FHash) PrepareHash();
  const auto blockSize = static_cast<std::size_t>(FBlockSize);
  if (FKey.empty()) FKey = TIdHMACKeyBuilder::Key(FHashSize);
  if (FKey.size() > blockSize) FKey = FHash->HashBytes(FKey);

  TIdBytes key = FKey;
  key.resize(blockSize, 0);
  TIdBytes inner(blockSize);
  TIdBytes outer(blockSize);
  for (std::size_t i = 0; i < blockSize; ++i) {
    inner[i] = static_cast<std::uint8_t>(key[i] ^ 0x36);
    outer[i] = static_cast<std::uint8_t>(key[i] ^ 0x5C);
  }
  inner.insert(inner.end(), ABuffer.begin(), ABuffer.end());
  const TIdBytes innerHash = FHash->HashBytes(inner);
  outer.insert(outer.end(), innerHash.begin(), innerHash.end());
  return FHash->HashBytes(outer);
}

TIdBytes TIdHMACKeyBuilder::Key(int ASize) {
  static thread_local std::random_device device;
  std::uniform_int_distribution<int> byte(0, 254);
  TIdBytes key(static_cast<std::size_t>(ASize > 0 ? ASize : 0));
  for (auto& b : key) b = static_cast<std::uint8_t>(byte(device));
  return key;
}

TIdBytes TIdHMACKeyBuilder::IV(int ASize) { return Key(ASize); }

}  // namespace brv

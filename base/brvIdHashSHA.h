// SHA-256: the hash class that goes through the hash hooks, and the built-in FIPS 180-4
// implementation that needs no library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/brvIdHash.h"

namespace brv {

// SHA-256 computed by the crypto library behind the hash hooks.
class TIdHashSHA256 : public TIdHashIntF {
 public:
  BRV_CLASS_NAME(TIdHashSHA256)

  // True when the hooks offer digests and SHA-256 among them.
  static bool IsAvailable();

 protected:
  // Hook NewSHA256Context.
  TIdHashContext NewContext(const TIdHashHooks& AHooks) override;
};

// The built-in SHA-256 (FIPS 180-4): incremental, no allocation, no failure cases.
class TIdSHA256Builtin {
 public:
  static constexpr std::size_t kDigestSize = 32;
  static constexpr std::size_t kBlockSize = 64;
  using TDigest = std::array<std::uint8_t, kDigestSize>;

  TIdSHA256Builtin() { Reset(); }
  // Starts a new message.
  void Reset();
  // Appends Size bytes of the message.
  void Update(const void* Data, std::size_t Size);
  // The digest of everything appended since the last Reset; resets afterwards.
  TDigest Final();

  // The digest of one whole message.
  static TDigest Digest(const void* Data, std::size_t Size);
  static TDigest Digest(const std::string& AText) { return Digest(AText.data(), AText.size()); }

  // True when blocks are compressed with the processor's SHA instructions. They are used
  // when the processor has them; SetHardwareAcceleration(false) keeps to the portable code
  // (tests check both against the same vectors).
  static bool HardwareAccelerated();
  static void SetHardwareAcceleration(bool Enabled);

 private:
  // Compresses Count whole blocks into the state.
  void Compress(const std::uint8_t* Blocks, std::size_t Count);

  std::array<std::uint32_t, 8> state_{};
  std::array<std::uint8_t, kBlockSize> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // message length in bytes
};

}  // namespace brv

// HMAC-SHA256: the HMAC class over the hash hooks, and the built-in HMAC-SHA256 that needs
// no library.
#pragma once

#include <cstddef>
#include <string>

#include "base/brvIdHMAC.h"
#include "base/brvIdHashSHA.h"

namespace brv {

// HMAC-SHA256 through the hash hooks: the library's HMAC when it offers one, else RFC 2104
// over TIdHashSHA256. Raises EIdHMACHashNotAvailable when neither is offered.
class TIdHMACSHA256 : public TIdHMAC {
 public:
  BRV_CLASS_NAME(TIdHMACSHA256)
  TIdHMACSHA256();

 protected:
  void PrepareHash() override;
  // HashSize 32, BlockSize 64, HashName "SHA256".
  void SetHashParameters() override;
  // Hooks HMACAvailable and HMACSHA256Available.
  bool LibraryHMACUsable() override;
  // Hook NewHMACSHA256Context.
  TIdHashContext NewLibraryHMACContext(const TIdHashHooks& AHooks, const TIdBytes& AKey) override;
};

// The built-in HMAC-SHA256 (RFC 2104 over the built-in SHA-256). The key is processed once,
// so one object can sign several messages under the same key.
class TIdHMACSHA256Builtin {
 public:
  using TDigest = TIdSHA256Builtin::TDigest;

  TIdHMACSHA256Builtin(const void* Key, std::size_t KeySize);
  // The HMAC of Size bytes at Data under the key.
  TDigest Compute(const void* Data, std::size_t Size) const;

  // The HMAC of one message under one key.
  static TDigest Digest(const void* Key, std::size_t KeySize, const void* Data, std::size_t Size);

 private:
  TIdSHA256Builtin inner_;  // state after the inner padded key
  TIdSHA256Builtin outer_;  // state after the outer padded key
};

}  // namespace brv

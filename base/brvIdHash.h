// Hash classes: the root of all hashes and the hashes computed through the hash hook table.
#pragma once

#include <cstdint>
#include <string>

#include "base/Classes.h"
#include "base/Exception.h"
#include "base/Hex.h"
#include "base/Streams.h"
#include "base/brvIdHashHooks.h"

namespace brv {

// A digest or HMAC step of the crypto library failed.
BRV_DECLARE_EXCEPTION(EIdDigestError, EIdException);
// Starting or feeding a digest failed ("EVP_DigestInit_ex error", "EVP_DigestUpdate error").
BRV_DECLARE_EXCEPTION(EIdDigestInitEx, EIdDigestError);
// Finishing a digest failed ("EVP_DigestFinal_ex error").
BRV_DECLARE_EXCEPTION(EIdDigestFinalEx, EIdDigestError);

// Root of the hash classes. Texts are hashed as their bytes (text is UTF-8 throughout the
// library); everything is staged through a stream and hashed by ComputeHashBytes.
class TIdHash : public TObject {
 public:
  BRV_CLASS_NAME(TIdHash)
  TIdHash() = default;

  // True when the hash can be computed; the root can always.
  static bool IsAvailable() { return true; }

  // Hash of the UTF-8 bytes of AStr.
  TIdBytes HashString(const std::string& AStr);
  std::string HashStringAsHex(const std::string& AStr);
  // Hash of the bytes.
  TIdBytes HashBytes(const TIdBytes& ASrc);
  std::string HashBytesAsHex(const TIdBytes& ASrc);
  // Hash of the stream from its position to its end.
  TIdBytes HashStream(TStream& AStream);
  // Hash of ASize bytes of the stream from AStartPosition (ASize < 0: to the end).
  TIdBytes HashStream(TStream& AStream, std::int64_t AStartPosition, std::int64_t ASize);
  std::string HashStreamAsHex(TStream& AStream);
  std::string HashStreamAsHex(TStream& AStream, std::int64_t AStartPosition, std::int64_t ASize);

 protected:
  // Hashes ASize bytes from the stream's position (ASize < 0: to the end).
  virtual TIdBytes ComputeHashBytes(TStream& AStream, std::int64_t ASize) = 0;
  // The hash as hexadecimal text.
  virtual std::string HashBytesToHex(const TIdBytes& AHash) = 0;
};

// A hash computed by the crypto library behind the hash hook table.
class TIdHashIntF : public TIdHash {
 public:
  BRV_CLASS_NAME(TIdHashIntF)

  // True when the hooks offer digests at all (hook HashingAvailable).
  static bool IsIntfAvailable();
  static bool IsAvailable() { return IsIntfAvailable(); }

 protected:
  // A new digest context of this hash, from the hook table.
  virtual TIdHashContext NewContext(const TIdHashHooks& AHooks) = 0;
  // Feeds the stream in chunks of at most 2048 bytes to UpdateDigest; the context is always
  // finished (and so released), also when feeding fails.
  TIdBytes ComputeHashBytes(TStream& AStream, std::int64_t ASize) override;
  // Two upper-case hexadecimal digits per byte.
  std::string HashBytesToHex(const TIdBytes& AHash) override;
};

}  // namespace brv

// HMAC (RFC 2104): the base of the keyed hashes, computed by the crypto library behind the
// hash hooks when it offers HMAC, else built over a hash class.
#pragma once

#include <memory>
#include <string>

#include "base/Classes.h"
#include "base/Exception.h"
#include "base/brvIdHash.h"
#include "base/brvIdHashHooks.h"

namespace brv {

// The hash an HMAC needs is not available: "HMAC hash algorithm "<name>" is not available".
BRV_DECLARE_EXCEPTION(EIdHMACHashNotAvailable, EIdException);

// The base of the HMAC classes. A derived class fixes sizes, name and hash in
// SetHashParameters and PrepareHash, and calls Init from its constructor.
class TIdHMAC : public TObject {
 public:
  BRV_CLASS_NAME(TIdHMAC)
  ~TIdHMAC() override;

  int HashSize() const { return FHashSize; }
  int BlockSize() const { return FBlockSize; }
  const std::string& HashName() const { return FHashName; }
  const TIdBytes& Key() const { return FKey; }
  void SetKey(const TIdBytes& Value) { FKey = Value; }

  // The HMAC of ABuffer under Key, cut to ATruncateTo bytes when that is 0 or more. An empty
  // Key is first replaced by HashSize random bytes; a Key longer than BlockSize by its hash
  // (when the HMAC is built here rather than by the library).
  TIdBytes HashValue(const TIdBytes& ABuffer, int ATruncateTo = -1);

 protected:
  TIdHMAC();
  // Sets the sizes and the name; then makes the hash object unless the library computes
  // HMACs itself (hook HMACAvailable).
  void Init();

  // Makes FHash; may raise EIdHMACHashNotAvailable.
  virtual void PrepareHash() = 0;
  // Sets FHashSize, FBlockSize and FHashName.
  virtual void SetHashParameters() = 0;
  // True when the library computes this HMAC (here: hook HMACAvailable).
  virtual bool LibraryHMACUsable();
  // A library HMAC context keyed with AKey.
  virtual TIdHashContext NewLibraryHMACContext(const TIdHashHooks& AHooks, const TIdBytes& AKey) = 0;

  int FHashSize = 0;
  int FBlockSize = 0;
  TIdBytes FKey;
  std::unique_ptr<TIdHash> FHash;
  std::string FHashName;

 private:
  TIdBytes LibraryHashValue(const TIdHashHooks& AHooks, const TIdBytes& ABuffer);
  TIdBytes BuiltHashValue(const TIdBytes& ABuffer);
};

// Random key material for HMACs.
class TIdHMACKeyBuilder {
 public:
  // ASize random bytes, each in the range 0 to 254.
  static TIdBytes Key(int ASize);
  static TIdBytes IV(int ASize);
};

}  // namespace brv

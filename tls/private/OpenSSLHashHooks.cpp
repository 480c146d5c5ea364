#include "tls/private/OpenSSLHashHooks.h"

#include <cstring>
#include <memory>
#include <utility>

#include "base/brvIdHash.h"
#include "tls/OpenSSLBinding.h"
#include "tls/private/OpenSSLAPI.h"

namespace brv::ossl {
namespace {

// Large enough for any digest OpenSSL produces (EVP_MAX_MD_SIZE).
constexpr unsigned kMaxDigest = 64;
// Keys up to a block of SHA-256 are remembered with their HMAC context (a signing key is 32
// bytes); a longer one is keyed afresh every time.
constexpr std::size_t kMaxKeptKey = 64;

bool DigestsBound() {
  if (!IsOpenSSLLoaded()) return false;
  const Functions& f = API();
  return f.EVP_MD_CTX_new != nullptr && f.EVP_DigestInit_ex != nullptr &&
         f.EVP_DigestUpdate != nullptr && f.EVP_DigestFinal_ex != nullptr &&
         f.EVP_MD_CTX_free != nullptr;
}

bool SHA256Bound() {
  return IsOpenSSLLoaded() && SHA256Digest() != nullptr;
}

bool MD5Bound() {
  return IsOpenSSLLoaded() && MD5Digest() != nullptr;
}

bool HMACBound() {
  if (!IsOpenSSLLoaded()) return false;
  const Functions& f = API();
  return f.HMAC_CTX_new != nullptr && f.HMAC_Init_ex != nullptr && f.HMAC_Update != nullptr &&
         f.HMAC_Final != nullptr && f.HMAC_CTX_free != nullptr;
}

// An HMAC context with the key it was last keyed with, so that the next HMAC under the same
// key starts from the keyed state instead of hashing the key again.
struct KeyedHMAC {
  HMAC_CTX* ctx = nullptr;
  bool keyed = false;
  std::size_t key_size = 0;
  std::uint8_t key[kMaxKeptKey] = {};

  void Forget() {
    keyed = false;
    key_size = 0;
    // A volatile store, so that wiping the copy of the key is not optimised away.
    volatile std::uint8_t* bytes = key;
    for (std::size_t i = 0; i < kMaxKeptKey; ++i) bytes[i] = 0;
  }
  ~KeyedHMAC() { Forget(); }
};

// Each thread keeps the last digest context and the last HMAC context it finished for its next
// hash: a new context costs allocations and, for an HMAC, two compressions of the key, a large
// part of hashing the short texts of a request signature. Contexts belong to the binding that
// made them; after a release and a new load the old ones are abandoned (their library is gone).
struct SpareContexts {
  unsigned generation = 0;
  EVP_MD_CTX* digest = nullptr;
  std::unique_ptr<KeyedHMAC> hmac;

  // Makes the spares those of the current binding.
  void Sync() {
    const unsigned current = BindingGeneration();
    if (current == generation) return;
    digest = nullptr;
    if (hmac) hmac->ctx = nullptr;
    hmac.reset();
    generation = current;
  }

  SpareContexts();
  ~SpareContexts();

  // Frees the spares with AFunctions, those of the binding that made them.
  void Free(const Functions& AFunctions) {
    if (digest != nullptr) AFunctions.EVP_MD_CTX_free(digest);
    if (hmac && hmac->ctx != nullptr) AFunctions.HMAC_CTX_free(hmac->ctx);
    digest = nullptr;
    hmac.reset();
  }
};

thread_local SpareContexts tSpares;
// This thread's spares while they exist: a plain pointer, which a release of the binding at
// the process's end may still read after the thread's objects are gone.
thread_local SpareContexts* tLiveSpares = nullptr;

SpareContexts::SpareContexts() {
  tLiveSpares = this;
}

SpareContexts::~SpareContexts() {
  tLiveSpares = nullptr;
  if (IsOpenSSLLoaded() && generation == BindingGeneration()) Free(API());
}

void FreeHMAC(std::unique_ptr<KeyedHMAC> AHMAC) {
  if (AHMAC && AHMAC->ctx != nullptr) API().HMAC_CTX_free(AHMAC->ctx);
}

// A digest context for AType, the thread's kept one when it has one.
TIdHashContext NewDigest(const EVP_MD* AType) {
  const Functions& f = API();
  tSpares.Sync();
  EVP_MD_CTX* ctx = std::exchange(tSpares.digest, nullptr);
  if (ctx == nullptr) ctx = f.EVP_MD_CTX_new();
  if (ctx == nullptr || AType == nullptr || f.EVP_DigestInit_ex(ctx, AType, nullptr) != 1) {
    if (ctx != nullptr) f.EVP_MD_CTX_free(ctx);
    f.ERR_clear_error();
    throw EIdDigestInitEx("EVP_DigestInit_ex error");
  }
  return ctx;
}

TIdHashContext NewSHA256() {
  return NewDigest(SHA256Digest());
}

TIdHashContext NewMD5() {
  return NewDigest(MD5Digest());
}

void UpdateDigest(TIdHashContext context, const std::uint8_t* data, std::size_t size) {
  const Functions& f = API();
  if (f.EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(context), data, size) != 1) {
    f.ERR_clear_error();
    throw EIdDigestInitEx("EVP_DigestUpdate error");
  }
}

TIdBytes FinishDigest(TIdHashContext context) {
  const Functions& f = API();
  auto* ctx = static_cast<EVP_MD_CTX*>(context);
  unsigned char digest[kMaxDigest];
  unsigned int length = 0;
  const int ok = f.EVP_DigestFinal_ex(ctx, digest, &length);
  tSpares.Sync();
  if (ok == 1 && tSpares.digest == nullptr)
    tSpares.digest = ctx;
  else
    f.EVP_MD_CTX_free(ctx);
  if (ok != 1 || length > kMaxDigest) {
    f.ERR_clear_error();
    throw EIdDigestFinalEx("EVP_DigestFinal_ex error");
  }
  return TIdBytes(digest, digest + length);
}

TIdHashContext NewHMACSHA256(const std::uint8_t* key, std::size_t key_size) {
  const Functions& f = API();
  tSpares.Sync();
  std::unique_ptr<KeyedHMAC> hmac = std::move(tSpares.hmac);
  if (!hmac) hmac = std::make_unique<KeyedHMAC>();
  if (hmac->ctx == nullptr) hmac->ctx = f.HMAC_CTX_new();
  const bool same_key = hmac->keyed && hmac->key_size == key_size &&
                        (key_size == 0 || std::memcmp(hmac->key, key, key_size) == 0);
  int ok = 0;
  if (hmac->ctx != nullptr && same_key) {
    // A null key restarts the context with the key it holds.
    ok = f.HMAC_Init_ex(hmac->ctx, nullptr, 0, nullptr, nullptr);
  } else if (hmac->ctx != nullptr) {
    hmac->Forget();
    // A null key means "keep the previous key" to HMAC_Init_ex, so an empty key is passed as
    // a valid pointer with length 0.
    static const std::uint8_t kNoKey = 0;
    ok = f.HMAC_Init_ex(hmac->ctx, key != nullptr ? key : &kNoKey, static_cast<int>(key_size),
                        SHA256Digest(), nullptr);
    if (ok == 1 && key_size <= kMaxKeptKey) {
      if (key_size != 0) std::memcpy(hmac->key, key, key_size);
      hmac->key_size = key_size;
      hmac->keyed = true;
    }
  }
  if (ok != 1) {
    FreeHMAC(std::move(hmac));
    f.ERR_clear_error();
    throw EIdDigestInitEx("HMAC_Init_ex error");
  }
  return hmac.release();
}

void UpdateHMAC(TIdHashContext context, const std::uint8_t* data, std::size_t size) {
  const Functions& f = API();
  if (f.HMAC_Update(static_cast<KeyedHMAC*>(context)->ctx, data, size) != 1) {
    f.ERR_clear_error();
    throw EIdDigestInitEx("HMAC_Update error");
  }
}

TIdBytes FinishHMAC(TIdHashContext context) {
  const Functions& f = API();
  std::unique_ptr<KeyedHMAC> hmac(static_cast<KeyedHMAC*>(context));
  unsigned char digest[kMaxDigest];
  unsigned int length = 0;
  const int ok = f.HMAC_Final(hmac->ctx, digest, &length);
  tSpares.Sync();
  if (ok == 1 && !tSpares.hmac)
    tSpares.hmac = std::move(hmac);
  else
    FreeHMAC(std::move(hmac));
  if (ok != 1 || length > kMaxDigest) {
    f.ERR_clear_error();
    throw EIdDigestFinalEx("HMAC_Final error");
  }
  return TIdBytes(digest, digest + length);
}

}  // namespace

TIdHashHooks OpenSSLHashHookTable() {
  TIdHashHooks hooks;
  hooks.LoadHashLibrary = [] { EnsureOpenSSLLoaded(); };
  hooks.HashingAvailable = &DigestsBound;
  hooks.SHA256Available = &SHA256Bound;
  hooks.NewSHA256Context = &NewSHA256;
  hooks.MD5Available = &MD5Bound;
  hooks.NewMD5Context = &NewMD5;
  hooks.UpdateDigest = &UpdateDigest;
  hooks.FinishDigest = &FinishDigest;
  hooks.HMACAvailable = &HMACBound;
  hooks.HMACSHA256Available = &SHA256Bound;
  hooks.NewHMACSHA256Context = &NewHMACSHA256;
  hooks.UpdateHMAC = &UpdateHMAC;
  hooks.FinishHMAC = &FinishHMAC;
  return hooks;
}

void FreeThreadHashContexts(const Functions& AFunctions) {
  if (tLiveSpares != nullptr && tLiveSpares->generation == BindingGeneration())
    tLiveSpares->Free(AFunctions);
}

}  // namespace brv::ossl

#include "tls/private/OpenSSLHashHooks.h"

#include "base/brvIdHash.h"
#include "tls/OpenSSLBinding.h"
#include "tls/private/OpenSSLAPI.h"

namespace brv::ossl {
namespace {

// Large enough for any digest OpenSSL produces (EVP_MAX_MD_SIZE).
constexpr unsigned kMaxDigest = 64;

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

bool HMACBound() {
  if (!IsOpenSSLLoaded()) return false;
  const Functions& f = API();
  return f.HMAC_CTX_new != nullptr && f.HMAC_Init_ex != nullptr && f.HMAC_Update != nullptr &&
         f.HMAC_Final != nullptr && f.HMAC_CTX_free != nullptr;
}

TIdHashContext NewSHA256() {
  const Functions& f = API();
  EVP_MD_CTX* ctx = f.EVP_MD_CTX_new();
  if (ctx == nullptr || f.EVP_DigestInit_ex(ctx, SHA256Digest(), nullptr) != 1) {
    if (ctx != nullptr) f.EVP_MD_CTX_free(ctx);
    f.ERR_clear_error();
    throw EIdDigestInitEx("EVP_DigestInit_ex error");
  }
  return ctx;
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
  f.EVP_MD_CTX_free(ctx);
  if (ok != 1 || length > kMaxDigest) {
    f.ERR_clear_error();
    throw EIdDigestFinalEx("EVP_DigestFinal_ex error");
  }
  return TIdBytes(digest, digest + length);
}

TIdHashContext NewHMACSHA256(const std::uint8_t* key, std::size_t key_size) {
  const Functions& f = API();
  HMAC_CTX* ctx = f.HMAC_CTX_new();
  // A null key means "keep the previous key" to HMAC_Init_ex, so an empty key is passed as
  // a valid pointer with length 0.
  static const std::uint8_t kNoKey = 0;
  if (ctx == nullptr || f.HMAC_Init_ex(ctx, key != nullptr ? key : &kNoKey,
                                       static_cast<int>(key_size), SHA256Digest(), nullptr) != 1) {
    if (ctx != nullptr) f.HMAC_CTX_free(ctx);
    f.ERR_clear_error();
    throw EIdDigestInitEx("HMAC_Init_ex error");
  }
  return ctx;
}

void UpdateHMAC(TIdHashContext context, const std::uint8_t* data, std::size_t size) {
  const Functions& f = API();
  if (f.HMAC_Update(static_cast<HMAC_CTX*>(context), data, size) != 1) {
    f.ERR_clear_error();
    throw EIdDigestInitEx("HMAC_Update error");
  }
}

TIdBytes FinishHMAC(TIdHashContext context) {
  const Functions& f = API();
  auto* ctx = static_cast<HMAC_CTX*>(context);
  unsigned char digest[kMaxDigest];
  unsigned int length = 0;
  const int ok = f.HMAC_Final(ctx, digest, &length);
  f.HMAC_CTX_free(ctx);
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
  hooks.UpdateDigest = &UpdateDigest;
  hooks.FinishDigest = &FinishDigest;
  hooks.HMACAvailable = &HMACBound;
  hooks.HMACSHA256Available = &SHA256Bound;
  hooks.NewHMACSHA256Context = &NewHMACSHA256;
  hooks.UpdateHMAC = &UpdateHMAC;
  hooks.FinishHMAC = &FinishHMAC;
  return hooks;
}

}  // namespace brv::ossl

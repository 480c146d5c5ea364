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

// Room for OpenSSL's SHA256_CTX or MD5_CTX (112 and 92 bytes in every version since 0.9.8),
// with margin. The states hold no pointers, so copying the bytes copies the state.
constexpr std::size_t kSHA256StateSize = 256;
constexpr std::size_t kSHA256Size = 32;
constexpr std::size_t kMD5Size = 16;
constexpr std::size_t kSHA256Block = 64;

struct SHA256State {
  alignas(16) unsigned char bytes[kSHA256StateSize];
  SHA256_CTX* Get() { return reinterpret_cast<SHA256_CTX*>(bytes); }
  MD5_CTX* GetMD5() { return reinterpret_cast<MD5_CTX*>(bytes); }
};

// Overwrites Size bytes at Bytes with volatile stores, so that wiping is not optimised away.
void Wipe(void* Bytes, std::size_t Size) {
  volatile auto* p = static_cast<volatile unsigned char*>(Bytes);
  for (std::size_t i = 0; i < Size; ++i) p[i] = 0;
}

bool DigestsBound() {
  if (!IsOpenSSLLoaded()) return false;
  const Functions& f = API();
  return f.EVP_MD_CTX_new != nullptr && f.EVP_DigestInit_ex != nullptr &&
         f.EVP_DigestUpdate != nullptr && f.EVP_DigestFinal_ex != nullptr &&
         f.EVP_MD_CTX_free != nullptr;
}

bool DirectSHA256();

bool SHA256Bound() {
  return IsOpenSSLLoaded() && (DirectSHA256() || SHA256Digest() != nullptr);
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

// The road of a digest: an EVP context, or the library's own SHA-256 or MD5 functions.
enum class DigestRoad { EVP, SHA256, MD5 };

// A digest context. SHA-256 goes straight to the library's SHA256_Init/Update/Final on a state
// of our own when the library has them and is not in FIPS mode, and MD5 to MD5_Init/Update/Final
// when the library allows MD5 at all (the same block functions the EVP road ends in, without
// the provider dispatch and context set-up on every call; a signed request hashes a few short
// texts, a sent or received message its body); anything else takes an EVP context.
struct DigestContext {
  DigestRoad road = DigestRoad::EVP;
  EVP_MD_CTX* evp = nullptr;
  SHA256State state;
};

// An HMAC context with the key it was last keyed with, so that the next HMAC under the same
// key starts from the keyed state instead of hashing the key again. On the direct road the
// keyed states are the SHA-256 states after the inner and the outer padded key; each HMAC
// starts from copies of them.
struct KeyedHMAC {
  HMAC_CTX* ctx = nullptr;
  bool keyed = false;
  bool keyed_direct = false;  // the road the kept key was keyed on
  bool direct = false;        // the road of the HMAC under way
  std::size_t key_size = 0;
  std::uint8_t key[kMaxKeptKey] = {};
  SHA256State inner;
  SHA256State outer;
  SHA256State work;

  void Forget() {
    keyed = false;
    key_size = 0;
    Wipe(key, sizeof key);
    Wipe(inner.bytes, sizeof inner.bytes);
    Wipe(outer.bytes, sizeof outer.bytes);
  }
  ~KeyedHMAC() {
    Forget();
    Wipe(work.bytes, sizeof work.bytes);
  }
};

// Each thread keeps the last digest context and the last HMAC context it finished for its next
// hash: a new context costs allocations and, for an HMAC, two compressions of the key, a large
// part of hashing the short texts of a request signature. Contexts belong to the binding that
// made them; after a release and a new load the old ones are abandoned (their library is gone).
struct SpareContexts {
  unsigned generation = 0;
  std::unique_ptr<DigestContext> digest;
  std::unique_ptr<KeyedHMAC> hmac;
  // Whether SHA-256 takes the direct road with this binding; -1 until asked.
  int direct = -1;

  // Makes the spares those of the current binding.
  void Sync() {
    const unsigned current = BindingGeneration();
    if (current == generation) return;
    if (digest) digest->evp = nullptr;
    digest.reset();
    if (hmac) hmac->ctx = nullptr;
    hmac.reset();
    direct = -1;
    generation = current;
  }

  SpareContexts();
  ~SpareContexts();

  // Frees the spares with AFunctions, those of the binding that made them.
  void Free(const Functions& AFunctions) {
    if (digest && digest->evp != nullptr) AFunctions.EVP_MD_CTX_free(digest->evp);
    if (hmac && hmac->ctx != nullptr) AFunctions.HMAC_CTX_free(hmac->ctx);
    digest.reset();
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

void FreeDigest(std::unique_ptr<DigestContext> ADigest) {
  if (ADigest && ADigest->evp != nullptr) API().EVP_MD_CTX_free(ADigest->evp);
}

// Whether SHA-256 and its HMAC take the library's SHA256_* functions directly: they are bound
// and the library is not in FIPS mode, where only the provider's digests are to be used.
// Asked once per binding and thread.
bool DirectSHA256() {
  tSpares.Sync();
  if (tSpares.direct < 0) {
    const Functions& f = API();
    const bool fips = f.EVP_default_properties_is_fips_enabled != nullptr &&
                      f.EVP_default_properties_is_fips_enabled(nullptr) != 0;
    tSpares.direct =
        f.SHA256_Init != nullptr && f.SHA256_Update != nullptr && f.SHA256_Final != nullptr && !fips
            ? 1
            : 0;
  }
  return tSpares.direct == 1;
}

// A digest context for AType on ARoad, the thread's kept one when it has one.
TIdHashContext NewDigest(const EVP_MD* AType, DigestRoad ARoad) {
  const Functions& f = API();
  tSpares.Sync();
  std::unique_ptr<DigestContext> ctx = std::move(tSpares.digest);
  if (!ctx) ctx = std::make_unique<DigestContext>();
  ctx->road = ARoad;
  if (ARoad == DigestRoad::SHA256) {
    if (f.SHA256_Init(ctx->state.Get()) == 1) return ctx.release();
  } else if (ARoad == DigestRoad::MD5) {
    if (f.MD5_Init(ctx->state.GetMD5()) == 1) return ctx.release();
  } else {
    if (ctx->evp == nullptr) ctx->evp = f.EVP_MD_CTX_new();
    if (ctx->evp != nullptr && AType != nullptr &&
        f.EVP_DigestInit_ex(ctx->evp, AType, nullptr) == 1)
      return ctx.release();
  }
  FreeDigest(std::move(ctx));
  f.ERR_clear_error();
  throw EIdDigestInitEx("EVP_DigestInit_ex error");
}

TIdHashContext NewSHA256() {
  // The direct road needs no EVP digest, and looking one up is costly the first time.
  if (DirectSHA256()) return NewDigest(nullptr, DigestRoad::SHA256);
  return NewDigest(SHA256Digest(), DigestRoad::EVP);
}

TIdHashContext NewMD5() {
  // MD5Digest() is null where the library refuses MD5; EVP then reports the failure as before.
  const EVP_MD* md5 = MD5Digest();
  const Functions& f = API();
  const bool direct =
      md5 != nullptr && f.MD5_Init != nullptr && f.MD5_Update != nullptr && f.MD5_Final != nullptr;
  return NewDigest(md5, direct ? DigestRoad::MD5 : DigestRoad::EVP);
}

void UpdateDigest(TIdHashContext context, const std::uint8_t* data, std::size_t size) {
  const Functions& f = API();
  auto* ctx = static_cast<DigestContext*>(context);
  const int ok = ctx->road == DigestRoad::SHA256 ? f.SHA256_Update(ctx->state.Get(), data, size)
                 : ctx->road == DigestRoad::MD5  ? f.MD5_Update(ctx->state.GetMD5(), data, size)
                                                 : f.EVP_DigestUpdate(ctx->evp, data, size);
  if (ok != 1) {
    f.ERR_clear_error();
    throw EIdDigestInitEx("EVP_DigestUpdate error");
  }
}

TIdBytes FinishDigest(TIdHashContext context) {
  const Functions& f = API();
  std::unique_ptr<DigestContext> ctx(static_cast<DigestContext*>(context));
  unsigned char digest[kMaxDigest];
  unsigned int length = 0;
  int ok = 0;
  if (ctx->road == DigestRoad::SHA256) {
    ok = f.SHA256_Final(digest, ctx->state.Get());
    length = kSHA256Size;
  } else if (ctx->road == DigestRoad::MD5) {
    ok = f.MD5_Final(digest, ctx->state.GetMD5());
    length = kMD5Size;
  } else {
    ok = f.EVP_DigestFinal_ex(ctx->evp, digest, &length);
  }
  tSpares.Sync();
  if (ok == 1 && !tSpares.digest)
    tSpares.digest = std::move(ctx);
  else
    FreeDigest(std::move(ctx));
  if (ok != 1 || length > kMaxDigest) {
    f.ERR_clear_error();
    throw EIdDigestFinalEx("EVP_DigestFinal_ex error");
  }
  return TIdBytes(digest, digest + length);
}

// Keys AHMAC's direct states with KeySize bytes at Key (RFC 2104: a key longer than a block is
// hashed first, a shorter one padded with zeros). False when the library fails.
bool KeyDirect(KeyedHMAC& AHMAC, const std::uint8_t* Key, std::size_t KeySize) {
  const Functions& f = API();
  unsigned char block[kSHA256Block] = {};
  bool ok = true;
  if (KeySize > kSHA256Block) {
    ok = f.SHA256_Init(AHMAC.work.Get()) == 1 &&
         f.SHA256_Update(AHMAC.work.Get(), Key, KeySize) == 1 &&
         f.SHA256_Final(block, AHMAC.work.Get()) == 1;
  } else if (KeySize != 0) {
    std::memcpy(block, Key, KeySize);
  }
  for (auto& b : block) b ^= 0x36;
  ok = ok && f.SHA256_Init(AHMAC.inner.Get()) == 1 &&
       f.SHA256_Update(AHMAC.inner.Get(), block, kSHA256Block) == 1;
  for (auto& b : block) b ^= 0x36 ^ 0x5c;
  ok = ok && f.SHA256_Init(AHMAC.outer.Get()) == 1 &&
       f.SHA256_Update(AHMAC.outer.Get(), block, kSHA256Block) == 1;
  Wipe(block, sizeof block);
  return ok;
}

TIdHashContext NewHMACSHA256(const std::uint8_t* key, std::size_t key_size) {
  const Functions& f = API();
  const bool direct = DirectSHA256();
  std::unique_ptr<KeyedHMAC> hmac = std::move(tSpares.hmac);
  if (!hmac) hmac = std::make_unique<KeyedHMAC>();
  const bool same_key = hmac->keyed && hmac->keyed_direct == direct && hmac->key_size == key_size &&
                        (key_size == 0 || std::memcmp(hmac->key, key, key_size) == 0);
  hmac->direct = direct;
  if (direct) {
    bool ok = true;
    if (!same_key) {
      hmac->Forget();
      ok = KeyDirect(*hmac, key, key_size);
      if (ok && key_size <= kMaxKeptKey) {
        if (key_size != 0) std::memcpy(hmac->key, key, key_size);
        hmac->key_size = key_size;
        hmac->keyed = true;
        hmac->keyed_direct = true;
      }
    }
    if (!ok) {
      FreeHMAC(std::move(hmac));
      f.ERR_clear_error();
      throw EIdDigestInitEx("HMAC_Init_ex error");
    }
    std::memcpy(hmac->work.bytes, hmac->inner.bytes, sizeof hmac->work.bytes);
    return hmac.release();
  }
  if (hmac->ctx == nullptr) hmac->ctx = f.HMAC_CTX_new();
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
      hmac->keyed_direct = false;
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
  auto* hmac = static_cast<KeyedHMAC*>(context);
  const int ok = hmac->direct ? f.SHA256_Update(hmac->work.Get(), data, size)
                              : f.HMAC_Update(hmac->ctx, data, size);
  if (ok != 1) {
    f.ERR_clear_error();
    throw EIdDigestInitEx("HMAC_Update error");
  }
}

TIdBytes FinishHMAC(TIdHashContext context) {
  const Functions& f = API();
  std::unique_ptr<KeyedHMAC> hmac(static_cast<KeyedHMAC*>(context));
  unsigned char digest[kMaxDigest];
  unsigned int length = 0;
  int ok = 0;
  if (hmac->direct) {
    // The inner hash, then the outer state over it.
    ok = f.SHA256_Final(digest, hmac->work.Get());
    if (ok == 1) {
      std::memcpy(hmac->work.bytes, hmac->outer.bytes, sizeof hmac->work.bytes);
      ok = f.SHA256_Update(hmac->work.Get(), digest, kSHA256Size);
    }
    if (ok == 1) ok = f.SHA256_Final(digest, hmac->work.Get());
    length = kSHA256Size;
  } else {
    ok = f.HMAC_Final(hmac->ctx, digest, &length);
  }
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

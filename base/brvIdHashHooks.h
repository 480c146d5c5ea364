// The process-wide hash hook table: how the hash classes reach a crypto library.
//
// The hash and HMAC classes (brvIdHash, brvIdHashSHA, brvIdHMAC) never call a crypto library
// themselves; they call the hooks below. A binding (the run-time bound OpenSSL, for one) fills
// the table with InstallHashHooks. Until it does, every availability hook answers false, the
// other hooks are never reached, and hashing takes the built-in SHA-256 and HMAC instead, with
// the same results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace brv {

// A growable byte array.
using TIdBytes = std::vector<std::uint8_t>;

// An opaque digest or HMAC context handed out by a New...Context hook. The binding decides
// what it points to; the hash classes only pass it back to the same binding.
using TIdHashContext = void*;

// The hook operations. Every member may be left null: a null availability hook answers false
// and a null load hook does nothing. A binding that answers true for an availability hook must
// fill the operations it vouches for.
//
// Error contract: a hook that fails raises an exception derived from brv::Exception (for the
// OpenSSL binding EIdDigestInitEx "EVP_DigestInit_ex error", "EVP_DigestUpdate error", or
// EIdDigestFinalEx "EVP_DigestFinal_ex error"). The hash classes then always call the
// matching Finish... hook, which must release the context whatever happened before; the
// primitives of the signer fall back to the built-in implementation on any exception.
struct TIdHashHooks {
  // Loads the crypto library if it is not loaded yet. Called before every library-path hash
  // of the signer; its outcome is not consulted (availability is asked afterwards). It may
  // call InstallHashHooks itself.
  void (*LoadHashLibrary)() = nullptr;

  // Digest functions present (for OpenSSL: EVP_DigestInit_ex, EVP_DigestUpdate,
  // EVP_DigestFinal_ex loaded).
  bool (*HashingAvailable)() = nullptr;
  // SHA-256 digest present (EVP_sha256 loaded).
  bool (*SHA256Available)() = nullptr;
  // A new context ready to digest with SHA-256.
  TIdHashContext (*NewSHA256Context)() = nullptr;
  // MD5 digest present (for OpenSSL: EVP_md5 loaded and the library allows it).
  bool (*MD5Available)() = nullptr;
  // A new context ready to digest with MD5.
  TIdHashContext (*NewMD5Context)() = nullptr;
  // Feeds Size bytes at Data into the digest context.
  void (*UpdateDigest)(TIdHashContext Context, const std::uint8_t* Data, std::size_t Size) =
      nullptr;
  // The digest bytes; releases the context (also after a failed update).
  TIdBytes (*FinishDigest)(TIdHashContext Context) = nullptr;

  // HMAC functions present (HMAC_CTX_init, HMAC_Init_ex, HMAC_Update, HMAC_Final,
  // HMAC_CTX_cleanup or their successors loaded).
  bool (*HMACAvailable)() = nullptr;
  // HMAC over SHA-256 possible (EVP_sha256 loaded).
  bool (*HMACSHA256Available)() = nullptr;
  // A new HMAC-SHA256 context keyed with KeySize bytes at Key (KeySize may be 0).
  TIdHashContext (*NewHMACSHA256Context)(const std::uint8_t* Key, std::size_t KeySize) = nullptr;
  // Feeds Size bytes at Data into the HMAC context.
  void (*UpdateHMAC)(TIdHashContext Context, const std::uint8_t* Data, std::size_t Size) = nullptr;
  // The HMAC bytes; releases the context (also after a failed update).
  TIdBytes (*FinishHMAC)(TIdHashContext Context) = nullptr;
};

// Replaces the process-wide table with a copy of Hooks. Meant to be called once at program
// start (or from the LoadHashLibrary hook) before hashing begins; it is nevertheless safe
// against hashing on other threads, which see either the old table or the new one.
void InstallHashHooks(const TIdHashHooks& Hooks);
// Restores the empty table: every availability hook answers false again.
void UninstallHashHooks();
// A copy of the table as it stands now.
TIdHashHooks GetHashHooks();

}  // namespace brv

// Test helper: a hash hook table over the system's OpenSSL libcrypto, bound at run time the
// way the library's own binding does it. Lets tests compare the hook path of the hash
// classes against the built-in implementation with a real crypto library behind it.
#pragma once

#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "base/brvIdHashHooks.h"

namespace brv::testing {

class OpenSSLHashHooks {
 public:
  // Binds libcrypto; false when it or one of the functions is missing.
  static bool Load() {
    static const bool loaded = Bind();
    return loaded;
  }

  // The hook table over libcrypto (call Load first).
  static TIdHashHooks Table() {
    TIdHashHooks hooks;
    hooks.HashingAvailable = [] { return true; };
    hooks.SHA256Available = [] { return true; };
    hooks.NewSHA256Context = []() -> TIdHashContext {
      void* ctx = fn().MdCtxNew();
      if (fn().DigestInit(ctx, fn().Sha256(), nullptr) != 1) {
        fn().MdCtxFree(ctx);
        throw std::runtime_error("EVP_DigestInit_ex error");
      }
      return ctx;
    };
    hooks.UpdateDigest = [](TIdHashContext ctx, const std::uint8_t* data, std::size_t size) {
      if (fn().DigestUpdate(ctx, data, size) != 1) throw std::runtime_error("EVP_DigestUpdate error");
    };
    hooks.FinishDigest = [](TIdHashContext ctx) {
      TIdBytes out(64);
      unsigned len = 0;
      const int rc = fn().DigestFinal(ctx, out.data(), &len);
      fn().MdCtxFree(ctx);
      if (rc != 1) throw std::runtime_error("EVP_DigestFinal_ex error");
      out.resize(len);
      return out;
    };
    hooks.HMACAvailable = [] { return true; };
    hooks.HMACSHA256Available = [] { return true; };
    hooks.NewHMACSHA256Context = [](const std::uint8_t* key, std::size_t size) -> TIdHashContext {
      void* ctx = fn().HmacCtxNew();
      // HMAC_Init_ex takes the key as given; an empty key must still be a valid pointer.
      static const std::uint8_t none = 0;
      if (fn().HmacInit(ctx, size > 0 ? key : &none, static_cast<int>(size), fn().Sha256(),
                        nullptr) != 1) {
        fn().HmacCtxFree(ctx);
        throw std::runtime_error("HMAC_Init_ex error");
      }
      return ctx;
    };
    hooks.UpdateHMAC = [](TIdHashContext ctx, const std::uint8_t* data, std::size_t size) {
      if (fn().HmacUpdate(ctx, data, size) != 1) throw std::runtime_error("HMAC_Update error");
    };
    hooks.FinishHMAC = [](TIdHashContext ctx) {
      TIdBytes out(64);
      unsigned len = 0;
      const int rc = fn().HmacFinal(ctx, out.data(), &len);
      fn().HmacCtxFree(ctx);
      if (rc != 1) throw std::runtime_error("HMAC_Final error");
      out.resize(len);
      return out;
    };
    return hooks;
  }

 private:
  struct Functions {
    void* (*MdCtxNew)() = nullptr;
    void (*MdCtxFree)(void*) = nullptr;
    const void* (*Sha256)() = nullptr;
    int (*DigestInit)(void*, const void*, void*) = nullptr;
    int (*DigestUpdate)(void*, const void*, std::size_t) = nullptr;
    int (*DigestFinal)(void*, unsigned char*, unsigned*) = nullptr;
    void* (*HmacCtxNew)() = nullptr;
    void (*HmacCtxFree)(void*) = nullptr;
    int (*HmacInit)(void*, const void*, int, const void*, void*) = nullptr;
    int (*HmacUpdate)(void*, const unsigned char*, std::size_t) = nullptr;
    int (*HmacFinal)(void*, unsigned char*, unsigned*) = nullptr;
  };

  static Functions& fn() {
    static Functions f;
    return f;
  }

  template <typename T>
  static bool Sym(void* lib, const char* name, T& out) {
    out = reinterpret_cast<T>(dlsym(lib, name));
    return out != nullptr;
  }

  static bool Bind() {
    void* lib = nullptr;
    for (const char* name : {"libcrypto.so.3", "libcrypto.so.1.1", "libcrypto.so"}) {
      lib = dlopen(name, RTLD_NOW | RTLD_LOCAL);
      if (lib != nullptr) break;
    }
    if (lib == nullptr) return false;
    Functions& f = fn();
    return Sym(lib, "EVP_MD_CTX_new", f.MdCtxNew) && Sym(lib, "EVP_MD_CTX_free", f.MdCtxFree) &&
           Sym(lib, "EVP_sha256", f.Sha256) && Sym(lib, "EVP_DigestInit_ex", f.DigestInit) &&
           Sym(lib, "EVP_DigestUpdate", f.DigestUpdate) &&
           Sym(lib, "EVP_DigestFinal_ex", f.DigestFinal) &&
           Sym(lib, "HMAC_CTX_new", f.HmacCtxNew) && Sym(lib, "HMAC_CTX_free", f.HmacCtxFree) &&
           Sym(lib, "HMAC_Init_ex", f.HmacInit) && Sym(lib, "HMAC_Update", f.HmacUpdate) &&
           Sym(lib, "HMAC_Final", f.HmacFinal);
  }
};

// Installs a table for the lifetime of the object and restores the empty table afterwards.
class ScopedHashHooks {
 public:
  explicit ScopedHashHooks(const TIdHashHooks& hooks) { InstallHashHooks(hooks); }
  ~ScopedHashHooks() { UninstallHashHooks(); }
  ScopedHashHooks(const ScopedHashHooks&) = delete;
  ScopedHashHooks& operator=(const ScopedHashHooks&) = delete;
};

}  // namespace brv::testing

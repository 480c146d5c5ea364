#include "tls/sspi/GnuTLSBinding.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

namespace brv::sspi {
namespace {

struct Entry {
  const char* name;
  void** slot;
};

// Process-wide binding state, guarded by `mutex`; `loaded` is also read without the lock.
struct Binding {
  std::mutex mutex;
  std::atomic<bool> loaded{false};
  std::string library = "libgnutls.so.30";
  void* handle = nullptr;
  std::string error;
  GnuTLSFunctions functions;
};

Binding& State() {
  // Never destroyed: sessions may still be freed by other static objects at the process's end.
  static Binding* binding = new Binding;
  return *binding;
}

// Opens the library and binds every function of the list. Called under the lock. The handle
// is kept even when a later step fails, so that the next attempt does not open it again.
bool Bind(Binding& b) {
  if (b.handle == nullptr) {
    // RTLD_LOCAL: GnuTLS's symbols (and those of its dependencies) stay out of the global
    // scope, so later symbol lookups, OpenSSL's among them, do not walk them.
    b.handle = ::dlopen(b.library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (b.handle == nullptr) {
      const char* text = ::dlerror();
      b.error = text != nullptr ? text : "Failed to load " + b.library;
      return false;
    }
  }
  GnuTLSFunctions& f = b.functions;
  f = GnuTLSFunctions{};
  const Entry entries[] = {
#define BRV_GNUTLS_ENTRY(name) Entry{#name, reinterpret_cast<void**>(&f.name)},
      BRV_GNUTLS_FUNCTIONS(BRV_GNUTLS_ENTRY)
#undef BRV_GNUTLS_ENTRY
  };
  for (const Entry& e : entries) {
    *e.slot = ::dlsym(b.handle, e.name);
    if (*e.slot == nullptr) {
      b.error = e.name;
      f = GnuTLSFunctions{};
      return false;
    }
  }
  return true;
}

}  // namespace

bool EnsureGnuTLSLoaded() {
  Binding& b = State();
  if (b.loaded.load(std::memory_order_acquire)) return true;
  std::lock_guard<std::mutex> lock(b.mutex);
  if (b.loaded.load(std::memory_order_relaxed)) return true;
  if (!Bind(b)) return false;
  // Counted by GnuTLS and never undone: the library stays for the life of the process and
  // frees its global state from its own destructor when the process ends.
  if (b.functions.gnutls_global_init() < 0) {
    b.error = "gnutls_global_init";
    return false;
  }
  b.error.clear();
  b.loaded.store(true, std::memory_order_release);
  return true;
}

const GnuTLSFunctions& GnuTLS() {
  return State().functions;
}

void GnuTLSFree(void* p) {
  (*State().functions.gnutls_free)(p);
}

std::string GnuTLSLoadError() {
  Binding& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.error;
}

void SetGnuTLSLibraryName(const std::string& AName) {
  Binding& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  if (b.loaded.load(std::memory_order_relaxed)) return;
  if (AName != b.library && b.handle != nullptr) {
    // Nothing of it is in use: it was never started.
    ::dlclose(b.handle);
    b.handle = nullptr;
  }
  b.library = AName;
}

}  // namespace brv::sspi

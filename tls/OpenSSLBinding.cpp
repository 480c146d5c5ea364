#include "tls/OpenSSLBinding.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <atomic>
#include <list>
#include <mutex>

#include "base/Exception.h"
#include "tls/private/OpenSSLAPI.h"
#include "tls/private/OpenSSLDefaultTrust.h"
#include "tls/private/OpenSSLHashHooks.h"
#include "tls/private/OpenSSLSocketBIO.h"

namespace brv {
namespace {

enum class Library { crypto, ssl };

struct Entry {
  Library library;
  bool mandatory;
  const char* name;
  void** slot;
};

// Process-wide binding state, guarded by `mutex`; `loaded` is also read without the lock by
// the hash hooks and the accessors below.
struct Binding {
  std::mutex mutex;
  std::atomic<bool> loaded{false};
  // Counts the bindings made, so that objects of an earlier binding are told apart.
  std::atomic<unsigned> generation{0};
  void* crypto = nullptr;
  void* ssl = nullptr;
  bool last_bind_complete = false;
  ossl::Functions functions;
  ossl::BIO_METHOD* socket_bio = nullptr;
  // Reads the default certificate file of a store on first need (null: read it at once).
  ossl::X509_LOOKUP_METHOD* deferred_file = nullptr;
  // SHA-256 and MD5 for the hash hooks' EVP road, each looked up at its first use: the
  // first look-up of any digest builds the library's table of names, a third of loading it,
  // and the direct road needs none (see LazyDigest).
  struct LazyDigest {
    const char* name;
    const ossl::EVP_MD* (*ossl::Functions::*legacy)();
    std::atomic<const ossl::EVP_MD*> md{nullptr};
    std::atomic<bool> done{false};  // the look-up was made
    ossl::EVP_MD* fetched = nullptr;  // what to free (null with 1.1)
  };
  LazyDigest sha256{"SHA256", &ossl::Functions::EVP_sha256};
  LazyDigest md5{"MD5", &ossl::Functions::EVP_md5};
  std::string directory;
  std::vector<std::string> failed;
  // Shared trust stores by their locations (see ossl::SharedCertStore), newest first.
  struct Store {
    std::string key;
    ossl::X509_STORE* store;
  };
  std::mutex stores_mutex;
  std::list<Store> stores;
};

constexpr std::size_t kMaxSharedStores = 8;

void FreeStores(Binding& b) {
  std::lock_guard<std::mutex> lock(b.stores_mutex);
  for (auto& s : b.stores) b.functions.X509_STORE_free(s.store);
  b.stores.clear();
}

Binding& State() {
  // Never destroyed: the exit-time release below may run after other static objects are gone.
  static Binding* binding = new Binding;
  return *binding;
}

// Releases the binding when the process ends.
struct ExitRelease {
  ~ExitRelease() { ReleaseOpenSSL(); }
};

std::vector<Entry> Entries(ossl::Functions& f) {
  return {
#define BRV_OPENSSL_ENTRY(lib, mandatory, ret, name, params) \
  Entry{Library::lib, mandatory, #name, reinterpret_cast<void**>(&f.name)},
      BRV_OPENSSL_FUNCTIONS(BRV_OPENSSL_ENTRY)
#undef BRV_OPENSSL_ENTRY
  };
}

// The library file series tried in turn: OpenSSL 3, then 1.1, then the unversioned names.
constexpr const char* kSeries[] = {".so.3", ".so.1.1", ".so"};

void* Open(const std::string& directory, const std::string& file) {
  const std::string path = directory.empty() ? file : directory + "/" + file;
  return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void UnloadLibraries(Binding& b) {
  if (b.ssl != nullptr) ::dlclose(b.ssl);
  if (b.crypto != nullptr) ::dlclose(b.crypto);
  b.ssl = nullptr;
  b.crypto = nullptr;
}

// Loads both libraries (of one series) and binds every function of the list. Called under
// the lock. True when nothing mandatory is missing.
bool Bind(Binding& b) {
  if (b.crypto != nullptr && b.ssl != nullptr && b.last_bind_complete) return true;
  b.failed.clear();
  b.last_bind_complete = false;
  if (b.crypto == nullptr || b.ssl == nullptr) {
    UnloadLibraries(b);
    for (const char* series : kSeries) {
      const std::string crypto_name = std::string("libcrypto") + series;
      const std::string ssl_name = std::string("libssl") + series;
      void* crypto = Open(b.directory, crypto_name);
      if (crypto == nullptr) {
        b.failed.push_back(Format("Failed to load %s.", crypto_name.c_str()));
        continue;
      }
      void* ssl = Open(b.directory, ssl_name);
      if (ssl == nullptr) {
        b.failed.push_back(Format("Failed to load %s.", ssl_name.c_str()));
        ::dlclose(crypto);
        continue;
      }
      b.crypto = crypto;
      b.ssl = ssl;
      break;
    }
    if (b.crypto == nullptr) return false;
    b.failed.clear();
  }
  b.functions = ossl::Functions{};
  for (const Entry& e : Entries(b.functions)) {
    void* symbol = ::dlsym(e.library == Library::crypto ? b.crypto : b.ssl, e.name);
    *e.slot = symbol;
    if (symbol == nullptr && e.mandatory) b.failed.emplace_back(e.name);
  }
  ossl::Functions& f = b.functions;
  if (f.SSL_get1_peer_certificate == nullptr && f.SSL_get_peer_certificate == nullptr)
    b.failed.emplace_back("SSL_get1_peer_certificate");
  // 1.0 libraries lack OpenSSL_version_num and are refused above; anything older than 1.1.0
  // that still exports it is refused here.
  if (f.OpenSSL_version_num != nullptr && f.OpenSSL_version_num() < 0x10100000UL)
    b.failed.emplace_back("OpenSSL 1.1.0 or later");
  b.last_bind_complete = b.failed.empty();
  return b.last_bind_complete;
}

}  // namespace

void InstallOpenSSLHashHooks() {
  InstallHashHooks(ossl::OpenSSLHashHookTable());
}

bool EnsureOpenSSLLoaded() {
  Binding& b = State();
  if (b.loaded.load(std::memory_order_acquire)) return true;
  std::lock_guard<std::mutex> lock(b.mutex);
  if (b.loaded.load(std::memory_order_relaxed)) return true;
  if (!Bind(b)) return false;
  const ossl::Functions& f = b.functions;
  // The successor of SSL_library_init, SSL_load_error_strings and the cipher and digest
  // tables. OpenSSL 1.1 and later lock internally, so there are no locking callbacks to
  // install (CRYPTO_num_locks and CRYPTO_set_locking_callback are no-ops there), and the
  // random generator seeds itself. The library is not torn down at exit: the process ends
  // anyway, and the tear-down cost about a twentieth of a command's cold start.
  if (f.OPENSSL_init_ssl(ossl::OPENSSL_INIT_LOAD_SSL_STRINGS |
                             ossl::OPENSSL_INIT_LOAD_CRYPTO_STRINGS | ossl::OPENSSL_INIT_NO_ATEXIT,
                         nullptr) <= 0) {
    b.failed.emplace_back("OPENSSL_init_ssl");
    return false;
  }
  b.socket_bio = ossl::CreateSocketBIOMethod(f);
  if (b.socket_bio == nullptr) {
    b.failed.emplace_back("BIO_meth_new");
    return false;
  }
  b.deferred_file = ossl::CreateDeferredFileLookupMethod(f);
  // What we made is freed at exit, while the library (never torn down) is still whole.
  static ExitRelease exit_release;
  b.generation.fetch_add(1, std::memory_order_relaxed);
  b.loaded.store(true, std::memory_order_release);
  return true;
}

void ReleaseOpenSSL() {
  Binding& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  if (b.loaded.load(std::memory_order_relaxed)) {
    if (b.socket_bio != nullptr) ossl::FreeSocketBIOMethod(b.functions, b.socket_bio);
    FreeStores(b);
    // After the stores: their lookups use the method until they are freed.
    ossl::FreeDeferredFileLookupMethod(b.functions, b.deferred_file);
    for (Binding::LazyDigest* d : {&b.sha256, &b.md5})
      if (d->fetched != nullptr) b.functions.EVP_MD_free(d->fetched);
    ossl::FreeThreadHashContexts(b.functions);
  }
  b.socket_bio = nullptr;
  b.deferred_file = nullptr;
  for (Binding::LazyDigest* d : {&b.sha256, &b.md5}) {
    d->md.store(nullptr, std::memory_order_relaxed);
    d->done.store(false, std::memory_order_relaxed);
    d->fetched = nullptr;
  }
  b.loaded.store(false, std::memory_order_release);
  b.functions = ossl::Functions{};
  b.last_bind_complete = false;
  UnloadLibraries(b);
}

bool IsOpenSSLLoaded() {
  return State().loaded.load(std::memory_order_acquire);
}

void SetOpenSSLLibraryPath(const std::string& Directory) {
  Binding& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  b.directory = Directory;
  while (!b.directory.empty() && b.directory.size() > 1 && b.directory.back() == '/')
    b.directory.pop_back();
}

std::string OpenSSLLibraryPath() {
  Binding& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.directory;
}

std::vector<std::string> OpenSSLFailedToLoad() {
  Binding& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  return b.failed;
}

std::string OpenSSLVersionText() {
  if (!IsOpenSSLLoaded()) return {};
  const char* text = ossl::API().OpenSSL_version(0);
  return text != nullptr ? text : "";
}

namespace ossl {

const Functions& API() {
  return State().functions;
}

const BIO_METHOD* SocketBIOMethod() {
  return State().socket_bio;
}

namespace {

const EVP_MD* Digest(Binding::LazyDigest& d) {
  if (d.done.load(std::memory_order_acquire)) return d.md.load(std::memory_order_relaxed);
  Binding& b = State();
  std::lock_guard<std::mutex> lock(b.mutex);
  if (!b.loaded.load(std::memory_order_relaxed)) return nullptr;
  if (!d.done.load(std::memory_order_relaxed)) {
    const Functions& f = b.functions;
    // With OpenSSL 3 a library that refuses the digest (MD5 in FIPS mode) answers null here;
    // EVP_md5() would hand out a digest that then fails at every initialisation.
    if (f.EVP_MD_fetch != nullptr && f.EVP_MD_free != nullptr) {
      d.fetched = f.EVP_MD_fetch(nullptr, d.name, nullptr);
      d.md.store(d.fetched, std::memory_order_relaxed);
      ClearErrors();
    } else if (f.*d.legacy != nullptr) {
      d.md.store((f.*d.legacy)(), std::memory_order_relaxed);
    }
    d.done.store(true, std::memory_order_release);
  }
  return d.md.load(std::memory_order_relaxed);
}

}  // namespace

const EVP_MD* SHA256Digest() {
  return Digest(State().sha256);
}

const EVP_MD* MD5Digest() {
  return Digest(State().md5);
}

unsigned BindingGeneration() {
  return State().generation.load(std::memory_order_relaxed);
}

X509_STORE* SharedCertStore(const std::string& ARootCertFile, const std::string& AVerifyDirs) {
  Binding& b = State();
  const Functions& f = b.functions;
  std::string key = ARootCertFile + '\n' + AVerifyDirs;
  struct stat st {};
  if (!ARootCertFile.empty() && ::stat(ARootCertFile.c_str(), &st) == 0)
    key += Format("\n%lld.%ld.%lld", static_cast<long long>(st.st_mtim.tv_sec), st.st_mtim.tv_nsec,
                  static_cast<long long>(st.st_size));
  std::lock_guard<std::mutex> lock(b.stores_mutex);
  for (auto it = b.stores.begin(); it != b.stores.end(); ++it) {
    if (it->key != key) continue;
    f.X509_STORE_up_ref(it->store);
    b.stores.splice(b.stores.begin(), b.stores, it);
    return it->store;
  }
  // The library's own default locations (the system's trust store), then ours.
  X509_STORE* store = NewDefaultTrustStore(f, b.deferred_file);
  if (store == nullptr) return nullptr;
  if ((!ARootCertFile.empty() || !AVerifyDirs.empty()) &&
      f.X509_STORE_load_locations(store, ARootCertFile.empty() ? nullptr : ARootCertFile.c_str(),
                                  AVerifyDirs.empty() ? nullptr : AVerifyDirs.c_str()) != 1) {
    f.X509_STORE_free(store);
    return nullptr;
  }
  if (b.stores.size() >= kMaxSharedStores) {
    f.X509_STORE_free(b.stores.back().store);
    b.stores.pop_back();
  }
  b.stores.push_front({std::move(key), store});
  f.X509_STORE_up_ref(store);
  return store;
}

X509* GetPeerCertificate(const SSL* ssl) {
  const Functions& f = API();
  if (f.SSL_get1_peer_certificate != nullptr) return f.SSL_get1_peer_certificate(ssl);
  return f.SSL_get_peer_certificate(ssl);
}

void ClearErrors() {
  const Functions& f = API();
  if (f.ERR_peek_error() != 0) f.ERR_clear_error();
}

std::string TakeErrorText(unsigned long* code) {
  const Functions& f = API();
  const unsigned long error = f.ERR_get_error != nullptr ? f.ERR_get_error() : 0;
  if (code != nullptr) *code = error;
  if (error == 0) return {};
  char buffer[161] = {};
  f.ERR_error_string_n(error, buffer, sizeof buffer);
  return buffer;
}

}  // namespace ossl
}  // namespace brv

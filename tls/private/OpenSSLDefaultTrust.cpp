#include "tls/private/OpenSSLDefaultTrust.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <system_error>

namespace brv::ossl {
namespace {

// What the deferred lookup of one store keeps: the store's file lookup, which reads the
// default file exactly as X509_STORE_set_default_paths has it read, and whether it has.
struct DeferredFile {
  X509_LOOKUP* loader = nullptr;
  std::mutex mutex;
  std::atomic<bool> loaded{false};
};

bool Supported(const Functions& f) {
  return f.X509_STORE_add_lookup != nullptr && f.X509_LOOKUP_file != nullptr &&
         f.X509_LOOKUP_hash_dir != nullptr && f.X509_LOOKUP_ctrl != nullptr &&
         f.X509_LOOKUP_meth_new != nullptr && f.X509_LOOKUP_meth_free != nullptr &&
         f.X509_LOOKUP_meth_set_get_by_subject != nullptr &&
         f.X509_LOOKUP_meth_set_free != nullptr && f.X509_LOOKUP_set_method_data != nullptr &&
         f.X509_LOOKUP_get_method_data != nullptr && f.X509_LOOKUP_get_store != nullptr &&
         f.X509_STORE_lock != nullptr && f.X509_STORE_unlock != nullptr &&
         f.X509_STORE_get0_objects != nullptr && f.X509_OBJECT_retrieve_by_subject != nullptr &&
         f.X509_OBJECT_get0_X509 != nullptr && f.X509_OBJECT_set1_X509 != nullptr &&
         f.ERR_set_mark != nullptr && f.ERR_pop_to_mark != nullptr;
}

// Reads the default file into the store once. Several connections may verify against one
// store at the same time; the others wait for the first to finish reading.
void LoadOnce(const Functions& f, DeferredFile& d) {
  if (d.loaded.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> lock(d.mutex);
  if (d.loaded.load(std::memory_order_relaxed)) return;
  // A missing file is no error (it was not one for the eager load either), and what it puts
  // on the queue would otherwise be taken for the reason a handshake failed.
  f.ERR_set_mark();
  f.X509_LOOKUP_ctrl(d.loader, X509_L_FILE_LOAD, nullptr, X509_FILETYPE_DEFAULT, nullptr);
  f.ERR_pop_to_mark();
  d.loaded.store(true, std::memory_order_release);
}

// OpenSSL asks the lookups in turn, after its cache of the store failed to name a certificate
// (and always for revocation lists); the first that answers ends the search.
int BySubject(X509_LOOKUP* lookup, int type, const X509_NAME* name, X509_OBJECT* ret) {
  const Functions& f = API();
  auto* d = static_cast<DeferredFile*>(f.X509_LOOKUP_get_method_data(lookup));
  X509_STORE* store = f.X509_LOOKUP_get_store(lookup);
  if (d == nullptr || store == nullptr) return 0;
  try {
    LoadOnce(f, *d);
  } catch (const std::system_error&) {
    return 0;  // the mutex failed; nothing may reach OpenSSL
  }
  // Revocation lists are left to the directory lookup that follows: it answers from the same
  // cache, now with the file's lists in it, after adding those of its directories.
  if (type != X509_LU_X509) return 0;
  if (f.X509_STORE_lock(store) != 1) return 0;
  int found = 0;
  X509_OBJECT* cached =
      f.X509_OBJECT_retrieve_by_subject(f.X509_STORE_get0_objects(store), type, name);
  X509* cert = cached != nullptr ? f.X509_OBJECT_get0_X509(cached) : nullptr;
  if (cert != nullptr && f.X509_OBJECT_set1_X509(ret, cert) == 1) {
    // The answer holds no reference of its own, as with the library's own lookups: the caller
    // takes one, and the store keeps the certificate for as long as it lives.
    f.X509_free(cert);
    found = 1;
  }
  f.X509_STORE_unlock(store);
  return found;
}

void FreeData(X509_LOOKUP* lookup) {
  std::unique_ptr<DeferredFile> owned(
      static_cast<DeferredFile*>(API().X509_LOOKUP_get_method_data(lookup)));
}

// The lookups X509_STORE_set_default_paths adds, in its order, with the deferred one right
// after the file lookup: it stands for the file's contents, which the eager load puts in the
// cache ahead of every directory. Each location is the library's own default (a null name).
bool AddDeferredDefaults(const Functions& f, X509_STORE* store, X509_LOOKUP_METHOD* deferred) {
  X509_LOOKUP* file = f.X509_STORE_add_lookup(store, f.X509_LOOKUP_file());
  X509_LOOKUP* reader = file != nullptr ? f.X509_STORE_add_lookup(store, deferred) : nullptr;
  if (reader == nullptr) return false;
  auto data = std::make_unique<DeferredFile>();
  data->loader = file;
  if (f.X509_LOOKUP_set_method_data(reader, data.get()) != 1) return false;
  data.release();  // freed with the lookup (FreeData)
  X509_LOOKUP* dir = f.X509_STORE_add_lookup(store, f.X509_LOOKUP_hash_dir());
  if (dir == nullptr) return false;
  f.X509_LOOKUP_ctrl(dir, X509_L_ADD_DIR, nullptr, X509_FILETYPE_DEFAULT, nullptr);
  if (f.X509_LOOKUP_store != nullptr) {
    X509_LOOKUP* uris = f.X509_STORE_add_lookup(store, f.X509_LOOKUP_store());
    if (uris == nullptr) return false;
    f.X509_LOOKUP_ctrl(uris, X509_L_ADD_STORE, nullptr, 0, nullptr);
  }
  return true;
}

}  // namespace

X509_LOOKUP_METHOD* CreateDeferredFileLookupMethod(const Functions& f) {
  if (!Supported(f)) return nullptr;
  X509_LOOKUP_METHOD* method = f.X509_LOOKUP_meth_new("brv deferred default file");
  if (method == nullptr) return nullptr;
  if (f.X509_LOOKUP_meth_set_get_by_subject(method, &BySubject) != 1 ||
      f.X509_LOOKUP_meth_set_free(method, &FreeData) != 1) {
    f.X509_LOOKUP_meth_free(method);
    return nullptr;
  }
  return method;
}

void FreeDeferredFileLookupMethod(const Functions& f, X509_LOOKUP_METHOD* method) {
  if (method != nullptr) f.X509_LOOKUP_meth_free(method);
}

X509_STORE* NewDefaultTrustStore(const Functions& f, X509_LOOKUP_METHOD* ADeferredFile) {
  X509_STORE* store = f.X509_STORE_new();
  if (store == nullptr) return nullptr;
  if (ADeferredFile != nullptr) {
    if (AddDeferredDefaults(f, store, ADeferredFile)) {
      f.ERR_clear_error();  // a default location that does not exist is not an error
      return store;
    }
    // Half made (out of memory): start again the library's way.
    f.X509_STORE_free(store);
    store = f.X509_STORE_new();
    if (store == nullptr) return nullptr;
  }
  f.X509_STORE_set_default_paths(store);
  f.ERR_clear_error();
  return store;
}

}  // namespace brv::ossl

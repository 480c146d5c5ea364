// Certificate store, chain and policy calls of the security interface layer, over GnuTLS
// (bound at run time, see GnuTLSBinding.h).
#include "tls/sspi/brvSSPI.h"
#include "tls/sspi/brvSSPIInternal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <system_error>

namespace brv::sspi {

using detail::Utf16ToUtf8;

namespace {

using detail::Bytes;
using detail::ClientCertMaterial;

constexpr std::uint32_t kCertMagic = 0x43455254;   // "CERT"
constexpr std::uint32_t kStoreMagic = 0x53544F52;  // "STOR"
constexpr std::uint32_t kChainMagic = 0x4348414E;  // "CHAN"
constexpr std::uint32_t kEngineMagic = 0x454E474E; // "ENGN"
constexpr const char* kAnyUsage = "2.5.29.37.0";
constexpr std::size_t kMaxChainLength = 16;

struct CertEntry;
struct Store;

// The platform hands out CERT_CONTEXT pointers; the box behind each one leads back to ours.
struct CertBox {
  CERT_CONTEXT ctx;
  std::uint32_t magic;
  CertEntry* entry;
};

struct CertEntry {
  CertBox box{};
  CERT_INFO info{};
  Bytes der, serial, issuer, subject;
  gnutls_x509_crt_t crt = nullptr;
  std::vector<gnutls_x509_crt_t> companions;  // chain certificates read with it
  std::shared_ptr<const ClientCertMaterial> key;
  Store* store = nullptr;

  CertEntry() = default;
  CertEntry(const CertEntry&) = delete;
  CertEntry& operator=(const CertEntry&) = delete;
  ~CertEntry() {
    for (auto c : companions) GnuTLS().gnutls_x509_crt_deinit(c);
    if (crt) GnuTLS().gnutls_x509_crt_deinit(crt);
  }
};

// A store lives while its handle is open or any context from it is held.
struct Store {
  std::uint32_t magic = kStoreMagic;
  std::atomic<int> refs{1};
  std::vector<std::unique_ptr<CertEntry>> certs;
};

void AddRef(Store* s) { s->refs.fetch_add(1); }
void Release(Store* s) {
  if (s->refs.fetch_sub(1) == 1) {
    s->magic = 0;
    delete s;
  }
}

Store* StoreOf(HCERTSTORE h) {
  auto* s = static_cast<Store*>(h);
  return s && s->magic == kStoreMagic ? s : nullptr;
}

CertEntry* EntryOf(PCCERT_CONTEXT ctx) {
  if (!ctx) return nullptr;
  auto* box = reinterpret_cast<const CertBox*>(ctx);
  return box->magic == kCertMagic ? box->entry : nullptr;
}

// A context handed to a caller counts as one reference on its store.
PCCERT_CONTEXT HandOut(CertEntry* e) {
  AddRef(e->store);
  return &e->box.ctx;
}

Bytes ToBytes(const gnutls_datum_t& d) { return Bytes(d.data, d.data + d.size); }

FILETIME ToFileTime(time_t t) {
  // 100 ns intervals since 1 January 1601.
  const std::uint64_t v = (static_cast<std::uint64_t>(t) + 11644473600ULL) * 10000000ULL;
  return FILETIME{static_cast<DWORD>(v & 0xFFFFFFFFu), static_cast<DWORD>(v >> 32)};
}

time_t FromFileTime(const FILETIME& f) {
  const std::uint64_t v = (static_cast<std::uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
  return static_cast<time_t>(v / 10000000ULL) - static_cast<time_t>(11644473600LL);
}

// Takes ownership of crt and fills the platform view of it.
std::unique_ptr<CertEntry> MakeEntry(gnutls_x509_crt_t crt, Store* store) {
  auto e = std::make_unique<CertEntry>();
  e->crt = crt;
  e->store = store;
  gnutls_datum_t d{};
  if (GnuTLS().gnutls_x509_crt_export2(crt, GNUTLS_X509_FMT_DER, &d) < 0) return nullptr;
  e->der = ToBytes(d);
  GnuTLSFree(d.data);
  if (GnuTLS().gnutls_x509_crt_get_raw_issuer_dn(crt, &d) >= 0) {
    e->issuer = ToBytes(d);
    GnuTLSFree(d.data);
  }
  if (GnuTLS().gnutls_x509_crt_get_raw_dn(crt, &d) >= 0) {
    e->subject = ToBytes(d);
    GnuTLSFree(d.data);
  }
  unsigned char serial[64];
  size_t serialSize = sizeof serial;
  if (GnuTLS().gnutls_x509_crt_get_serial(crt, serial, &serialSize) >= 0) {
    // The platform keeps serial numbers least significant byte first.
    e->serial.assign(serial, serial + serialSize);
    std::reverse(e->serial.begin(), e->serial.end());
  }
  e->info.dwVersion = static_cast<DWORD>(std::max(GnuTLS().gnutls_x509_crt_get_version(crt) - 1, 0));
  e->info.SerialNumber = {static_cast<DWORD>(e->serial.size()), e->serial.data()};
  e->info.Issuer = {static_cast<DWORD>(e->issuer.size()), e->issuer.data()};
  e->info.Subject = {static_cast<DWORD>(e->subject.size()), e->subject.data()};
  e->info.NotBefore = ToFileTime(GnuTLS().gnutls_x509_crt_get_activation_time(crt));
  e->info.NotAfter = ToFileTime(GnuTLS().gnutls_x509_crt_get_expiration_time(crt));
  e->box.ctx.dwCertEncodingType = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  e->box.ctx.pbCertEncoded = e->der.data();
  e->box.ctx.cbCertEncoded = static_cast<DWORD>(e->der.size());
  e->box.ctx.pCertInfo = &e->info;
  e->box.ctx.hCertStore = store;
  e->box.magic = kCertMagic;
  e->box.entry = e.get();
  return e;
}

gnutls_x509_crt_t ImportDer(const std::uint8_t* data, std::size_t size) {
  gnutls_x509_crt_t crt = nullptr;
  if (GnuTLS().gnutls_x509_crt_init(&crt) < 0) return nullptr;
  gnutls_datum_t d{const_cast<unsigned char*>(data), static_cast<unsigned>(size)};
  if (GnuTLS().gnutls_x509_crt_import(crt, &d, GNUTLS_X509_FMT_DER) < 0) {
    GnuTLS().gnutls_x509_crt_deinit(crt);
    return nullptr;
  }
  return crt;
}

gnutls_x509_crt_t Duplicate(gnutls_x509_crt_t crt) {
  gnutls_datum_t d{};
  if (GnuTLS().gnutls_x509_crt_export2(crt, GNUTLS_X509_FMT_DER, &d) < 0) return nullptr;
  gnutls_x509_crt_t copy = ImportDer(d.data, d.size);
  GnuTLSFree(d.data);
  return copy;
}

// Whether a and b are the same certificate. Certificates whose subjects differ in their bytes
// cannot be; GnuTLS finds that only after spelling out both names as text.
bool SameCert(gnutls_x509_crt_t a, gnutls_x509_crt_t b) {
  gnutls_datum_t da{}, db{};
  bool differ = false;
  if (GnuTLS().gnutls_x509_crt_get_raw_dn(a, &da) >= 0 && GnuTLS().gnutls_x509_crt_get_raw_dn(b, &db) >= 0)
    differ = da.size != db.size || (da.size > 0 && std::memcmp(da.data, db.data, da.size) != 0);
  GnuTLSFree(da.data);
  GnuTLSFree(db.data);
  return !differ && GnuTLS().gnutls_x509_crt_equals(a, b) != 0;
}

bool ReadFile(const std::filesystem::path& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// Adds one entry for a PEM file holding a certificate (and maybe its chain and key).
void LoadStoreFile(Store* store, const std::filesystem::path& path) {
  std::string text;
  if (!ReadFile(path, text)) return;
  gnutls_datum_t d{reinterpret_cast<unsigned char*>(text.data()), static_cast<unsigned>(text.size())};
  gnutls_x509_crt_t* list = nullptr;
  unsigned count = 0;
  if (GnuTLS().gnutls_x509_crt_list_import2(&list, &count, &d, GNUTLS_X509_FMT_PEM, 0) < 0 || count == 0) {
    if (list) GnuTLSFree(list);
    return;
  }
  auto entry = MakeEntry(list[0], store);
  if (!entry) {
    for (unsigned i = 1; i < count; ++i) GnuTLS().gnutls_x509_crt_deinit(list[i]);  // the first is gone
    GnuTLSFree(list);
    return;
  }
  auto material = std::make_shared<ClientCertMaterial>();
  material->chain.push_back(entry->der);
  for (unsigned i = 1; i < count; ++i) {
    entry->companions.push_back(list[i]);
    gnutls_datum_t c{};
    if (GnuTLS().gnutls_x509_crt_export2(list[i], GNUTLS_X509_FMT_DER, &c) >= 0) {
      material->chain.push_back(ToBytes(c));
      GnuTLSFree(c.data);
    }
  }
  GnuTLSFree(list);
  std::string keyText;
  if (text.find("PRIVATE KEY-----") != std::string::npos) {
    keyText = text;
  } else {
    auto keyPath = path;
    keyPath.replace_extension(".key");
    if (!ReadFile(keyPath, keyText)) keyText.clear();
  }
  if (!keyText.empty()) {
    // Keep the key only when GnuTLS can read it.
    gnutls_x509_privkey_t probe = nullptr;
    gnutls_datum_t k{reinterpret_cast<unsigned char*>(keyText.data()),
                     static_cast<unsigned>(keyText.size())};
    if (GnuTLS().gnutls_x509_privkey_init(&probe) >= 0) {
      if (GnuTLS().gnutls_x509_privkey_import2(probe, &k, GNUTLS_X509_FMT_PEM, nullptr, 0) >= 0) {
        material->key.assign(keyText.begin(), keyText.end());
        material->keyFormat = GNUTLS_X509_FMT_PEM;
        entry->key = material;
      }
      GnuTLS().gnutls_x509_privkey_deinit(probe);
    }
  }
  store->certs.push_back(std::move(entry));
}

std::filesystem::path MyStoreDirectory(bool& configured) {
  if (const char* dir = std::getenv("BRV_CERT_STORE_MY"); dir && *dir) {
    configured = true;
    return dir;
  }
  configured = false;
  std::filesystem::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::filesystem::path(home) / ".config";
  } else {
    return {};
  }
  return base / "brv" / "certstore" / "MY";
}

// ---- Chain engines ---------------------------------------------------------------------

struct Engine {
  std::uint32_t magic = kEngineMagic;
  gnutls_x509_trust_list_t trust = nullptr;
  ~Engine() {
    if (trust) GnuTLS().gnutls_x509_trust_list_deinit(trust, 1);
  }
};

// Buckets of an engine's trust list, which files its anchors by a hash of their names. GnuTLS's
// default of 127 puts the system store's 140 and more roots two to a bucket, and every
// certificate of a bucket that is not the one asked for costs both names spelled out as text.
constexpr unsigned kTrustListBuckets = 1021;

std::unique_ptr<Engine> MakeEngine(const char* rootFile) {
  auto engine = std::make_unique<Engine>();
  if (GnuTLS().gnutls_x509_trust_list_init(&engine->trust, kTrustListBuckets) < 0) return nullptr;
  // A system without a trust store still gets an engine; it trusts only the extra file.
  GnuTLS().gnutls_x509_trust_list_add_system_trust(engine->trust, 0, 0);
  if (rootFile && *rootFile) {
    std::string text;
    if (!ReadFile(rootFile, text)) return nullptr;
    gnutls_datum_t d{reinterpret_cast<unsigned char*>(text.data()), static_cast<unsigned>(text.size())};
    if (GnuTLS().gnutls_x509_trust_list_add_trust_mem(engine->trust, &d, nullptr, GNUTLS_X509_FMT_PEM, 0, 0) <= 0)
      return nullptr;
  }
  return engine;
}

Engine* DefaultEngine() {
  // Not before GnuTLS is loaded, so that a failed load is tried again by the next call.
  if (!EnsureGnuTLSLoaded()) return nullptr;
  static std::once_flag once;
  static std::unique_ptr<Engine> engine;
  std::call_once(once, [] { engine = MakeEngine(nullptr); });
  return engine.get();
}

Engine* EngineOf(HCERTCHAINENGINE h) {
  if (!h) return DefaultEngine();
  auto* e = static_cast<Engine*>(h);
  return e->magic == kEngineMagic ? e : nullptr;
}

// ---- Chains ------------------------------------------------------------------------------

struct Chain;
struct ChainBox {
  CERT_CHAIN_CONTEXT ctx;
  std::uint32_t magic;
  Chain* chain;
};

struct Chain {
  ChainBox box{};
  CERT_SIMPLE_CHAIN simple{};
  PCERT_SIMPLE_CHAIN simpleList[1]{};
  std::vector<CERT_CHAIN_ELEMENT> elements;
  std::vector<PCERT_CHAIN_ELEMENT> elementList;
  std::vector<PCCERT_CONTEXT> held;  // one store reference each
  Store* extra = nullptr;            // certificates from the trust list, made for this chain

  ~Chain() {
    for (auto c : held) CertFreeCertificateContext(c);
    if (extra) Release(extra);
  }
};

Chain* ChainOf(PCCERT_CHAIN_CONTEXT ctx) {
  if (!ctx) return nullptr;
  auto* box = reinterpret_cast<const ChainBox*>(ctx);
  return box->magic == kChainMagic ? box->chain : nullptr;
}

// Certificates a chain may take intermediates from, with the entry each belongs to.
struct Candidate {
  gnutls_x509_crt_t crt;
  CertEntry* entry;  // null for a companion certificate read with an entry
};

void AddCandidates(Store* store, std::vector<Candidate>& out) {
  if (!store) return;
  for (auto& e : store->certs) {
    out.push_back({e->crt, e.get()});
    for (auto c : e->companions) out.push_back({c, nullptr});
  }
}

bool TimeValid(gnutls_x509_crt_t crt, time_t when) {
  return GnuTLS().gnutls_x509_crt_get_activation_time(crt) <= when && when <= GnuTLS().gnutls_x509_crt_get_expiration_time(crt);
}

std::vector<std::string> KeyPurposes(gnutls_x509_crt_t crt, bool& present) {
  std::vector<std::string> out;
  present = false;
  for (unsigned i = 0;; ++i) {
    char oid[128];
    size_t size = sizeof oid;
    int r = GnuTLS().gnutls_x509_crt_get_key_purpose_oid(crt, i, oid, &size, nullptr);
    if (r < 0) break;
    present = true;
    out.emplace_back(oid);
  }
  return out;
}

// Whether the certificate may be used for the given purposes (all of them, or any with OR).
bool UsageAllowed(gnutls_x509_crt_t crt, const std::vector<std::string>& wanted, bool any) {
  if (wanted.empty()) return true;
  bool present = false;
  auto purposes = KeyPurposes(crt, present);
  if (!present) return true;  // no restriction in the certificate
  auto has = [&](const std::string& oid) {
    return std::find(purposes.begin(), purposes.end(), oid) != purposes.end() ||
           std::find(purposes.begin(), purposes.end(), kAnyUsage) != purposes.end();
  };
  return any ? std::any_of(wanted.begin(), wanted.end(), has) : std::all_of(wanted.begin(), wanted.end(), has);
}

// Builds and checks the chain of leaf. The chain holds a reference on every context it shows.
Chain* BuildChain(Engine* engine, CertEntry* leaf, const std::vector<Candidate>& pool, time_t when,
                  const std::vector<std::string>& usage, bool usageAny) {
  auto chain = std::make_unique<Chain>();
  std::vector<gnutls_x509_crt_t> crts{leaf->crt};
  std::vector<CertEntry*> entries{leaf};
  bool anyOwned = false;  // certificates with no entry yet are owned here until given one
  DWORD chainError = 0;
  bool anchored = false;

  while (crts.size() < kMaxChainLength) {
    gnutls_x509_crt_t cur = crts.back();
    gnutls_x509_crt_t issuer = nullptr;
    if (GnuTLS().gnutls_x509_trust_list_get_issuer(engine->trust, cur, &issuer, GNUTLS_TL_GET_COPY) >= 0 && issuer) {
      anchored = true;
      if (SameCert(issuer, cur)) {
        GnuTLS().gnutls_x509_crt_deinit(issuer);
      } else {
        crts.push_back(issuer);
        entries.push_back(nullptr);
        anyOwned = true;
      }
      break;
    }
    if (GnuTLS().gnutls_x509_crt_check_issuer(cur, cur)) break;  // self-signed, not trusted
    auto found = std::find_if(pool.begin(), pool.end(), [&](const Candidate& c) {
      return GnuTLS().gnutls_x509_crt_check_issuer(cur, c.crt) &&
             std::none_of(crts.begin(), crts.end(), [&](gnutls_x509_crt_t x) { return SameCert(x, c.crt); });
    });
    if (found == pool.end()) break;
    if (found->entry) {
      crts.push_back(found->crt);
      entries.push_back(found->entry);
    } else {
      gnutls_x509_crt_t copy = Duplicate(found->crt);
      if (!copy) break;
      crts.push_back(copy);
      entries.push_back(nullptr);
      anyOwned = true;
    }
  }
  gnutls_x509_crt_t top = crts.back();
  const bool selfSigned = GnuTLS().gnutls_x509_crt_check_issuer(top, top) != 0;
  if (!anchored) chainError |= selfSigned ? CERT_TRUST_IS_UNTRUSTED_ROOT : CERT_TRUST_IS_PARTIAL_CHAIN;

  // Signatures and CA constraints; validity periods are judged separately below.
  const unsigned verifyFlags = GNUTLS_VERIFY_DISABLE_TIME_CHECKS | GNUTLS_VERIFY_DISABLE_TRUSTED_TIME_CHECKS;
  unsigned status = 0;
  if (anchored) {
    GnuTLS().gnutls_x509_trust_list_verify_crt2(engine->trust, crts.data(), static_cast<unsigned>(crts.size()), nullptr,
                                       0, verifyFlags, &status, nullptr);
  } else if (selfSigned) {
    GnuTLS().gnutls_x509_crt_list_verify(crts.data(), static_cast<unsigned>(crts.size()), &top, 1, nullptr, 0, verifyFlags,
                                &status);
  } else if (crts.size() > 1) {
    GnuTLS().gnutls_x509_crt_list_verify(crts.data(), static_cast<unsigned>(crts.size()) - 1, &top, 1, nullptr, 0,
                                verifyFlags, &status);
  }
  status &= ~static_cast<unsigned>(GNUTLS_CERT_SIGNER_NOT_FOUND | GNUTLS_CERT_INVALID);
  if (status & (GNUTLS_CERT_SIGNATURE_FAILURE | GNUTLS_CERT_INSECURE_ALGORITHM))
    chainError |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
  if (status & (GNUTLS_CERT_SIGNER_NOT_CA | GNUTLS_CERT_SIGNER_CONSTRAINTS_FAILURE))
    chainError |= CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
  if (status & GNUTLS_CERT_REVOKED) chainError |= CERT_TRUST_IS_REVOKED;

  // Certificates that did not come from a store of ours get a store of their own.
  if (anyOwned) {
    chain->extra = new Store;
    for (std::size_t i = 0; i < crts.size(); ++i) {
      if (entries[i]) continue;
      auto e = MakeEntry(crts[i], chain->extra);  // takes the certificate, also on failure
      if (!e) {
        for (std::size_t j = i + 1; j < crts.size(); ++j)
          if (!entries[j]) GnuTLS().gnutls_x509_crt_deinit(crts[j]);
        crts.resize(i);
        entries.resize(i);
        break;
      }
      entries[i] = e.get();
      chain->extra->certs.push_back(std::move(e));
    }
  }

  chain->elements.resize(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    CERT_CHAIN_ELEMENT& el = chain->elements[i];
    el.cbSize = sizeof el;
    el.pCertContext = HandOut(entries[i]);
    chain->held.push_back(el.pCertContext);
    if (!TimeValid(entries[i]->crt, when)) el.TrustStatus.dwErrorStatus |= CERT_TRUST_IS_NOT_TIME_VALID;
    if (i == 0 && !UsageAllowed(entries[i]->crt, usage, usageAny))
      el.TrustStatus.dwErrorStatus |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
    // The top one was judged above (unless a failure above cut the chain short).
    const bool isTop = i + 1 == entries.size() && entries[i]->crt == top;
    if (isTop ? selfSigned : GnuTLS().gnutls_x509_crt_check_issuer(entries[i]->crt, entries[i]->crt) != 0)
      el.TrustStatus.dwInfoStatus |= CERT_TRUST_IS_SELF_SIGNED;
    chainError |= el.TrustStatus.dwErrorStatus;
  }
  if (!chain->elements.empty()) chain->elements.back().TrustStatus.dwErrorStatus |= chainError &
      (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN);
  for (auto& el : chain->elements) chain->elementList.push_back(&el);

  chain->simple.cbSize = sizeof chain->simple;
  chain->simple.TrustStatus.dwErrorStatus = chainError;
  chain->simple.cElement = static_cast<DWORD>(chain->elementList.size());
  chain->simple.rgpElement = chain->elementList.data();
  chain->simpleList[0] = &chain->simple;
  chain->box.ctx.cbSize = sizeof chain->box.ctx;
  chain->box.ctx.TrustStatus.dwErrorStatus = chainError;
  chain->box.ctx.cChain = 1;
  chain->box.ctx.rgpChain = chain->simpleList;
  chain->box.magic = kChainMagic;
  chain->box.chain = chain.get();
  return chain.release();
}

}  // namespace

// ---- Shared with the security calls ----------------------------------------------------------

namespace detail {

PCCERT_CONTEXT MakePeerCertContext(const gnutls_datum_t* certs, unsigned count) {
  if (!certs || count == 0) return nullptr;
  auto* store = new Store;
  for (unsigned i = 0; i < count; ++i) {
    gnutls_x509_crt_t crt = ImportDer(certs[i].data, certs[i].size);
    if (!crt) continue;
    auto e = MakeEntry(crt, store);
    if (e) store->certs.push_back(std::move(e));
  }
  PCCERT_CONTEXT out = store->certs.empty() ? nullptr : HandOut(store->certs.front().get());
  Release(store);  // the store now lives as long as the context
  return out;
}

std::shared_ptr<const ClientCertMaterial> KeyMaterialOf(PCCERT_CONTEXT cert) {
  CertEntry* e = EntryOf(cert);
  return e ? e->key : nullptr;
}

}  // namespace detail

// ---- The platform calls ----------------------------------------------------------------------

HCERTSTORE CertOpenSystemStoreW(HCRYPTPROV_LEGACY, LPCWSTR szSubsystemProtocol) {
  if (!EnsureGnuTLSLoaded()) return nullptr;
  if (Utf16ToUtf8(szSubsystemProtocol) != "MY") return nullptr;
  bool configured = false;
  const auto dir = MyStoreDirectory(configured);
  std::error_code ec;
  const bool isDir = !dir.empty() && std::filesystem::is_directory(dir, ec);
  if (configured && !isDir) return nullptr;
  auto* store = new Store;
  if (isDir) {
    std::vector<std::filesystem::path> files;
    for (const auto& item : std::filesystem::directory_iterator(dir, ec)) {
      const auto ext = item.path().extension().string();
      if (ext == ".pem" || ext == ".crt" || ext == ".cer") files.push_back(item.path());
    }
    if (ec && configured) {
      Release(store);
      return nullptr;
    }
    std::sort(files.begin(), files.end());  // a stable order for the search
    for (const auto& f : files) LoadStoreFile(store, f);
  }
  return store;
}

BOOL CertCloseStore(HCERTSTORE hCertStore, DWORD) {
  Store* s = StoreOf(hCertStore);
  if (!s) return FALSE;
  Release(s);
  return TRUE;
}

BOOL CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
  if (!pCertContext) return TRUE;
  CertEntry* e = EntryOf(pCertContext);
  if (!e) return FALSE;
  Release(e->store);
  return TRUE;
}

BOOL CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext, LPFILETIME pTime,
                             HCERTSTORE hAdditionalStore, PCERT_CHAIN_PARA pChainPara, DWORD, void*,
                             PCCERT_CHAIN_CONTEXT* ppChainContext) {
  if (ppChainContext) *ppChainContext = nullptr;
  CertEntry* leaf = EntryOf(pCertContext);
  Engine* engine = EngineOf(hChainEngine);
  if (!leaf || !engine || !ppChainContext) return FALSE;
  std::vector<Candidate> pool;
  AddCandidates(leaf->store, pool);
  if (Store* extra = StoreOf(hAdditionalStore); extra && extra != leaf->store) AddCandidates(extra, pool);
  std::vector<std::string> usage;
  bool any = false;
  if (pChainPara) {
    const CERT_ENHKEY_USAGE& u = pChainPara->RequestedUsage.Usage;
    for (DWORD i = 0; i < u.cUsageIdentifier; ++i)
      if (u.rgpszUsageIdentifier && u.rgpszUsageIdentifier[i]) usage.emplace_back(u.rgpszUsageIdentifier[i]);
    any = pChainPara->RequestedUsage.dwType == USAGE_MATCH_TYPE_OR;
  }
  const time_t when = pTime ? FromFileTime(*pTime) : std::time(nullptr);
  Chain* chain = BuildChain(engine, leaf, pool, when, usage, any);
  if (!chain) return FALSE;
  *ppChainContext = &chain->box.ctx;
  return TRUE;
}

void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext) {
  Chain* chain = ChainOf(pChainContext);
  if (!chain) return;
  chain->box.magic = 0;
  delete chain;
}

PCCERT_CHAIN_CONTEXT CertFindChainInStore(HCERTSTORE hCertStore, DWORD, DWORD, DWORD dwFindType,
                                          const void* pvFindPara, PCCERT_CHAIN_CONTEXT pPrevChainContext) {
  Store* store = StoreOf(hCertStore);
  // Where the previous search ended: just after the certificate that chain was built for.
  std::size_t start = 0;
  if (Chain* prev = ChainOf(pPrevChainContext)) {
    if (!prev->elements.empty()) {
      CertEntry* last = EntryOf(prev->elements.front().pCertContext);
      if (store) {
        for (std::size_t i = 0; i < store->certs.size(); ++i)
          if (store->certs[i].get() == last) start = i + 1;
      }
    }
    CertFreeCertificateChain(pPrevChainContext);
  }
  Engine* engine = DefaultEngine();
  if (!store || !engine || dwFindType != CERT_CHAIN_FIND_BY_ISSUER || !pvFindPara) return nullptr;
  const auto* para = static_cast<const CERT_CHAIN_FIND_BY_ISSUER_PARA*>(pvFindPara);
  std::vector<std::string> usage;
  if (para->pszUsageIdentifier) usage.emplace_back(para->pszUsageIdentifier);
  std::vector<Candidate> pool;
  AddCandidates(store, pool);
  const time_t now = std::time(nullptr);
  for (std::size_t i = start; i < store->certs.size(); ++i) {
    CertEntry* e = store->certs[i].get();
    if (!e->key || !UsageAllowed(e->crt, usage, true)) continue;
    Chain* chain = BuildChain(engine, e, pool, now, {}, true);
    if (!chain) continue;
    bool match = para->cIssuer == 0;
    for (DWORD k = 0; !match && k < para->cIssuer; ++k) {
      const CERT_NAME_BLOB& want = para->rgIssuer[k];
      for (const auto& el : chain->elements) {
        CertEntry* ce = EntryOf(el.pCertContext);
        if (ce && ce->issuer.size() == want.cbData &&
            std::equal(ce->issuer.begin(), ce->issuer.end(), want.pbData)) {
          match = true;
          break;
        }
      }
    }
    if (match && para->pfnFindCallback && !para->pfnFindCallback(&e->box.ctx, para->pvFindArg)) match = false;
    if (match) return &chain->box.ctx;
    CertFreeCertificateChain(&chain->box.ctx);
  }
  return nullptr;
}

BOOL CertVerifyCertificateChainPolicy(LPCSTR pszPolicyOID, PCCERT_CHAIN_CONTEXT pChainContext,
                                      PCERT_CHAIN_POLICY_PARA pPolicyPara, PCERT_CHAIN_POLICY_STATUS pPolicyStatus) {
  Chain* chain = ChainOf(pChainContext);
  if (pszPolicyOID != CERT_CHAIN_POLICY_SSL || !chain || !pPolicyStatus || chain->elements.empty()) return FALSE;
  const SSL_EXTRA_CERT_CHAIN_POLICY_PARA* ssl =
      pPolicyPara ? static_cast<const SSL_EXTRA_CERT_CHAIN_POLICY_PARA*>(pPolicyPara->pvExtraPolicyPara) : nullptr;
  const DWORD ignore = ssl ? ssl->fdwChecks : 0;
  pPolicyStatus->dwError = 0;
  pPolicyStatus->lChainIndex = -1;
  pPolicyStatus->lElementIndex = -1;

  // The first element showing a trust error, or the chain's last one for chain-wide errors.
  auto report = [&](HRESULT error, DWORD bit) {
    pPolicyStatus->dwError = static_cast<DWORD>(error);
    pPolicyStatus->lChainIndex = 0;
    LONG index = static_cast<LONG>(chain->elements.size()) - 1;
    for (std::size_t i = 0; i < chain->elements.size(); ++i)
      if (chain->elements[i].TrustStatus.dwErrorStatus & bit) {
        index = static_cast<LONG>(i);
        break;
      }
    pPolicyStatus->lElementIndex = index;
    return TRUE;
  };
  const DWORD err = chain->simple.TrustStatus.dwErrorStatus;
  if (err & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return report(TRUST_E_CERT_SIGNATURE, CERT_TRUST_IS_NOT_SIGNATURE_VALID);
  if (err & CERT_TRUST_INVALID_BASIC_CONSTRAINTS)
    return report(TRUST_E_BASIC_CONSTRAINTS, CERT_TRUST_INVALID_BASIC_CONSTRAINTS);
  if (!(ignore & SECURITY_FLAG_IGNORE_UNKNOWN_CA)) {
    if (err & CERT_TRUST_IS_UNTRUSTED_ROOT) return report(CERT_E_UNTRUSTEDROOT, CERT_TRUST_IS_UNTRUSTED_ROOT);
    if (err & CERT_TRUST_IS_PARTIAL_CHAIN) return report(CERT_E_CHAINING, CERT_TRUST_IS_PARTIAL_CHAIN);
  }
  if (err & CERT_TRUST_IS_REVOKED) return report(CERT_E_REVOKED, CERT_TRUST_IS_REVOKED);
  if (!(ignore & SECURITY_FLAG_IGNORE_CERT_DATE_INVALID) && (err & CERT_TRUST_IS_NOT_TIME_VALID))
    return report(CERT_E_EXPIRED, CERT_TRUST_IS_NOT_TIME_VALID);
  if (!(ignore & SECURITY_FLAG_IGNORE_WRONG_USAGE) && (err & CERT_TRUST_IS_NOT_VALID_FOR_USAGE))
    return report(CERT_E_WRONG_USAGE, CERT_TRUST_IS_NOT_VALID_FOR_USAGE);
  if (ssl && ssl->pwszServerName && *ssl->pwszServerName && !(ignore & SECURITY_FLAG_IGNORE_CERT_CN_INVALID)) {
    const std::string name = Utf16ToUtf8(ssl->pwszServerName);
    CertEntry* leaf = EntryOf(chain->elements.front().pCertContext);
    if (!leaf || !GnuTLS().gnutls_x509_crt_check_hostname2(leaf->crt, name.c_str(), 0)) {
      pPolicyStatus->dwError = static_cast<DWORD>(CERT_E_CN_NO_MATCH);
      pPolicyStatus->lChainIndex = 0;
      pPolicyStatus->lElementIndex = 0;
    }
  }
  return TRUE;
}

BOOL BrvCertCreateChainEngine(LPCSTR rootFile, HCERTCHAINENGINE* phChainEngine) {
  if (!phChainEngine) return FALSE;
  *phChainEngine = nullptr;
  if (!EnsureGnuTLSLoaded()) return FALSE;
  auto engine = MakeEngine(rootFile);
  if (!engine) return FALSE;
  *phChainEngine = engine.release();
  return TRUE;
}

void CertFreeCertificateChainEngine(HCERTCHAINENGINE hChainEngine) {
  if (!hChainEngine) return;
  auto* e = static_cast<Engine*>(hChainEngine);
  if (e->magic != kEngineMagic) return;
  e->magic = 0;
  delete e;
}

}  // namespace brv::sspi

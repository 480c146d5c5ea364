// Security calls of the security interface layer: credentials, contexts and record
// encryption over GnuTLS (bound at run time, see GnuTLSBinding.h), with every byte passed
// through memory.
//
// The handshake runs on a helper thread per context. The platform's handshake can stop half
// way and ask the caller for client credentials (SEC_I_INCOMPLETE_CREDENTIALS), then resume
// where it stopped; GnuTLS asks for the client certificate from inside a callback and cannot
// be left there. So the handshake runs on its own thread, which waits whenever it needs more
// input or credentials, and each InitializeSecurityContextW call hands it input one record at
// a time and returns once it waits again or has finished. Records are only ever given whole,
// so the count of bytes GnuTLS did not take is exact. After the handshake the thread is gone
// and records are encrypted and decrypted on the caller's thread.
#include "tls/sspi/brvSSPI.h"
#include "tls/sspi/brvSSPIInternal.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/UTF8.h"

namespace brv::sspi {

namespace detail {
std::string Utf16ToUtf8(const char16_t* s) {
  std::string out;
  if (!s) return out;
  for (; *s; ++s) {
    char32_t c = *s;
    if (c >= 0xD800 && c <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(s[1]) - 0xDC00);
      ++s;
    }
    AppendUTF8(out, c);
  }
  return out;
}
}  // namespace detail

using detail::Utf16ToUtf8;

namespace {

using detail::Bytes;
using detail::ClientCertMaterial;

constexpr ULONG_PTR kCredMagic = 0x43524544;  // "CRED"
constexpr ULONG_PTR kCtxtMagic = 0x43545854;  // "CTXT"
constexpr std::size_t kRecordHeader = 5;
constexpr std::size_t kMaxRecordBody = 16384 + 2048;  // the largest ciphertext TLS allows
// Room in the stream trailer for records the protocol owes the peer (a TLS 1.3 key update
// answer) that go out in front of the next record.
constexpr std::size_t kOwedRoom = 64;

// ---- Credentials ----------------------------------------------------------------------------

struct Credentials {
  DWORD protocols = 0;
  std::shared_ptr<const ClientCertMaterial> material;
  std::vector<gnutls_pcert_st> pcerts;
  gnutls_privkey_t key = nullptr;

  Credentials() = default;
  Credentials(const Credentials&) = delete;
  Credentials& operator=(const Credentials&) = delete;
  ~Credentials() {
    for (auto& p : pcerts) GnuTLS().gnutls_pcert_deinit(&p);
    if (key) GnuTLS().gnutls_privkey_deinit(key);
  }
  bool HasCertificate() const { return key && !pcerts.empty(); }
};

// What a credentials handle points at. Contexts share the credentials, so freeing the handle
// while a context still uses them is safe.
struct CredBox {
  std::shared_ptr<Credentials> cred;
};

std::shared_ptr<Credentials> CredentialsOf(PCredHandle h) {
  if (!h || h->dwUpper != kCredMagic || !h->dwLower) return nullptr;
  return reinterpret_cast<CredBox*>(h->dwLower)->cred;
}

// ---- Contexts -------------------------------------------------------------------------------

enum class Phase { Idle, Running, NeedInput, NeedCredentials, Done, Failed };

struct Context {
  gnutls_session_t session = nullptr;
  gnutls_certificate_credentials_t xcred = nullptr;
  std::shared_ptr<Credentials> cred;       // the credentials of the latest call
  std::shared_ptr<Credentials> certInUse;  // the credentials whose certificate GnuTLS was given

  std::mutex mu;
  std::condition_variable cv;
  Phase phase = Phase::Idle;
  std::thread worker;
  bool blocking = false;  // reads wait for input (handshake thread) or report EAGAIN
  bool abort = false;
  int result = 0;

  Bytes in;  // the record being given to GnuTLS
  std::size_t inPos = 0;
  Bytes out;   // what GnuTLS wrote
  Bytes owed;  // written while decrypting; goes out in front of the next record

  bool established = false;
  bool renegotiate = false;
  bool credentialsAsked = false;
  std::vector<Bytes> issuers;  // from the server's certificate request

  Context() = default;
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ~Context() {
    StopWorker();
    if (session) GnuTLS().gnutls_deinit(session);
    if (xcred) GnuTLS().gnutls_certificate_free_credentials(xcred);
  }
  void StopWorker() {
    {
      std::lock_guard lock(mu);
      abort = true;
    }
    cv.notify_all();
    if (worker.joinable()) worker.join();
  }
};

Context* ContextOf(PCtxtHandle h) {
  if (!h || h->dwUpper != kCtxtMagic || !h->dwLower) return nullptr;
  return reinterpret_cast<Context*>(h->dwLower);
}

ssize_t Push(gnutls_transport_ptr_t p, const void* data, size_t size) {
  auto* c = static_cast<Context*>(p);
  std::lock_guard lock(c->mu);
  const auto* b = static_cast<const std::uint8_t*>(data);
  c->out.insert(c->out.end(), b, b + size);
  return static_cast<ssize_t>(size);
}

ssize_t Pull(gnutls_transport_ptr_t p, void* data, size_t size) {
  auto* c = static_cast<Context*>(p);
  std::unique_lock lock(c->mu);
  if (c->blocking) {
    while (c->inPos == c->in.size() && !c->abort) {
      c->phase = Phase::NeedInput;
      c->cv.notify_all();
      c->cv.wait(lock, [c] { return c->phase == Phase::Running || c->abort; });
    }
    if (c->abort) {
      GnuTLS().gnutls_transport_set_errno(c->session, ECONNRESET);
      return -1;
    }
  } else if (c->inPos == c->in.size()) {
    GnuTLS().gnutls_transport_set_errno(c->session, EAGAIN);
    return -1;
  }
  const std::size_t n = std::min(size, c->in.size() - c->inPos);
  std::memcpy(data, c->in.data() + c->inPos, n);
  c->inPos += n;
  return static_cast<ssize_t>(n);
}

// Input is only ever given whole records, so a read never has to wait for the clock.
int PullTimeout(gnutls_transport_ptr_t, unsigned int) { return 1; }

// GnuTLS asks for the client certificate while it reads the server's request for one.
int RetrieveCertificate(gnutls_session_t session, const gnutls_datum_t* req, int nreq,
                        const gnutls_pk_algorithm_t*, int, gnutls_pcert_st** pcert,
                        unsigned int* pcertLength, gnutls_privkey_t* key) {
  auto* c = static_cast<Context*>(GnuTLS().gnutls_session_get_ptr(session));
  std::unique_lock lock(c->mu);
  c->issuers.clear();
  for (int i = 0; i < nreq; ++i) c->issuers.emplace_back(req[i].data, req[i].data + req[i].size);
  if (!c->cred->HasCertificate() && !c->credentialsAsked) {
    // Pause until the caller comes back, with other credentials or without.
    c->credentialsAsked = true;
    c->phase = Phase::NeedCredentials;
    c->cv.notify_all();
    c->cv.wait(lock, [c] { return c->phase == Phase::Running || c->abort; });
    if (c->abort) return -1;
  }
  c->certInUse = c->cred;
  if (c->certInUse->HasCertificate()) {
    *pcert = c->certInUse->pcerts.data();
    *pcertLength = static_cast<unsigned>(c->certInUse->pcerts.size());
    *key = c->certInUse->key;
  } else {
    *pcert = nullptr;
    *pcertLength = 0;
    *key = nullptr;
  }
  return 0;
}

void RunHandshake(Context* c) {
  int r;
  for (;;) {
    r = GnuTLS().gnutls_handshake(c->session);
    if (r >= 0 || GnuTLS().gnutls_error_is_fatal(r)) break;
    std::lock_guard lock(c->mu);
    if (c->abort) break;
  }
  std::lock_guard lock(c->mu);
  c->result = r;
  c->phase = r == 0 ? Phase::Done : Phase::Failed;
  c->blocking = false;
  c->cv.notify_all();
}

void StartWorker(Context* c, std::unique_lock<std::mutex>& lock) {
  c->blocking = true;
  c->phase = Phase::Running;
  c->credentialsAsked = false;
  c->worker = std::thread(RunHandshake, c);
  c->cv.wait(lock, [c] { return c->phase != Phase::Running; });
}

// ---- Helpers --------------------------------------------------------------------------------

void* AllocContextBuffer(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }

bool IsIpLiteral(const std::string& host) {
  if (host.find(':') != std::string::npos) return true;
  return !host.empty() && std::all_of(host.begin(), host.end(), [](char ch) { return (ch >= '0' && ch <= '9') || ch == '.'; });
}

constexpr DWORD kTlsProtocols =
    SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_0_SERVER | SP_PROT_TLS1_1_CLIENT | SP_PROT_TLS1_1_SERVER |
    SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_2_SERVER | SP_PROT_TLS1_3_CLIENT | SP_PROT_TLS1_3_SERVER;

// The key-exchange groups of GnuTLS's defaults with X25519 moved to the front, where OpenSSL,
// curl and the browsers put it. A TLS 1.2 server takes the client's first group it shares, so
// GnuTLS's own order (P-256 first) had every handshake use another group than other clients.
// Empty (the defaults as they are) when the defaults lack X25519.
std::string GroupOrder() {
  gnutls_priority_t defaults = nullptr;
  if (GnuTLS().gnutls_priority_init(&defaults, "NORMAL", nullptr) < 0) return {};
  const unsigned* groups = nullptr;
  const int count = GnuTLS().gnutls_priority_group_list(defaults, &groups);
  std::string order = ":-GROUP-ALL:+GROUP-X25519";
  bool x25519 = false;
  for (int i = 0; i < count; ++i) {
    if (groups[i] == GNUTLS_GROUP_X25519) {
      x25519 = true;
    } else if (const char* name = GnuTLS().gnutls_group_get_name(static_cast<gnutls_group_t>(groups[i]))) {
      order += ":+GROUP-";
      order += name;
    }
  }
  GnuTLS().gnutls_priority_deinit(defaults);
  return x25519 ? order : std::string();
}

std::string PriorityText(DWORD protocols) {
  static const std::string groups = GroupOrder();
  if (protocols == 0) return "NORMAL" + groups;
  std::string p = "NORMAL" + groups + ":-VERS-ALL";
  if (protocols & (SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_0_SERVER)) p += ":+VERS-TLS1.0";
  if (protocols & (SP_PROT_TLS1_1_CLIENT | SP_PROT_TLS1_1_SERVER)) p += ":+VERS-TLS1.1";
  if (protocols & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_2_SERVER)) p += ":+VERS-TLS1.2";
  if (protocols & (SP_PROT_TLS1_3_CLIENT | SP_PROT_TLS1_3_SERVER)) p += ":+VERS-TLS1.3";
  return p;
}

// The parsed priorities of a set of protocols, made once per set and kept for the process:
// credentials are acquired for every connection, and parsing the text was a fair part of
// setting up a session. Null when GnuTLS refuses the text.
gnutls_priority_t PriorityFor(DWORD protocols) {
  constexpr int kShift = 6;  // the lowest protocol bit, SP_PROT_TLS1_0_SERVER
  static_assert((kTlsProtocols >> kShift) < 256 && (kTlsProtocols & ((1u << kShift) - 1)) == 0);
  static std::mutex lock;
  static gnutls_priority_t made[256] = {};
  static bool tried[256] = {};
  const DWORD index = (protocols & kTlsProtocols) >> kShift;
  std::lock_guard guard(lock);
  if (!tried[index]) {
    tried[index] = true;
    if (GnuTLS().gnutls_priority_init(&made[index],
                                      PriorityText(protocols & kTlsProtocols).c_str(), nullptr) < 0)
      made[index] = nullptr;
  }
  return made[index];
}

SECURITY_STATUS MapAlert(gnutls_alert_description_t alert) {
  switch (alert) {
    case GNUTLS_A_BAD_CERTIFICATE:
    case GNUTLS_A_UNSUPPORTED_CERTIFICATE:
    case GNUTLS_A_CERTIFICATE_UNKNOWN:
    case GNUTLS_A_CERTIFICATE_REVOKED:
    case GNUTLS_A_UNKNOWN_CA:
    case GNUTLS_A_CERTIFICATE_REQUIRED:
      return SEC_E_CERT_UNKNOWN;
    case GNUTLS_A_CERTIFICATE_EXPIRED:
      return SEC_E_CERT_EXPIRED;
    case GNUTLS_A_HANDSHAKE_FAILURE:
    case GNUTLS_A_PROTOCOL_VERSION:
    case GNUTLS_A_INSUFFICIENT_SECURITY:
      return SEC_E_ALGORITHM_MISMATCH;
    case GNUTLS_A_BAD_RECORD_MAC:
    case GNUTLS_A_DECRYPTION_FAILED:
      return SEC_E_DECRYPT_FAILURE;
    default:
      return SEC_E_ILLEGAL_MESSAGE;
  }
}

SECURITY_STATUS MapError(gnutls_session_t session, int error) {
  switch (error) {
    case GNUTLS_E_FATAL_ALERT_RECEIVED:
      return MapAlert(GnuTLS().gnutls_alert_get(session));
    case GNUTLS_E_UNSUPPORTED_VERSION_PACKET:
    case GNUTLS_E_NO_CIPHER_SUITES:
    case GNUTLS_E_UNKNOWN_CIPHER_SUITE:
    case GNUTLS_E_INSUFFICIENT_SECURITY:
    case GNUTLS_E_NO_PRIORITIES_WERE_SET:
    case GNUTLS_E_NO_COMMON_KEY_SHARE:
      return SEC_E_ALGORITHM_MISMATCH;
    case GNUTLS_E_DECRYPTION_FAILED:
      return SEC_E_DECRYPT_FAILURE;
    case GNUTLS_E_MEMORY_ERROR:
      return SEC_E_INSUFFICIENT_MEMORY;
    case GNUTLS_E_CERTIFICATE_ERROR:
      return SEC_E_CERT_UNKNOWN;
    default:
      return SEC_E_ILLEGAL_MESSAGE;
  }
}

// Length of the whole record at the start of data, 0 while it is incomplete, SIZE_MAX when
// the header announces more than TLS allows.
std::size_t RecordLength(const std::uint8_t* data, std::size_t size) {
  if (size < kRecordHeader) return 0;
  const std::size_t body = (static_cast<std::size_t>(data[3]) << 8) | data[4];
  if (body > kMaxRecordBody) return SIZE_MAX;
  return size >= kRecordHeader + body ? kRecordHeader + body : 0;
}

// The bytes still missing from the record at the start of data.
ULONG MissingBytes(const std::uint8_t* data, std::size_t size) {
  if (size < kRecordHeader) return static_cast<ULONG>(kRecordHeader - size);
  const std::size_t body = (static_cast<std::size_t>(data[3]) << 8) | data[4];
  return static_cast<ULONG>(kRecordHeader + body - size);
}

SecBuffer* FindBuffer(PSecBufferDesc desc, ULONG type) {
  if (!desc || !desc->pBuffers) return nullptr;
  for (ULONG i = 0; i < desc->cBuffers; ++i)
    if (desc->pBuffers[i].BufferType == type) return &desc->pBuffers[i];
  return nullptr;
}

void MarkMissing(PSecBufferDesc desc, ULONG count) {
  if (SecBuffer* empty = FindBuffer(desc, SECBUFFER_EMPTY)) {
    empty->BufferType = SECBUFFER_MISSING;
    empty->cbBuffer = count;
    empty->pvBuffer = nullptr;
  }
}

// The ALPN offer of a SECBUFFER_APPLICATION_PROTOCOLS buffer; false when it is malformed.
bool ParseAlpnOffer(const SecBuffer& b, std::vector<std::string>& names) {
  const auto* p = static_cast<const std::uint8_t*>(b.pvBuffer);
  if (!p || b.cbBuffer < 4) return false;
  ULONG listsSize;
  std::memcpy(&listsSize, p, 4);
  if (listsSize > b.cbBuffer - 4) return false;
  std::size_t pos = 4;
  const std::size_t end = 4 + listsSize;
  while (pos < end) {
    if (end - pos < 6) return false;
    std::int32_t ext;
    USHORT listSize;
    std::memcpy(&ext, p + pos, 4);
    std::memcpy(&listSize, p + pos + 4, 2);
    pos += 6;
    if (listSize > end - pos) return false;
    if (ext == SecApplicationProtocolNegotiationExt_ALPN) {
      std::size_t q = pos;
      while (q < pos + listSize) {
        const std::size_t len = p[q++];
        if (len == 0 || len > pos + listSize - q) return false;
        names.emplace_back(reinterpret_cast<const char*>(p + q), len);
        q += len;
      }
    }
    pos += listSize;
  }
  return true;
}

// Hands the output token to the caller, in memory of ours or in the caller's buffer.
SECURITY_STATUS GiveToken(Bytes& token, ULONG req, PSecBufferDesc pOutput) {
  SecBuffer* out = FindBuffer(pOutput, SECBUFFER_TOKEN);
  if (!out) return token.empty() ? SEC_E_OK : SEC_E_INVALID_TOKEN;
  if (req & ISC_REQ_ALLOCATE_MEMORY) {
    if (token.empty()) {
      out->cbBuffer = 0;
      out->pvBuffer = nullptr;
    } else {
      void* mem = AllocContextBuffer(token.size());
      if (!mem) return SEC_E_INSUFFICIENT_MEMORY;
      std::memcpy(mem, token.data(), token.size());
      out->pvBuffer = mem;
      out->cbBuffer = static_cast<ULONG>(token.size());
    }
  } else {
    if (token.size() > out->cbBuffer || (!token.empty() && !out->pvBuffer)) return SEC_E_BUFFER_TOO_SMALL;
    if (!token.empty()) std::memcpy(out->pvBuffer, token.data(), token.size());
    out->cbBuffer = static_cast<ULONG>(token.size());
  }
  token.clear();
  return SEC_E_OK;
}

ULONG GrantedAttributes(ULONG req) {
  ULONG attr = ISC_RET_REPLAY_DETECT | ISC_RET_SEQUENCE_DETECT | ISC_RET_CONFIDENTIALITY | ISC_RET_STREAM;
  if (req & ISC_REQ_ALLOCATE_MEMORY) attr |= ISC_RET_ALLOCATED_MEMORY;
  if (req & ISC_REQ_EXTENDED_ERROR) attr |= ISC_RET_EXTENDED_ERROR;
  return attr;
}

// Sets up a new GnuTLS client session for a context.
SECURITY_STATUS NewSession(Context* c, const std::string& target, PSecBufferDesc pInput) {
  // One key share in a TLS 1.3 hello, for the first group, as OpenSSL sends: GnuTLS would
  // otherwise make a second one (of another kind of group) that the server never uses.
  if (GnuTLS().gnutls_init(&c->session, GNUTLS_CLIENT | GNUTLS_KEY_SHARE_TOP) < 0)
    return SEC_E_INTERNAL_ERROR;
  gnutls_priority_t priority = PriorityFor(c->cred->protocols);
  if (!priority || GnuTLS().gnutls_priority_set(c->session, priority) < 0) return SEC_E_ALGORITHM_MISMATCH;
  if (GnuTLS().gnutls_certificate_allocate_credentials(&c->xcred) < 0) return SEC_E_INSUFFICIENT_MEMORY;
  GnuTLS().gnutls_certificate_set_retrieve_function2(c->xcred, RetrieveCertificate);
  if (GnuTLS().gnutls_credentials_set(c->session, GNUTLS_CRD_CERTIFICATE, c->xcred) < 0) return SEC_E_INTERNAL_ERROR;
  if (!target.empty() && !IsIpLiteral(target))
    GnuTLS().gnutls_server_name_set(c->session, GNUTLS_NAME_DNS, target.data(), target.size());
  if (SecBuffer* alpn = FindBuffer(pInput, SECBUFFER_APPLICATION_PROTOCOLS)) {
    std::vector<std::string> names;
    if (!ParseAlpnOffer(*alpn, names)) return SEC_E_INVALID_TOKEN;
    if (!names.empty()) {
      std::vector<gnutls_datum_t> protos;
      for (auto& n : names)
        protos.push_back({reinterpret_cast<unsigned char*>(n.data()), static_cast<unsigned>(n.size())});
      if (GnuTLS().gnutls_alpn_set_protocols(c->session, protos.data(), static_cast<unsigned>(protos.size()), 0) < 0)
        return SEC_E_INVALID_TOKEN;
    }
  }
  GnuTLS().gnutls_session_set_ptr(c->session, c);
  GnuTLS().gnutls_transport_set_ptr(c->session, c);
  GnuTLS().gnutls_transport_set_push_function(c->session, Push);
  GnuTLS().gnutls_transport_set_pull_function(c->session, Pull);
  GnuTLS().gnutls_transport_set_pull_timeout_function(c->session, PullTimeout);
  GnuTLS().gnutls_handshake_set_timeout(c->session, 0);
  return SEC_E_OK;
}

// ---- The function table's calls -------------------------------------------------------------

SECURITY_STATUS AcquireCredentialsHandleW(const SEC_WCHAR*, const SEC_WCHAR* pszPackage, ULONG fCredentialUse,
                                          void*, void* pAuthData, SEC_GET_KEY_FN, void*,
                                          PCredHandle phCredential, PTimeStamp ptsExpiry) {
  if (!phCredential) return SEC_E_INVALID_PARAMETER;
  const std::string package = Utf16ToUtf8(pszPackage);
  if (package != Utf16ToUtf8(UNISP_NAME_W) && package != Utf16ToUtf8(SCHANNEL_NAME_W)) return SEC_E_SECPKG_NOT_FOUND;
  if (fCredentialUse != SECPKG_CRED_OUTBOUND) return SEC_E_UNSUPPORTED_FUNCTION;  // a client only
  const auto* sc = static_cast<const SCHANNEL_CRED*>(pAuthData);
  if (sc && sc->dwVersion != SCHANNEL_CRED_VERSION) return SEC_E_UNKNOWN_CREDENTIALS;
  if (!EnsureGnuTLSLoaded()) return SEC_E_INTERNAL_ERROR;
  auto cred = std::make_shared<Credentials>();
  if (sc) {
    cred->protocols = sc->grbitEnabledProtocols;
    if (cred->protocols != 0 && (cred->protocols & kTlsProtocols) == 0) return SEC_E_ALGORITHM_MISMATCH;
    if (sc->cCreds > 0) {
      if (!sc->paCred || !sc->paCred[0]) return SEC_E_UNKNOWN_CREDENTIALS;
      auto material = detail::KeyMaterialOf(sc->paCred[0]);
      if (!material || material->key.empty()) return SEC_E_NO_CREDENTIALS;
      cred->material = material;
      for (const auto& der : material->chain) {
        gnutls_pcert_st pc{};
        gnutls_datum_t d{const_cast<unsigned char*>(der.data()), static_cast<unsigned>(der.size())};
        if (GnuTLS().gnutls_pcert_import_x509_raw(&pc, &d, GNUTLS_X509_FMT_DER, 0) < 0) return SEC_E_UNKNOWN_CREDENTIALS;
        cred->pcerts.push_back(pc);
      }
      gnutls_datum_t k{const_cast<unsigned char*>(material->key.data()), static_cast<unsigned>(material->key.size())};
      if (GnuTLS().gnutls_privkey_init(&cred->key) < 0 ||
          GnuTLS().gnutls_privkey_import_x509_raw(cred->key, &k, material->keyFormat, nullptr, 0) < 0)
        return SEC_E_NO_CREDENTIALS;
    }
  }
  auto* box = new CredBox{std::move(cred)};
  phCredential->dwLower = reinterpret_cast<ULONG_PTR>(box);
  phCredential->dwUpper = kCredMagic;
  if (ptsExpiry) *ptsExpiry = {0xFFFFFFFFu, 0x7FFFFFFF};
  return SEC_E_OK;
}

SECURITY_STATUS FreeCredentialsHandle(PCredHandle phCredential) {
  if (!CredentialsOf(phCredential)) return SEC_E_INVALID_HANDLE;
  delete reinterpret_cast<CredBox*>(phCredential->dwLower);
  phCredential->dwLower = 0;
  phCredential->dwUpper = 0;
  return SEC_E_OK;
}

SECURITY_STATUS InitializeSecurityContextW(PCredHandle phCredential, PCtxtHandle phContext,
                                           const SEC_WCHAR* pszTargetName, ULONG fContextReq, ULONG, ULONG,
                                           PSecBufferDesc pInput, ULONG, PCtxtHandle phNewContext,
                                           PSecBufferDesc pOutput, ULONG* pfContextAttr, PTimeStamp ptsExpiry) {
  auto cred = CredentialsOf(phCredential);
  if (pfContextAttr) *pfContextAttr = GrantedAttributes(fContextReq);
  if (ptsExpiry) *ptsExpiry = {0xFFFFFFFFu, 0x7FFFFFFF};

  if (!phContext) {
    // The first call: a new context says hello.
    if (!cred) return SEC_E_INVALID_HANDLE;
    if (!phNewContext) return SEC_E_INVALID_PARAMETER;
    auto c = std::make_unique<Context>();
    c->cred = cred;
    if (SECURITY_STATUS s = NewSession(c.get(), Utf16ToUtf8(pszTargetName), pInput); s != SEC_E_OK) return s;
    std::unique_lock lock(c->mu);
    StartWorker(c.get(), lock);
    if (c->phase == Phase::Failed) {
      const SECURITY_STATUS s = MapError(c->session, c->result);
      lock.unlock();
      return s;
    }
    SECURITY_STATUS s = GiveToken(c->out, fContextReq, pOutput);
    lock.unlock();
    if (s != SEC_E_OK) return s;
    phNewContext->dwLower = reinterpret_cast<ULONG_PTR>(c.release());
    phNewContext->dwUpper = kCtxtMagic;
    return SEC_I_CONTINUE_NEEDED;
  }

  Context* c = ContextOf(phContext);
  if (!c) return SEC_E_INVALID_HANDLE;
  if (phNewContext && phNewContext != phContext) *phNewContext = *phContext;
  SecBuffer* token = pInput && pInput->cBuffers > 0 ? &pInput->pBuffers[0] : nullptr;
  const auto* input = token ? static_cast<const std::uint8_t*>(token->pvBuffer) : nullptr;
  const std::size_t inputSize = input ? token->cbBuffer : 0;
  auto reportExtra = [&](std::size_t used) {
    if (pInput && pInput->cBuffers > 1 && used < inputSize) {
      pInput->pBuffers[1].BufferType = SECBUFFER_EXTRA;
      pInput->pBuffers[1].cbBuffer = static_cast<ULONG>(inputSize - used);
      pInput->pBuffers[1].pvBuffer = const_cast<std::uint8_t*>(input + used);
    }
  };

  std::unique_lock lock(c->mu);
  if (cred) c->cred = cred;
  if (c->established && !c->renegotiate) {
    reportExtra(0);
    return SEC_E_OK;
  }
  bool progressed = false;
  if (c->renegotiate) {
    c->renegotiate = false;
    c->established = false;
    if (c->worker.joinable()) c->worker.join();
    StartWorker(c, lock);
    progressed = true;
  } else if (c->phase == Phase::NeedCredentials) {
    c->phase = Phase::Running;
    c->cv.notify_all();
    c->cv.wait(lock, [c] { return c->phase != Phase::Running; });
    progressed = true;
  }

  std::size_t used = 0;
  while (c->phase == Phase::NeedInput && used < inputSize) {
    const std::size_t len = RecordLength(input + used, inputSize - used);
    if (len == SIZE_MAX) return SEC_E_ILLEGAL_MESSAGE;
    if (len == 0) break;
    c->in.assign(input + used, input + used + len);
    c->inPos = 0;
    c->phase = Phase::Running;
    c->cv.notify_all();
    c->cv.wait(lock, [c] { return c->phase != Phase::Running; });
    used += len;
    progressed = true;
  }

  SECURITY_STATUS status;
  switch (c->phase) {
    case Phase::Done:
      status = SEC_E_OK;
      c->established = true;
      break;
    case Phase::Failed:
      status = MapError(c->session, c->result);
      break;
    case Phase::NeedCredentials:
      status = SEC_I_INCOMPLETE_CREDENTIALS;
      break;
    case Phase::NeedInput:
      status = progressed ? SEC_I_CONTINUE_NEEDED : SEC_E_INCOMPLETE_MESSAGE;
      break;
    default:
      status = SEC_E_INTERNAL_ERROR;
      break;
  }
  // A failing handshake still hands out the alert it wrote for the peer.
  const SECURITY_STATUS given = GiveToken(c->out, fContextReq, pOutput);
  const bool finished = c->phase == Phase::Done || c->phase == Phase::Failed;
  lock.unlock();
  if (finished && c->worker.joinable()) c->worker.join();
  if (given != SEC_E_OK) return given;
  if (status == SEC_E_INCOMPLETE_MESSAGE) {
    MarkMissing(pInput, MissingBytes(input ? input + used : nullptr, inputSize - used));
  } else if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED || status == SEC_I_INCOMPLETE_CREDENTIALS) {
    reportExtra(used);
  }
  return status;
}

SECURITY_STATUS DeleteSecurityContext(PCtxtHandle phContext) {
  Context* c = ContextOf(phContext);
  if (!c) return SEC_E_INVALID_HANDLE;
  delete c;
  phContext->dwLower = 0;
  phContext->dwUpper = 0;
  return SEC_E_OK;
}

SECURITY_STATUS QueryContextAttributesW(PCtxtHandle phContext, ULONG ulAttribute, void* pBuffer) {
  Context* c = ContextOf(phContext);
  if (!c) return SEC_E_INVALID_HANDLE;
  if (!pBuffer) return SEC_E_INVALID_PARAMETER;
  std::lock_guard lock(c->mu);
  switch (ulAttribute) {
    case SECPKG_ATTR_STREAM_SIZES: {
      if (!c->established) return SEC_E_INVALID_HANDLE;
      auto* s = static_cast<SecPkgContext_StreamSizes*>(pBuffer);
      s->cbHeader = static_cast<ULONG>(kRecordHeader);
      s->cbMaximumMessage = static_cast<ULONG>(GnuTLS().gnutls_record_get_max_size(c->session));
      s->cbTrailer = static_cast<ULONG>(GnuTLS().gnutls_record_overhead_size(c->session) + kOwedRoom);
      s->cBuffers = 4;
      const unsigned block = GnuTLS().gnutls_cipher_get_block_size(GnuTLS().gnutls_cipher_get(c->session));
      s->cbBlockSize = block == 0 ? 1 : block;
      return SEC_E_OK;
    }
    case SECPKG_ATTR_REMOTE_CERT_CONTEXT: {
      unsigned count = 0;
      const gnutls_datum_t* certs = GnuTLS().gnutls_certificate_get_peers(c->session, &count);
      PCCERT_CONTEXT ctx = detail::MakePeerCertContext(certs, count);
      if (!ctx) return SEC_E_NO_CREDENTIALS;
      *static_cast<PCCERT_CONTEXT*>(pBuffer) = ctx;
      return SEC_E_OK;
    }
    case SECPKG_ATTR_ISSUER_LIST_EX: {
      auto* list = static_cast<SecPkgContext_IssuerListInfoEx*>(pBuffer);
      list->aIssuers = nullptr;
      list->cIssuers = 0;
      if (c->issuers.empty()) return SEC_E_OK;
      std::size_t total = c->issuers.size() * sizeof(CERT_NAME_BLOB);
      for (const auto& i : c->issuers) total += i.size();
      auto* mem = static_cast<std::uint8_t*>(AllocContextBuffer(total));
      if (!mem) return SEC_E_INSUFFICIENT_MEMORY;
      auto* blobs = reinterpret_cast<CERT_NAME_BLOB*>(mem);
      std::uint8_t* data = mem + c->issuers.size() * sizeof(CERT_NAME_BLOB);
      for (std::size_t i = 0; i < c->issuers.size(); ++i) {
        if (!c->issuers[i].empty()) std::memcpy(data, c->issuers[i].data(), c->issuers[i].size());
        blobs[i] = {static_cast<DWORD>(c->issuers[i].size()), data};
        data += c->issuers[i].size();
      }
      list->aIssuers = blobs;
      list->cIssuers = static_cast<DWORD>(c->issuers.size());
      return SEC_E_OK;
    }
    case SECPKG_ATTR_APPLICATION_PROTOCOL: {
      auto* a = static_cast<SecPkgContext_ApplicationProtocol*>(pBuffer);
      std::memset(a, 0, sizeof *a);
      gnutls_datum_t selected{};
      if (GnuTLS().gnutls_alpn_get_selected_protocol(c->session, &selected) >= 0 && selected.size > 0 &&
          selected.size <= MAX_PROTOCOL_ID_SIZE) {
        a->ProtoNegoStatus = SecApplicationProtocolNegotiationStatus_Success;
        a->ProtoNegoExt = SecApplicationProtocolNegotiationExt_ALPN;
        a->ProtocolIdSize = static_cast<unsigned char>(selected.size);
        std::memcpy(a->ProtocolId, selected.data, selected.size);
      }
      return SEC_E_OK;
    }
    case SECPKG_ATTR_CONNECTION_INFO: {
      if (!c->established) return SEC_E_INVALID_HANDLE;
      auto* info = static_cast<SecPkgContext_ConnectionInfo*>(pBuffer);
      std::memset(info, 0, sizeof *info);
      switch (GnuTLS().gnutls_protocol_get_version(c->session)) {
        case GNUTLS_TLS1_0: info->dwProtocol = SP_PROT_TLS1_0_CLIENT; break;
        case GNUTLS_TLS1_1: info->dwProtocol = SP_PROT_TLS1_1_CLIENT; break;
        case GNUTLS_TLS1_2: info->dwProtocol = SP_PROT_TLS1_2_CLIENT; break;
        case GNUTLS_TLS1_3: info->dwProtocol = SP_PROT_TLS1_3_CLIENT; break;
        default: break;
      }
      info->dwCipherStrength = static_cast<DWORD>(GnuTLS().gnutls_cipher_get_key_size(GnuTLS().gnutls_cipher_get(c->session)) * 8);
      info->dwHashStrength = static_cast<DWORD>(GnuTLS().gnutls_mac_get_key_size(GnuTLS().gnutls_mac_get(c->session)) * 8);
      return SEC_E_OK;
    }
    default:
      return SEC_E_UNSUPPORTED_FUNCTION;
  }
}

SECURITY_STATUS FreeContextBuffer(void* pvContextBuffer) {
  std::free(pvContextBuffer);
  return SEC_E_OK;
}

SECURITY_STATUS EncryptMessage(PCtxtHandle phContext, ULONG, PSecBufferDesc pMessage, ULONG) {
  Context* c = ContextOf(phContext);
  if (!c) return SEC_E_INVALID_HANDLE;
  std::unique_lock lock(c->mu);
  if (!c->established) return SEC_E_INVALID_HANDLE;
  SecBuffer* header = FindBuffer(pMessage, SECBUFFER_STREAM_HEADER);
  SecBuffer* data = FindBuffer(pMessage, SECBUFFER_DATA);
  SecBuffer* trailer = FindBuffer(pMessage, SECBUFFER_STREAM_TRAILER);
  if (!header || !data || !trailer || !header->pvBuffer || (!data->pvBuffer && data->cbBuffer))
    return SEC_E_INVALID_TOKEN;
  if (data->cbBuffer > GnuTLS().gnutls_record_get_max_size(c->session)) return SEC_E_BUFFER_TOO_SMALL;
  c->out.clear();
  if (data->cbBuffer > 0) {
    ssize_t r;
    lock.unlock();  // Push takes the lock itself
    do {
      r = GnuTLS().gnutls_record_send(c->session, data->pvBuffer, data->cbBuffer);
    } while (r == GNUTLS_E_AGAIN || r == GNUTLS_E_INTERRUPTED);
    lock.lock();
    if (r < 0) return r == GNUTLS_E_INVALID_SESSION ? SEC_E_CONTEXT_EXPIRED : SEC_E_INTERNAL_ERROR;
  }
  // What the peer is owed goes first, then the record; together they fill header, data and
  // trailer in order, which the caller sends as one block.
  Bytes wire = std::move(c->owed);
  c->owed.clear();
  wire.insert(wire.end(), c->out.begin(), c->out.end());
  c->out.clear();
  const std::size_t h = std::min<std::size_t>(header->cbBuffer, wire.size());
  const std::size_t d = std::min<std::size_t>(data->cbBuffer, wire.size() - h);
  const std::size_t t = wire.size() - h - d;
  if (t > trailer->cbBuffer || (t > 0 && !trailer->pvBuffer)) return SEC_E_BUFFER_TOO_SMALL;
  std::memcpy(header->pvBuffer, wire.data(), h);
  if (d) std::memcpy(data->pvBuffer, wire.data() + h, d);
  if (t) std::memcpy(trailer->pvBuffer, wire.data() + h + d, t);
  header->cbBuffer = static_cast<ULONG>(h);
  data->cbBuffer = static_cast<ULONG>(d);
  trailer->cbBuffer = static_cast<ULONG>(t);
  return SEC_E_OK;
}

SECURITY_STATUS DecryptMessage(PCtxtHandle phContext, PSecBufferDesc pMessage, ULONG, ULONG* pfQOP) {
  Context* c = ContextOf(phContext);
  if (!c) return SEC_E_INVALID_HANDLE;
  if (pfQOP) *pfQOP = 0;
  std::unique_lock lock(c->mu);
  if (!c->established) return SEC_E_INVALID_HANDLE;
  if (!pMessage || !pMessage->pBuffers || pMessage->cBuffers < 4) return SEC_E_INVALID_TOKEN;
  SecBuffer* dataBuf = FindBuffer(pMessage, SECBUFFER_DATA);
  if (!dataBuf || (!dataBuf->pvBuffer && dataBuf->cbBuffer)) return SEC_E_INVALID_TOKEN;
  auto* record = static_cast<std::uint8_t*>(dataBuf->pvBuffer);
  const std::size_t size = dataBuf->cbBuffer;
  const std::size_t len = RecordLength(record, size);
  if (len == SIZE_MAX) return SEC_E_ILLEGAL_MESSAGE;
  if (len == 0) {
    MarkMissing(pMessage, MissingBytes(record, size));
    return SEC_E_INCOMPLETE_MESSAGE;
  }

  // Exactly this record goes to GnuTLS; it cannot read past it.
  c->in.assign(record, record + len);
  c->inPos = 0;
  c->out.clear();
  std::uint8_t plain[kMaxRecordBody];
  ssize_t r;
  lock.unlock();  // Push and Pull take the lock themselves
  r = GnuTLS().gnutls_record_recv(c->session, plain, sizeof plain);
  lock.lock();
  c->in.clear();
  c->inPos = 0;
  if (!c->out.empty()) {
    c->owed.insert(c->owed.end(), c->out.begin(), c->out.end());
    c->out.clear();
  }

  SECURITY_STATUS status = SEC_E_OK;
  std::size_t plainSize = 0;
  if (r > 0) {
    plainSize = static_cast<std::size_t>(r);
  } else if (r == 0) {
    status = SEC_I_CONTEXT_EXPIRED;  // the peer's close_notify
  } else if (r == GNUTLS_E_AGAIN || r == GNUTLS_E_INTERRUPTED || r == GNUTLS_E_WARNING_ALERT_RECEIVED) {
    status = SEC_E_OK;  // a record without application data: session ticket, key update, warning
  } else if (r == GNUTLS_E_REHANDSHAKE) {
    status = SEC_I_RENEGOTIATE;
    c->renegotiate = true;
  } else if (r == GNUTLS_E_DECRYPTION_FAILED) {
    return SEC_E_DECRYPT_FAILURE;
  } else {
    return MapError(c->session, static_cast<int>(r));
  }
  if (plainSize > len - kRecordHeader) return SEC_E_INTERNAL_ERROR;  // cannot happen: TLS only grows data

  // In place, as the platform does: header, data and trailer lie within the record.
  if (plainSize) std::memcpy(record + kRecordHeader, plain, plainSize);
  SecBuffer* b = pMessage->pBuffers;
  b[0] = {static_cast<ULONG>(kRecordHeader), SECBUFFER_STREAM_HEADER, record};
  b[1] = {static_cast<ULONG>(plainSize), SECBUFFER_DATA, record + kRecordHeader};
  b[2] = {static_cast<ULONG>(len - kRecordHeader - plainSize), SECBUFFER_STREAM_TRAILER,
          record + kRecordHeader + plainSize};
  if (size > len)
    b[3] = {static_cast<ULONG>(size - len), SECBUFFER_EXTRA, record + len};
  else
    b[3] = {0, SECBUFFER_EMPTY, nullptr};
  return status;
}

SecurityFunctionTableW MakeTable() {
  SecurityFunctionTableW t{};
  t.dwVersion = SECURITY_SUPPORT_PROVIDER_INTERFACE_VERSION;
  t.AcquireCredentialsHandleW = AcquireCredentialsHandleW;
  t.FreeCredentialsHandle = FreeCredentialsHandle;
  t.InitializeSecurityContextW = InitializeSecurityContextW;
  t.DeleteSecurityContext = DeleteSecurityContext;
  t.QueryContextAttributesW = QueryContextAttributesW;
  t.FreeContextBuffer = FreeContextBuffer;
  t.EncryptMessage = EncryptMessage;
  t.DecryptMessage = DecryptMessage;
  return t;
}

}  // namespace

PSecurityFunctionTableW InitSecurityInterfaceW() {
  static SecurityFunctionTableW table = MakeTable();
  return EnsureGnuTLSLoaded() ? &table : nullptr;
}

}  // namespace brv::sspi

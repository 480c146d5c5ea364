#include "tls/IdSSLIOHandlerSocketOpenSSL.h"

#include <arpa/inet.h>
#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "base/Hex.h"
#include "tls/private/URIHost.h"
#include "tls/OpenSSLBinding.h"
#include "tls/private/OpenSSLAPI.h"
#include "tls/private/OpenSSLSocketBIO.h"
#include "transport/IdStack.h"
#include "transport/IdStackUnix.h"

namespace brv {

using ossl::API;

namespace {

// ---- process-wide critical sections of the three OpenSSL callbacks ----

std::mutex& StatusLock() {
  static std::mutex lock;
  return lock;
}
std::mutex& PasswordLock() {
  static std::mutex lock;
  return lock;
}
std::mutex& VerifyLock() {
  static std::mutex lock;
  return lock;
}

// An address literal (IPv4 or IPv6, brackets allowed) rather than a host name.
bool IsIPLiteral(const std::string& AHost) {
  unsigned char buffer[16];
  return ::inet_pton(AF_INET, AHost.c_str(), buffer) == 1 ||
         ::inet_pton(AF_INET6, AHost.c_str(), buffer) == 1;
}

std::string StripBrackets(const std::string& AHost) {
  if (AHost.size() >= 2 && AHost.front() == '[' && AHost.back() == ']')
    return AHost.substr(1, AHost.size() - 2);
  return AHost;
}

bool EndsWithNoCase(const std::string& AText, const char* ASuffix) {
  const std::size_t n = std::strlen(ASuffix);
  if (AText.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const char a =
        static_cast<char>(std::tolower(static_cast<unsigned char>(AText[AText.size() - n + i])));
    if (a != ASuffix[i]) return false;
  }
  return true;
}

// OpenSSL's text for an error code (queued codes and connection error codes alike).
std::string ErrorText(unsigned long ACode) {
  char buffer[161] = {};
  API().ERR_error_string_n(ACode, buffer, sizeof buffer);
  return buffer;
}

// Raises E with its own message followed by OpenSSL's text for the first queued error.
template <class E>
[[noreturn]] void RaiseWithQueuedError() {
  unsigned long code = 0;
  const std::string text = ossl::TakeErrorText(&code);
  ossl::ClearErrors();
  E error;
  std::string message = error.Message();
  if (!text.empty()) message += "\r\n" + text;
  E raised(message);
  raised.SetErrorCode(code);
  throw raised;
}

// ---- OpenSSL callbacks: never let an exception reach OpenSSL ----

int PasswordCallback(char* buf, int size, int rwflag, void* userdata) {
  const int saved_errno = errno;
  int placed = 0;
  try {
    std::lock_guard<std::mutex> lock(PasswordLock());
    auto* context = static_cast<TIdSSLContext*>(userdata);
    if (context != nullptr && context->Parent != nullptr && buf != nullptr && size > 0) {
      const std::string password = context->Parent->RequestPassword(rwflag > 0);
      std::memset(buf, 0, static_cast<std::size_t>(size));
      placed = static_cast<int>(
          std::min<std::size_t>(password.size(), static_cast<std::size_t>(size - 1)));
      std::memcpy(buf, password.data(), static_cast<std::size_t>(placed));
    }
  } catch (...) {
    placed = 0;
  }
  errno = saved_errno;
  return placed;
}

void InfoCallback(const ossl::SSL* ssl, int where, int ret) {
  const int saved_errno = errno;
  try {
    std::lock_guard<std::mutex> lock(StatusLock());
    auto* socket = static_cast<TIdSSLSocket*>(API().SSL_get_ex_data(ssl, 0));
    if (socket != nullptr && socket->Parent() != nullptr) {
      const char* state = API().SSL_state_string_long(ssl);
      socket->Parent()->ReportStatus(ssl, where, ret,
                                     Format("SSL status: \"%s\"", state != nullptr ? state : ""));
    }
  } catch (...) {
  }
  errno = saved_errno;
}

int VerifyCallback(int preverify_ok, ossl::X509_STORE_CTX* store) {
  try {
    std::lock_guard<std::mutex> lock(VerifyLock());
    const ossl::Functions& f = API();
    auto* ssl = static_cast<ossl::SSL*>(
        f.X509_STORE_CTX_get_ex_data(store, f.SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (ssl == nullptr) return preverify_ok;
    auto* socket = static_cast<TIdSSLSocket*>(f.SSL_get_ex_data(ssl, 0));
    if (socket == nullptr || socket->Parent() == nullptr) return preverify_ok;
    TIdX509 certificate(f.X509_STORE_CTX_get_current_cert(store), false);
    const int error = f.X509_STORE_CTX_get_error(store);
    const int depth = f.X509_STORE_CTX_get_error_depth(store);
    // A VerifyDepth of 0 or below leaves the depth to OpenSSL's own limit.
    const int limit = socket->SSLContext() != nullptr ? socket->SSLContext()->VerifyDepth() : 0;
    const bool ok = preverify_ok > 0 && (limit <= 0 || depth <= limit);
    return socket->Parent()->CheckPeer(&certificate, ok, depth, error) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int ALPNSelectCallback(ossl::SSL* /*ssl*/, const unsigned char** out, unsigned char* outlen,
                       const unsigned char* in, unsigned int inlen, void* arg) {
  // Server side: the first of our protocols that the client offers.
  try {
    auto* context = static_cast<TIdSSLContext*>(arg);
    if (context == nullptr) return ossl::SSL_TLSEXT_ERR_NOACK;
    for (const std::string& mine : context->ALPNProtocols()->Lines()) {
      unsigned int i = 0;
      while (i < inlen) {
        const unsigned int n = in[i];
        if (i + 1 + n > inlen) break;
        if (n == mine.size() && std::memcmp(in + i + 1, mine.data(), n) == 0) {
          *out = in + i + 1;
          *outlen = static_cast<unsigned char>(n);
          return ossl::SSL_TLSEXT_ERR_OK;
        }
        i += 1 + n;
      }
    }
  } catch (...) {
  }
  return ossl::SSL_TLSEXT_ERR_NOACK;
}

}  // namespace

// =============================================================================================
// TIdSSLOptions

void TIdSSLOptions::SetMethod(TIdSSLVersion Value) {
  fMethod = Value;
  fSSLVersions = Value == sslvSSLv23 ? kAllSSLVersions : SSLVersionBit(Value);
}

void TIdSSLOptions::SetSSLVersions(TIdSSLVersions Value) {
  for (TIdSSLVersion v : {sslvSSLv2, sslvSSLv3, sslvTLSv1, sslvTLSv1_1, sslvTLSv1_2, sslvTLSv1_3}) {
    if (Value == SSLVersionBit(v)) {
      fSSLVersions = Value;
      fMethod = v;
      return;
    }
  }
  fMethod = sslvSSLv23;
  if ((Value & SSLVersionBit(sslvSSLv23)) != 0) {
    Value = static_cast<TIdSSLVersions>(Value & ~SSLVersionBit(sslvSSLv23));
    if (Value == 0) Value = kAllSSLVersions;
  }
  fSSLVersions = Value;
}

void TIdSSLOptions::Assign(const TPersistent* Source) {
  if (const auto* src = dynamic_cast<const TIdSSLOptions*>(Source)) {
    fsRootCertFile = src->fsRootCertFile;
    fsCertFile = src->fsCertFile;
    fsKeyFile = src->fsKeyFile;
    fsDHParamsFile = src->fsDHParamsFile;
    SetMethod(src->fMethod);
    SetSSLVersions(src->fSSLVersions);
    fMode = src->fMode;
    fVerifyMode = src->fVerifyMode;
    fVerifyDepth = src->fVerifyDepth;
    fVerifyDirs = src->fVerifyDirs;
    fCipherList = src->fCipherList;
    return;
  }
  TPersistent::Assign(Source);
}

// =============================================================================================
// TIdSSLContext

TIdSSLContext::TIdSSLContext() {
  if (!EnsureOpenSSLLoaded()) throw EIdOSSLCouldNotLoadSSLLibrary();
}

TIdSSLContext::~TIdSSLContext() {
  FreeContext();
}

void TIdSSLContext::FreeContext() {
  if (fContext != nullptr && IsOpenSSLLoaded()) API().SSL_CTX_free(fContext);
  fContext = nullptr;
}

TStringList* TIdSSLContext::ALPNProtocols() {
  if (!FALPNProtocols) FALPNProtocols = std::make_unique<TStringList>();
  return FALPNProtocols.get();
}

std::unique_ptr<TIdSSLContext> TIdSSLContext::Clone() const {
  auto copy = std::make_unique<TIdSSLContext>();
  copy->fMethod = fMethod;
  copy->fSSLVersions = fSSLVersions;
  copy->fMode = fMode;
  copy->fsRootCertFile = fsRootCertFile;
  copy->fsCertFile = fsCertFile;
  copy->fsKeyFile = fsKeyFile;
  copy->fsDHParamsFile = fsDHParamsFile;
  copy->fVerifyDepth = fVerifyDepth;
  copy->fVerifyMode = fVerifyMode;
  copy->fVerifyDirs = fVerifyDirs;
  copy->fCipherList = fCipherList;
  copy->fStatusInfoOn = fStatusInfoOn;
  copy->fVerifyOn = fVerifyOn;
  if (FALPNProtocols) copy->ALPNProtocols()->Assign(FALPNProtocols.get());
  return copy;
}

void TIdSSLContext::InitContext(TIdSSLCtxMode ACtxMode) {
  const ossl::Functions& f = API();
  FreeContext();
  fCtxMode = ACtxMode;
  if (fMode == sslmUnassigned) fMode = ACtxMode == sslCtxServer ? sslmServer : sslmClient;

  // One flexible method per role replaces the per-version constructors; the versions are
  // then pinned with the minimum and maximum protocol version below.
  const ossl::SSL_METHOD* method = nullptr;
  switch (fMode) {
    case sslmClient:
      method = f.TLS_client_method();
      break;
    case sslmServer:
      method = f.TLS_server_method();
      break;
    case sslmBoth:
      method = f.TLS_method();
      break;
    case sslmUnassigned:
      throw EIdOSSLModeNotSet();
  }
  if (method == nullptr) throw EIdOSSLGetMethodError();
  ossl::ClearErrors();
  fContext = f.SSL_CTX_new(method);
  if (fContext == nullptr) RaiseWithQueuedError<EIdOSSLCreatingContextError>();

  ApplyVersions();
  f.SSL_CTX_ctrl(fContext, ossl::SSL_CTRL_MODE, ossl::SSL_MODE_AUTO_RETRY, nullptr);
  // OpenSSL 3 reports a peer that closes without a close notification as a protocol error;
  // the handler treats that as the end of the data, as earlier series did.
  if (f.OpenSSL_version_num() >= 0x30000000UL)
    f.SSL_CTX_set_options(fContext, ossl::SSL_OP_IGNORE_UNEXPECTED_EOF);

  f.SSL_CTX_set_default_passwd_cb(fContext, &PasswordCallback);
  f.SSL_CTX_set_default_passwd_cb_userdata(fContext, this);
  // The library's default trust locations plus RootCertFile and VerifyDirs, in one store
  // shared by every context with the same locations. A context that verifies nothing and
  // names no root file gets none: OpenSSL would still search the system's certificate
  // directory for every server's issuer, for a verdict nobody reads.
  fRootCertPending = false;
  if (fVerifyMode != 0 || !fsRootCertFile.empty() || !fVerifyDirs.empty()) {
    if (fRootCertAtHandshake && fMode == sslmClient) {
      fRootCertPending = true;
    } else if (!LoadRootCert()) {
      RaiseWithQueuedError<EIdOSSLLoadingRootCertError>();
    }
  }
  if (!fsCertFile.empty()) {
    if (!LoadCert()) RaiseWithQueuedError<EIdOSSLLoadingCertError>();
  }
  if (!fsKeyFile.empty()) {
    if (!LoadKey()) RaiseWithQueuedError<EIdOSSLLoadingKeyError>();
  }
  if (!fsDHParamsFile.empty()) {
    if (!LoadDHParams()) RaiseWithQueuedError<EIdOSSLLoadingDHParamsError>();
  }
  if (fStatusInfoOn) f.SSL_CTX_set_info_callback(fContext, &InfoCallback);
  if (!fCipherList.empty() && f.SSL_CTX_set_cipher_list(fContext, fCipherList.c_str()) < 1) {
    ossl::ClearErrors();
    throw EIdOSSLSettingCipherError();
  }
  if (fVerifyMode != 0) ApplyVerifyMode();
  if (fCtxMode == sslCtxServer && f.SSL_CTX_set_session_id_context != nullptr) {
    f.SSL_CTX_set_session_id_context(fContext, reinterpret_cast<const unsigned char*>(&fSessionId),
                                     sizeof fSessionId);
  }
  // The acceptable issuers of client certificates: a server's list only.
  if (fCtxMode == sslCtxServer && !fsRootCertFile.empty() && f.SSL_load_client_CA_file != nullptr &&
      f.SSL_CTX_set_client_CA_list != nullptr) {
    if (ossl::OPENSSL_STACK* names = f.SSL_load_client_CA_file(fsRootCertFile.c_str()))
      f.SSL_CTX_set_client_CA_list(fContext, names);
    ossl::ClearErrors();
  }
  if (fCtxMode == sslCtxClient) {
    ApplyALPNProtocols();
  } else if (f.SSL_CTX_set_alpn_select_cb != nullptr) {
    f.SSL_CTX_set_alpn_select_cb(fContext, &ALPNSelectCallback, this);
  }
}

void TIdSSLContext::ApplyVersions() {
  const ossl::Functions& f = API();
  struct Row {
    TIdSSLVersion version;
    int protocol;
    std::uint64_t no_option;
  };
  static constexpr Row kRows[] = {
      {sslvSSLv3, ossl::SSL3_VERSION, ossl::SSL_OP_NO_SSLv3},
      {sslvTLSv1, ossl::TLS1_VERSION, ossl::SSL_OP_NO_TLSv1},
      {sslvTLSv1_1, ossl::TLS1_1_VERSION, ossl::SSL_OP_NO_TLSv1_1},
      {sslvTLSv1_2, ossl::TLS1_2_VERSION, ossl::SSL_OP_NO_TLSv1_2},
      {sslvTLSv1_3, ossl::TLS1_3_VERSION, ossl::SSL_OP_NO_TLSv1_3},
  };
  const TIdSSLVersions wanted =
      fMethod == sslvSSLv23 ? static_cast<TIdSSLVersions>(fSSLVersions & ~SSLVersionBit(sslvSSLv23))
                            : SSLVersionBit(fMethod);
  int lowest = 0;
  int highest = 0;
  for (const Row& row : kRows) {
    if ((wanted & SSLVersionBit(row.version)) == 0) continue;
    if (lowest == 0) lowest = row.protocol;
    highest = row.protocol;
  }
  // SSL 2 alone, or nothing at all: no library of the 1.1 or 3 series can give that.
  if (lowest == 0) throw EIdOSSLGetMethodError();
  // Pin the range exactly; a version the library does not know is refused here instead of
  // silently falling back to another one.
  if (f.SSL_CTX_ctrl(fContext, ossl::SSL_CTRL_SET_MIN_PROTO_VERSION, lowest, nullptr) != 1 ||
      f.SSL_CTX_ctrl(fContext, ossl::SSL_CTRL_SET_MAX_PROTO_VERSION, highest, nullptr) != 1) {
    ossl::ClearErrors();
    throw EIdOSSLGetMethodError();
  }
  for (const Row& row : kRows) {
    if (row.protocol < lowest || row.protocol > highest) continue;
    if ((wanted & SSLVersionBit(row.version)) == 0)
      f.SSL_CTX_set_options(fContext, row.no_option);
    else if (fMethod == sslvSSLv23)
      f.SSL_CTX_clear_options(fContext, row.no_option);
  }
}

void TIdSSLContext::ApplyVerifyMode() {
  const ossl::Functions& f = API();
  f.SSL_CTX_set_verify(fContext, fVerifyMode, fVerifyOn ? &VerifyCallback : nullptr);
  // 0 or below keeps OpenSSL's default depth: a depth of 0 would refuse every chain with an
  // intermediate certificate.
  if (fVerifyDepth > 0) f.SSL_CTX_set_verify_depth(fContext, fVerifyDepth);
}

void TIdSSLContext::ApplyALPNProtocols() {
  if (!FALPNProtocols || FALPNProtocols->Count() == 0) return;
  std::vector<unsigned char> wire;
  for (const std::string& name : FALPNProtocols->Lines()) {
    if (name.empty()) continue;
    if (name.size() > 255) throw EIdException("Error Updating ALPN Protocols");
    wire.push_back(static_cast<unsigned char>(name.size()));
    wire.insert(wire.end(), name.begin(), name.end());
  }
  if (wire.empty()) return;
  if (API().SSL_CTX_set_alpn_protos(fContext, wire.data(), static_cast<unsigned>(wire.size())) !=
      0) {
    ossl::ClearErrors();
    throw EIdException("Error Updating ALPN Protocols");
  }
}

void TIdSSLContext::LoadPendingRootCert() {
  if (!fRootCertPending) return;
  ossl::ClearErrors();
  if (!LoadRootCert()) RaiseWithQueuedError<EIdOSSLLoadingRootCertError>();
  fRootCertPending = false;
}

bool TIdSSLContext::LoadRootCert() {
  ossl::X509_STORE* store = ossl::SharedCertStore(fsRootCertFile, fVerifyDirs);
  if (store == nullptr) return false;
  API().SSL_CTX_set_cert_store(fContext, store);  // takes our reference
  return true;
}

bool TIdSSLContext::LoadCert() {
  if (EndsWithNoCase(fsCertFile, ".p12") || EndsWithNoCase(fsCertFile, ".pfx"))
    return LoadPKCS12(true);
  return API().SSL_CTX_use_certificate_chain_file(fContext, fsCertFile.c_str()) > 0;
}

bool TIdSSLContext::LoadKey() {
  const ossl::Functions& f = API();
  bool loaded;
  if (EndsWithNoCase(fsKeyFile, ".p12") || EndsWithNoCase(fsKeyFile, ".pfx"))
    loaded = LoadPKCS12(false);
  else
    loaded = f.SSL_CTX_use_PrivateKey_file(fContext, fsKeyFile.c_str(), ossl::SSL_FILETYPE_PEM) > 0;
  return loaded && f.SSL_CTX_check_private_key(fContext) > 0;
}

bool TIdSSLContext::LoadPKCS12(bool ACertificate) {
  const ossl::Functions& f = API();
  if (f.BIO_new_file == nullptr || f.d2i_PKCS12_bio == nullptr || f.PKCS12_parse == nullptr ||
      f.PKCS12_free == nullptr || f.EVP_PKEY_free == nullptr ||
      f.SSL_CTX_use_certificate == nullptr || f.SSL_CTX_use_PrivateKey == nullptr ||
      f.OPENSSL_sk_pop_free == nullptr)
    return false;
  const std::string& file = ACertificate ? fsCertFile : fsKeyFile;
  ossl::BIO* bio = f.BIO_new_file(file.c_str(), "rb");
  if (bio == nullptr) return false;
  ossl::PKCS12* p12 = f.d2i_PKCS12_bio(bio, nullptr);
  f.BIO_free(bio);
  if (p12 == nullptr) return false;
  // The password is asked once, with a buffer of 128 bytes.
  char password[128];
  const int length = PasswordCallback(password, sizeof password, 0, this);
  const std::string pass(password, static_cast<std::size_t>(length));
  std::memset(password, 0, sizeof password);
  ossl::EVP_PKEY* key = nullptr;
  ossl::X509* certificate = nullptr;
  ossl::OPENSSL_STACK* chain = nullptr;
  const bool parsed = f.PKCS12_parse(p12, pass.c_str(), &key, &certificate, &chain) == 1;
  f.PKCS12_free(p12);
  bool ok = false;
  if (parsed) {
    if (ACertificate) {
      ok = certificate != nullptr && f.SSL_CTX_use_certificate(fContext, certificate) > 0;
      // The other certificates of the file complete the chain (the context takes them over).
      for (int i = 0; ok && chain != nullptr && i < f.OPENSSL_sk_num(chain); ++i) {
        auto* extra = static_cast<ossl::X509*>(f.OPENSSL_sk_value(chain, i));
        if (f.SSL_CTX_ctrl(fContext, ossl::SSL_CTRL_EXTRA_CHAIN_CERT, 0, extra) > 0)
          f.OPENSSL_sk_value(chain, i);  // ownership moved; cleared below
        else
          ok = false;
      }
      if (ok && chain != nullptr) {
        // The extra certificates now belong to the context: free only the stack itself.
        f.OPENSSL_sk_pop_free(chain, [](void*) {});
        chain = nullptr;
      }
    } else {
      ok = key != nullptr && f.SSL_CTX_use_PrivateKey(fContext, key) > 0;
    }
  }
  if (key != nullptr) f.EVP_PKEY_free(key);
  if (certificate != nullptr) f.X509_free(certificate);
  if (chain != nullptr)
    f.OPENSSL_sk_pop_free(chain, [](void* x) { API().X509_free(static_cast<ossl::X509*>(x)); });
  return ok;
}

bool TIdSSLContext::LoadDHParams() {
  const ossl::Functions& f = API();
  if (f.BIO_new_file == nullptr || f.PEM_read_bio_DHparams == nullptr || f.DH_free == nullptr)
    return false;
  ossl::BIO* bio = f.BIO_new_file(fsDHParamsFile.c_str(), "r");
  if (bio == nullptr) return false;
  ossl::DH* dh = f.PEM_read_bio_DHparams(bio, nullptr, nullptr, nullptr);
  f.BIO_free(bio);
  if (dh == nullptr) return false;
  const bool ok = f.SSL_CTX_ctrl(fContext, ossl::SSL_CTRL_SET_TMP_DH, 0, dh) > 0;
  f.DH_free(dh);
  return ok;
}

// =============================================================================================
// TIdSSLCipher

namespace {
const ossl::SSL_CIPHER* CurrentCipher(TIdSSLSocket* ASocket) {
  if (ASocket == nullptr || ASocket->SSL() == nullptr) return nullptr;
  return API().SSL_get_current_cipher(ASocket->SSL());
}
}  // namespace

std::string TIdSSLCipher::Name() const {
  const ossl::SSL_CIPHER* c = CurrentCipher(FSSLSocket);
  const char* name = c != nullptr ? API().SSL_CIPHER_get_name(c) : nullptr;
  return name != nullptr ? name : "";
}

std::string TIdSSLCipher::Description() const {
  const ossl::SSL_CIPHER* c = CurrentCipher(FSSLSocket);
  if (c == nullptr) return {};
  char buffer[256] = {};
  API().SSL_CIPHER_description(c, buffer, sizeof buffer);
  std::string text = buffer;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

int TIdSSLCipher::Bits() const {
  const ossl::SSL_CIPHER* c = CurrentCipher(FSSLSocket);
  return c != nullptr ? API().SSL_CIPHER_get_bits(c, nullptr) : 0;
}

std::string TIdSSLCipher::Version() const {
  const ossl::SSL_CIPHER* c = CurrentCipher(FSSLSocket);
  const char* version = c != nullptr ? API().SSL_CIPHER_get_version(c) : nullptr;
  return version != nullptr ? version : "";
}

// =============================================================================================
// TIdSSLSocket

TIdSSLSocket::TIdSSLSocket(TIdSSLIOHandlerSocketOpenSSL* AParent)
    : fParent(AParent), fBio(std::make_unique<ossl::SocketBIOState>()) {}

TIdSSLSocket::~TIdSSLSocket() {
  FreeConnection();
}

void TIdSSLSocket::FreeConnection() {
  fSSLCipher.reset();
  fPeerCert.reset();
  if (fSSL != nullptr && IsOpenSSLLoaded()) {
    Shutdown(false);
    API().SSL_free(fSSL);  // frees our BIO with it
    ossl::ClearErrors();
  }
  fSSL = nullptr;
  fDeferredRecv = false;
}

template <class Call>
int TIdSSLSocket::Run(Call&& ACall) {
  const ossl::Functions& f = API();
  // Errors of earlier calls must not be taken for this one's.
  ossl::ClearErrors();
  fBio->last_error = 0;
  const int result = ACall();
  if (result > 0) return result;
  fLast = TLastResult{};
  fLast.Ret = result;
  fLast.SSLError = f.SSL_get_error(fSSL, result);
  fLast.SysErrno = fBio->last_error;
  // Waiting for the socket is no error: nothing is queued then.
  if (fLast.SSLError == ossl::SSL_ERROR_WANT_READ || fLast.SSLError == ossl::SSL_ERROR_WANT_WRITE)
    return result;
  fLast.QueuedText = ossl::TakeErrorText(&fLast.Queued);
  // Name the reason when the peer's certificate was refused (untrusted, expired, wrong name).
  if (fLast.SSLError == ossl::SSL_ERROR_SSL && fSSLContext != nullptr &&
      (fSSLContext->VerifyMode() & SSLVerifyBit(sslvrfPeer)) != 0) {
    const long verdict = f.SSL_get_verify_result(fSSL);
    if (verdict != ossl::X509_V_OK) {
      const char* reason = f.X509_verify_cert_error_string(verdict);
      if (reason != nullptr) fLast.QueuedText += Format(" (%s)", reason);
    }
  }
  ossl::ClearErrors();
  return result;
}

bool TIdSSLSocket::WaitForSocket(bool AForWrite, const TIdDeadline& ALimit) {
  // Past the limit this still looks once (a wait of 0): what has arrived may be taken.
  return TIdStackUnix::WaitFor(fBio->fd, AForWrite ? POLLOUT : POLLIN, ALimit) != 0;
}

TIdDeadline TIdSSLSocket::TLSWaitLimit() const {
  return fParent->Deadline().ForWait(fParent->TLSWaitTimeout());
}

void TIdSSLSocket::CreateConnection(int pHandle) {
  const ossl::Functions& f = API();
  FreeConnection();
  if (fSSLContext == nullptr || fSSLContext->Context() == nullptr)
    throw EIdOSSLCouldNotLoadSSLLibrary();
  ossl::ClearErrors();
  fSSL = f.SSL_new(fSSLContext->Context());
  if (fSSL == nullptr) {
    ossl::ClearErrors();
    throw EIdOSSLCreatingSessionError();
  }
  if (f.SSL_set_ex_data(fSSL, 0, this) < 1) {
    ossl::ClearErrors();
    throw EIdOSSLDataBindingError();
  }
  // Our BIO instead of SSL_set_fd: no SIGPIPE, and every wait under our own time-out.
  fBio->fd = pHandle;
  fBio->last_error = 0;
  ossl::BIO* bio = ossl::NewSocketBIO(fBio.get());
  if (bio == nullptr) {
    ossl::ClearErrors();
    throw EIdOSSLFDSetError();
  }
  f.SSL_set_bio(fSSL, bio, bio);
  // Read whatever has arrived in one receive, not a record header and its body apart.
  f.SSL_set_read_ahead(fSSL, 1);
}

namespace {

// Raises the exception for a failed TLS call: E with M (when given) for codes of its own,
// OpenSSL's library error below it, or the socket error for a failing system call.
template <class E>
[[noreturn]] void RaiseOwn(const std::string& APrefix, const std::string& AText, int ACode,
                           int ARet) {
  E error(APrefix + AText);
  error.SetCodes(ACode, ARet);
  throw error;
}

[[noreturn]] void RaiseCrypto(const std::string& APrefix, const TIdSSLSocket::TLastResult& R) {
  EIdOSSLUnderlyingCryptoError error(APrefix + R.QueuedText);
  error.SetErrorCode(R.Queued);
  throw error;
}

template <class E>
[[noreturn]] void RaiseSSLFailure(const TIdSSLSocket::TLastResult& R, bool AWithMessage) {
  const std::string prefix = AWithMessage ? E().Message() + "\r\n" : std::string();
  if (R.SSLError == ossl::SSL_ERROR_SSL) RaiseCrypto(prefix, R);
  if (R.SSLError == ossl::SSL_ERROR_SYSCALL) {
    if (R.Queued != 0) RaiseCrypto(prefix, R);
    if (R.Ret == -1 && R.SysErrno != 0)
      GStack->RaiseSocketError(TIdStackUnix::TranslateErrno(R.SysErrno));
    RaiseOwn<E>(prefix, "EOF was observed that violates the protocol", ossl::SSL_ERROR_SYSCALL, 0);
  }
  RaiseOwn<E>(prefix, ErrorText(static_cast<unsigned long>(R.SSLError)), R.SSLError, R.Ret);
}

}  // namespace

template <class Call>
void TIdSSLSocket::Handshake(Call&& ACall, bool AIsConnect) {
  const TIdDeadline limit = TLSWaitLimit();
  for (;;) {
    if (Run(ACall) == 1) return;
    const int code = fLast.SSLError;
    if (code == ossl::SSL_ERROR_WANT_READ && fBio->hold_reads) {
      // Our hello is sent and the server's answer not read: load the trust store now.
      fBio->hold_reads = false;
      fSSLContext->LoadPendingRootCert();
      continue;
    }
    if (code == ossl::SSL_ERROR_WANT_READ || code == ossl::SSL_ERROR_WANT_WRITE) {
      if (WaitForSocket(code == ossl::SSL_ERROR_WANT_WRITE, limit)) continue;
      fParent->Deadline().Check();
      GStack->RaiseSocketError(Id_WSAETIMEDOUT);
    }
    if (AIsConnect) RaiseSSLFailure<EIdOSSLConnectError>(fLast, true);
    RaiseSSLFailure<EIdOSSLAcceptError>(fLast, true);
  }
}

void TIdSSLSocket::Connect(int pHandle) {
  const ossl::Functions& f = API();
  CreateConnection(pHandle);
  // Resume the session of the handler's current TLS connection when that is another object.
  TIdSSLSocket* current = fParent->SSLSocket();
  if (current != nullptr && current != this && current->fSSL != nullptr)
    f.SSL_copy_session_id(fSSL, current->fSSL);

  const std::string host = StripBrackets(fHostName);
  const bool address = IsIPLiteral(host);
  // Server name indication carries host names only: an address literal is never sent.
  if (!host.empty() && !address) {
    f.SSL_ctrl(fSSL, ossl::SSL_CTRL_SET_TLSEXT_HOSTNAME, ossl::TLSEXT_NAMETYPE_host_name,
               const_cast<char*>(host.c_str()));
  }
  // With peer verification on, the certificate must also name the host (or the address).
  if (!host.empty() && (fSSLContext->VerifyMode() & SSLVerifyBit(sslvrfPeer)) != 0) {
    if (address)
      f.X509_VERIFY_PARAM_set1_ip_asc(f.SSL_get0_param(fSSL), host.c_str());
    else
      f.SSL_set1_host(fSSL, host.c_str());
  }
  ossl::ClearErrors();
  f.SSL_set_connect_state(fSSL);
  // A pending trust store is loaded once the hello is sent, before anything is read.
  fBio->hold_reads = fSSLContext->RootCertPending();
  Handshake([this] { return API().SSL_connect(fSSL); }, true);

  TIdSSLCipher* cipher = Cipher();
  fParent->FireStatusInfo(
      "Cipher: name = " + cipher->Name() + "; " + "description = " + cipher->Description() + "; " +
      "bits = " + std::to_string(cipher->Bits()) + "; " + "version = " + cipher->Version() + "; ");
}

void TIdSSLSocket::Accept(int pHandle) {
  CreateConnection(pHandle);
  fSSLContext->LoadPendingRootCert();
  API().SSL_set_accept_state(fSSL);
  Handshake([this] { return API().SSL_accept(fSSL); }, false);
}

int TIdSSLSocket::Recv(TIdBytes& ABuffer) {
  if (fSSL == nullptr) return 0;
  if (fDeferredRecv) {
    fDeferredRecv = false;
    return fLast.Ret;
  }
  const TIdDeadline limit = TLSWaitLimit();
  for (;;) {
    const int n =
        Run([&] { return API().SSL_read(fSSL, ABuffer.data(), static_cast<int>(ABuffer.size())); });
    if (n > 0) return n;
    bool retry = false;
    const int result = AfterNoProgress(n, limit, retry);
    if (!retry) return result;
  }
}

int TIdSSLSocket::AfterNoProgress(int ACallResult, const TIdDeadline& ALimit, bool& VRetry) {
  VRetry = false;
  switch (fLast.SSLError) {
    case ossl::SSL_ERROR_WANT_READ:
    case ossl::SSL_ERROR_WANT_WRITE:
      if (WaitForSocket(fLast.SSLError == ossl::SSL_ERROR_WANT_WRITE, ALimit)) {
        VRetry = true;
        return -1;
      }
      fParent->Deadline().Check();
      fLast.TimedOut = true;
      return -1;
    case ossl::SSL_ERROR_ZERO_RETURN:
      return 0;
    default:
      return ACallResult;
  }
}

int TIdSSLSocket::Send(const TIdBytes& ABuffer, int AOffset, int ALength) {
  if (fSSL == nullptr) return 0;
  // A peer that stops reading ends the write after the wait time-out, or with the deadline.
  const TIdDeadline limit = TLSWaitLimit();
  int total = 0;
  int offset = AOffset;
  int remaining = ALength;
  while (remaining > 0) {
    const int n = Run([&] { return API().SSL_write(fSSL, ABuffer.data() + offset, remaining); });
    if (n > 0) {
      remaining -= n;
      total += n;
      offset += n;
      continue;
    }
    bool retry = false;
    const int result = AfterNoProgress(n, limit, retry);
    if (!retry) return result;
  }
  return total;
}

bool TIdSSLSocket::Readable(int AMSec) {
  if (fSSL == nullptr) return false;
  if (fDeferredRecv || API().SSL_pending(fSSL) > 0) return true;
  const TIdDeadline limit = fParent->Deadline().ForWait(AMSec < 0 ? -1 : AMSec);
  // A wait that ran out: a time-out, unless the deadline or a cancel ended it (a look without
  // waiting never raises).
  auto timed_out = [&] {
    if (AMSec != 0) fParent->Deadline().Check();
    return false;
  };
  // Records OpenSSL has read ahead but not yet processed need no wait on the socket; once
  // they proved incomplete, only the socket can bring the rest.
  bool wait = API().SSL_has_pending(fSSL) == 0;
  for (;; wait = true) {
    // Our own poll: the socket handler answers "readable" at once when there is no limit,
    // for a blocking receive to do the waiting, and our receives never block.
    if (wait) {
      if (!fParent->BindingAllocated()) throw EIdConnClosedGracefully();
      if (!WaitForSocket(false, limit)) return timed_out();
    }
    // Let OpenSSL take what arrived: a session ticket or a key update is no data to read.
    char probe;
    const int n = Run([&] { return API().SSL_peek(fSSL, &probe, 1); });
    if (n > 0) return true;
    if (fLast.SSLError == ossl::SSL_ERROR_WANT_READ) {
      if (limit.Expired() || limit.Cancelled()) return timed_out();
      continue;
    }
    if (fLast.SSLError == ossl::SSL_ERROR_WANT_WRITE) {
      if (!WaitForSocket(true, limit)) return timed_out();
      continue;
    }
    // The end of the data or a failure: the next Recv reports it.
    fDeferredRecv = true;
    return true;
  }
}

void TIdSSLSocket::Shutdown(bool AWait) {
  if (fSSL == nullptr) return;
  int n = Run([this] { return API().SSL_shutdown(fSSL); });
  if (n != 0 || !AWait) return;
  // Wait for the peer's close notification, within the handler's time-out.
  const TIdDeadline limit = TLSWaitLimit();
  for (;;) {
    n = Run([this] { return API().SSL_shutdown(fSSL); });
    if (n == 1) return;
    const int code = fLast.SSLError;
    if (code != ossl::SSL_ERROR_WANT_READ && code != ossl::SSL_ERROR_WANT_WRITE) return;
    if (!WaitForSocket(code == ossl::SSL_ERROR_WANT_WRITE, limit)) return;
  }
}

TIdBytes TIdSSLSocket::GetSessionID() {
  if (fSSL == nullptr) return {};
  const ossl::SSL_SESSION* session = API().SSL_get_session(fSSL);
  if (session == nullptr) return {};
  unsigned int length = 0;
  const unsigned char* id = API().SSL_SESSION_get_id(session, &length);
  return id != nullptr ? TIdBytes(id, id + length) : TIdBytes();
}

std::string TIdSSLSocket::GetSessionIDAsString() {
  return ToHex(GetSessionID(), true);
}

void TIdSSLSocket::SetCipherList(const std::string& CipherList) {
  const ossl::Functions& f = API();
  if (fSSL == nullptr || f.SSL_set_cipher_list == nullptr ||
      f.SSL_set_cipher_list(fSSL, CipherList.c_str()) < 1) {
    if (IsOpenSSLLoaded()) ossl::ClearErrors();
    throw EIdOSSLSettingCipherError();
  }
}

TIdX509* TIdSSLSocket::PeerCert() {
  if (!fPeerCert && fSSL != nullptr) {
    if (ossl::X509* certificate = ossl::GetPeerCertificate(fSSL))
      fPeerCert = std::make_unique<TIdX509>(certificate, true);
  }
  return fPeerCert.get();
}

TIdSSLCipher* TIdSSLSocket::Cipher() {
  if (!fSSLCipher) fSSLCipher = std::make_unique<TIdSSLCipher>(this);
  return fSSLCipher.get();
}

std::string TIdSSLSocket::ALPNProtocol() const {
  if (fSSL == nullptr) return {};
  const unsigned char* data = nullptr;
  unsigned int length = 0;
  API().SSL_get0_alpn_selected(fSSL, &data, &length);
  return data != nullptr ? std::string(reinterpret_cast<const char*>(data), length) : std::string();
}

// =============================================================================================
// TIdSSLIOHandlerSocketOpenSSL

TIdSSLIOHandlerSocketOpenSSL::TIdSSLIOHandlerSocketOpenSSL(TComponent* AOwner)
    : TIdSSLIOHandlerSocketBase(AOwner),
      fxSSLOptions(std::make_unique<TIdSSLOptions_Internal>(this)) {}

TIdSSLIOHandlerSocketOpenSSL::~TIdSSLIOHandlerSocketOpenSSL() {
  // The close notification goes out before the socket handler closes the socket.
  fSSLSocket.reset();
  FreeContext();
}

std::string TIdSSLIOHandlerSocketOpenSSL::GetALPNProtocol() const {
  return fSSLSocket ? fSSLSocket->ALPNProtocol() : std::string();
}

std::string TIdSSLIOHandlerSocketOpenSSL::GetSSLVersion() const {
  if (!fSSLSocket || fSSLSocket->SSL() == nullptr) return {};
  const char* version = API().SSL_get_version(fSSLSocket->SSL());
  return version != nullptr ? version : "";
}

int TIdSSLIOHandlerSocketOpenSSL::TLSWaitTimeout() const {
  return ReadTimeout() >= 1 ? ReadTimeout() : 30000;
}

void TIdSSLIOHandlerSocketOpenSSL::FreeContext() {
  fOwnedContext.reset();
  fSSLContext = nullptr;
}

void TIdSSLIOHandlerSocketOpenSSL::PrepareContext() {
  if (fSSLContext != nullptr) return;
  auto context = std::make_unique<TIdSSLContext>();  // binds OpenSSL or raises
  context->Parent = this;
  const TIdSSLOptions& o = *fxSSLOptions;
  context->SetRootCertFile(o.RootCertFile());
  context->SetCertFile(o.CertFile());
  context->SetKeyFile(o.KeyFile());
  context->SetDHParamsFile(o.DHParamsFile());
  context->SetVerifyDepth(o.VerifyDepth());
  context->SetVerifyMode(o.VerifyMode());
  context->SetVerifyDirs(o.VerifyDirs());
  context->SetCipherList(o.CipherList());
  context->SetMethod(o.Method());
  context->SetSSLVersions(o.SSLVersions());
  context->SetMode(o.Mode());
  context->SetVerifyOn(static_cast<bool>(OnVerifyPeer));
  context->SetStatusInfoOn(static_cast<bool>(OnStatusInfo) || static_cast<bool>(OnStatusInfoEx));
  context->ALPNProtocols()->Assign(ALPNProtocols());
  context->SetRootCertAtHandshake(true);
  context->InitContext(sslCtxClient);
  fOwnedContext = std::move(context);
  fSSLContext = fOwnedContext.get();
}

void TIdSSLIOHandlerSocketOpenSSL::ConnectToPeer() {
  try {
    PrepareContext();
  } catch (const EIdOSSLCouldNotLoadSSLLibrary&) {
    // A clear connection needs no OpenSSL.
    if (!fPassThrough) throw;
  }
  ConnectInClear();
  FireBeforeConnect();
  StartSSL();
}

void TIdSSLIOHandlerSocketOpenSSL::StartSSL() {
  if (!fPassThrough) StartTlsLayer();
}

void TIdSSLIOHandlerSocketOpenSSL::StartTlsLayer() {
  if (fSSLContext == nullptr) throw EIdOSSLCouldNotLoadSSLLibrary();
  if (!fSSLSocket) fSSLSocket = std::make_unique<TIdSSLSocket>(this);
  fSSLSocket->SetSSLContext(fSSLContext);
  const TIdSSLMode mode = fSSLContext->Mode();
  const bool server = mode == sslmServer || (mode != sslmClient && fIsPeer);
  if (!server) {
    std::string host;
    if (!FURIToCheck.empty()) {
      host = ossl::HostOfURI(FURIToCheck);
    } else if (TIdCustomTransparentProxy* proxy = EnabledProxy()) {
      while (proxy->ChainedProxy() != nullptr && proxy->ChainedProxy()->Enabled())
        proxy = proxy->ChainedProxy();
      host = proxy->Host();
    } else {
      host = Host();
    }
    fSSLSocket->SetHostName(host);
    fSSLSocket->Connect(Binding()->Handle());
  } else {
    fSSLSocket->SetHostName("");
    fSSLSocket->Accept(Binding()->Handle());
  }
  fPassThrough = false;
}

void TIdSSLIOHandlerSocketOpenSSL::SetPassThrough(bool Value) {
  if (fPassThrough == Value) return;
  if (Value) {
    if (fSSLSocket) fSSLSocket->Shutdown(true);
  } else if (BindingAllocated()) {
    if (fSSLContext == nullptr) throw EIdOSSLCouldNotLoadSSLLibrary();
    StartTlsLayer();
  }
  fPassThrough = Value;
}

void TIdSSLIOHandlerSocketOpenSSL::Open() {
  FOpened = false;
  TIdSSLIOHandlerSocketBase::Open();
}

void TIdSSLIOHandlerSocketOpenSSL::Close() {
  fSSLSocket.reset();
  FreeContext();
  TIdSSLIOHandlerSocketBase::Close();
}

bool TIdSSLIOHandlerSocketOpenSSL::Readable(int AMSec) {
  if (fPassThrough) return TIdIOHandlerStack::Readable(AMSec);
  if (!fSSLSocket || fSSLSocket->SSL() == nullptr) return false;
  return fSSLSocket->Readable(AMSec);
}

void TIdSSLIOHandlerSocketOpenSSL::AfterAccept() {
  try {
    TIdSSLIOHandlerSocketBase::AfterAccept();
    try {
      PrepareContext();
    } catch (const EIdOSSLCouldNotLoadSSLLibrary&) {
      if (!fPassThrough) throw;
    }
    StartSSL();
  } catch (...) {
    Close();
    throw;
  }
}

int TIdSSLIOHandlerSocketOpenSSL::ReadDecrypted(TIdBytes& VBuffer) {
  return fSSLSocket ? fSSLSocket->Recv(VBuffer) : 0;
}

int TIdSSLIOHandlerSocketOpenSSL::WriteEncrypted(const TIdBytes& ABuffer, int AOffset,
                                                 int ALength) {
  return fSSLSocket ? fSSLSocket->Send(ABuffer, AOffset, ALength) : 0;
}

int TIdSSLIOHandlerSocketOpenSSL::CheckTransportError(int ALastResult) {
  if (fPassThrough || !fSSLSocket)
    return TIdSSLIOHandlerSocketBase::CheckTransportError(ALastResult);
  const TIdSSLSocket::TLastResult& last = fSSLSocket->LastResult();
  if (last.TimedOut) return Id_WSAETIMEDOUT;
  if (last.SSLError == ossl::SSL_ERROR_SYSCALL && last.Queued == 0 && last.SysErrno != 0) {
    // The socket handler's rule, with the error our BIO saw.
    errno = last.SysErrno;
    return TIdSSLIOHandlerSocketBase::CheckTransportError(-1);
  }
  RaiseSSLFailure<EIdOpenSSLAPISSLError>(last, false);
}

void TIdSSLIOHandlerSocketOpenSSL::RaiseTransportError(int AError) {
  // A time-out is the socket's error too (a write that waited in vain), not a TLS one.
  if (fPassThrough || !fSSLSocket || AError == Id_WSAECONNABORTED || AError == Id_WSAECONNRESET ||
      AError == Id_WSAESHUTDOWN || AError == Id_WSAETIMEDOUT) {
    TIdSSLIOHandlerSocketBase::RaiseTransportError(AError);
    return;
  }
  RaiseSSLFailure<EIdOpenSSLAPISSLError>(fSSLSocket->LastResult(), false);
}

std::unique_ptr<TIdSSLIOHandlerSocketBase> TIdSSLIOHandlerSocketOpenSSL::Clone() {
  auto copy = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
  copy->SSLOptions()->Assign(SSLOptions());
  copy->OnStatusInfo = [this](const std::string& AMsg) { FireStatusInfo(AMsg); };
  copy->OnGetPassword = [this](std::string& Password) { FireGetPassword(Password); };
  copy->OnVerifyPeer = [this](TIdX509* Certificate, bool AOk, int ADepth, int AError) {
    return FireVerifyPeer(Certificate, AOk, ADepth, AError);
  };
  copy->OnGetPasswordEx = OnGetPasswordEx;
  copy->fSSLSocket = std::make_unique<TIdSSLSocket>(copy.get());
  return copy;
}

void TIdSSLIOHandlerSocketOpenSSL::FireBeforeConnect() {
  if (OnBeforeConnect) OnBeforeConnect(this);
}

void TIdSSLIOHandlerSocketOpenSSL::FireStatusInfo(const std::string& AMsg) {
  if (OnStatusInfo) OnStatusInfo(AMsg);
}

void TIdSSLIOHandlerSocketOpenSSL::FireGetPassword(std::string& Password) {
  if (OnGetPassword) OnGetPassword(Password);
}

void TIdSSLIOHandlerSocketOpenSSL::FireGetPasswordEx(std::string& VPassword, bool AIsWrite) {
  if (OnGetPasswordEx) OnGetPasswordEx(this, VPassword, AIsWrite);
}

bool TIdSSLIOHandlerSocketOpenSSL::FireVerifyPeer(TIdX509* Certificate, bool AOk, int ADepth,
                                                  int AError) {
  if (!OnVerifyPeer) return true;
  return OnVerifyPeer(Certificate, AOk, ADepth, AError);
}

std::string TIdSSLIOHandlerSocketOpenSSL::RequestPassword(bool AIsWrite) {
  std::string password;
  FireGetPasswordEx(password, AIsWrite);
  if (password.empty()) FireGetPassword(password);
  return password;
}

void TIdSSLIOHandlerSocketOpenSSL::ReportStatus(const ossl::SSL* ASSL, int AWhere, int ARet,
                                                const std::string& AStatusText) {
  FireStatusInfo(AStatusText);
  if (!OnStatusInfoEx) return;
  const ossl::Functions& f = API();
  auto text = [](const char* s) { return std::string(s != nullptr ? s : ""); };
  const std::string state = text(f.SSL_state_string_long(ASSL));
  std::string type;
  std::string msg;
  auto outcome = [&](const char* side) {
    if (ARet < 0) return Format("%s Error", side);
    if (ARet > 0) return Format("%s Exit", side);
    return Format("%s Failed", side);
  };
  switch (AWhere) {
    case ossl::SSL_CB_HANDSHAKE_START:
      type = "Handshake Start";
      msg = state;
      break;
    case ossl::SSL_CB_HANDSHAKE_DONE:
      type = "Handshake Done";
      msg = state;
      break;
    case ossl::SSL_ST_CONNECT | ossl::SSL_CB_LOOP:
      type = "Connect Loop";
      msg = state;
      break;
    case ossl::SSL_ST_CONNECT | ossl::SSL_CB_EXIT:
      type = outcome("Connect");
      msg = state;
      break;
    case ossl::SSL_ST_ACCEPT | ossl::SSL_CB_LOOP:
      type = "Accept Loop";
      msg = state;
      break;
    case ossl::SSL_ST_ACCEPT | ossl::SSL_CB_EXIT:
      type = outcome("Accept");
      msg = state;
      break;
    case ossl::SSL_CB_ALERT: {
      const std::string alert = text(f.SSL_alert_type_string_long(ARet));
      type = Format("%s Alert", alert.c_str());
      msg = alert;
      break;
    }
    case ossl::SSL_CB_ALERT | ossl::SSL_CB_READ:
    case ossl::SSL_CB_ALERT | ossl::SSL_CB_WRITE: {
      const std::string alert = text(f.SSL_alert_type_string_long(ARet));
      type = Format((AWhere & ossl::SSL_CB_READ) != 0 ? "%s Read Alert" : "%s Write Alert",
                    alert.c_str());
      msg = text(f.SSL_alert_desc_string_long(ARet));
      break;
    }
    default:
      break;
  }
  OnStatusInfoEx(this, ASSL, AWhere, ARet, type, msg);
}

bool TIdSSLIOHandlerSocketOpenSSL::CheckPeer(TIdX509* ACertificate, bool AOk, int ADepth,
                                             int AError) {
  return FireVerifyPeer(ACertificate, AOk, ADepth, AError);
}

}  // namespace brv

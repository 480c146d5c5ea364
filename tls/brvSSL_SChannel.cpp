#include "tls/brvSSL_SChannel.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>

#include "base/Exception.h"
#include "base/UTF8.h"
#include "tls/private/SChannelLink.h"
#include "transport/IdStack.h"
#include "transport/IdStackUnix.h"

namespace brv {

using namespace sspi;

namespace {

// Requirements of every handshake call: sequence and replay detection, confidentiality,
// tokens allocated by the security package, extended errors, a stream.
constexpr ULONG kContextRequirements = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                       ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                       ISC_REQ_EXTENDED_ERROR | ISC_REQ_STREAM;  // 0xC11C
// The receive buffer while the handshake runs.
constexpr std::size_t kHandshakeBuffer = 65536;
// The largest record TLS allows on the wire: header and 16384 + 2048 bytes of body.
constexpr std::size_t kMaxRecord = 5 + 16384 + 2048;
// Room of the application-protocols area for the list itself (128 bytes minus 10 of header).
constexpr std::size_t kALPNListRoom = 118;

// ---- process-wide state ----

struct Globals {
  std::mutex lock;
  PSecurityFunctionTableW table = nullptr;
  HCERTSTORE myStore = nullptr;
  bool initialized = false;
};

Globals& G() {
  static Globals globals;
  return globals;
}

PSecurityFunctionTableW Table() {
  return G().table;
}

// The last failure and certificate verdict belong to the thread whose handshake set them, so
// that concurrent connects on other threads cannot change the message a connect raises.
thread_local std::string tLastError;
thread_local std::uint32_t tCertStatus = 0;

void SetLastError(std::string AText) {
  tLastError = std::move(AText);
}

std::string Hex(std::uint32_t AValue) {
  return Format("%08X", AValue);
}
std::string Hex(SECURITY_STATUS AValue) {
  return Hex(static_cast<std::uint32_t>(AValue));
}

// Waits until ASocket is ready for AEvents or ALimit ends the wait (it passed or was
// cancelled): 1 ready (or in error, which the following call reports), 0 when the limit ended
// it, -1 when poll itself failed.
int WaitSocket(int ASocket, short AEvents, const TIdDeadline& ALimit) {
  const int r = TIdStackUnix::Poll(ASocket, AEvents, ALimit);
  return r > 0 ? 1 : r;
}

DWORD EnabledProtocols(TwsTLSVersions AVersion) {
  switch (AVersion) {
    case tls1_0:
      return 0xF0;  // SSL 3.0 and TLS 1.0, client and server
    case tls1_1:
      return 0x300;
    case tls1_2:
      return 0xC00;
    case tls1_3:
      return 0x3000;
    case tlsUndefined:
      break;
  }
  return 0;  // the package's defaults
}

SECURITY_STATUS Acquire(SCHANNEL_CRED& ACred, CredHandle& AHandle) {
  return Table()->AcquireCredentialsHandleW(nullptr, UNISP_NAME_W, SECPKG_CRED_OUTBOUND, nullptr,
                                            &ACred, nullptr, nullptr, &AHandle, nullptr);
}

// Chain engines for root certificates files, made once per file (and again when the file
// changes): an engine reads the whole system trust store, far too slow for every handshake.
using TEngine = std::shared_ptr<void>;

TEngine EngineFor(const std::string& AFile) {
  struct Entry {
    TEngine engine;
    std::filesystem::file_time_type time;
    std::uintmax_t size = 0;
  };
  static std::mutex lock;
  static std::map<std::string, Entry> engines;
  std::error_code ec;
  const auto time = std::filesystem::last_write_time(AFile, ec);
  const std::uintmax_t size = ec ? 0 : std::filesystem::file_size(AFile, ec);
  std::lock_guard<std::mutex> guard(lock);
  auto found = engines.find(AFile);
  if (found != engines.end() && !ec && found->second.time == time && found->second.size == size)
    return found->second.engine;
  HCERTCHAINENGINE made = nullptr;
  if (!BrvCertCreateChainEngine(AFile.c_str(), &made)) return nullptr;
  TEngine engine(made, [](void* AEngine) { CertFreeCertificateChainEngine(AEngine); });
  if (!ec) engines[AFile] = Entry{engine, time, size};
  return engine;
}

bool OpenMyStore(Globals& AGlobals) {
  AGlobals.myStore = CertOpenSystemStoreW(0, u"MY");
  if (AGlobals.myStore != nullptr) return true;
  SetLastError("CertOpenSystemStore(0, 'MY') returns 0");
  return false;
}

}  // namespace

// =============================================================================================
// Process-wide

const std::string& SChannelLastError() {
  return tLastError;
}
std::uint32_t SChannelCertStatus() {
  return tCertStatus;
}

bool SChannelInitialize() {
  Globals& g = G();
  std::lock_guard<std::mutex> guard(g.lock);
  if (g.initialized) return true;
  if (g.table == nullptr) {
    g.table = InitSecurityInterfaceW();
    if (g.table == nullptr) {
      SetLastError("InitSecurityInterface() returns nil");
      return false;
    }
  }
  if (g.myStore == nullptr && !OpenMyStore(g)) return false;
  g.initialized = true;
  return true;
}

std::vector<std::uint8_t> SChannelALPNOffer(const TStringList* AProtocols) {
  if (AProtocols == nullptr) return {};
  std::vector<std::uint8_t> list;
  for (const std::string& name : AProtocols->Lines()) {
    if (name.empty()) continue;
    if (name.size() > 255 || list.size() + 1 + name.size() > kALPNListRoom) break;
    list.push_back(static_cast<std::uint8_t>(name.size()));
    list.insert(list.end(), name.begin(), name.end());
  }
  if (list.empty()) return {};
  std::vector<std::uint8_t> area(10 + list.size());
  const auto lists_size = static_cast<std::uint32_t>(list.size() + 6);
  const std::int32_t ext = SecApplicationProtocolNegotiationExt_ALPN;
  const auto list_size = static_cast<std::uint16_t>(list.size());
  std::memcpy(area.data(), &lists_size, 4);
  std::memcpy(area.data() + 4, &ext, 4);
  std::memcpy(area.data() + 8, &list_size, 2);
  std::memcpy(area.data() + 10, list.data(), list.size());
  return area;
}

// =============================================================================================
// TSSLInfo

TSSLInfo::~TSSLInfo() {
  Clean();
}

void TSSLInfo::Clean() {
  if ((Init & iCredentials) != 0) Table()->FreeCredentialsHandle(&Credentials);
  if ((Init & iContext) != 0) Table()->DeleteSecurityContext(&Context);
  Init = 0;
}

bool TSSLInfo::Start(TwsTLSVersions aVersion, bool aVerifyCertificate) {
  Globals& g = G();
  if (CredentialsCallBack != nullptr) {
    // The callback may change what the store holds: read it again afterwards.
    {
      std::lock_guard<std::mutex> guard(g.lock);
      if (g.myStore != nullptr) CertCloseStore(g.myStore, 0);
      g.myStore = nullptr;
    }
    try {
      CredentialsCallBack(this, UserData);
    } catch (...) {
      // The connect fails with the callback's exception; the store is back for the next one.
      std::lock_guard<std::mutex> guard(g.lock);
      if (g.myStore == nullptr) g.myStore = CertOpenSystemStoreW(0, u"MY");
      throw;
    }
    std::lock_guard<std::mutex> guard(g.lock);
    if (g.myStore == nullptr && !OpenMyStore(g)) return false;
  }

  SChannel = SCHANNEL_CRED{};
  SChannel.dwVersion = SCHANNEL_CRED_VERSION;
  SChannel.grbitEnabledProtocols = EnabledProtocols(aVersion);
  SChannel.dwFlags = SCH_CRED_NO_DEFAULT_CREDS | SCH_CRED_MANUAL_CRED_VALIDATION;  // 0x18
  SECURITY_STATUS s = Acquire(SChannel, Credentials);
  if (s != SEC_E_OK) {
    SetLastError("AcquireCredentialsHandle returns " + Hex(s));
    return false;
  }
  Init = iCredentials;

  std::vector<std::uint8_t> offer = SChannelALPNOffer(ALPNProtocols);
  SecBuffer alpn{static_cast<ULONG>(offer.size()), SECBUFFER_APPLICATION_PROTOCOLS, offer.data()};
  SecBufferDesc input{SECBUFFER_VERSION, offer.empty() ? 0u : 1u, offer.empty() ? nullptr : &alpn};
  SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc output{SECBUFFER_VERSION, 1, &token};
  std::u16string target;
  if (!StrictUTF8ToUTF16(Servername, target)) {
    SetLastError("The server name is not valid UTF-8");
    return false;
  }
  ULONG attributes = 0;
  s = Table()->InitializeSecurityContextW(&Credentials, nullptr, target.c_str(),
                                          kContextRequirements, 0, SECURITY_NATIVE_DREP, &input, 0,
                                          &Context, &output, &attributes, nullptr);
  if (s != SEC_I_CONTINUE_NEEDED) {
    if (token.pvBuffer != nullptr) Table()->FreeContextBuffer(token.pvBuffer);
    SetLastError("First call to InitializeSecurityContext returns " + Hex(s));
    return false;
  }
  Init |= iContext;
  if (!SendToken(token)) return false;

  RecvBuffer.assign(kHandshakeBuffer, 0);
  RecvCount = 0;
  if (ReadLoop() < 0) return false;
  if (aVerifyCertificate && !VerifyCertificate()) return false;
  return InitBuffer();
}

int TSSLInfo::Read() {
  TimedOut = false;
  SocketFailed = false;
  // A record longer than the room left: make room for the largest one TLS allows.
  if (static_cast<std::size_t>(RecvCount) >= RecvBuffer.size())
    RecvBuffer.resize(static_cast<std::size_t>(RecvCount) + kMaxRecord);
  if (Deadline.Bounded()) {
    const int ready = WaitSocket(Socket, POLLIN, Deadline);
    if (ready <= 0) {
      TimedOut = ready == 0;
      SocketFailed = ready < 0;
      Error = static_cast<std::uint32_t>(ready == 0 ? Id_WSAETIMEDOUT
                                                    : TIdStackUnix::TranslateErrno(errno));
      SetLastError("recv returns " + Hex(Error));
      return -1;
    }
  }
  ssize_t n;
  do {
    n = ::recv(Socket, RecvBuffer.data() + RecvCount,
               RecvBuffer.size() - static_cast<std::size_t>(RecvCount), 0);
  } while (n < 0 && errno == EINTR);
  if (n < 1) {
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A receive time-out set on the socket itself.
      TimedOut = true;
      Error = static_cast<std::uint32_t>(Id_WSAETIMEDOUT);
    } else {
      SocketFailed = n < 0;
      Error = static_cast<std::uint32_t>(n < 0 ? TIdStackUnix::TranslateErrno(errno) : 0);
    }
    SetLastError("recv returns " + Hex(Error));
    return n < 0 ? -1 : 0;
  }
  RecvCount += static_cast<std::int32_t>(n);
  return static_cast<int>(n);
}

int TSSLInfo::ReadLoop(bool AReadFirst) {
  bool read = AReadFirst;
  for (;;) {
    if (read) {
      read = false;
      const int n = Read();
      // The peer closing in the middle of the handshake is a failure too ("recv returns
      // 00000000"), not a finished handshake.
      if (n < 1) return -1;
    }
    // Both input buffers are described afresh on every pass: the package turns the second
    // one into EXTRA (or MISSING) and the first may now cover other bytes.
    SecBuffer in[2] = {{static_cast<ULONG>(RecvCount), SECBUFFER_TOKEN, RecvBuffer.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc input{SECBUFFER_VERSION, 2, in};
    SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc output{SECBUFFER_VERSION, 1, &token};
    ULONG attributes = 0;
    const SECURITY_STATUS s = Table()->InitializeSecurityContextW(
        &Credentials, &Context, nullptr, kContextRequirements, 0, SECURITY_NATIVE_DREP, &input, 0,
        nullptr, &output, &attributes, nullptr);
    Error = static_cast<std::uint32_t>(s);
    if (!SendToken(token)) return -1;

    if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer != 0) {
      // The unconsumed bytes are the last ones received; they overlap the buffer's start.
      const std::int32_t extra = static_cast<std::int32_t>(in[1].cbBuffer);
      std::memmove(RecvBuffer.data(), RecvBuffer.data() + (RecvCount - extra),
                   static_cast<std::size_t>(extra));
      RecvCount = extra;
    } else if (s != SEC_E_INCOMPLETE_MESSAGE) {
      RecvCount = 0;
    }

    if (s == SEC_E_OK) return 0;
    if (s == SEC_E_INCOMPLETE_MESSAGE || s == SEC_I_CONTINUE_NEEDED) {
      read = true;
    } else if (s == SEC_I_INCOMPLETE_CREDENTIALS) {
      GetClientCredentials();  // without a certificate the handshake goes on without one
    } else {
      // An error, or a status this handshake has no step for (repeating would spin).
      SetLastError("InitializeSecurityContext returns " + Hex(s));
      return -1;
    }
  }
}

bool TSSLInfo::InitBuffer() {
  const SECURITY_STATUS s =
      Table()->QueryContextAttributesW(&Context, SECPKG_ATTR_STREAM_SIZES, &BuffSizes);
  if (s != SEC_E_OK) {
    SetLastError("QueryContextAttributes(SECPKG_ATTR_STREAM_SIZES) returns " + Hex(s));
    return false;
  }
  const std::size_t size = static_cast<std::size_t>(BuffSizes.cbHeader) +
                           BuffSizes.cbMaximumMessage + BuffSizes.cbTrailer;
  // Records that came with the last handshake flight (session tickets, the first data) are
  // kept: dropping them would corrupt the stream.
  std::vector<std::uint8_t> received(std::max(size, static_cast<std::size_t>(RecvCount)));
  std::memcpy(received.data(), RecvBuffer.data(), static_cast<std::size_t>(RecvCount));
  RecvBuffer.swap(received);
  SendBuffer.assign(size, 0);
  DataCount = 0;
  DataStart = 0;
  return true;
}

bool TSSLInfo::GetClientCredentials() {
  if (CredentialsCallBack != nullptr) CredentialsCallBack(this, UserData);
  SecPkgContext_IssuerListInfoEx issuers{};
  const SECURITY_STATUS s =
      Table()->QueryContextAttributesW(&Context, SECPKG_ATTR_ISSUER_LIST_EX, &issuers);
  if (s != SEC_E_OK) {
    SetLastError("QueryContextAttributes(SECPKG_ATTR_ISSUER_LIST_EX) returns " + Hex(s));
    return false;
  }
  CERT_CHAIN_FIND_BY_ISSUER_PARA find{};
  find.cbSize = sizeof find;
  find.pszUsageIdentifier = szOID_PKIX_KP_CLIENT_AUTH;
  find.cIssuer = issuers.cIssuers;
  find.rgIssuer = issuers.aIssuers;

  bool found = false;
  {
    Globals& g = G();
    std::lock_guard<std::mutex> guard(g.lock);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    for (;;) {
      chain = CertFindChainInStore(g.myStore, X509_ASN_ENCODING, 0, CERT_CHAIN_FIND_BY_ISSUER,
                                   &find, chain);
      if (chain == nullptr) {
        SetLastError("CertFindChainInStore returns nil");
        break;
      }
      PCCERT_CONTEXT certificate = chain->rgpChain[0]->rgpElement[0]->pCertContext;
      SChannel.dwVersion = SCHANNEL_CRED_VERSION;
      SChannel.cCreds = 1;
      SChannel.paCred = &certificate;
      CredHandle fresh{};
      const SECURITY_STATUS acquired = Acquire(SChannel, fresh);
      // The credentials keep what they need of the certificate; the chain goes now.
      SChannel.cCreds = 0;
      SChannel.paCred = nullptr;
      if (acquired == SEC_E_OK) {
        CertFreeCertificateChain(chain);
        if ((Init & iCredentials) != 0) Table()->FreeCredentialsHandle(&Credentials);
        Credentials = fresh;
        Init |= iCredentials;
        found = true;
        break;
      }
    }
  }
  if (issuers.aIssuers != nullptr) Table()->FreeContextBuffer(issuers.aIssuers);
  return found;
}

bool TSSLInfo::VerifyCertificate() {
  PCCERT_CONTEXT certificate = nullptr;
  const SECURITY_STATUS s =
      Table()->QueryContextAttributesW(&Context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate);
  if (s != SEC_E_OK) {
    SetLastError("QueryCredentialsAttributes returns " + Hex(s));
    return false;
  }
  // The default engine trusts the system's roots; a root certificates file adds its own.
  TEngine engine;
  if (!RootCertFile.empty() && !(engine = EngineFor(RootCertFile))) {
    CertFreeCertificateContext(certificate);
    SetLastError("Could not load root certificates from " + RootCertFile);
    return false;
  }
  char server_auth[] = "1.3.6.1.5.5.7.3.1";
  char server_gated[] = "1.3.6.1.4.1.311.10.3.3";
  char netscape_sgc[] = "2.16.840.1.113730.4.1";
  char* usages[] = {server_auth, server_gated, netscape_sgc};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  para.RequestedUsage.Usage.cUsageIdentifier = 3;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  bool verified = false;
  if (CertGetCertificateChain(engine.get(), certificate, nullptr, certificate->hCertStore, &para, 0,
                              nullptr, &chain)) {
    std::u16string name;
    StrictUTF8ToUTF16(Servername, name);  // well-formed: the handshake checked it
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = 0;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
      tCertStatus = status.dwError;
      verified = status.dwError == 0;
      if (!verified)
        SetLastError("CertVerifyCertificateChainPolicy.vStatus = " + Hex(status.dwError));
    }
    CertFreeCertificateChain(chain);
  }
  CertFreeCertificateContext(certificate);
  return verified;
}

int TSSLInfo::Readable() {
  if (DataCount - DataStart > 0) return DataCount - DataStart;
  DataCount = 0;
  DataStart = 0;
  Error = 0;
  TimedOut = false;
  SocketFailed = false;
  if (Closed) return 0;
  for (;;) {
    if (RecvCount == 0 || Error == static_cast<std::uint32_t>(SEC_E_INCOMPLETE_MESSAGE)) {
      const int n = Read();
      if (n <= 0) return n;
    }
    SecBuffer b[4] = {{static_cast<ULONG>(RecvCount), SECBUFFER_DATA, RecvBuffer.data()},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc message{SECBUFFER_VERSION, 4, b};
    const SECURITY_STATUS s = Table()->DecryptMessage(&Context, &message, 0, nullptr);
    Error = static_cast<std::uint32_t>(s);
    if (s == SEC_E_INCOMPLETE_MESSAGE) continue;
    if (s == SEC_I_CONTEXT_EXPIRED) {
      // The peer's close notification ends the data, as a closed socket does.
      SetLastError("DecryptMessage returns SEC_I_CONTEXT_EXPIRED");
      Closed = true;
      RecvCount = 0;
      return 0;
    }
    if (s != SEC_E_OK && s != SEC_I_RENEGOTIATE) {
      SetLastError("DecryptMessage returns " + Hex(s));
      return -1;
    }
    RecvCount = 0;
    for (int i = 1; i < 4; ++i) {
      if (b[i].cbBuffer == 0 || b[i].pvBuffer == nullptr) continue;
      if (b[i].BufferType == SECBUFFER_DATA) {
        const std::size_t need = static_cast<std::size_t>(DataCount) + b[i].cbBuffer;
        if (DataBuffer.size() < need) DataBuffer.resize(need);
        std::memcpy(DataBuffer.data() + DataCount, b[i].pvBuffer, b[i].cbBuffer);
        DataCount += static_cast<std::int32_t>(b[i].cbBuffer);
      } else if (b[i].BufferType == SECBUFFER_EXTRA) {
        // The next record(s), behind this one in the same buffer.
        std::memmove(RecvBuffer.data(), b[i].pvBuffer, b[i].cbBuffer);
        RecvCount = static_cast<std::int32_t>(b[i].cbBuffer);
      }
    }
    if (s == SEC_I_RENEGOTIATE) {
      // The server asked for a new handshake: it starts from the bytes left over, then the
      // stream goes on under the new keys (and possibly new record sizes).
      const TIdDeadline deadline = Deadline;
      Deadline = Bound.ForWait(HandshakeTimeout > 0 ? HandshakeTimeout : -1);
      const int handshake = ReadLoop(false);
      Deadline = deadline;
      if (handshake < 0) {
        // A handshake cut short cannot be resumed: even a time-out here is a failure.
        TimedOut = false;
        return -1;
      }
      const std::int32_t data = DataCount;
      if (!InitBuffer()) return -1;
      DataCount = data;  // a renegotiation request carries no data; nothing is lost here
    }
    if (DataCount > 0) return DataCount;
    Error = 0;
  }
}

int TSSLInfo::Decrypt(void* Data, int Size) {
  const int n = Readable();
  if (n <= 0) return n;
  const int count = std::min(n, Size);
  std::memcpy(Data, DataBuffer.data() + DataStart, static_cast<std::size_t>(count));
  DataStart += count;
  return count;
}

int TSSLInfo::Encrypt(const void* Data, int Size) {
  const auto* plain = static_cast<const std::uint8_t*>(Data);
  const int maximum = static_cast<int>(BuffSizes.cbMaximumMessage);
  if (maximum <= 0 || SendBuffer.empty()) {
    SetLastError("EncryptMessage returns " + Hex(SEC_E_INVALID_HANDLE));
    return -1;
  }
  int taken = 0;
  while (taken < Size) {
    const int n = std::min(Size - taken, maximum);
    std::uint8_t* header = SendBuffer.data();
    std::memcpy(header + BuffSizes.cbHeader, plain + taken, static_cast<std::size_t>(n));
    SecBuffer b[4] = {
        {BuffSizes.cbHeader, SECBUFFER_STREAM_HEADER, header},
        {static_cast<ULONG>(n), SECBUFFER_DATA, header + BuffSizes.cbHeader},
        {BuffSizes.cbTrailer, SECBUFFER_STREAM_TRAILER, header + BuffSizes.cbHeader + n},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc message{SECBUFFER_VERSION, 4, b};
    const SECURITY_STATUS s = Table()->EncryptMessage(&Context, 0, &message, 0);
    Error = static_cast<std::uint32_t>(s);
    if (s < 0) {
      SetLastError("EncryptMessage returns " + Hex(s));
      return -1;
    }
    const int sent =
        SendAll(header, static_cast<int>(b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer));
    if (sent <= 0) return sent;
    taken += n;
  }
  return taken;
}

std::string TSSLInfo::GetALPN() {
  alpn_result = SecPkgContext_ApplicationProtocol{};
  const SECURITY_STATUS s =
      Table()->QueryContextAttributesW(&Context, SECPKG_ATTR_APPLICATION_PROTOCOL, &alpn_result);
  if (s != SEC_E_OK) {
    SetLastError("QueryContextAttributes(SECPKG_ATTR_APPLICATION_PROTOCOL) returns " + Hex(s));
    return {};
  }
  if (alpn_result.ProtoNegoStatus != SecApplicationProtocolNegotiationStatus_Success ||
      alpn_result.ProtoNegoExt != SecApplicationProtocolNegotiationExt_ALPN)
    return {};
  return std::string(reinterpret_cast<const char*>(alpn_result.ProtocolId),
                     alpn_result.ProtocolIdSize);
}

bool TSSLInfo::SendToken(SecBuffer& AToken) {
  if (AToken.cbBuffer == 0 || AToken.pvBuffer == nullptr) return true;
  const int sent =
      SendAll(static_cast<const std::uint8_t*>(AToken.pvBuffer), static_cast<int>(AToken.cbBuffer));
  Table()->FreeContextBuffer(AToken.pvBuffer);
  AToken.pvBuffer = nullptr;
  AToken.cbBuffer = 0;
  return sent > 0;
}

int TSSLInfo::SendAll(const std::uint8_t* ABytes, int ACount) {
  TimedOut = false;
  SocketFailed = false;
  int total = 0;
  auto fail = [this](int AError, bool ATimedOut) {
    TimedOut = ATimedOut;
    SocketFailed = !ATimedOut;
    Error = static_cast<std::uint32_t>(AError);
    SetLastError("send returns " + std::to_string(AError));
    return -1;
  };
  while (total < ACount) {
    // No SIGPIPE from a peer that went away; with a limit, never block past it.
    int flags = MSG_NOSIGNAL;
    if (Deadline.Bounded()) {
      const int ready = WaitSocket(Socket, POLLOUT, Deadline);
      if (ready == 0) return fail(Id_WSAETIMEDOUT, true);
      if (ready < 0) return fail(TIdStackUnix::TranslateErrno(errno), false);
      flags |= MSG_DONTWAIT;
    }
    const ssize_t n =
        ::send(Socket, ABytes + total, static_cast<std::size_t>(ACount - total), flags);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (Deadline.Bounded()) continue;    // wait again, within the limit
      return fail(Id_WSAETIMEDOUT, true);  // a send time-out set on the socket
    }
    if (n < 0) return fail(TIdStackUnix::TranslateErrno(errno), false);
    if (n == 0) {
      Error = 0;
      SetLastError("send returns 0");
      return 0;
    }
    total += static_cast<int>(n);
  }
  return total;
}

// =============================================================================================
// Link functions

std::unique_ptr<TSSLInfo> SChannelConnect(std::int32_t ASocket, const std::string& AServerName,
                                          TwsTLSVersions AVersion,
                                          const TStringList* AALPNProtocols,
                                          bool AVerifyCertificate, TCredentialsCallBack ACallBack,
                                          void* AUserData, const std::string& ARootCertFile,
                                          int ATimeout, const TIdDeadline& ABound) {
  tCertStatus = 0;
  tLastError.clear();
  if (!SChannelInitialize()) return nullptr;
  auto link = std::make_unique<TSSLInfo>();
  link->Socket = ASocket;
  link->Servername = AServerName;
  link->ALPNProtocols = AALPNProtocols;
  link->CredentialsCallBack = ACallBack;
  link->UserData = AUserData;
  link->RootCertFile = ARootCertFile;
  link->HandshakeTimeout = ATimeout;
  SChannelSetTimeout(link.get(), ATimeout > 0 ? ATimeout : -1, ABound);
  if (!link->Start(AVersion, AVerifyCertificate)) {
    link->Clean();
    return nullptr;
  }
  SChannelSetTimeout(link.get(), -1);
  return link;
}

void SChannelSetCallback(TSSLInfo* ALink, TCredentialsCallBack ACallBack, void* AUserData) {
  if (ALink == nullptr) return;
  ALink->CredentialsCallBack = ACallBack;
  ALink->UserData = AUserData;
}

void SChannelSetTimeout(TSSLInfo* ALink, int AMSec, const TIdDeadline& ABound) {
  if (ALink == nullptr) return;
  ALink->Bound = ABound;
  ALink->Deadline = ABound.ForWait(AMSec);
}

int SChannelRead(TSSLInfo* ALink, void* ABuffer, int ASize) {
  return ALink != nullptr ? ALink->Decrypt(ABuffer, ASize) : 0;
}

int SChannelWrite(TSSLInfo* ALink, const void* ABuffer, int ASize) {
  return ALink != nullptr ? ALink->Encrypt(ABuffer, ASize) : 0;
}

void SChannelClose(std::unique_ptr<TSSLInfo>& ALink) {
  if (ALink) ALink->Clean();
  ALink.reset();
}

std::string SChannelGetALPN(TSSLInfo* ALink) {
  return ALink != nullptr ? ALink->GetALPN() : std::string();
}

}  // namespace brv

// TIdSSLIOHandlerSocketOpenSSL: TLS over a connected socket through the run-time bound OpenSSL,
// with its companions: the options (TIdSSLOptions), one OpenSSL context per connection
// (TIdSSLContext), one OpenSSL connection object (TIdSSLSocket) and the cipher view.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/StringList.h"
#include "tls/IdSSLIOHandlerSocketBase.h"
#include "tls/IdX509.h"

namespace brv {

namespace ossl {
struct SSL;
struct SSL_CTX;
struct SocketBIOState;
}  // namespace ossl

// ---- exceptions ----

// Root of the OpenSSL handler's exceptions.
BRV_DECLARE_EXCEPTION(EIdOpenSSLError, EIdException);

// A failing TLS connection call: OpenSSL's connection error code and the call's result.
class EIdOpenSSLAPISSLError : public EIdOpenSSLError {
 public:
  explicit EIdOpenSSLAPISSLError(std::string AMessage = {})
      : EIdOpenSSLError(std::move(AMessage)) {}
  const char* ClassName() const noexcept override { return "EIdOpenSSLAPISSLError"; }
  int ErrorCode() const noexcept { return FErrorCode; }
  int RetCode() const noexcept { return FRetCode; }
  void SetCodes(int AErrorCode, int ARetCode) {
    FErrorCode = AErrorCode;
    FRetCode = ARetCode;
  }

 private:
  int FErrorCode = 0;
  int FRetCode = 0;
};

// A failing library call: the code of OpenSSL's first queued error.
class EIdOpenSSLAPICryptoError : public EIdOpenSSLError {
 public:
  explicit EIdOpenSSLAPICryptoError(std::string AMessage = {})
      : EIdOpenSSLError(std::move(AMessage)) {}
  const char* ClassName() const noexcept override { return "EIdOpenSSLAPICryptoError"; }
  unsigned long ErrorCode() const noexcept { return FErrorCode; }
  void SetErrorCode(unsigned long AErrorCode) { FErrorCode = AErrorCode; }

 private:
  unsigned long FErrorCode = 0;
};

// A library failure below a TLS call (a rejected certificate, a protocol error).
BRV_DECLARE_EXCEPTION(EIdOSSLUnderlyingCryptoError, EIdOpenSSLAPICryptoError, "");
BRV_DECLARE_EXCEPTION(EIdOSSLCouldNotLoadSSLLibrary, EIdOpenSSLError,
                      "Could not load SSL library.");
BRV_DECLARE_EXCEPTION(EIdOSSLModeNotSet, EIdOpenSSLError, "Mode has not been set.");
BRV_DECLARE_EXCEPTION(EIdOSSLGetMethodError, EIdOpenSSLError, "Error getting SSL method.");
BRV_DECLARE_EXCEPTION(EIdOSSLCreatingSessionError, EIdOpenSSLError, "Error creating SSL session.");
BRV_DECLARE_EXCEPTION(EIdOSSLCreatingContextError, EIdOpenSSLAPICryptoError,
                      "Error creating SSL context.");
BRV_DECLARE_EXCEPTION(EIdOSSLLoadingRootCertError, EIdOpenSSLAPICryptoError,
                      "Could not load root certificate.");
BRV_DECLARE_EXCEPTION(EIdOSSLLoadingCertError, EIdOpenSSLAPICryptoError,
                      "Could not load certificate.");
BRV_DECLARE_EXCEPTION(EIdOSSLLoadingKeyError, EIdOpenSSLAPICryptoError,
                      "Could not load key, check password.");
BRV_DECLARE_EXCEPTION(EIdOSSLLoadingDHParamsError, EIdOpenSSLAPICryptoError,
                      "Could not load DH Parameters.");
BRV_DECLARE_EXCEPTION(EIdOSSLSettingCipherError, EIdOpenSSLError, "SetCipher failed.");
BRV_DECLARE_EXCEPTION(EIdOSSLFDSetError, EIdOpenSSLAPISSLError,
                      "Error setting File Descriptor for SSL");
BRV_DECLARE_EXCEPTION(EIdOSSLDataBindingError, EIdOpenSSLAPISSLError,
                      "Error binding data to SSL socket.");
BRV_DECLARE_EXCEPTION(EIdOSSLAcceptError, EIdOpenSSLAPISSLError,
                      "Error accepting connection with SSL.");
BRV_DECLARE_EXCEPTION(EIdOSSLConnectError, EIdOpenSSLAPISSLError, "Error connecting with SSL.");

// ---- enumerations ----

// Protocol versions; the values are the bit numbers of TIdSSLVersions.
enum TIdSSLVersion : std::uint8_t {
  sslvSSLv2 = 0,
  sslvSSLv23 = 1,
  sslvSSLv3 = 2,
  sslvTLSv1 = 3,
  sslvTLSv1_1 = 4,
  sslvTLSv1_2 = 5,
  sslvTLSv1_3 = 6
};
// A set of TIdSSLVersion: bit n for value n.
using TIdSSLVersions = std::uint8_t;
constexpr TIdSSLVersions SSLVersionBit(TIdSSLVersion AVersion) {
  return static_cast<TIdSSLVersions>(1u << AVersion);
}
// Every version except sslvSSLv23.
inline constexpr TIdSSLVersions kAllSSLVersions = 0x7D;

enum TIdSSLMode : std::uint8_t { sslmUnassigned = 0, sslmClient = 1, sslmServer = 2, sslmBoth = 3 };

enum TIdSSLVerifyMode : std::uint8_t {
  sslvrfPeer = 0,
  sslvrfFailIfNoPeerCert = 1,
  sslvrfClientOnce = 2
};
// A set of TIdSSLVerifyMode; its bits are exactly OpenSSL's verify flags (1, 2, 4).
using TIdSSLVerifyModeSet = std::uint8_t;
constexpr TIdSSLVerifyModeSet SSLVerifyBit(TIdSSLVerifyMode AMode) {
  return static_cast<TIdSSLVerifyModeSet>(1u << AMode);
}

enum TIdSSLCtxMode : std::uint8_t { sslCtxClient = 0, sslCtxServer = 1 };

class TIdSSLIOHandlerSocketOpenSSL;
class TIdSSLSocket;

// ---- options ----

// The settings of an OpenSSL handler. Method and SSLVersions keep each other consistent.
class TIdSSLOptions : public TPersistent {
 public:
  BRV_CLASS_NAME(TIdSSLOptions)
  // Copies the file names, then Method and SSLVersions through their setters, then the rest.
  void Assign(const TPersistent* Source) override;

  const std::string& RootCertFile() const { return fsRootCertFile; }
  void SetRootCertFile(const std::string& Value) { fsRootCertFile = Value; }
  const std::string& CertFile() const { return fsCertFile; }
  void SetCertFile(const std::string& Value) { fsCertFile = Value; }
  const std::string& KeyFile() const { return fsKeyFile; }
  void SetKeyFile(const std::string& Value) { fsKeyFile = Value; }
  const std::string& DHParamsFile() const { return fsDHParamsFile; }
  void SetDHParamsFile(const std::string& Value) { fsDHParamsFile = Value; }
  // sslvSSLv23 enables every version; any other value just that one.
  TIdSSLVersion Method() const { return fMethod; }
  void SetMethod(TIdSSLVersion Value);
  // A single version sets Method to it; any other set makes Method sslvSSLv23.
  TIdSSLVersions SSLVersions() const { return fSSLVersions; }
  void SetSSLVersions(TIdSSLVersions Value);
  TIdSSLMode Mode() const { return fMode; }
  void SetMode(TIdSSLMode Value) { fMode = Value; }
  // Deepest certificate chain accepted; 0 or below means OpenSSL's default.
  int VerifyDepth() const { return fVerifyDepth; }
  void SetVerifyDepth(int Value) { fVerifyDepth = Value; }
  // Empty: the server's certificate is not verified.
  TIdSSLVerifyModeSet VerifyMode() const { return fVerifyMode; }
  void SetVerifyMode(TIdSSLVerifyModeSet Value) { fVerifyMode = Value; }
  const std::string& VerifyDirs() const { return fVerifyDirs; }
  void SetVerifyDirs(const std::string& Value) { fVerifyDirs = Value; }
  // OpenSSL cipher list; empty keeps the library's default.
  const std::string& CipherList() const { return fCipherList; }
  void SetCipherList(const std::string& Value) { fCipherList = Value; }

 private:
  std::string fsRootCertFile;
  std::string fsCertFile;
  std::string fsKeyFile;
  std::string fsDHParamsFile;
  TIdSSLVersion fMethod = sslvTLSv1;
  TIdSSLVersions fSSLVersions = SSLVersionBit(sslvTLSv1);
  TIdSSLMode fMode = sslmUnassigned;
  int fVerifyDepth = 0;
  TIdSSLVerifyModeSet fVerifyMode = 0;
  std::string fVerifyDirs;
  std::string fCipherList;
};

// The options object a handler owns, knowing its handler.
class TIdSSLOptions_Internal : public TIdSSLOptions {
 public:
  BRV_CLASS_NAME(TIdSSLOptions_Internal)
  explicit TIdSSLOptions_Internal(TIdSSLIOHandlerSocketOpenSSL* AParent) : Parent(AParent) {}
  TIdSSLIOHandlerSocketOpenSSL* Parent;
};

// ---- context ----

// One OpenSSL context, made and initialised per connect from a copy of the options.
class TIdSSLContext : public TObject {
 public:
  BRV_CLASS_NAME(TIdSSLContext)
  // Binds OpenSSL when needed; raises EIdOSSLCouldNotLoadSSLLibrary when it cannot.
  TIdSSLContext();
  ~TIdSSLContext() override;

  // (Re)creates the OpenSSL context for the role and applies every setting.
  void InitContext(TIdSSLCtxMode ACtxMode);
  // With this set before InitContext, a client context gets its trust store from
  // LoadPendingRootCert, which a connecting socket calls once its hello is on the way: a root
  // file not read yet is then read while the server works on its answer.
  void SetRootCertAtHandshake(bool Value) { fRootCertAtHandshake = Value; }
  // True while the trust store is still to be loaded (see SetRootCertAtHandshake).
  bool RootCertPending() const { return fRootCertPending; }
  // Loads the pending trust store; raises EIdOSSLLoadingRootCertError when the library
  // refuses a location (it stays pending then). Nothing when none is pending.
  void LoadPendingRootCert();
  // Each answers false when the library refused the file. LoadRootCert gives the context the
  // trust store of the library's default locations plus RootCertFile and VerifyDirs.
  bool LoadRootCert();
  bool LoadCert();
  bool LoadKey();
  bool LoadDHParams();
  // A new context object with the same settings (not initialised).
  std::unique_ptr<TIdSSLContext> Clone() const;

  // Protocols offered by ALPN; created on first read.
  TStringList* ALPNProtocols();
  bool StatusInfoOn() const { return fStatusInfoOn; }
  void SetStatusInfoOn(bool Value) { fStatusInfoOn = Value; }
  bool VerifyOn() const { return fVerifyOn; }
  void SetVerifyOn(bool Value) { fVerifyOn = Value; }
  TIdSSLVersions SSLVersions() const { return fSSLVersions; }
  void SetSSLVersions(TIdSSLVersions Value) { fSSLVersions = Value; }
  TIdSSLVersion Method() const { return fMethod; }
  void SetMethod(TIdSSLVersion Value) { fMethod = Value; }
  TIdSSLMode Mode() const { return fMode; }
  void SetMode(TIdSSLMode Value) { fMode = Value; }
  const std::string& RootCertFile() const { return fsRootCertFile; }
  void SetRootCertFile(const std::string& Value) { fsRootCertFile = Value; }
  const std::string& CertFile() const { return fsCertFile; }
  void SetCertFile(const std::string& Value) { fsCertFile = Value; }
  const std::string& KeyFile() const { return fsKeyFile; }
  void SetKeyFile(const std::string& Value) { fsKeyFile = Value; }
  const std::string& DHParamsFile() const { return fsDHParamsFile; }
  void SetDHParamsFile(const std::string& Value) { fsDHParamsFile = Value; }
  const std::string& VerifyDirs() const { return fVerifyDirs; }
  void SetVerifyDirs(const std::string& Value) { fVerifyDirs = Value; }
  TIdSSLVerifyModeSet VerifyMode() const { return fVerifyMode; }
  void SetVerifyMode(TIdSSLVerifyModeSet Value) { fVerifyMode = Value; }
  int VerifyDepth() const { return fVerifyDepth; }
  void SetVerifyDepth(int Value) { fVerifyDepth = Value; }
  const std::string& CipherList() const { return fCipherList; }
  void SetCipherList(const std::string& Value) { fCipherList = Value; }

  // The OpenSSL context (null until InitContext).
  ossl::SSL_CTX* Context() const { return fContext; }
  // The handler that made this context; only it frees the context.
  TIdSSLIOHandlerSocketOpenSSL* Parent = nullptr;

 private:
  void FreeContext();
  void ApplyVersions();
  void ApplyVerifyMode();
  void ApplyALPNProtocols();
  bool LoadPKCS12(bool ACertificate);

  TIdSSLVersion fMethod = sslvTLSv1;
  TIdSSLVersions fSSLVersions = SSLVersionBit(sslvTLSv1);
  TIdSSLMode fMode = sslmUnassigned;
  std::string fsRootCertFile;
  std::string fsCertFile;
  std::string fsKeyFile;
  std::string fsDHParamsFile;
  int fVerifyDepth = 0;
  TIdSSLVerifyModeSet fVerifyMode = 0;
  std::string fVerifyDirs;
  std::string fCipherList;
  ossl::SSL_CTX* fContext = nullptr;
  bool fStatusInfoOn = false;
  bool fVerifyOn = false;
  bool fRootCertAtHandshake = false;
  bool fRootCertPending = false;
  std::int32_t fSessionId = 1;
  TIdSSLCtxMode fCtxMode = sslCtxClient;
  std::unique_ptr<TStringList> FALPNProtocols;
};

// ---- cipher view ----

// The negotiated cipher of a TLS connection, read from OpenSSL on every call.
class TIdSSLCipher : public TObject {
 public:
  BRV_CLASS_NAME(TIdSSLCipher)
  explicit TIdSSLCipher(TIdSSLSocket* AOwner) : FSSLSocket(AOwner) {}
  std::string Name() const;
  std::string Description() const;
  int Bits() const;
  std::string Version() const;

 private:
  TIdSSLSocket* FSSLSocket;
};

// ---- TLS connection ----

// One OpenSSL connection over the handler's socket. All waiting happens here, with poll and
// the time the call has left; OpenSSL itself never blocks.
class TIdSSLSocket : public TObject {
 public:
  BRV_CLASS_NAME(TIdSSLSocket)
  explicit TIdSSLSocket(TIdSSLIOHandlerSocketOpenSSL* AParent);
  // Sends the close notification (once, without waiting) and frees the OpenSSL connection.
  ~TIdSSLSocket() override;

  // Runs the client handshake on the connected socket; raises on failure.
  void Connect(int pHandle);
  // Runs the server handshake on the accepted socket; raises on failure.
  void Accept(int pHandle);
  // Sends ALength bytes from AOffset; the total sent, 0 when the peer closed TLS, or a
  // negative result (CheckTransportError of the handler tells what it was).
  int Send(const TIdBytes& ABuffer, int AOffset, int ALength);
  // Reads into the whole array; bytes read, 0 at the end of data, or a negative result.
  int Recv(TIdBytes& ABuffer);
  // Waits up to AMSec (-1 and -2: no limit) until decrypted bytes, the end of data or an
  // error can be read. TLS records without application data (session tickets) do not count.
  bool Readable(int AMSec);
  // Sends the close notification; with AWait also waits (up to the time-out) for the peer's.
  void Shutdown(bool AWait);

  std::string GetSessionIDAsString();
  TIdBytes GetSessionID();
  void SetCipherList(const std::string& CipherList);

  // The peer's certificate; created on first read (null when the peer sent none).
  TIdX509* PeerCert();
  // The negotiated cipher; created on first read.
  TIdSSLCipher* Cipher();
  const std::string& HostName() const { return fHostName; }
  void SetHostName(const std::string& Value) { fHostName = Value; }
  // The protocol ALPN selected (empty when none).
  std::string ALPNProtocol() const;
  // The OpenSSL connection (null before Connect or Accept).
  ossl::SSL* SSL() const { return fSSL; }
  TIdSSLIOHandlerSocketOpenSSL* Parent() const { return fParent; }
  TIdSSLContext* SSLContext() const { return fSSLContext; }
  void SetSSLContext(TIdSSLContext* Value) { fSSLContext = Value; }

  // What the last failing TLS call left: its result, OpenSSL's connection error code, the
  // first queued library error and its text, the socket's errno, and whether it timed out.
  struct TLastResult {
    int Ret = 0;
    int SSLError = 0;
    unsigned long Queued = 0;
    std::string QueuedText;
    int SysErrno = 0;
    bool TimedOut = false;
  };
  const TLastResult& LastResult() const { return fLast; }

 private:
  friend class TIdSSLIOHandlerSocketOpenSSL;
  // Creates the OpenSSL connection over pHandle (with its data binding and our BIO).
  void CreateConnection(int pHandle);
  void FreeConnection();
  // Runs one OpenSSL call with a clean error queue and records its outcome when it fails.
  template <class Call>
  int Run(Call&& ACall);
  // Runs a handshake step until it completes, waiting on the socket between tries.
  template <class Call>
  void Handshake(Call&& ACall, bool AIsConnect);
  // Waits until the socket is ready for what OpenSSL wants; false when the time passed.
  bool WaitForSocket(bool AForWrite, const TIdDeadline& ALimit);
  // After a read or write that moved no bytes (ACallResult): VRetry when the socket became
  // ready for what OpenSSL wants; otherwise what the call comes to: -1 with TimedOut set when
  // the wait ended first, 0 when the peer closed TLS, else ACallResult.
  int AfterNoProgress(int ACallResult, const TIdDeadline& ALimit, bool& VRetry);
  // The limit of a handshake, a receive or a send: the handler's wait time-out, never past its
  // deadline.
  TIdDeadline TLSWaitLimit() const;

  TIdSSLIOHandlerSocketOpenSSL* fParent;
  std::unique_ptr<TIdX509> fPeerCert;
  ossl::SSL* fSSL = nullptr;
  std::unique_ptr<TIdSSLCipher> fSSLCipher;
  TIdSSLContext* fSSLContext = nullptr;
  std::string fHostName;
  std::unique_ptr<ossl::SocketBIOState> fBio;
  TLastResult fLast;
  // A failure seen while probing for readability, handed to the next Recv.
  bool fDeferredRecv = false;
};

// ---- handler ----

class TIdSSLIOHandlerSocketOpenSSL : public TIdSSLIOHandlerSocketBase {
 public:
  BRV_CLASS_NAME(TIdSSLIOHandlerSocketOpenSSL)
  explicit TIdSSLIOHandlerSocketOpenSSL(TComponent* AOwner = nullptr);
  ~TIdSSLIOHandlerSocketOpenSSL() override;

  using TIdIOHandler::Write;

  using TCallbackEvent = std::function<void(const std::string& AMsg)>;
  using TCallbackExEvent =
      std::function<void(TObject* ASender, const ossl::SSL* AsslSocket, int AWhere, int Aret,
                         const std::string& AType, const std::string& AMsg)>;
  using TPasswordEvent = std::function<void(std::string& Password)>;
  using TPasswordEventEx =
      std::function<void(TObject* ASender, std::string& VPassword, bool AIsWrite)>;
  using TVerifyPeerEvent =
      std::function<bool(TIdX509* Certificate, bool AOk, int ADepth, int AError)>;
  using TIOHandlerNotify = std::function<void(TObject* ASender)>;

  // The settings, read when a connect prepares its context.
  TIdSSLOptions* SSLOptions() const { return fxSSLOptions.get(); }
  void SetSSLOptions(const TIdSSLOptions* Value) { fxSSLOptions->Assign(Value); }
  // The TLS connection (null while no TLS runs) and the context of the current connect.
  TIdSSLSocket* SSLSocket() const { return fSSLSocket.get(); }
  TIdSSLContext* SSLContext() const { return fSSLContext; }
  // The protocol the server selected by ALPN; empty without TLS.
  std::string GetALPNProtocol() const;
  // OpenSSL's name of the protocol version in use ("TLSv1.3"); empty without TLS.
  std::string GetSSLVersion() const;

  void SetPassThrough(bool Value) override;
  std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() override;
  void StartSSL() override;
  void Open() override;
  // Frees the TLS connection (sending the close notification) and the context, then closes
  // the socket.
  void Close() override;
  bool Readable(int AMSec = IdTimeoutDefault) override;
  void AfterAccept() override;
  int CheckTransportError(int ALastResult) override;
  void RaiseTransportError(int AError) override;

  TCallbackEvent OnStatusInfo;
  TCallbackExEvent OnStatusInfoEx;
  TPasswordEvent OnGetPassword;
  TPasswordEventEx OnGetPasswordEx;
  TVerifyPeerEvent OnVerifyPeer;
  TIOHandlerNotify OnBeforeConnect;

  // ---- what the OpenSSL callbacks ask of the handler ----
  // The key password: OnGetPasswordEx first, OnGetPassword when that left it empty.
  std::string RequestPassword(bool AIsWrite);
  // Fires OnStatusInfo with AStatusText and OnStatusInfoEx with a type and message by AWhere.
  void ReportStatus(const ossl::SSL* ASSL, int AWhere, int ARet, const std::string& AStatusText);
  // FireVerifyPeer.
  bool CheckPeer(TIdX509* ACertificate, bool AOk, int ADepth, int AError);

  // How long a TLS read, write or handshake may wait on the socket: ReadTimeout when it is 1
  // or more, else 30 seconds.
  int TLSWaitTimeout() const;

 protected:
  friend class TIdSSLSocket;

  void ConnectToPeer() override;
  int ReadDecrypted(TIdBytes& VBuffer) override;
  int WriteEncrypted(const TIdBytes& ABuffer, int AOffset, int ALength) override;

  virtual void FireBeforeConnect();
  virtual void FireStatusInfo(const std::string& AMsg);
  virtual void FireGetPassword(std::string& Password);
  virtual void FireGetPasswordEx(std::string& VPassword, bool AIsWrite);
  virtual bool FireVerifyPeer(TIdX509* Certificate, bool AOk, int ADepth, int AError);
  virtual void StartTlsLayer();

  // Makes and initialises the context for a connect (nothing when one exists).
  void PrepareContext();
  void FreeContext();

  TIdSSLContext* fSSLContext = nullptr;
  std::unique_ptr<TIdSSLContext> fOwnedContext;
  std::unique_ptr<TIdSSLOptions_Internal> fxSSLOptions;
  std::unique_ptr<TIdSSLSocket> fSSLSocket;
  bool fSSLLayerClosed = true;
};

}  // namespace brv

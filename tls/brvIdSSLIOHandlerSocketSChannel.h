// TbrvIdSSLIOHandlerSocketSChannel: the I/O handler of the second TLS engine. It connects the
// socket like the plain stack handler, starts a TLS link over it (tls/brvSSL_SChannel.h) and
// then routes every raw read and write of the transport through that link.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/Exception.h"
#include "base/StringList.h"
#include "tls/IdSSLIOHandlerSocketBase.h"
#include "tls/brvSSL_SChannel.h"
#include "tls/brvTCP_TLS_Options.h"
#include "tls/brvWebSocket_Types.h"

namespace brv {

// A failure of the engine: the handshake or its preparation ("SChannel initialization
// error: ..."), or a record the security package refused. CertStatus holds the certificate
// policy status when verification ran (0 otherwise).
class SChannelError : public Exception {
 public:
  SChannelError(std::string AMessage, std::uint32_t AStatus)
      : Exception(std::move(AMessage)), FCertStatus(AStatus) {}
  const char* ClassName() const noexcept override { return "SChannelError"; }
  std::uint32_t CertStatus() const noexcept { return FCertStatus; }

 private:
  std::uint32_t FCertStatus;
};

class TbrvIdSSLIOHandlerSocketSChannel : public TIdSSLIOHandlerSocketBase {
 public:
  BRV_CLASS_NAME(TbrvIdSSLIOHandlerSocketSChannel)
  // PassThrough on, TLS 1.0, no verification.
  explicit TbrvIdSSLIOHandlerSocketSChannel(TComponent* aOwner = nullptr);
  ~TbrvIdSSLIOHandlerSocketSChannel() override;

  using TIdIOHandler::Write;

  // Fired (with this handler as Sender) before the link chooses client credentials: at the
  // start of each handshake, after which the "MY" store is read again, and when the server
  // asks for a client certificate.
  using TCredentialsEvent = std::function<void(TObject* Sender)>;
  TCredentialsEvent OnCredentials;

  // Verify the server's certificate chain and name after the handshake.
  bool VerifyCertificate() const { return FVerifyCertificate; }
  void SetVerifyCertificate(bool Value) { FVerifyCertificate = Value; }
  // The protocol version asked for; tlsUndefined leaves it to the security package.
  TwsTLSVersions TLSVersion() const { return FTLSVersion; }
  void SetTLSVersion(TwsTLSVersions Value) { FTLSVersion = Value; }
  // A PEM file of root certificates trusted besides the system's when verifying (empty: the
  // system's only). The TLS options' RootCertFile (and so AWS_CA_BUNDLE) arrives here.
  const std::string& RootCertFile() const { return FRootCertFile; }
  void SetRootCertFile(const std::string& Value) { FRootCertFile = Value; }

  // The protocol the server chose by ALPN; "" without a link.
  std::string GetALPNProtocol();
  // The link of the current connection (null while none runs).
  TSSLInfo* Link() const { return FSSL.get(); }

  void SetPassThrough(bool Value) override;
  // A new handler without owner, with default settings.
  std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() override;
  void StartSSL() override;
  // Frees the link (no close notification is sent), then closes the socket.
  void Close() override;
  // With a link: true once decrypted bytes, the end of the data or a failure can be read;
  // false when AMSec passes first (records without data, such as session tickets, do not
  // count). Without a link or in clear: the socket's wait.
  bool Readable(int AMSec = IdTimeoutDefault) override;
  // With a link: reads what has arrived without waiting, then whether the link is still up.
  bool Connected() override;
  // A link's failure: its time-out as 10060, a socket error by the socket handler's rule,
  // anything else as SChannelError (raised by RaiseTransportError once the handler closed).
  int CheckTransportError(int ALastResult) override;
  void RaiseTransportError(int AError) override;

 protected:
  // Connects the socket in clear (a proxy tunnel speaks in clear), then starts TLS.
  void ConnectToPeer() override;
  int ReadDecrypted(TIdBytes& VBuffer) override;
  int WriteEncrypted(const TIdBytes& ABuffer, int AOffset, int ALength) override;

  // Starts the link over the connected socket; raises SChannelError when it cannot.
  void StartLink();
  void FreeLink();
  // The name the handshake is for: the host of URIToCheck, else of the last enabled proxy in
  // the chain, else Host.
  std::string GetTargetHost();

 private:
  static void CredentialsCallBack(TSSLInfo* ALink, void* AUserData);
  // How long one socket wait of the link may last: ReadTimeout when positive, else no limit.
  int LinkTimeout() const;
  // Remembers how the last read or write of the link failed, for the error hooks.
  void NoteFailure();

  std::unique_ptr<TSSLInfo> FSSL;
  bool FVerifyCertificate = false;
  TwsTLSVersions FTLSVersion = tls1_0;
  std::string FRootCertFile;

  // The result Readable found (the end of the data or a failure), handed to the next read.
  bool FDeferred = false;
  int FDeferredResult = 0;
  // How the last read or write of the link failed.
  enum class TFailure { None, TimedOut, Socket, Security };
  TFailure FFailure = TFailure::None;
  int FFailureError = 0;
  std::string FFailureText;
};

// A handler of this engine configured from a component's TLS options (version, verification
// and the root certificates file). The TLS layer's MakeTLSHandler uses it for iohSChannel.
std::unique_ptr<TIdSSLIOHandlerSocketBase> MakeSChannelHandler(const TbrvTCPTLS_Options& AOptions,
                                                               TComponent* AOwner = nullptr);
}  // namespace brv

// The record of one TLS link of the security-package engine (tls/brvSSL_SChannel.h): its
// security handles and buffers. Kept out of the public header so that the security
// interface's declarations reach only the files that work with them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/StringList.h"
#include "tls/brvSSL_SChannel.h"
#include "tls/sspi/brvSSPI.h"
#include "transport/IdDeadline.h"

namespace brv {

// One TLS connection: its security handles, the bytes received and not yet consumed, the
// decrypted bytes not yet handed out, and one record being built for sending.
struct TSSLInfo {
  TSSLInfo() = default;
  TSSLInfo(const TSSLInfo&) = delete;
  TSSLInfo& operator=(const TSSLInfo&) = delete;
  // Releases the security handles still held.
  ~TSSLInfo();

  TSSLInit Init = 0;
  // Last security or socket status of this link (socket errors as the stack numbers them).
  std::uint32_t Error = 0;
  TCredentialsCallBack CredentialsCallBack = nullptr;
  void* UserData = nullptr;
  std::int32_t Socket = -1;
  // Target name of the handshake: the server name sent and the name the certificate must carry.
  std::string Servername;
  sspi::SCHANNEL_CRED SChannel{};
  sspi::CredHandle Credentials{};
  sspi::CtxtHandle Context{};
  std::vector<std::uint8_t> RecvBuffer;
  std::int32_t RecvCount = 0;
  std::vector<std::uint8_t> DataBuffer;
  std::int32_t DataCount = 0;
  std::int32_t DataStart = 0;
  sspi::SecPkgContext_StreamSizes BuffSizes{};
  std::vector<std::uint8_t> SendBuffer;
  // Protocols to offer by ALPN (not owned; may be null).
  const TStringList* ALPNProtocols = nullptr;
  sspi::SecPkgContext_ApplicationProtocol alpn_result{};

  // ---- additions of this platform ----
  // A PEM file of root certificates trusted besides the system's when verifying.
  std::string RootCertFile;
  // When a socket wait gives up (and the cancellation that ends it sooner); by default never.
  TIdDeadline Deadline;
  // The caller's deadline, which every wait of the link honours, a renegotiation's included.
  TIdDeadline Bound;
  // The limit of a whole handshake in milliseconds (0 or below: none); a renegotiation gets
  // it too, whatever wait the read that met the request had.
  int HandshakeTimeout = 0;
  // The last read or write failed because the deadline passed (Error is then 10060).
  bool TimedOut = false;
  // The last read or write failed on the socket (Error holds the stack's error number).
  bool SocketFailed = false;
  // The peer ended the TLS session with its close notification: no more data will come.
  bool Closed = false;

  // ---- record operations ----
  // Credentials, the first handshake token, the rest of the handshake, the certificate check
  // when asked, the record buffers. False with SChannelLastError set on failure.
  bool Start(TwsTLSVersions aVersion, bool aVerifyCertificate);
  // Frees the credentials and the context.
  void Clean();
  // One receive after the bytes already held; the count, 0 when the peer closed, -1 on error.
  int Read();
  // The handshake loop after the first token: 0 when it completed, negative on failure.
  // AReadFirst false starts from the bytes already held (a renegotiation).
  int ReadLoop(bool AReadFirst = true);
  // Sizes the record buffers for the negotiated stream; bytes already received are kept.
  bool InitBuffer();
  // The server asked for a client certificate: takes the first one from the "MY" store whose
  // chain one of the server's issuers signed.
  bool GetClientCredentials();
  // Checks the server's certificate chain and name; SChannelCertStatus gets the verdict.
  bool VerifyCertificate();
  // Makes decrypted bytes available: their count, 0 at the end of the data, -1 on failure.
  int Readable();
  // Up to Size decrypted bytes into Data: the count, 0 at the end of the data, -1 on failure.
  int Decrypt(void* Data, int Size);
  // Encrypts and sends Size bytes, one record per cbMaximumMessage bytes: Size, or the
  // failing result (-1, or the socket's result).
  int Encrypt(const void* Data, int Size);
  // The protocol the server chose by ALPN, or "".
  std::string GetALPN();

  // Sends an output token (when not empty) and frees it; false when the send failed.
  bool SendToken(sspi::SecBuffer& AToken);
  // Sends ACount bytes: the total, or the failing result (0 or less).
  int SendAll(const std::uint8_t* ABytes, int ACount);
};

}  // namespace brv

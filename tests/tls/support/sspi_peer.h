// Test helpers for the security interface layer: a throw-away PKI, an `openssl s_server` peer
// on a loopback port, and plain socket calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"
#include "tls/sspi/brvSSPI.h"

namespace brv::sspitest {

// Certificates and keys made once per test program in a temporary directory (removed at exit).
struct TestPki {
  std::string dir;
  std::string caCert, caKey;              // the test CA
  std::string serverCert, serverKey;      // localhost and 127.0.0.1, from the test CA
  std::string wrongNameCert, wrongNameKey;  // other.example, from the test CA
  std::string expiredCert, expiredKey;    // localhost, from the test CA, no longer valid
  std::string selfSignedCert, selfSignedKey;  // localhost, self-signed
  std::string otherCaCert;                // a CA nobody trusts
  std::string otherCaServerCert, otherCaServerKey;  // localhost, from that CA
  std::string clientCaCert, clientCaKey;  // the CA the server accepts client certificates from
  std::string clientCert, clientKey;      // a client certificate from it

  // The PKI of this test program, made on first use; empty dir when openssl failed.
  static const TestPki& Get();
};

using test::ReadTextFile;
using test::WriteTextFile;

// An `openssl s_server` on 127.0.0.1, stopped by the destructor.
class TlsPeer {
 public:
  TlsPeer() = default;
  TlsPeer(const TlsPeer&) = delete;
  TlsPeer& operator=(const TlsPeer&) = delete;
  ~TlsPeer();
  // Starts the server with the given extra arguments (certificate, mode, versions...) on a
  // free port; false when it did not come up.
  bool Start(const std::vector<std::string>& args);
  void Stop();
  int Port() const { return port_; }
  // What the server printed so far.
  std::string Output() const;
  // Waits (at most 20 s) until the server has printed text; false when it never did.
  bool WaitForOutput(const std::string& text) const;
  // Writes to the server's standard input (its stdin mode sends these bytes to the client,
  // "r\n" asks for a renegotiation).
  bool Input(const std::string& text);

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int stdin_ = -1;
  std::unique_ptr<testing::TTempDir> dir_;
};

using namespace sspi;

// What the tests' client contexts ask for: a stream with the provider allocating the tokens.
inline constexpr ULONG kClientRequirements = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                             ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                             ISC_REQ_EXTENDED_ERROR | ISC_REQ_STREAM;

// One step of a client handshake on an existing context: the status, the second input buffer
// (the bytes missing, or the extra ones not used) and the token to send (the caller frees it).
struct HandshakeStep {
  SECURITY_STATUS status;
  SecBuffer second;
  SecBuffer token;
};

// Feeds ASize bytes at AData (what the server sent) to the handshake of ctx.
inline HandshakeStep ContinueHandshake(PSecurityFunctionTableW t, CredHandle& cred, CtxtHandle& ctx,
                                       void* AData, std::size_t ASize) {
  SecBuffer in[2] = {{static_cast<ULONG>(ASize), SECBUFFER_TOKEN, AData},
                     {0, SECBUFFER_EMPTY, nullptr}};
  SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
  SecBuffer outBuf{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &outBuf};
  ULONG attr = 0;
  const SECURITY_STATUS s = t->InitializeSecurityContextW(&cred, &ctx, nullptr, kClientRequirements,
                                                          0, SECURITY_NATIVE_DREP, &inDesc, 0,
                                                          nullptr, &outDesc, &attr, nullptr);
  return {s, in[1], outBuf};
}

// A TCP connection to 127.0.0.1:port; -1 on failure.
int ConnectLoopback(int port);
bool SendAll(int fd, const void* data, std::size_t size);
// One recv of at most size bytes; gives up (returns -1) when nothing arrives for 30 s so a
// broken test fails instead of hanging.
ssize_t RecvSome(int fd, void* data, std::size_t size);

}  // namespace brv::sspitest

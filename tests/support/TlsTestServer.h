// Test support for the TLS handlers: a test certificate authority with the certificates the
// tests need, and an nginx serving them over TLS on loopback ports, started and stopped by the
// test.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"

namespace brv::tlstest {

using test::FindProgram;
using test::FreePort;
using test::RunProgram;

// A scratch directory removed with everything in it when the object goes.
using TempDir = testing::TTempDir;

// Certificates for the tests, signed by a test CA unless noted. Each *.pem has its *.key.
struct TestCertificates {
  explicit TestCertificates(const std::string& Dir);
  std::string Dir;
  std::string CA;          // ca.pem: the test root
  std::string Localhost;   // for DNS name "localhost"
  std::string IPDefault;   // for the address 127.0.0.1 (nginx's default server)
  std::string OtherName;   // for "other.example" only
  std::string Expired;     // for "localhost", validity ended in 2020
  std::string SelfSigned;  // for "localhost", signed by itself
  std::string Client;      // client certificate
  std::string ClientKey;   // its key, encrypted with ClientKeyPassword
  std::string ClientKeyPassword = "s3cret-Pa55";
  std::string ClientP12;  // the client certificate and key as PKCS#12, same password
};

// What every TLS port answers for GET /xml (with any query), as an SQS service would.
inline constexpr const char* kCannedXml =
    "<ListQueuesResponse><ListQueuesResult><QueueUrl>https://localhost/1/q</QueueUrl>"
    "</ListQueuesResult></ListQueuesResponse>";

// The ports of one nginx instance. Every TLS port answers GET / with one line:
// "sni=<server name> proto=<protocol> alpn=<ALPN protocol> client=<client subject>".
struct NginxPorts {
  int Main = 0;        // TLS 1.2 and 1.3; "localhost" gets Localhost, others IPDefault
  int Tls12Only = 0;   // TLS 1.2 only, Localhost
  int OtherName = 0;   // OtherName certificate
  int Expired = 0;     // Expired certificate
  int SelfSigned = 0;  // SelfSigned certificate
  int ClientCert = 0;  // requires a client certificate signed by the test CA
  int Plain = 0;       // plain HTTP
  int Stall = 0;       // TLS; GET /stall waits forever for an upstream that never answers
};

// nginx with its own prefix, configuration and logs in a scratch directory.
class Nginx {
 public:
  // Starts nginx on free loopback ports (retrying when a port was taken meanwhile). With
  // ABench the access log is off and keep-alive allows many requests per connection.
  explicit Nginx(const TestCertificates& ACerts, bool ABench = false);
  ~Nginx();
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;

  const NginxPorts& Ports() const { return ports_; }
  // Empty when nginx runs; else why it could not be started.
  const std::string& Error() const { return error_; }

 private:
  bool TryStart(const TestCertificates& ACerts, bool ABench);
  void Stop();

  TempDir dir_;
  NginxPorts ports_;
  pid_t pid_ = -1;
  int stall_listener_ = -1;
  std::string error_;
};

// A loopback listener that accepts connections and never sends a byte.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  int Port() const { return port_; }
  // True when a connection is waiting to be accepted (or was accepted) within AMSec.
  bool HasConnection(int AMSec);

 private:
  int fd_ = -1;
  int port_ = 0;
  std::vector<int> accepted_;
};

// The peers a test program shares: a scratch directory holding the test certificates, and an
// nginx serving them. Made once per program by the tests' own environment.
class TestPeers {
 public:
  explicit TestPeers(const std::string& Prefix)
      : dir_(Prefix), certs_(dir_.Path()), nginx_(certs_) {}
  const TempDir& Dir() const { return dir_; }
  const TestCertificates& Certs() const { return certs_; }
  const NginxPorts& Ports() const { return nginx_.Ports(); }
  // Empty when nginx runs; else why it could not be started.
  const std::string& Error() const { return nginx_.Error(); }

 private:
  TempDir dir_;
  TestCertificates certs_;
  Nginx nginx_;
};

}  // namespace brv::tlstest

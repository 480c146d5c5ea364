// A loopback server that misbehaves on purpose, for the fault matrix: each accepted connection
// follows the next script of steps (read a request, send exact bytes, close, reset, hold the
// connection without a word, take a TLS handshake with a chosen certificate, read the client's
// first TLS record), and the server records how each connection ended.
//
// Certificates come from FaultCertificates: a test root and two server certificates made with
// the openssl command-line tool, one for "localhost" and 127.0.0.1 and one for another name.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brv::faulttest {

// The test root and server certificates, made once per program in a scratch directory that
// is removed at exit.
struct FaultCertificates {
  std::string Dir;
  std::string CA;         // ca.pem: the root the client trusts
  std::string Localhost;  // for "localhost" and 127.0.0.1
  std::string LocalhostKey;
  std::string OtherName;  // for "other.example" only
  std::string OtherNameKey;
  std::string Error;  // empty when every file was made
  static const FaultCertificates& Get();
};

class FaultServer {
 public:
  struct Step {
    enum Kind {
      kRead,        // one request: the head and a counted body
      kSend,        // exact bytes
      kClose,       // an orderly close (FIN)
      kReset,       // an abortive close (RST)
      kHold,        // say nothing until the client closes
      kTLS,         // accept a TLS handshake; later reads and sends go through TLS
      kReadRecord,  // read one TLS record of the client (its hello), raw
    } kind;
    std::string bytes;  // kSend: the bytes; kTLS: "other" for the other name's certificate
  };
  using Script = std::vector<Step>;

  static Step Read() { return {Step::kRead, {}}; }
  static Step Send(std::string ABytes) { return {Step::kSend, std::move(ABytes)}; }
  static Step Close() { return {Step::kClose, {}}; }
  static Step Reset() { return {Step::kReset, {}}; }
  static Step Hold() { return {Step::kHold, {}}; }
  static Step TLS(bool AOtherName = false) { return {Step::kTLS, AOtherName ? "other" : ""}; }
  static Step ReadRecord() { return {Step::kReadRecord, {}}; }

  explicit FaultServer(std::vector<Script> AScripts);
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  int Port() const { return port_; }
  // "<scheme>://<host>:<port><path>".
  std::string Url(const std::string& APath = "/", const std::string& AScheme = "http",
                  const std::string& AHost = "127.0.0.1") const;
  int Connections() const { return connections_; }
  // How each finished connection ended, in order: "client closed" when the client closed it
  // while the server was waiting for it, "server closed", "reset", or "error: ..." when a step
  // failed (a handshake the client refused, a send to a closed peer).
  std::vector<std::string> Endings();
  // Waits until every script has been served (or the server gave up waiting).
  void Wait();

 private:
  struct Connection;
  void Run();
  std::string Serve(int AFd, const Script& AScript);

  int listen_fd_ = -1;
  int port_ = 0;
  std::vector<Script> scripts_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> endings_;
  std::atomic<int> connections_{0};
  std::atomic<bool> stop_{false};
};

// A loopback port on which nothing listens (it was bound and closed again).
int ClosedPort();

}  // namespace brv::faulttest

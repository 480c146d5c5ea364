// A loopback server for tests that speaks from a script: it listens on a port the OS picks,
// serves each accepted connection with the next script of steps (read a request, send exact
// bytes, trickle them, pause, close, reset, hold the connection without a word, take a TLS
// handshake, read the client's first TLS record), records every request exactly as the client
// sent it and how each connection ended.
//
// The TLS steps use the test root and server certificates of ServerCertificates
// (tests/support/Certificates.h).
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brv::test {

class ScriptedServer {
 public:
  // One step of a connection's script.
  struct Step {
    enum Kind {
      kRead,        // one request: the head and a counted body, recorded
      kSend,        // exact bytes
      kTrickle,     // exact bytes, one at a time
      kSleep,       // a pause of `bytes` milliseconds
      kClose,       // an orderly close (FIN), then wait for the client to close
      kReset,       // an abortive close (RST)
      kHold,        // say nothing until the client closes
      kTLS,         // accept a TLS handshake; later reads and sends go through TLS
      kReadRecord,  // read one TLS record of the client (its hello), raw
    } kind;
    std::string bytes;  // kSend/kTrickle: the bytes; kSleep: milliseconds; kTLS: "other"
  };
  using Script = std::vector<Step>;

  static Step Read() { return {Step::kRead, {}}; }
  static Step Send(std::string ABytes) { return {Step::kSend, std::move(ABytes)}; }
  static Step Trickle(std::string ABytes) { return {Step::kTrickle, std::move(ABytes)}; }
  static Step Sleep(int AMilliseconds) { return {Step::kSleep, std::to_string(AMilliseconds)}; }
  static Step Close() { return {Step::kClose, {}}; }
  static Step Reset() { return {Step::kReset, {}}; }
  static Step Hold() { return {Step::kHold, {}}; }
  // With AOtherName the server shows the certificate for "other.example".
  static Step TLS(bool AOtherName = false) { return {Step::kTLS, AOtherName ? "other" : ""}; }
  static Step ReadRecord() { return {Step::kReadRecord, {}}; }
  // Reads a request and answers with the next response, for each response (the connection
  // stays open).
  static Script Exchange(std::vector<std::string> AResponses);

  // Serves each accepted connection with the next script, in order. A connection still open
  // when its script ends is kept until the client closes it.
  explicit ScriptedServer(std::vector<Script> AScripts);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return port_; }
  // "<scheme>://<host>:<port><path>".
  std::string Url(const std::string& APath = "/", const std::string& AScheme = "http",
                  const std::string& AHost = "127.0.0.1") const;
  // Every request read, in order, exactly as sent (head and body).
  std::vector<std::string> Requests();
  // Number of connections accepted so far.
  int Connections() const { return connections_; }
  // How each finished connection ended, in order: "client closed" when the client closed it
  // while the server was waiting for it, "server closed", "reset", or "error: ..." when a step
  // failed (no request, a handshake the client refused, a send to a closed peer).
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
  std::vector<std::string> requests_;
  std::vector<std::string> endings_;
  std::atomic<int> connections_{0};
  std::atomic<bool> stop_{false};
};

}  // namespace brv::test

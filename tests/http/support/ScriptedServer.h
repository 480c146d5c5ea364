// A loopback HTTP server for tests: it listens on a port the OS picks, reads each request
// (head and a counted body), answers with exact bytes from a script and records what the
// client sent.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace brv::test {

class ScriptedServer {
 public:
  // One step of a connection's script.
  struct Step {
    enum Kind { kReadRequest, kSend, kClose, kSendSlowly, kSleep } kind;
    std::string bytes;  // for kSend / kSendSlowly
  };
  using Script = std::vector<Step>;

  // Builders for scripts.
  static Step Read() { return {Step::kReadRequest, {}}; }
  static Step Send(std::string ABytes) { return {Step::kSend, std::move(ABytes)}; }
  // Sends one byte at a time.
  static Step Trickle(std::string ABytes) { return {Step::kSendSlowly, std::move(ABytes)}; }
  static Step Close() { return {Step::kClose, {}}; }
  // Pauses for AMilliseconds.
  static Step Sleep(int AMilliseconds) { return {Step::kSleep, std::to_string(AMilliseconds)}; }
  // Reads a request and answers with AResponse (the connection stays open).
  static Script Exchange(std::vector<std::string> AResponses);

  // Serves each accepted connection with the next script, in order. A connection still
  // open when its script ends is read until the client closes it.
  explicit ScriptedServer(std::vector<Script> AScripts);
  ~ScriptedServer();

  int Port() const { return port_; }
  std::string Url(const std::string& APath = "/") const;
  // Every request received, in order, exactly as sent (head and body).
  std::vector<std::string> Requests();
  // Number of connections accepted so far.
  int Connections() const { return connections_; }
  // Waits until the server thread has served every script (or gave up).
  void Wait();

 private:
  void Run();
  bool ReadRequest(int AFd, std::string& APending);

  int listen_fd_ = -1;
  int port_ = 0;
  std::vector<Script> scripts_;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
  std::atomic<int> connections_{0};
  std::atomic<bool> stop_{false};
};

}  // namespace brv::test

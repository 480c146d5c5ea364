// A small TCP server for tests: it listens on the loopback address on a port the OS picks and
// runs a handler for each connection it accepts, on its own thread, one connection after the
// other. It speaks plain POSIX sockets, so it is a peer independent of the code under test.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

namespace brv::test {

class TLoopbackServer {
 public:
  // Runs for each accepted connection with its socket; the socket is closed afterwards.
  using THandler = std::function<void(TLoopbackServer& AServer, int ASocket)>;

  explicit TLoopbackServer(THandler AHandler, bool AIPv6 = false, int ABacklog = 16);
  // Stops accepting, wakes a handler waiting in WaitForStop, and joins the thread.
  ~TLoopbackServer();
  TLoopbackServer(const TLoopbackServer&) = delete;
  TLoopbackServer& operator=(const TLoopbackServer&) = delete;

  std::uint16_t Port() const { return FPort; }
  // "127.0.0.1" or "::1".
  std::string Host() const { return FIPv6 ? "::1" : "127.0.0.1"; }
  int Accepted() const { return FAccepted.load(); }
  // Blocks a handler until the server is being stopped (a peer that stalls).
  void WaitForStop();
  // Blocks until ASocket is readable or the server is being stopped; true when readable.
  bool WaitReadable(int ASocket);

 private:
  void Run();

  THandler FHandler;
  bool FIPv6;
  int FListener = -1;
  int FWake[2] = {-1, -1};
  std::uint16_t FPort = 0;
  std::atomic<int> FAccepted{0};
  std::thread FThread;
};

// Plain socket helpers for handlers.
bool SendAll(int ASocket, const void* AData, std::size_t ACount);
bool SendAll(int ASocket, const std::string& AText);
// Receives until the peer closes (or an error).
std::string ReceiveAll(int ASocket);
// Receives up to and including the next LF (or until the peer closes).
std::string ReceiveLine(int ASocket);
// Makes a close send a reset instead of a graceful FIN.
void SetLingerZero(int ASocket);

}  // namespace brv::test

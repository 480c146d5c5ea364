#include "support/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace brv::test {

TLoopbackServer::TLoopbackServer(THandler AHandler, bool AIPv6, int ABacklog)
    : FHandler(std::move(AHandler)), FIPv6(AIPv6) {
  if (::pipe(FWake) != 0) throw std::runtime_error("pipe failed");
  FListener = ::socket(AIPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (FListener < 0) throw std::runtime_error("socket failed");
  sockaddr_storage addr{};
  socklen_t len;
  if (AIPv6) {
    auto* sin6 = reinterpret_cast<sockaddr_in6*>(&addr);
    sin6->sin6_family = AF_INET6;
    sin6->sin6_addr = in6addr_loopback;
    len = sizeof(sockaddr_in6);
  } else {
    auto* sin = reinterpret_cast<sockaddr_in*>(&addr);
    sin->sin_family = AF_INET;
    sin->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    len = sizeof(sockaddr_in);
  }
  if (::bind(FListener, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      ::listen(FListener, ABacklog) != 0 ||
      ::getsockname(FListener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    throw std::runtime_error(std::string("listen failed: ") + std::strerror(errno));
  }
  FPort = ntohs(AIPv6 ? reinterpret_cast<sockaddr_in6*>(&addr)->sin6_port
                      : reinterpret_cast<sockaddr_in*>(&addr)->sin_port);
  FThread = std::thread([this] { Run(); });
}

TLoopbackServer::~TLoopbackServer() {
  const char stop = 'x';
  [[maybe_unused]] const ssize_t written = ::write(FWake[1], &stop, 1);
  FThread.join();
  ::close(FListener);
  ::close(FWake[0]);
  ::close(FWake[1]);
}

void TLoopbackServer::Run() {
  while (true) {
    pollfd fds[2] = {{FListener, POLLIN, 0}, {FWake[0], POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    const int client = ::accept4(FListener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    ++FAccepted;
    try {
      FHandler(*this, client);
    } catch (...) {
      // A handler that fails only ends its connection.
    }
    ::close(client);
  }
}

void TLoopbackServer::WaitForStop() {
  pollfd fd{FWake[0], POLLIN, 0};
  while (::poll(&fd, 1, -1) < 0 && errno == EINTR) {
  }
}

bool TLoopbackServer::WaitReadable(int ASocket) {
  while (true) {
    pollfd fds[2] = {{ASocket, POLLIN, 0}, {FWake[0], POLLIN, 0}};
    const int result = ::poll(fds, 2, -1);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0 || fds[1].revents != 0) return false;
    if (fds[0].revents != 0) return true;
  }
}

bool SendAll(int ASocket, const void* AData, std::size_t ACount) {
  const auto* p = static_cast<const char*>(AData);
  while (ACount > 0) {
    const ssize_t n = ::send(ASocket, p, ACount, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    ACount -= static_cast<std::size_t>(n);
  }
  return true;
}

bool SendAll(int ASocket, const std::string& AText) {
  return SendAll(ASocket, AText.data(), AText.size());
}

std::string ReceiveAll(int ASocket) {
  std::string result;
  char chunk[65536];
  while (true) {
    const ssize_t n = ::recv(ASocket, chunk, sizeof chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return result;
    result.append(chunk, static_cast<std::size_t>(n));
  }
}

std::string ReceiveLine(int ASocket) {
  std::string result;
  char c;
  while (true) {
    const ssize_t n = ::recv(ASocket, &c, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return result;
    result += c;
    if (c == '\n') return result;
  }
}

void SetLingerZero(int ASocket) {
  linger option{1, 0};
  ::setsockopt(ASocket, SOL_SOCKET, SO_LINGER, &option, sizeof option);
}

}  // namespace brv::test

#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace brv::test {

namespace {

bool SendAll(int AFd, const char* AData, size_t ASize) {
  while (ASize > 0) {
    const ssize_t n = ::send(AFd, AData, ASize, MSG_NOSIGNAL);
    if (n <= 0) return false;
    AData += n;
    ASize -= static_cast<size_t>(n);
  }
  return true;
}

// Waits up to 10 s for readable data; false on time-out or when stopping.
bool WaitReadable(int AFd) {
  pollfd p{AFd, POLLIN, 0};
  return ::poll(&p, 1, 10000) > 0;
}

}  // namespace

ScriptedServer::Script ScriptedServer::Exchange(std::vector<std::string> AResponses) {
  Script s;
  for (auto& r : AResponses) {
    s.push_back(Read());
    s.push_back(Send(std::move(r)));
  }
  return s;
}

ScriptedServer::ScriptedServer(std::vector<Script> AScripts) : scripts_(std::move(AScripts)) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 16) != 0)
    throw std::runtime_error("ScriptedServer: cannot listen");
  socklen_t len = sizeof addr;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  ::shutdown(listen_fd_, SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  ::close(listen_fd_);
}

std::string ScriptedServer::Url(const std::string& APath) const {
  return "http://127.0.0.1:" + std::to_string(port_) + APath;
}

std::vector<std::string> ScriptedServer::Requests() {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_;
}

void ScriptedServer::Wait() {
  if (thread_.joinable()) thread_.join();
}

bool ScriptedServer::ReadRequest(int AFd, std::string& APending) {
  // The head up to the empty line, then as many body bytes as Content-Length says.
  size_t end;
  while ((end = APending.find("\r\n\r\n")) == std::string::npos) {
    if (!WaitReadable(AFd)) return false;
    char buf[4096];
    const ssize_t n = ::recv(AFd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    APending.append(buf, static_cast<size_t>(n));
  }
  size_t total = end + 4;
  std::string lower = APending.substr(0, end);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t cl = lower.find("\r\ncontent-length:");
  if (cl != std::string::npos) total += std::strtoul(lower.c_str() + cl + 17, nullptr, 10);
  while (APending.size() < total) {
    if (!WaitReadable(AFd)) return false;
    char buf[4096];
    const ssize_t n = ::recv(AFd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    APending.append(buf, static_cast<size_t>(n));
  }
  {
    std::lock_guard<std::mutex> guard(mutex_);
    requests_.push_back(APending.substr(0, total));
  }
  APending.erase(0, total);
  return true;
}

void ScriptedServer::Run() {
  for (const Script& script : scripts_) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0 || stop_) return;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    ++connections_;
    std::string pending;
    bool open = true;
    for (const Step& step : script) {
      if (!open) break;
      switch (step.kind) {
        case Step::kReadRequest:
          open = ReadRequest(fd, pending);
          break;
        case Step::kSend:
          open = SendAll(fd, step.bytes.data(), step.bytes.size());
          break;
        case Step::kSendSlowly:
          for (char c : step.bytes) {
            if (!SendAll(fd, &c, 1)) {
              open = false;
              break;
            }
            ::usleep(200);
          }
          break;
        case Step::kClose:
          open = false;
          break;
        case Step::kSleep:
          ::usleep(static_cast<useconds_t>(std::stoi(step.bytes)) * 1000);
          break;
      }
    }
    if (open) {
      // Keep the connection until the client closes it (or the test ends).
      char buf[4096];
      while (!stop_ && WaitReadable(fd) && ::recv(fd, buf, sizeof buf, 0) > 0) {
      }
    }
    ::close(fd);
  }
}

}  // namespace brv::test

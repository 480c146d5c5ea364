#include "support/ScriptedServer.h"

#include <arpa/inet.h>
#include <gnutls/gnutls.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

#include "tests/support/Certificates.h"

namespace brv::test {

namespace {

// How long the server waits for a client before it gives up on a step.
constexpr int kWaitMs = 15000;

bool WaitReadable(int AFd, int AMs) {
  pollfd p{AFd, POLLIN, 0};
  return ::poll(&p, 1, AMs) > 0;
}

}  // namespace

// One connection being served: the socket and, after a kTLS step, its TLS session.
struct ScriptedServer::Connection {
  int fd = -1;
  gnutls_session_t session = nullptr;
  gnutls_certificate_credentials_t credentials = nullptr;
  std::string pending;

  ~Connection() {
    if (session != nullptr) gnutls_deinit(session);
    if (credentials != nullptr) gnutls_certificate_free_credentials(credentials);
  }

  // Appends what arrives within the wait to pending; false at the end of the data or on error.
  bool Receive() {
    if (session == nullptr || gnutls_record_check_pending(session) == 0) {
      if (!WaitReadable(fd, kWaitMs)) return false;
    }
    char buf[16384];
    ssize_t n;
    if (session != nullptr) {
      do {
        n = gnutls_record_recv(session, buf, sizeof buf);
      } while (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED);
    } else {
      n = ::recv(fd, buf, sizeof buf, 0);
    }
    if (n <= 0) return false;
    pending.append(buf, static_cast<size_t>(n));
    return true;
  }

  bool SendAll(const char* AData, size_t ASize) {
    size_t done = 0;
    while (done < ASize) {
      ssize_t n;
      if (session != nullptr) {
        do {
          n = gnutls_record_send(session, AData + done, ASize - done);
        } while (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED);
      } else {
        n = ::send(fd, AData + done, ASize - done, MSG_NOSIGNAL);
      }
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // The head up to the empty line and as many body bytes as Content-Length says; the request
  // goes to ARequest.
  bool ReadRequest(std::string& ARequest) {
    size_t end;
    while ((end = pending.find("\r\n\r\n")) == std::string::npos)
      if (!Receive()) return false;
    size_t total = end + 4;
    std::string head = pending.substr(0, end);
    for (char& ch : head) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    const size_t cl = head.find("\r\ncontent-length:");
    if (cl != std::string::npos) total += std::strtoul(head.c_str() + cl + 17, nullptr, 10);
    while (pending.size() < total)
      if (!Receive()) return false;
    ARequest = pending.substr(0, total);
    pending.erase(0, total);
    return true;
  }

  // One raw TLS record: the five-byte header and the length it gives.
  bool ReadRecord() {
    while (pending.size() < 5)
      if (!Receive()) return false;
    const size_t total = 5 + ((static_cast<unsigned char>(pending[3]) << 8) |
                              static_cast<unsigned char>(pending[4]));
    while (pending.size() < total)
      if (!Receive()) return false;
    pending.erase(0, total);
    return true;
  }

  std::string Handshake(bool AOtherName) {
    const ServerCertificates& certs = ServerCertificates::Get();
    if (!certs.Error.empty()) return "error: " + certs.Error;
    gnutls_certificate_allocate_credentials(&credentials);
    const KeyPair& pair = AOtherName ? certs.OtherName : certs.Localhost;
    if (gnutls_certificate_set_x509_key_file(credentials, pair.Cert.c_str(), pair.Key.c_str(),
                                             GNUTLS_X509_FMT_PEM) < 0)
      return "error: cannot load " + pair.Cert;
    gnutls_init(&session, GNUTLS_SERVER);
    gnutls_set_default_priority(session);
    gnutls_credentials_set(session, GNUTLS_CRD_CERTIFICATE, credentials);
    gnutls_transport_set_int(session, fd);
    gnutls_handshake_set_timeout(session, kWaitMs);
    int rc;
    do {
      rc = gnutls_handshake(session);
    } while (rc < 0 && gnutls_error_is_fatal(rc) == 0);
    if (rc < 0) return std::string("error: handshake: ") + gnutls_strerror(rc);
    return {};
  }

  // Waits for the client to close, draining whatever it sends.
  std::string Hold(const std::atomic<bool>& AStop) {
    char buf[16384];
    for (int waited = 0; waited < 60000 && !AStop; waited += 100) {
      if (!WaitReadable(fd, 100)) continue;
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n == 0) return "client closed";
      if (n < 0) return "client reset";
    }
    return "error: the client never closed";
  }
};

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

std::string ScriptedServer::Url(const std::string& APath, const std::string& AScheme,
                                const std::string& AHost) const {
  return AScheme + "://" + AHost + ":" + std::to_string(port_) + APath;
}

std::vector<std::string> ScriptedServer::Requests() {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_;
}

std::vector<std::string> ScriptedServer::Endings() {
  std::lock_guard<std::mutex> guard(mutex_);
  return endings_;
}

void ScriptedServer::Wait() {
  if (thread_.joinable()) thread_.join();
}

void ScriptedServer::Run() {
  for (const Script& script : scripts_) {
    if (!WaitReadable(listen_fd_, 20000) || stop_) return;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    ++connections_;
    const std::string ending = Serve(fd, script);
    std::lock_guard<std::mutex> guard(mutex_);
    endings_.push_back(ending);
  }
}

std::string ScriptedServer::Serve(int AFd, const Script& AScript) {
  Connection c;
  c.fd = AFd;
  std::string ending;
  for (const Step& step : AScript) {
    switch (step.kind) {
      case Step::kRead: {
        std::string request;
        if (c.ReadRequest(request)) {
          std::lock_guard<std::mutex> guard(mutex_);
          requests_.push_back(std::move(request));
        } else {
          ending = "error: no request";
        }
        break;
      }
      case Step::kReadRecord:
        if (!c.ReadRecord()) ending = "error: no TLS record";
        break;
      case Step::kSend:
        if (!c.SendAll(step.bytes.data(), step.bytes.size())) ending = "error: send failed";
        break;
      case Step::kTrickle:
        for (char ch : step.bytes) {
          if (!c.SendAll(&ch, 1)) {
            ending = "error: send failed";
            break;
          }
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        break;
      case Step::kSleep:
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(step.bytes)));
        break;
      case Step::kTLS:
        ending = c.Handshake(step.bytes == "other");
        break;
      case Step::kClose:
        ::shutdown(AFd, SHUT_WR);
        // Let the client see the end of the data before the socket goes.
        c.Hold(stop_);
        ending = "server closed";
        break;
      case Step::kReset: {
        linger abortive{1, 0};
        ::setsockopt(AFd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        ending = "reset";
        break;
      }
      case Step::kHold:
        ending = c.Hold(stop_);
        break;
    }
    if (!ending.empty()) break;
  }
  // A connection still open when its script ends is kept until the client closes it.
  if (ending.empty()) ending = c.Hold(stop_);
  ::close(AFd);
  return ending;
}

}  // namespace brv::test

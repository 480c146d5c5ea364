#include "support/fault_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gnutls/gnutls.h>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace brv::faulttest {

namespace {

namespace fs = std::filesystem;

// How long the server waits for a client before it gives up on a step.
constexpr int kWaitMs = 15000;

// Runs a program found in PATH with its output discarded; true when it exits with 0.
bool Run(const std::vector<std::string>& AArgs) {
  std::vector<char*> argv;
  for (const auto& a : AArgs) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The scratch directory of the certificates, removed when the program ends.
struct ScratchDir {
  std::string path;
  ScratchDir() {
    char name[] = "/tmp/brv-fault-certs-XXXXXX";
    if (::mkdtemp(name) != nullptr) path = name;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path.empty()) fs::remove_all(path, ignored);
  }
};

FaultCertificates MakeCertificates() {
  static ScratchDir scratch;
  FaultCertificates c;
  c.Dir = scratch.path;
  if (c.Dir.empty()) {
    c.Error = "no scratch directory";
    return c;
  }
  auto file = [&](const char* name) { return c.Dir + "/" + name; };
  c.CA = file("ca.pem");
  c.Localhost = file("localhost.pem");
  c.LocalhostKey = file("localhost.key");
  c.OtherName = file("other.pem");
  c.OtherNameKey = file("other.key");
  const std::vector<std::string> ec = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                       "-nodes"};
  auto req = [&](std::vector<std::string> args) {
    std::vector<std::string> all = {"openssl", "req"};
    all.insert(all.end(), ec.begin(), ec.end());
    all.insert(all.end(), args.begin(), args.end());
    return Run(all);
  };
  if (!req({"-x509", "-days", "3650", "-subj", "/CN=Fault Matrix Test Root", "-keyout",
            file("ca.key"), "-out", c.CA, "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
            "keyUsage=critical,keyCertSign,cRLSign"})) {
    c.Error = "openssl could not make the test root";
    return c;
  }
  auto leaf = [&](const std::string& AName, const std::string& AAltNames, const std::string& APem,
                  const std::string& AKey) {
    const std::string ext = c.Dir + "/" + AName + ".ext";
    std::ofstream(ext) << "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                          "extendedKeyUsage=serverAuth\nsubjectAltName="
                       << AAltNames << "\n";
    const std::string csr = c.Dir + "/" + AName + ".csr";
    return req({"-subj", "/CN=" + AName, "-keyout", AKey, "-out", csr}) &&
           Run({"openssl", "x509", "-req", "-in", csr, "-CA", c.CA, "-CAkey", file("ca.key"),
                "-CAcreateserial", "-days", "3650", "-extfile", ext, "-out", APem});
  };
  if (!leaf("localhost", "DNS:localhost,IP:127.0.0.1", c.Localhost, c.LocalhostKey) ||
      !leaf("other.example", "DNS:other.example", c.OtherName, c.OtherNameKey))
    c.Error = "openssl could not make the server certificates";
  return c;
}

bool WaitReadable(int AFd, int AMs) {
  pollfd p{AFd, POLLIN, 0};
  return ::poll(&p, 1, AMs) > 0;
}

}  // namespace

const FaultCertificates& FaultCertificates::Get() {
  static const FaultCertificates certificates = MakeCertificates();
  return certificates;
}

int ClosedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    throw std::runtime_error("ClosedPort: cannot bind");
  }
  ::close(fd);
  return ntohs(addr.sin_port);
}

// One connection being served: the socket and, after a kTLS step, its TLS session.
struct FaultServer::Connection {
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

  bool SendAll(const std::string& ABytes) {
    size_t done = 0;
    while (done < ABytes.size()) {
      ssize_t n;
      if (session != nullptr) {
        do {
          n = gnutls_record_send(session, ABytes.data() + done, ABytes.size() - done);
        } while (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED);
      } else {
        n = ::send(fd, ABytes.data() + done, ABytes.size() - done, MSG_NOSIGNAL);
      }
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

  // The head up to the empty line and as many body bytes as Content-Length says.
  bool ReadRequest() {
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

  std::string Handshake(const FaultCertificates& ACerts, bool AOtherName) {
    if (!ACerts.Error.empty()) return "error: " + ACerts.Error;
    gnutls_certificate_allocate_credentials(&credentials);
    const std::string& cert = AOtherName ? ACerts.OtherName : ACerts.Localhost;
    const std::string& key = AOtherName ? ACerts.OtherNameKey : ACerts.LocalhostKey;
    if (gnutls_certificate_set_x509_key_file(credentials, cert.c_str(), key.c_str(),
                                             GNUTLS_X509_FMT_PEM) < 0)
      return "error: cannot load " + cert;
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

FaultServer::FaultServer(std::vector<Script> AScripts) : scripts_(std::move(AScripts)) {
  listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listen_fd_ < 0 || ::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_fd_, 16) != 0)
    throw std::runtime_error("FaultServer: cannot listen");
  socklen_t len = sizeof addr;
  ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { Run(); });
}

FaultServer::~FaultServer() {
  stop_ = true;
  ::shutdown(listen_fd_, SHUT_RDWR);
  if (thread_.joinable()) thread_.join();
  ::close(listen_fd_);
}

std::string FaultServer::Url(const std::string& APath, const std::string& AScheme,
                             const std::string& AHost) const {
  return AScheme + "://" + AHost + ":" + std::to_string(port_) + APath;
}

std::vector<std::string> FaultServer::Endings() {
  std::lock_guard<std::mutex> guard(mutex_);
  return endings_;
}

void FaultServer::Wait() {
  if (thread_.joinable()) thread_.join();
}

void FaultServer::Run() {
  for (const Script& script : scripts_) {
    if (!WaitReadable(listen_fd_, kWaitMs) || stop_) return;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    ++connections_;
    const std::string ending = Serve(fd, script);
    std::lock_guard<std::mutex> guard(mutex_);
    endings_.push_back(ending);
  }
}

std::string FaultServer::Serve(int AFd, const Script& AScript) {
  Connection c;
  c.fd = AFd;
  std::string ending;
  for (const Step& step : AScript) {
    switch (step.kind) {
      case Step::kRead:
        if (!c.ReadRequest()) ending = "error: no request";
        break;
      case Step::kReadRecord:
        if (!c.ReadRecord()) ending = "error: no TLS record";
        break;
      case Step::kSend:
        if (!c.SendAll(step.bytes)) ending = "error: send failed";
        break;
      case Step::kTLS:
        ending = c.Handshake(FaultCertificates::Get(), step.bytes == "other");
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

}  // namespace brv::faulttest

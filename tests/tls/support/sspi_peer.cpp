#include "support/sspi_peer.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/Certificates.h"
#include "tests/support/Programs.h"

namespace brv::sspitest {

const TestPki& TestPki::Get() {
  // The folder is removed when the program ends.
  static std::unique_ptr<testing::TTempDir> dir;
  static const TestPki pki = [] {
    TestPki p;
    try {
      dir = std::make_unique<testing::TTempDir>("brv-sspi");
      const test::CertificateMaker maker(dir->Path());
      const test::CertificateRequest server{"localhost", "DNS:localhost,IP:127.0.0.1", "serverAuth",
                                            false};
      const test::KeyPair ca = maker.Root("ca", "Brv Test CA");
      p.caCert = ca.Cert, p.caKey = ca.Key;
      const test::KeyPair good = maker.Issue(ca, "server", server);
      p.serverCert = good.Cert, p.serverKey = good.Key;
      const test::KeyPair wrong =
          maker.Issue(ca, "wrongname", {"other.example", "DNS:other.example", "serverAuth", false});
      p.wrongNameCert = wrong.Cert, p.wrongNameKey = wrong.Key;
      test::CertificateRequest old = server;
      old.Expired = true;
      const test::KeyPair expired = maker.Issue(ca, "expired", old);
      p.expiredCert = expired.Cert, p.expiredKey = expired.Key;
      const test::KeyPair self = maker.SelfSigned("selfsigned", server);
      p.selfSignedCert = self.Cert, p.selfSignedKey = self.Key;
      const test::KeyPair otherCa = maker.Root("otherca", "Brv Untrusted CA");
      p.otherCaCert = otherCa.Cert;
      const test::KeyPair otherServer = maker.Issue(otherCa, "otherca-server", server);
      p.otherCaServerCert = otherServer.Cert, p.otherCaServerKey = otherServer.Key;
      const test::KeyPair clientCa = maker.Root("clientca", "Brv Client CA");
      p.clientCaCert = clientCa.Cert, p.clientCaKey = clientCa.Key;
      const test::KeyPair client =
          maker.Issue(clientCa, "client", {"brv-client", "", "clientAuth", false});
      p.clientCert = client.Cert, p.clientKey = client.Key;
      p.dir = dir->Path();
    } catch (const std::exception&) {
      return TestPki();
    }
    return p;
  }();
  return pki;
}

// ---- TlsPeer ----------------------------------------------------------------------------------

TlsPeer::~TlsPeer() { Stop(); }

bool TlsPeer::Start(const std::vector<std::string>& args) {
  Stop();
  dir_ = std::make_unique<testing::TTempDir>("brv-sspi-peer");
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = test::FreePort();
    std::vector<std::string> argv{"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port_)};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string out = dir_->File("out.txt");
    int in[2];
    if (pipe(in) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      close(in[0]);
      close(in[1]);
      int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fd, 1);
      dup2(fd, 2);
      if (chdir(dir_->Path().c_str()) != 0) _exit(126);
      std::vector<char*> cargv;
      for (auto& a : argv) cargv.push_back(a.data());
      cargv.push_back(nullptr);
      execvp("openssl", cargv.data());
      _exit(127);
    }
    close(in[0]);
    stdin_ = in[1];
    fcntl(stdin_, F_SETFD, FD_CLOEXEC);
    // Up when it says so; gone when it could not bind.
    for (int i = 0; i < 400; ++i) {
      if (ReadTextFile(out).find("ACCEPT") != std::string::npos) return true;
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    Stop();
    dir_ = std::make_unique<testing::TTempDir>("brv-sspi-peer");
  }
  return false;
}

void TlsPeer::Stop() {
  if (stdin_ >= 0) {
    close(stdin_);
    stdin_ = -1;
  }
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  dir_.reset();
}

std::string TlsPeer::Output() const { return dir_ ? ReadTextFile(dir_->File("out.txt")) : std::string(); }

bool TlsPeer::WaitForOutput(const std::string& text) const {
  for (int i = 0; i < 800; ++i) {
    if (Output().find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

bool TlsPeer::Input(const std::string& text) {
  return stdin_ >= 0 && write(stdin_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

// ---- Sockets ----------------------------------------------------------------------------------

int ConnectLoopback(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = send(fd, p, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

ssize_t RecvSome(int fd, void* data, std::size_t size) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 30000) <= 0) return -1;
  return recv(fd, data, size, 0);
}

}  // namespace brv::sspitest

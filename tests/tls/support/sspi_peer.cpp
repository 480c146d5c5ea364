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

namespace brv::sspitest {

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "brv-sspi-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return {};
  return pattern;
}

void RemoveTree(const std::string& path) {
  std::error_code ec;
  if (!path.empty()) std::filesystem::remove_all(path, ec);
}

void WriteTextFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

namespace {

struct PkiHolder {
  TestPki pki;
  ~PkiHolder() { RemoveTree(pki.dir); }
};

const char* kQuiet = " >/dev/null 2>&1";

bool MakeKey(const std::string& key) {
  return Run("openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:prime256v1 -out '" + key + "'" + kQuiet);
}

bool MakeCa(const std::string& dir, const std::string& name, const std::string& cert, const std::string& key) {
  return MakeKey(key) &&
         Run("openssl req -x509 -new -key '" + key + "' -out '" + cert + "' -days 30 -subj '/CN=" + name +
             "' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign" + kQuiet) &&
         !dir.empty();
}

bool MakeLeaf(const std::string& dir, const std::string& cn, const std::string& ext, const std::string& caCert,
              const std::string& caKey, const std::string& days, const std::string& cert, const std::string& key) {
  const std::string csr = cert + ".csr";
  const std::string extFile = cert + ".ext";
  WriteTextFile(extFile, ext);
  return MakeKey(key) &&
         Run("openssl req -new -key '" + key + "' -out '" + csr + "' -subj '/CN=" + cn + "'" + kQuiet) &&
         Run("openssl x509 -req -in '" + csr + "' -CA '" + caCert + "' -CAkey '" + caKey +
             "' -CAcreateserial -CAserial '" + dir + "/serial' -days " + days + " -out '" + cert + "' -extfile '" +
             extFile + "'" + kQuiet);
}

}  // namespace

const TestPki& TestPki::Get() {
  static PkiHolder holder;
  static bool made = [] {
    TestPki& p = holder.pki;
    const std::string d = MakeTempDir();
    if (d.empty()) return false;
    p.dir = d;
    auto at = [&](const char* name) { return d + "/" + name; };
    const std::string serverExt = "subjectAltName=DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\n";
    p.caCert = at("ca.pem"), p.caKey = at("ca.key");
    p.serverCert = at("server.pem"), p.serverKey = at("server.key");
    p.wrongNameCert = at("wrongname.pem"), p.wrongNameKey = at("wrongname.key");
    p.expiredCert = at("expired.pem"), p.expiredKey = at("expired.key");
    p.selfSignedCert = at("selfsigned.pem"), p.selfSignedKey = at("selfsigned.key");
    p.otherCaCert = at("otherca.pem");
    p.otherCaServerCert = at("otherca-server.pem"), p.otherCaServerKey = at("otherca-server.key");
    p.clientCaCert = at("clientca.pem"), p.clientCaKey = at("clientca.key");
    p.clientCert = at("client.pem"), p.clientKey = at("client.key");
    const bool ok =
        MakeCa(d, "Brv Test CA", p.caCert, p.caKey) &&
        MakeLeaf(d, "localhost", serverExt, p.caCert, p.caKey, "30", p.serverCert, p.serverKey) &&
        MakeLeaf(d, "other.example", "subjectAltName=DNS:other.example\nextendedKeyUsage=serverAuth\n", p.caCert,
                 p.caKey, "30", p.wrongNameCert, p.wrongNameKey) &&
        MakeLeaf(d, "localhost", serverExt, p.caCert, p.caKey, "-1", p.expiredCert, p.expiredKey) &&
        MakeKey(p.selfSignedKey) &&
        Run("openssl req -x509 -new -key '" + p.selfSignedKey + "' -out '" + p.selfSignedCert +
            "' -days 30 -subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1" + kQuiet) &&
        MakeCa(d, "Brv Untrusted CA", p.otherCaCert, at("otherca.key")) &&
        MakeLeaf(d, "localhost", serverExt, p.otherCaCert, at("otherca.key"), "30", p.otherCaServerCert,
                 p.otherCaServerKey) &&
        MakeCa(d, "Brv Client CA", p.clientCaCert, p.clientCaKey) &&
        MakeLeaf(d, "brv-client", "extendedKeyUsage=clientAuth\n", p.clientCaCert, p.clientCaKey, "30",
                 p.clientCert, p.clientKey);
    return ok;
  }();
  static TestPki empty;
  return made ? holder.pki : empty;
}

// ---- TlsPeer ----------------------------------------------------------------------------------

namespace {

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

}  // namespace

TlsPeer::~TlsPeer() { Stop(); }

bool TlsPeer::Start(const std::vector<std::string>& args) {
  Stop();
  dir_ = MakeTempDir();
  if (dir_.empty()) return false;
  for (int attempt = 0; attempt < 5; ++attempt) {
    port_ = FreePort();
    if (port_ == 0) continue;
    std::vector<std::string> argv{"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port_)};
    argv.insert(argv.end(), args.begin(), args.end());
    const std::string out = dir_ + "/out.txt";
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
      if (chdir(dir_.c_str()) != 0) _exit(126);
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
    dir_ = MakeTempDir();
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
  RemoveTree(dir_);
  dir_.clear();
}

std::string TlsPeer::Output() const { return dir_.empty() ? std::string() : ReadTextFile(dir_ + "/out.txt"); }

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

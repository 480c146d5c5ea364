#include "TlsTestServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace brv::tlstest {

namespace fs = std::filesystem;

std::string FindProgram(const std::string& Name) {
  std::vector<std::string> dirs;
  if (const char* path = std::getenv("PATH")) {
    std::stringstream ss(path);
    std::string dir;
    while (std::getline(ss, dir, ':'))
      if (!dir.empty()) dirs.push_back(dir);
  }
  for (const char* extra : {"/usr/sbin", "/usr/bin", "/sbin", "/bin", "/usr/local/sbin"})
    dirs.emplace_back(extra);
  for (const auto& dir : dirs) {
    const std::string candidate = dir + "/" + Name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

namespace {

pid_t Spawn(const std::vector<std::string>& Args, const std::string& LogFile) {
  const std::string program = FindProgram(Args.at(0));
  if (program.empty()) return -1;
  std::vector<char*> argv;
  for (const auto& a : Args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid != 0) return pid;
  // Child: never outlive the test.
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  const int out =
      ::open(LogFile.empty() ? "/dev/null" : LogFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
  const int in = ::open("/dev/null", O_RDONLY);
  if (out >= 0) {
    ::dup2(out, 1);
    ::dup2(out, 2);
  }
  if (in >= 0) ::dup2(in, 0);
  ::execv(program.c_str(), argv.data());
  ::_exit(127);
}

void WriteFile(const std::string& Path, const std::string& Text) {
  std::ofstream out(Path, std::ios::binary | std::ios::trunc);
  out << Text;
  if (!out) throw std::runtime_error("cannot write " + Path);
}

std::string ReadFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

bool PortAccepts(int APort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(APort));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

int ListenLoopback(int* APort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot listen on loopback");
  }
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *APort = ntohs(addr.sin_port);
  return fd;
}

void Check(int ACode, const std::string& AWhat) {
  if (ACode != 0) throw std::runtime_error("openssl failed: " + AWhat);
}

}  // namespace

int RunProgram(const std::vector<std::string>& Args, const std::string& LogFile) {
  const pid_t pid = Spawn(Args, LogFile);
  if (pid < 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int FreePort() {
  int port = 0;
  const int fd = ListenLoopback(&port);
  ::close(fd);
  return port;
}

// ---------------------------------------------------------------------------------------------

TestCertificates::TestCertificates(const std::string& ADir) : Dir(ADir) {
  auto f = [&](const std::string& name) { return Dir + "/" + name; };
  const std::string log = f("openssl.log");
  // A configuration of our own, so the system's defaults add no extensions.
  WriteFile(f("req.cnf"), "[req]\ndistinguished_name = dn\nprompt = no\n[dn]\nCN = unused\n");
  auto key = [&](const std::string& name) {
    Check(RunProgram({"openssl", "genpkey", "-algorithm", "EC", "-pkeyopt",
                      "ec_paramgen_curve:P-256", "-out", f(name)},
                     log),
          "key " + name);
  };
  auto csr = [&](const std::string& name, const std::string& cn, const std::string& san) {
    key(name + ".key");
    std::vector<std::string> args = {"openssl",    "req",  "-new",           "-config",
                                     f("req.cnf"), "-key", f(name + ".key"), "-subj",
                                     "/CN=" + cn,  "-out", f(name + ".csr")};
    if (!san.empty()) {
      args.push_back("-addext");
      args.push_back("subjectAltName=" + san);
    }
    Check(RunProgram(args, log), "csr " + name);
  };
  auto sign = [&](const std::string& name, const std::string& cn, const std::string& san) {
    csr(name, cn, san);
    Check(RunProgram({"openssl", "x509", "-req", "-in", f(name + ".csr"), "-CA", f("ca.pem"),
                      "-CAkey", f("ca.key"), "-CAcreateserial", "-days", "30", "-copy_extensions",
                      "copyall", "-out", f(name + ".pem")},
                     log),
          "sign " + name);
    return f(name + ".pem");
  };

  key("ca.key");
  Check(RunProgram({"openssl", "req", "-x509", "-new", "-config", f("req.cnf"), "-key", f("ca.key"),
                    "-subj", "/CN=BRV Test CA", "-days", "30", "-addext",
                    "basicConstraints=critical,CA:TRUE", "-addext",
                    "keyUsage=critical,keyCertSign,cRLSign", "-out", f("ca.pem")},
                   log),
        "ca");
  CA = f("ca.pem");
  Localhost = sign("localhost", "localhost", "DNS:localhost");
  IPDefault = sign("ipdefault", "127.0.0.1", "IP:127.0.0.1");
  OtherName = sign("othername", "other.example", "DNS:other.example");
  Client = sign("client", "BRV Test Client", "");

  // The client key again, encrypted with the password.
  ClientKey = f("client-enc.key");
  Check(RunProgram({"openssl", "pkey", "-in", f("client.key"), "-aes-256-cbc", "-passout",
                    "pass:" + ClientKeyPassword, "-out", ClientKey},
                   log),
        "client key");
  ClientP12 = f("client.p12");
  Check(RunProgram({"openssl", "pkcs12", "-export", "-in", Client, "-inkey", f("client.key"),
                    "-certfile", CA, "-passout", "pass:" + ClientKeyPassword, "-out", ClientP12},
                   log),
        "client p12");

  // Expired: the "ca" command is the one that takes explicit validity dates.
  fs::create_directories(f("newcerts"));
  WriteFile(f("index.txt"), "");
  WriteFile(f("serial"), "1000\n");
  WriteFile(f("ca.cnf"), "[ca]\ndefault_ca = test_ca\n[test_ca]\ndatabase = " + f("index.txt") +
                             "\nnew_certs_dir = " + f("newcerts") + "\nserial = " + f("serial") +
                             "\ndefault_md = sha256\npolicy = any\ncopy_extensions = copy\n"
                             "unique_subject = no\n[any]\ncommonName = supplied\n");
  csr("expired", "localhost", "DNS:localhost");
  Check(RunProgram({"openssl", "ca", "-batch", "-config", f("ca.cnf"), "-cert", CA, "-keyfile",
                    f("ca.key"), "-in", f("expired.csr"), "-startdate", "20200101000000Z",
                    "-enddate", "20200201000000Z", "-notext", "-out", f("expired.pem")},
                   log),
        "expired");
  Expired = f("expired.pem");

  key("selfsigned.key");
  Check(RunProgram({"openssl", "req", "-x509", "-new", "-config", f("req.cnf"), "-key",
                    f("selfsigned.key"), "-subj", "/CN=localhost", "-days", "30", "-addext",
                    "subjectAltName=DNS:localhost", "-out", f("selfsigned.pem")},
                   log),
        "self-signed");
  SelfSigned = f("selfsigned.pem");
}

// ---------------------------------------------------------------------------------------------

Nginx::Nginx(const TestCertificates& ACerts, bool ABench) : dir_("brv-nginx") {
  stall_listener_ = ListenLoopback(&ports_.Stall);  // upstream that never answers
  const int stall_upstream = ports_.Stall;
  for (int attempt = 0; attempt < 5; ++attempt) {
    ports_ = NginxPorts{};
    ports_.Stall = stall_upstream;
    if (TryStart(ACerts, ABench)) return;
  }
}

Nginx::~Nginx() {
  Stop();
  if (stall_listener_ >= 0) ::close(stall_listener_);
}

void Nginx::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

bool Nginx::TryStart(const TestCertificates& C, bool ABench) {
  const std::string prefix = dir_.Path();
  NginxPorts& p = ports_;
  p.Main = FreePort();
  p.Tls12Only = FreePort();
  p.OtherName = FreePort();
  p.Expired = FreePort();
  p.SelfSigned = FreePort();
  p.ClientCert = FreePort();
  p.Plain = FreePort();
  const int stall_front = FreePort();
  auto key_of = [](const std::string& pem) { return pem.substr(0, pem.size() - 4) + ".key"; };
  const std::string answer =
      "return 200 \"sni=$ssl_server_name proto=$ssl_protocol alpn=$ssl_alpn_protocol "
      "client=$ssl_client_s_dn\\n\";";
  auto tls_server = [&](int port, const std::string& cert, const std::string& extra,
                        bool default_server, const std::string& name) {
    std::string s = "  server {\n    listen 127.0.0.1:" + std::to_string(port) + " ssl" +
                    (default_server ? " default_server" : "") + ";\n";
    if (!name.empty()) s += "    server_name " + name + ";\n";
    s += "    ssl_certificate " + cert + ";\n    ssl_certificate_key " + key_of(cert) + ";\n";
    s += extra;
    s += "    location /xml { default_type text/xml; return 200 \"" + std::string(kCannedXml) +
         "\"; }\n";
    s += "    location / { " + answer + " }\n  }\n";
    return s;
  };
  std::string conf;
  conf += "daemon off;\nmaster_process off;\nworker_processes 1;\n";
  if (::geteuid() == 0) conf += "user root;\n";
  conf += "pid " + prefix + "/nginx.pid;\nerror_log " + prefix + "/error.log warn;\n";
  conf += "events { worker_connections 256; }\n";
  conf += "http {\n  access_log off;\n  default_type text/plain;\n";
  conf += "  client_body_temp_path " + prefix + "/body;\n  proxy_temp_path " + prefix +
          "/proxy;\n  fastcgi_temp_path " + prefix + "/fastcgi;\n  uwsgi_temp_path " + prefix +
          "/uwsgi;\n  scgi_temp_path " + prefix + "/scgi;\n";
  conf += ABench ? "  keepalive_requests 1000000;\n  keepalive_timeout 60s;\n"
                 : "  keepalive_timeout 5s;\n";
  conf += "  ssl_session_cache off;\n  ssl_session_tickets on;\n";
  const std::string both = "    ssl_protocols TLSv1.2 TLSv1.3;\n";
  conf += tls_server(p.Main, C.IPDefault, both, true, "");
  conf += tls_server(p.Main, C.Localhost, both, false, "localhost");
  conf += tls_server(p.Tls12Only, C.Localhost, "    ssl_protocols TLSv1.2;\n", true, "");
  conf += tls_server(p.OtherName, C.OtherName, both, true, "");
  conf += tls_server(p.Expired, C.Expired, both, true, "");
  conf += tls_server(p.SelfSigned, C.SelfSigned, both, true, "");
  conf += tls_server(p.ClientCert, C.Localhost,
                     both + "    ssl_client_certificate " + C.CA + ";\n    ssl_verify_client on;\n",
                     true, "");
  conf += "  server {\n    listen 127.0.0.1:" + std::to_string(p.Plain) +
          " default_server;\n    location / { return 200 \"plain\\n\"; }\n  }\n";
  conf += "  server {\n    listen 127.0.0.1:" + std::to_string(stall_front) +
          " ssl default_server;\n    ssl_certificate " + C.Localhost +
          ";\n    ssl_certificate_key " + key_of(C.Localhost) + ";\n" + both +
          "    location /stall { proxy_pass http://127.0.0.1:" + std::to_string(p.Stall) +
          "; proxy_read_timeout 1h; }\n    location / { " + answer + " }\n  }\n";
  conf += "}\n";
  const std::string conf_file = prefix + "/nginx.conf";
  WriteFile(conf_file, conf);
  std::error_code ec;
  fs::create_directories(prefix + "/logs", ec);

  pid_ = Spawn({"nginx", "-p", prefix, "-c", conf_file}, prefix + "/stderr.log");
  if (pid_ < 0) {
    error_ = "nginx not found";
    return false;
  }
  const std::vector<int> ports = {p.Main,       p.Tls12Only,  p.OtherName, p.Expired,
                                  p.SelfSigned, p.ClientCert, p.Plain,     stall_front};
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      error_ =
          "nginx exited: " + ReadFile(prefix + "/error.log") + ReadFile(prefix + "/stderr.log");
      return false;
    }
    bool all = true;
    for (int port : ports) all = all && PortAccepts(port);
    if (all) {
      error_.clear();
      // The stall port's front takes the place of the upstream in the table.
      ports_.Stall = stall_front;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  error_ = "nginx did not start in time";
  Stop();
  return false;
}

// ---------------------------------------------------------------------------------------------

SilentListener::SilentListener() {
  fd_ = ListenLoopback(&port_);
}

SilentListener::~SilentListener() {
  for (int fd : accepted_) ::close(fd);
  if (fd_ >= 0) ::close(fd_);
}

bool SilentListener::HasConnection(int AMSec) {
  pollfd pfd{fd_, POLLIN, 0};
  if (::poll(&pfd, 1, AMSec) <= 0) return !accepted_.empty();
  const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd >= 0) accepted_.push_back(fd);
  return true;
}

}  // namespace brv::tlstest

#include "tests/support/TlsTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <stdexcept>

#include "tests/support/Certificates.h"
#include "tests/support/Nginx.h"

namespace brv::tlstest {

namespace {

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

}  // namespace

TestCertificates::TestCertificates(const std::string& ADir) : Dir(ADir) {
  const test::CertificateMaker maker(Dir);
  const test::KeyPair root = maker.Root("ca", "BRV Test CA");
  CA = root.Cert;
  const test::CertificateRequest localhost{"localhost", "DNS:localhost", "serverAuth", false};
  Localhost = maker.Issue(root, "localhost", localhost).Cert;
  IPDefault =
      maker.Issue(root, "ipdefault", {"127.0.0.1", "IP:127.0.0.1", "serverAuth", false}).Cert;
  OtherName =
      maker.Issue(root, "othername", {"other.example", "DNS:other.example", "serverAuth", false})
          .Cert;
  test::CertificateRequest expired = localhost;
  expired.Expired = true;
  Expired = maker.Issue(root, "expired", expired).Cert;
  SelfSigned = maker.SelfSigned("selfsigned", {"localhost", "DNS:localhost", "", false}).Cert;
  const test::KeyPair client =
      maker.Issue(root, "client", {"BRV Test Client", "", "clientAuth", false});
  Client = client.Cert;
  ClientKey = maker.EncryptedKey(client, "client-enc", ClientKeyPassword);
  ClientP12 = maker.Pkcs12(client, root, "client", ClientKeyPassword);
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
  test::StopNginx(pid_);
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
  std::string conf = test::NginxConfigHead(prefix);
  conf += "  access_log off;\n  default_type text/plain;\n";
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
  test::WriteTextFile(conf_file, conf);
  const std::vector<int> ports = {p.Main,       p.Tls12Only,  p.OtherName, p.Expired,
                                  p.SelfSigned, p.ClientCert, p.Plain,     stall_front};
  pid_ = test::StartNginx(prefix, conf_file, ports, error_);
  if (pid_ < 0) return false;
  // The stall port's front takes the place of the upstream in the table.
  ports_.Stall = stall_front;
  return true;
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

// HTTPS through the HTTP component with TLSOptions.IOHandler set to the second TLS engine,
// against nginx with TLS on loopback and a test CA made here with the openssl tool.
#include "http/brvHTTP_Client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "support/Nginx.h"
#include "tls/brvIdSSLIOHandlerSocketSChannel.h"

namespace brv {
namespace {

namespace fs = std::filesystem;

// A test CA and a certificate for "localhost" signed by it, made once per program.
struct TestCA {
  std::string dir, ca, cert, key;
  bool made = false;

  static const TestCA& Get() {
    static TestCA pki;
    return pki;
  }

 private:
  TestCA() {
    char tmpl[] = "/tmp/brv-schannel-https-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) return;
    dir = tmpl;
    ca = dir + "/ca.pem";
    cert = dir + "/localhost.pem";
    key = dir + "/localhost.key";
    const std::string q = " >/dev/null 2>&1";
    const std::string d = "'" + dir + "'";
    made =
        std::system(("cd " + d + " && printf '[req]\\ndistinguished_name=dn\\n[dn]\\n' > req.cnf" +
                     " && openssl req -x509 -new -config req.cnf -newkey ec -pkeyopt "
                     "ec_paramgen_curve:P-256 -nodes -keyout ca.key -out ca.pem -days 30 "
                     "-subj '/CN=BRV HTTPS Test CA' -addext basicConstraints=critical,CA:TRUE "
                     "-addext keyUsage=critical,keyCertSign" +
                     q +
                     " && openssl req -new -config req.cnf -newkey ec -pkeyopt "
                     "ec_paramgen_curve:P-256 -nodes -keyout localhost.key -out localhost.csr "
                     "-subj /CN=localhost -addext subjectAltName=DNS:localhost" +
                     q +
                     " && openssl x509 -req -in localhost.csr -CA ca.pem -CAkey ca.key "
                     "-CAcreateserial -days 30 -copy_extensions copyall -out localhost.pem" +
                     q)
                        .c_str()) == 0;
  }
  ~TestCA() {
    std::error_code ec;
    if (!dir.empty()) fs::remove_all(dir, ec);
  }
};

// A free loopback port (the OS's choice).
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

TEST(SChannelHTTPS, GetsThroughTheHTTPComponentWithTheSecondEngine) {
  if (!test::Nginx::Available()) GTEST_SKIP() << "nginx is not installed";
  const TestCA& pki = TestCA::Get();
  ASSERT_TRUE(pki.made) << "openssl could not make the test certificates";
  // The TLS port sits beside the helper's plain one; retried when it was taken meanwhile.
  std::unique_ptr<test::Nginx> nginx;
  int port = 0;
  for (int attempt = 0; attempt < 5 && !(nginx && nginx->Running()); ++attempt) {
    port = FreePort();
    nginx = std::make_unique<test::Nginx>(
        "    listen 127.0.0.1:" + std::to_string(port) + " ssl;\n    ssl_certificate " + pki.cert +
        ";\n    ssl_certificate_key " + pki.key +
        ";\n    ssl_protocols TLSv1.2 TLSv1.3;\n"
        "    location / { return 200 \"hello over $ssl_protocol\\n\"; }\n");
  }
  ASSERT_TRUE(nginx->Running());

  TbrvIdHTTP http;
  http.TLSOptions().IOHandler = iohSChannel;
  http.TLSOptions().Version = tls1_2;
  http.TLSOptions().VerifyCertificate = true;
  http.TLSOptions().RootCertFile = pki.ca;
  const std::string url = "https://localhost:" + std::to_string(port) + "/";
  EXPECT_EQ(http.Get(url), "hello over TLSv1.2\n");
  auto* engine = dynamic_cast<TbrvIdSSLIOHandlerSocketSChannel*>(http.TLSHandler());
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(engine->TLSVersion(), tls1_2);
  // The second request reuses the connection.
  EXPECT_EQ(http.Get(url), "hello over TLSv1.2\n");
  EXPECT_EQ(http.TLSHandler(), engine);
  // nginx logs a request after answering it: wait (a bounded while) for the second line.
  std::string log = nginx->AccessLog();
  for (int i = 0; i < 500 && log.find(" 2 \"GET") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    log = nginx->AccessLog();
  }
  EXPECT_NE(log.find(" 2 \"GET / HTTP/1.1\" 200"), std::string::npos) << log;

  // A new component that does not know the test CA refuses the server, naming the reason.
  TbrvIdHTTP strict;
  strict.TLSOptions().IOHandler = iohSChannel;
  strict.TLSOptions().Version = tls1_3;
  strict.TLSOptions().VerifyCertificate = true;
  try {
    strict.Get(url);
    FAIL() << "an unknown issuer was accepted";
  } catch (const SChannelError& e) {
    EXPECT_EQ(e.Message(),
              "SChannel initialization error: CertVerifyCertificateChainPolicy.vStatus = 800B010A");
    EXPECT_EQ(e.CertStatus(), 0x800B010Au);
  }
  // Verification switched off: the same server is accepted, over TLS 1.3.
  strict.TLSOptions().VerifyCertificate = false;
  // (The same server block answers in clear on the helper's port.)
  EXPECT_EQ(strict.Get("http://127.0.0.1:" + std::to_string(nginx->Port()) + "/"), "hello over \n");
  EXPECT_EQ(strict.TLSHandler(), nullptr) << "a plain request released the TLS handler";
  EXPECT_EQ(strict.Get(url), "hello over TLSv1.3\n");
}

}  // namespace
}  // namespace brv

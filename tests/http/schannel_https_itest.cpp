// HTTPS through the HTTP component with TLSOptions.IOHandler set to the second TLS engine,
// against nginx with TLS on loopback and a test CA made here.
#include "http/brvHTTP_Client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/support/Certificates.h"
#include "tests/support/Nginx.h"
#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"
#include "tls/brvIdSSLIOHandlerSocketSChannel.h"

namespace brv {
namespace {

// A test root and a certificate for "localhost" signed by it, made once per program.
struct TestCA {
  testing::TTempDir dir{"brv-schannel-https"};
  std::string ca;
  test::KeyPair localhost;
  std::string error;

  static const TestCA& Get() {
    static const TestCA pki;
    return pki;
  }

 private:
  TestCA() {
    try {
      const test::CertificateMaker maker(dir.Path());
      const test::KeyPair root = maker.Root("ca", "BRV HTTPS Test CA");
      ca = root.Cert;
      localhost =
          maker.Issue(root, "localhost", {"localhost", "DNS:localhost", "serverAuth", false});
    } catch (const std::exception& e) {
      error = e.what();
    }
  }
};

TEST(SChannelHTTPS, GetsThroughTheHTTPComponentWithTheSecondEngine) {
  if (!test::Nginx::Available()) GTEST_SKIP() << "nginx is not installed";
  const TestCA& pki = TestCA::Get();
  ASSERT_EQ(pki.error, "");
  // The TLS port sits beside the helper's plain one; retried when it was taken meanwhile.
  std::unique_ptr<test::Nginx> nginx;
  int port = 0;
  for (int attempt = 0; attempt < 5 && !(nginx && nginx->Running()); ++attempt) {
    port = test::FreePort();
    nginx = std::make_unique<test::Nginx>(
        "    listen 127.0.0.1:" + std::to_string(port) + " ssl;\n    ssl_certificate " +
        pki.localhost.Cert + ";\n    ssl_certificate_key " + pki.localhost.Key +
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

#include "tls/TLSHandlerFactory.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>

#include "aws/brvHTTP_Amazon_AWS.h"
#include "http/brvHTTP_Client.h"
#include "tests/support/TlsTestServer.h"
#include "tls/IdSSLIOHandlerSocketOpenSSL.h"

namespace brv {
namespace {

using tlstest::Nginx;
using tlstest::TempDir;
using tlstest::TestCertificates;

// https as programs use it: the HTTP component making its OpenSSL handler from its TLS
// options, and the AWS client above it with verification on by default.
class HTTPSRoad : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TempDir>("brv-https-certs");
    certs_ = std::make_unique<TestCertificates>(dir_->Path());
    nginx_ = std::make_unique<Nginx>(*certs_);
  }
  static void TearDownTestSuite() {
    nginx_.reset();
    certs_.reset();
    dir_.reset();
  }
  void SetUp() override { ASSERT_EQ(nginx_->Error(), ""); }
  void TearDown() override { ::unsetenv("AWS_CA_BUNDLE"); }

  static std::string Url(int APort, const std::string& APath = "/") {
    return "https://localhost:" + std::to_string(APort) + APath;
  }
  static const tlstest::NginxPorts& Ports() { return nginx_->Ports(); }

  static std::unique_ptr<TempDir> dir_;
  static std::unique_ptr<TestCertificates> certs_;
  static std::unique_ptr<Nginx> nginx_;
};

std::unique_ptr<TempDir> HTTPSRoad::dir_;
std::unique_ptr<TestCertificates> HTTPSRoad::certs_;
std::unique_ptr<Nginx> HTTPSRoad::nginx_;

TEST_F(HTTPSRoad, TheHTTPComponentKeepsOneHandlerUntilAPlainRequest) {
  TbrvIdHTTP http;
  http.TLSOptions().Version = tls1_2;
  http.TLSOptions().VerifyCertificate = true;
  http.TLSOptions().RootCertFile = certs_->CA;
  EXPECT_EQ(http.Get(Url(Ports().Main)), "sni=localhost proto=TLSv1.2 alpn= client=\n");
  TIdSSLIOHandlerSocketBase* first = http.TLSHandler();
  ASSERT_NE(dynamic_cast<TIdSSLIOHandlerSocketOpenSSL*>(first), nullptr);
  EXPECT_EQ(http.Get(Url(Ports().Main)), "sni=localhost proto=TLSv1.2 alpn= client=\n");
  EXPECT_EQ(http.TLSHandler(), first);

  EXPECT_EQ(http.Get("http://127.0.0.1:" + std::to_string(Ports().Plain) + "/"), "plain\n");
  EXPECT_EQ(http.TLSHandler(), nullptr);
  // The next https request takes the options in force then.
  http.TLSOptions().Version = tls1_3;
  http.TLSOptions().ALPNProtocols()->Add("http/1.1");
  EXPECT_EQ(http.Get(Url(Ports().Main)), "sni=localhost proto=TLSv1.3 alpn=http/1.1 client=\n");
}

TEST_F(HTTPSRoad, TheKeyPasswordComesFromTheOptions) {
  TbrvIdHTTP http;
  http.TLSOptions().Version = tls1_2;
  http.TLSOptions().CertFile = certs_->Client;
  http.TLSOptions().KeyFile = certs_->ClientKey;
  http.TLSOptions().Password = certs_->ClientKeyPassword;
  EXPECT_EQ(http.Get(Url(Ports().ClientCert)),
            "sni=localhost proto=TLSv1.2 alpn= client=CN=BRV Test Client\n");
}

TEST_F(HTTPSRoad, TheAWSClientVerifiesAgainstAWS_CA_BUNDLE) {
  ::setenv("AWS_CA_BUNDLE", certs_->CA.c_str(), 1);
  TbrvHTTP_Amazon_AWS_Client client;
  client.AWSOptions().Region = "us-east-1";
  client.AWSOptions().Service = "sqs";
  client.AWSOptions().AccessKey = "AKIDEXAMPLE";
  client.AWSOptions().SecretKey = "secret";
  std::string response, error;
  ASSERT_TRUE(client.GetURL(Url(Ports().Main, "/xml?Action=ListQueues"), response, error)) << error;
  EXPECT_EQ(response, tlstest::kCannedXml);
  EXPECT_TRUE(client.GetHTTPClient().TLSOptions().VerifyCertificate);

  // The same client refuses a server that poses with a certificate for another name.
  try {
    client.GetURL(Url(Ports().OtherName, "/xml?Action=ListQueues"), response, error);
    FAIL() << "an impostor was accepted";
  } catch (const EIdOpenSSLError& e) {
    EXPECT_NE(e.Message().find("hostname mismatch"), std::string::npos) << e.Message();
  }
}

TEST_F(HTTPSRoad, WithoutTheBundleTheTestCAIsUntrustedUntilVerificationIsSwitchedOff) {
  TbrvHTTP_Amazon_AWS_Client client;
  client.AWSOptions().Region = "us-east-1";
  client.AWSOptions().Service = "sqs";
  std::string response, error;
  try {
    client.GetURL(Url(Ports().Main, "/xml?Action=ListQueues"), response, error);
    FAIL() << "a certificate of an unknown CA was accepted";
  } catch (const EIdOpenSSLError& e) {
    EXPECT_NE(e.Message().find("unable to get local issuer certificate"), std::string::npos)
        << e.Message();
  }
  // A local service with its own certificate: the caller switches verification off.
  TbrvHTTP_Amazon_AWS_Client local;
  local.AWSOptions().Region = "us-east-1";
  local.AWSOptions().Service = "sqs";
  local.GetHTTPClient().TLSOptions().VerifyCertificate = false;
  ASSERT_TRUE(local.GetURL(Url(Ports().SelfSigned, "/xml?Action=ListQueues"), response, error));
  EXPECT_EQ(response, tlstest::kCannedXml);
}

}  // namespace
}  // namespace brv

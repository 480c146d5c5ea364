// What the local SQS service accepts and refuses besides a plain signature: temporary
// credentials with their session token, and, over HTTPS, a certificate the client has no
// reason to trust.
#include "sqs/brvHTTP.h"

#include <gtest/gtest.h>

#include <string>

#include "support/SQSServiceFixture.h"

namespace brv {
namespace {

using testing::E2ETransportName;
using testing::E2ETransports;
using testing::SQSServiceTest;
using testing::TLocalSQSService;

class SQSCredentials : public SQSServiceTest {};

TEST_P(SQSCredentials, ASessionTokenIsSentSignedAndChecked) {
  const std::string token = "IQoJb3JpZ2luX2VjEJr//////////wEaCXVzLWVhc3QtMSJHMEUCIQ+token=";
  TLocalSQSService service({true, {"--session-token", token}});
  ASSERT_TRUE(service.Ready()) << service.Failure();

  auto client = MakeClient("test", service);
  client->AWSOptions().SessionToken = token;
  const std::string name = UniqueName("token");
  ASSERT_FALSE(client->CreateQueue(name).empty());
  ASSERT_TRUE(client->SendMessage(name, "with a token", 0));
  ASSERT_TRUE(client->DeleteQueue(name));
  EXPECT_TRUE(errors.empty());

  // Without the token, or with another one, the service does not know the credentials.
  TStringList queues;
  client->AWSOptions().SessionToken.clear();
  EXPECT_FALSE(client->ListQueues(queues, ""));
  client->AWSOptions().SessionToken = token + "x";
  EXPECT_FALSE(client->ListQueues(queues, ""));
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].Code, "InvalidClientTokenId");
  EXPECT_EQ(errors[1].Code, "InvalidClientTokenId");
  errors.clear();
}

TEST_P(SQSCredentials, TheServiceCertificateIsVerifiedUnlessSwitchedOff) {
  if (!GetParam().TLS) GTEST_SKIP() << "no certificate on plain HTTP";
  // The test CA is not among the system's trusted roots.
  auto client = MakeClient();
  client->GetHTTPClient().TLSOptions().RootCertFile.clear();
  TStringList queues;
  try {
    client->ListQueues(queues, "");
    FAIL() << "a certificate from an unknown CA was accepted";
  } catch (const Exception& e) {
    // Each engine names the reason: no chain to a trusted root.
    const std::string reason =
        GetParam().Engine == iohOpenSSL ? "unable to get local issuer certificate" : "800B010A";
    EXPECT_NE(e.Message().find(reason), std::string::npos) << e.Message();
  }

  auto unverified = MakeClient();
  unverified->GetHTTPClient().TLSOptions().RootCertFile.clear();
  unverified->GetHTTPClient().TLSOptions().VerifyCertificate = false;
  EXPECT_TRUE(unverified->ListQueues(queues, ""));
}

INSTANTIATE_TEST_SUITE_P(Transports, SQSCredentials, ::testing::ValuesIn(E2ETransports()),
                         E2ETransportName);

}  // namespace
}  // namespace brv

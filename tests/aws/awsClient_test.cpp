#include "aws/brvHTTP_Amazon_AWS.h"

#include <gtest/gtest.h>

#include "aws/brvAWSHTTPError.h"
#include "support/RecordingSeams.h"

namespace brv {
namespace {

using testing::TRecordingSeams;

// A client with a gate the test controls.
class TGatedClient : public TbrvHTTP_Amazon_AWS_Client {
 public:
  using TbrvHTTP_Amazon_AWS_Client::TbrvHTTP_Amazon_AWS_Client;
  std::function<bool(std::string&)> Gate;
  using TbrvHTTP_Amazon_AWS_Client::PreparePOST;

 protected:
  bool DoBeforeRequest(std::string& aURL) override { return Gate ? Gate(aURL) : true; }
};

class AWSClient : public ::testing::Test {
 protected:
  AWSClient() {
    seams.Install(client);
    client.AWSOptions().Region = "eu-west-1";
    client.AWSOptions().Service = "sqs";
    client.AWSOptions().AccessKey = "AKIDEXAMPLE";
    client.AWSOptions().SecretKey = "secret";
  }
  TRecordingSeams seams;
  TGatedClient client;
};

TEST(AWSClientBase, EndPointFollowsServiceAndRegionOnEveryRead) {
  TbrvHTTP_Amazon_AWS_Client client;
  EXPECT_EQ(client.EndPoint(), "https://..amazonaws.com");
  client.AWSOptions().Service = "sqs";
  client.AWSOptions().Region = "us-east-1";
  EXPECT_EQ(client.EndPoint(), "https://sqs.us-east-1.amazonaws.com");
  EXPECT_EQ(client.Version(), "4.4.6");
}

TEST(AWSClientBase, OptionGroupsCopyFieldByFieldAndRefuseOtherClasses) {
  TbrvHTTP_Amazon_AWS_Client client;
  TbrvHTTP_Amazon_AWS_Options options;
  options.AccessKey = "AK";
  options.Region = "ap-south-1";
  options.SecretKey = "SK";
  options.Service = "sqs";
  client.SetAWSOptions(options);
  EXPECT_EQ(client.AWSOptions().AccessKey, "AK");
  EXPECT_EQ(client.AWSOptions().Region, "ap-south-1");
  EXPECT_EQ(client.AWSOptions().SecretKey, "SK");
  EXPECT_EQ(client.AWSOptions().Service, "sqs");  // not published, copied all the same
  EXPECT_NE(&client.AWSOptions(), &options);

  TbrvAWSLogFile log;
  log.Enabled = true;
  log.FileName = "/tmp/x.log";
  client.SetLogFile(log);
  EXPECT_TRUE(client.LogFile().Enabled);
  EXPECT_EQ(client.LogFile().FileName, "/tmp/x.log");

  try {
    client.AWSOptions().Assign(&log);
    FAIL() << "assigning a log-file group to AWS options must fail";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TbrvAWSLogFile to a TbrvHTTP_Amazon_AWS_Options");
  }
}

TEST(AWSClientBase, AFactoryThatMakesNothingRaisesBeforeSendingAnything) {
  TbrvHTTP_Amazon_AWS_Client client;
  client.SetHTTPClientFactory([] { return std::unique_ptr<IbrvAWSHTTPClient>(); });
  client.SetSignerFactory([] { return std::unique_ptr<IbrvAWSSigner>(); });
  std::string response = "old", error = "old";
  try {
    client.GetURL("https://sqs.us-east-1.amazonaws.com/?Action=ListQueues", response, error);
    FAIL() << "no HTTP component exists";
  } catch (const EbrvAWSComponentUnavailable& e) {
    EXPECT_EQ(e.Message(), "The HTTP client component is not available");
  }
  EXPECT_EQ(response, "");
  EXPECT_EQ(error, "");
  EXPECT_THROW(client.GetSigner(), EbrvAWSComponentUnavailable);
}

TEST_F(AWSClient, SignedGetSendsTheDateAndAuthorizationLinesOnceEachTime) {
  const std::string url1 = "https://sqs.eu-west-1.amazonaws.com/?Action=ListQueues";
  const std::string url2 = "https://sqs.eu-west-1.amazonaws.com/1234/q/?Action=PurgeQueue";
  seams.AnswerBody("<ListQueuesResponse/>");
  seams.AnswerBody("<PurgeQueueResponse/>");
  std::string response, error = "stale";
  ASSERT_TRUE(client.GetURL(url1, response, error));
  EXPECT_EQ(response, "<ListQueuesResponse/>");
  EXPECT_EQ(error, "");
  client.AWSOptions().Region = "us-west-2";  // applies to the next request
  ASSERT_TRUE(client.GetURL(url2, response, error));
  EXPECT_EQ(response, "<PurgeQueueResponse/>");

  ASSERT_EQ(seams.Gets.size(), 2u);
  EXPECT_EQ(seams.SignedURLs, (std::vector<std::string>{url1, url2}));
  EXPECT_EQ(seams.Gets[0].URL, url1);
  EXPECT_EQ(seams.Gets[1].URL, url2);
  EXPECT_EQ(seams.Gets[0].Headers,
            (std::vector<std::string>{"X-Amz-Date:20240305T101112Z",
                                      "Authorization: AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/"
                                      "20240305/eu-west-1/sqs/aws4_request, SignedHeaders="
                                      "content-type;host;x-amz-date, Signature=fake1"}));
  EXPECT_EQ(seams.Gets[1].Headers,
            (std::vector<std::string>{"X-Amz-Date:20240305T101112Z",
                                      "Authorization: AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/"
                                      "20240305/us-west-2/sqs/aws4_request, SignedHeaders="
                                      "content-type;host;x-amz-date, Signature=fake2"}));
  for (const auto& get : seams.Gets) {
    EXPECT_EQ(get.ContentType, "application/x-www-form-urlencoded; charset=utf-8");
    EXPECT_EQ(get.Accept, "");
  }
  EXPECT_EQ(seams.SignedWith[1].SecretKey, "secret");
  // One signer and one HTTP component for the client's life, asked for TLS 1.2 once.
  EXPECT_EQ(seams.SignersMade, 1);
  EXPECT_EQ(seams.HTTPClientsMade, 1);
  EXPECT_EQ(seams.TLSVersions, (std::vector<TwsTLSVersions>{tls1_2}));
}

TEST_F(AWSClient, LogSettingsAreCopiedBeforeEveryRequest) {
  seams.AnswerBody("a");
  seams.AnswerBody("b");
  std::string response, error;
  client.GetURL("https://h/?A=1", response, error);
  client.LogFile().Enabled = true;
  client.LogFile().FileName = "exchange.log";
  client.GetURL("https://h/?A=2", response, error);
  EXPECT_FALSE(seams.Gets[0].Log);
  EXPECT_EQ(seams.Gets[0].LogFileName, "");
  EXPECT_TRUE(seams.Gets[1].Log);
  EXPECT_EQ(seams.Gets[1].LogFileName, "exchange.log");
}

TEST_F(AWSClient, HTTPErrorStatusBecomesTheErrorText) {
  const std::string body = "<ErrorResponse><Error><Code>X</Code></Error></ErrorResponse>";
  seams.AnswerHTTPError(400, body);
  std::string response = "stale", error;
  EXPECT_FALSE(client.GetURL("https://h/?A=1", response, error));
  EXPECT_EQ(response, "");
  EXPECT_EQ(error, body);
}

TEST_F(AWSClient, OtherFailuresPassThroughUnchanged) {
  seams.AnswerThrow([] { throw EIdException("Socket Error # 10061\nConnection refused."); });
  std::string response = "stale", error = "stale";
  try {
    client.GetURL("https://h/?A=1", response, error);
    FAIL() << "a refused connection must raise";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), "Socket Error # 10061\nConnection refused.");
  }
  EXPECT_EQ(response, "");
  EXPECT_EQ(error, "");

  // A signing failure raises before anything is fetched.
  seams.SigningFailure = [] {
    throw Exception("Failed attempting to retrieve time zone information.");
  };
  EXPECT_THROW(client.GetURL("https://h/?A=2", response, error), Exception);
  EXPECT_EQ(seams.Gets.size(), 1u);
}

TEST_F(AWSClient, TheGateMayRefuseOrRedirectWithTheOriginalSignature) {
  client.Gate = [](std::string&) { return false; };
  std::string response = "stale", error = "stale";
  EXPECT_FALSE(client.GetURL("https://h/?A=1", response, error));
  EXPECT_EQ(response, "");
  EXPECT_EQ(error, "");
  EXPECT_TRUE(seams.Gets.empty());

  client.Gate = [](std::string& url) {
    url = "https://other/?A=2";
    return true;
  };
  seams.AnswerBody("ok");
  EXPECT_TRUE(client.GetURL("https://h/?A=1", response, error));
  ASSERT_EQ(seams.Gets.size(), 1u);
  EXPECT_EQ(seams.Gets[0].URL, "https://other/?A=2");
  EXPECT_EQ(seams.Gets[0].SignedURL, "https://h/?A=1");
}

TEST_F(AWSClient, BodiesPassAsUTF8AndPostIsNotSupported) {
  seams.AnswerBody("caf\xC3\xA9 \xE2\x82\xAC");
  std::string response, error;
  ASSERT_TRUE(client.GetURL("https://h/?A=1", response, error));
  EXPECT_EQ(response, "caf\xC3\xA9 \xE2\x82\xAC");

  response = "kept";
  error = "kept too";
  EXPECT_FALSE(client.PostURL("https://h/", response, error));
  EXPECT_EQ(response, "kept");
  EXPECT_EQ(error, "kept too");

  // A POST preparation reuses the last signature without signing again.
  client.PreparePOST("ignored");
  EXPECT_EQ(seams.SignedURLs.size(), 1u);
}

TEST(AWSClientBase, ComponentStatesAndVersion) {
  TbrvComponent_Base component;
  EXPECT_FALSE(component.IsDesigning());
  EXPECT_FALSE(component.IsLoading());
  EXPECT_FALSE(component.IsDestroying());
  EXPECT_EQ(component.Version(), "4.4.6");
}

}  // namespace
}  // namespace brv

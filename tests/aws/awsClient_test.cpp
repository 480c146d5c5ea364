#include "aws/brvHTTP_Amazon_AWS.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "aws/brvAWSComponents.h"
#include "aws/brvAWSHTTPError.h"
#include "support/RecordingSeams.h"
#include "support/TestAccount.h"

namespace brv {
namespace {

using testing::TRecordedGet;
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
    testing::UseTestAccount(client.AWSOptions(), "eu-west-1");
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
  options.SessionToken = "ST";
  options.EndPointURL = "http://localhost:1";
  client.SetAWSOptions(options);
  EXPECT_EQ(client.AWSOptions().AccessKey, "AK");
  EXPECT_EQ(client.AWSOptions().Region, "ap-south-1");
  EXPECT_EQ(client.AWSOptions().SecretKey, "SK");
  EXPECT_EQ(client.AWSOptions().Service, "sqs");  // not published, copied all the same
  EXPECT_EQ(client.AWSOptions().SessionToken, "ST");
  EXPECT_EQ(client.AWSOptions().EndPointURL, "http://localhost:1");
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

TEST_F(AWSClient, BodiesPassAsUTF8) {
  seams.AnswerBody("caf\xC3\xA9 \xE2\x82\xAC");
  std::string response, error;
  ASSERT_TRUE(client.GetURL("https://h/?A=1", response, error));
  EXPECT_EQ(response, "caf\xC3\xA9 \xE2\x82\xAC");

  // A POST preparation without a URL reuses the last signature without signing again.
  client.PreparePOST("ignored");
  EXPECT_EQ(seams.SignedURLs.size(), 1u);
}

// A URL of exactly Length characters: base, "?A=", then as many "x" as needed.
std::string URLOfLength(const std::string& Base, size_t Length) {
  std::string url = Base + "?A=";
  url.append(Length - url.size(), 'x');
  return url;
}

TEST_F(AWSClient, URLsBeyondTheLimitGoOutAsASignedFormPost) {
  const std::string base = "https://sqs.eu-west-1.amazonaws.com/1234/q/";
  const std::string longest_get = URLOfLength(base, brvAWSMaxGETURLLength);
  const std::string first_post = URLOfLength(base, brvAWSMaxGETURLLength + 1);
  seams.AnswerBody("get");
  seams.AnswerBody("post");
  seams.AnswerHTTPError(403, "refused");
  std::string response, error;
  ASSERT_TRUE(client.GetURL(longest_get, response, error));
  EXPECT_EQ(response, "get");
  ASSERT_TRUE(client.GetURL(first_post, response, error));
  EXPECT_EQ(response, "post");
  EXPECT_FALSE(client.GetURL(first_post, response, error));
  EXPECT_EQ(response, "");
  EXPECT_EQ(error, "refused");

  ASSERT_EQ(seams.Gets.size(), 3u);
  EXPECT_EQ(seams.Gets[0].Method, "GET");
  EXPECT_EQ(seams.Gets[0].URL, longest_get);
  const TRecordedGet& post = seams.Gets[1];
  EXPECT_EQ(post.Method, "POST");
  EXPECT_EQ(post.URL, base);
  EXPECT_EQ(post.Body, first_post.substr(base.size() + 1));
  // The signature covers the URL without its query and the body as the payload.
  EXPECT_EQ(post.SignedURL, base);
  EXPECT_EQ(post.SignedPayload, post.Body);
  EXPECT_EQ(seams.SignedMethods, (std::vector<std::string>{"GET", "POST", "POST"}));
  EXPECT_EQ(post.ContentType, "application/x-www-form-urlencoded; charset=utf-8");
  EXPECT_EQ(post.Headers,
            (std::vector<std::string>{"X-Amz-Date:20240305T101112Z",
                                      TRecordingSeams::AuthorizationFor(seams.SignedWith[1], 2)}));
}

TEST_F(AWSClient, PostURLSendsTheQueryAsTheBodyAndHonoursTheGate) {
  seams.AnswerBody("ok");
  std::string response = "stale", error = "stale";
  ASSERT_TRUE(client.PostURL("https://h/?A=1&B=%20", response, error));
  EXPECT_EQ(response, "ok");
  EXPECT_EQ(error, "");
  ASSERT_EQ(seams.Gets.size(), 1u);
  EXPECT_EQ(seams.Gets[0].URL, "https://h/");
  EXPECT_EQ(seams.Gets[0].Body, "A=1&B=%20");

  client.Gate = [](std::string&) { return false; };
  EXPECT_FALSE(client.PostURL("https://h/?A=2", response, error));
  EXPECT_EQ(response, "");
  EXPECT_EQ(seams.Gets.size(), 1u);
}

TEST_F(AWSClient, ASessionTokenTravelsSignedInItsOwnLine) {
  client.AWSOptions().SessionToken = "FwoGZXIvYXdzEJr//token=";
  seams.AnswerBody("a");
  seams.AnswerBody("b");
  std::string response, error;
  client.GetURL("https://h/?A=1", response, error);
  client.GetURL(URLOfLength("https://h/", brvAWSMaxGETURLLength + 1), response, error);
  ASSERT_EQ(seams.Gets.size(), 2u);
  for (const TRecordedGet& request : seams.Gets) {
    ASSERT_EQ(request.Headers.size(), 3u) << request.Method;
    EXPECT_EQ(request.Headers[2], "X-Amz-Security-Token: FwoGZXIvYXdzEJr//token=");
  }
  EXPECT_EQ(seams.SignedWith[0].SessionToken, "FwoGZXIvYXdzEJr//token=");

  // Without a token the line goes again.
  client.AWSOptions().SessionToken.clear();
  seams.AnswerBody("c");
  client.GetURL("https://h/?A=3", response, error);
  EXPECT_EQ(seams.Gets.back().Headers.size(), 2u);
}

// Sets an environment variable for the life of the object and puts the old state back.
class TScopedEnv {
 public:
  TScopedEnv(const char* Name, const char* Value) : name_(Name) {
    if (const char* old = std::getenv(Name)) old_ = old;
    had_ = std::getenv(Name) != nullptr;
    if (Value != nullptr)
      setenv(Name, Value, 1);
    else
      unsetenv(Name);
  }
  ~TScopedEnv() {
    if (had_)
      setenv(name_.c_str(), old_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

TEST(AWSClientBase, EndPointOverridesTakePrecedenceInOrder) {
  TScopedEnv general("AWS_ENDPOINT_URL", nullptr);
  TScopedEnv sqs("AWS_ENDPOINT_URL_SQS", nullptr);
  TScopedEnv other("AWS_ENDPOINT_URL_STEP_FUNCTIONS", nullptr);
  TbrvHTTP_Amazon_AWS_Client client;
  client.AWSOptions().Service = "sqs";
  client.AWSOptions().Region = "us-east-1";
  const std::string regional = "https://sqs.us-east-1.amazonaws.com";

  setenv("AWS_ENDPOINT_URL", "", 1);  // empty counts as not set
  EXPECT_EQ(client.EndPoint(), regional);
  setenv("AWS_ENDPOINT_URL", "http://localhost:4566/", 1);
  EXPECT_EQ(client.EndPoint(), "http://localhost:4566");
  setenv("AWS_ENDPOINT_URL_SQS", "https://127.0.0.1:9324//", 1);
  EXPECT_EQ(client.EndPoint(), "https://127.0.0.1:9324");
  client.AWSOptions().EndPointURL = "http://[::1]:8000/";
  EXPECT_EQ(client.EndPoint(), "http://[::1]:8000");
  client.AWSOptions().EndPointURL.clear();

  // Another service reads its own variable; blanks and "-" become "_".
  client.AWSOptions().Service = "step-functions";
  EXPECT_EQ(client.EndPoint(), "http://localhost:4566");
  setenv("AWS_ENDPOINT_URL_STEP_FUNCTIONS", "http://sfn.local", 1);
  EXPECT_EQ(client.EndPoint(), "http://sfn.local");
}

TEST(AWSClientBase, TheHTTPComponentVerifiesAndTimesOutByDefault) {
  {
    TScopedEnv bundle("AWS_CA_BUNDLE", nullptr);
    TRecordingSeams seams;
    TbrvHTTP_Amazon_AWS_Client client;
    seams.Install(client);
    IbrvAWSHTTPClient& http = client.GetHTTPClient();
    EXPECT_TRUE(http.TLSOptions().VerifyCertificate);
    EXPECT_EQ(http.TLSOptions().RootCertFile, "");  // the system's trust store
    EXPECT_EQ(http.TLSOptions().Version, tls1_2);
    EXPECT_EQ(http.ConnectTimeout(), 30000);
    EXPECT_EQ(http.ReadTimeout(), 60000);

    // The caller's changes stay: nothing puts the defaults back before a request.
    http.TLSOptions().VerifyCertificate = false;
    http.SetReadTimeout(5000);
    seams.AnswerBody("ok");
    std::string response, error;
    client.GetURL("https://h/?A=1", response, error);
    EXPECT_FALSE(client.GetHTTPClient().TLSOptions().VerifyCertificate);
    EXPECT_EQ(client.GetHTTPClient().ReadTimeout(), 5000);
  }
  {
    TScopedEnv bundle("AWS_CA_BUNDLE", "/etc/corp/ca.pem");
    TRecordingSeams seams;
    TbrvHTTP_Amazon_AWS_Client client;
    seams.Install(client);
    EXPECT_EQ(client.GetHTTPClient().TLSOptions().RootCertFile, "/etc/corp/ca.pem");
    EXPECT_TRUE(client.GetHTTPClient().TLSOptions().VerifyCertificate);
  }
  // Everyone else's TLS options keep their defaults.
  TbrvTCPTLS_Options plain;
  EXPECT_FALSE(plain.VerifyCertificate);
}

TEST(AWSClientBase, TheLibrarysHTTPComponentTakesTheSameDefaults) {
  TScopedEnv bundle("AWS_CA_BUNDLE", "/srv/ca.pem");
  TbrvHTTP_Amazon_AWS_Client client;
  auto* adapter = dynamic_cast<TbrvAWSHTTPClient*>(&client.GetHTTPClient());
  ASSERT_NE(adapter, nullptr);
  TbrvIdHTTP& http = adapter->HTTP();
  EXPECT_TRUE(http.TLSOptions().VerifyCertificate);
  EXPECT_EQ(http.TLSOptions().RootCertFile, "/srv/ca.pem");
  EXPECT_EQ(http.TLSOptions().Version, tls1_2);
  EXPECT_EQ(http.ConnectTimeout(), 30000);
  EXPECT_EQ(http.ReadTimeout(), 60000);
  // A component made by anyone else keeps the component's defaults: no verification, any
  // version.
  TbrvIdHTTP other;
  EXPECT_FALSE(other.TLSOptions().VerifyCertificate);
  EXPECT_EQ(other.TLSOptions().Version, tlsUndefined);
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

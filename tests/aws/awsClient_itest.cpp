#include "aws/brvHTTP_Amazon_AWS.h"

#include <gtest/gtest.h>

#include <string>

#include "aws/brvAWSComponents.h"
#include "tests/http/support/ScriptedServer.h"
#include "support/TestAccount.h"

namespace brv {
namespace {

using test::ScriptedServer;

std::string Answer(const std::string& status, const std::string& body) {
  return "HTTP/1.1 " + status +
         "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

class AWSClientOverHTTP : public ::testing::Test {
 protected:
  void SetUp() override { testing::UseTestAccount(client.AWSOptions()); }
  TbrvHTTP_Amazon_AWS_Client client;
};

TEST_F(AWSClientOverHTTP, TheLibrarysComponentsSignAndFetchARealAnswer) {
  ScriptedServer server({ScriptedServer::Exchange(
      {Answer("200 OK", "<ListQueuesResponse>ok</ListQueuesResponse>")})});
  const std::string url =
      "http://127.0.0.1:" + std::to_string(server.Port()) + "/?Action=ListQueues";
  std::string response, error;
  EXPECT_TRUE(client.GetURL(url, response, error));
  EXPECT_EQ(response, "<ListQueuesResponse>ok</ListQueuesResponse>");
  EXPECT_EQ(error, "");
  ASSERT_EQ(server.Requests().size(), 1u);
  const std::string head = server.Requests()[0];
  EXPECT_EQ(head.rfind("GET /?Action=ListQueues HTTP/1.1\r\n", 0), 0u) << head;
  EXPECT_NE(head.find("\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"),
            std::string::npos);
  EXPECT_NE(head.find("\r\nX-Amz-Date:2"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nAuthorization: AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/"),
            std::string::npos);
  EXPECT_NE(head.find("SignedHeaders=content-type;host;x-amz-date, Signature="), std::string::npos);
  EXPECT_NE(head.find("\r\nContent-Type: application/x-www-form-urlencoded; charset=utf-8\r\n"),
            std::string::npos);
}

TEST_F(AWSClientOverHTTP, AnHTTPErrorStatusBecomesTheErrorText) {
  const std::string body =
      "<ErrorResponse><Error><Code>AccessDenied</Code><Message>no</Message></Error>"
      "</ErrorResponse>";
  ScriptedServer server({ScriptedServer::Exchange({Answer("403 Forbidden", body)})});
  const std::string url =
      "http://127.0.0.1:" + std::to_string(server.Port()) + "/?Action=ListQueues";
  std::string response, error;
  EXPECT_FALSE(client.GetURL(url, response, error));
  EXPECT_EQ(response, "");
  EXPECT_EQ(error, body);
}

TEST_F(AWSClientOverHTTP, ARefusedConnectionRaisesToTheCaller) {
  int port = 0;
  {
    ScriptedServer server({ScriptedServer::Exchange({Answer("200 OK", "")})});
    port = server.Port();
    // Let the server finish its one exchange so the port is closed afterwards.
    std::string response, error;
    client.GetURL("http://127.0.0.1:" + std::to_string(port) + "/?Action=X", response, error);
  }
  TbrvHTTP_Amazon_AWS_Client fresh;
  std::string response, error;
  EXPECT_THROW(
      fresh.GetURL("http://127.0.0.1:" + std::to_string(port) + "/?Action=X", response, error),
      EIdException);
  EXPECT_EQ(response, "");
  EXPECT_EQ(error, "");
}

}  // namespace
}  // namespace brv

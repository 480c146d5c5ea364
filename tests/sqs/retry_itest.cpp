// A retried request reports its outcome once: OnSQSError fires for the last attempt only.
#include "sqs/brvHTTP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/http/support/ScriptedServer.h"

namespace brv {
namespace {

using test::ScriptedServer;

std::string Answer(int Status, const std::string& Body) {
  return "HTTP/1.1 " + std::to_string(Status) +
         " Status\r\nContent-Type: text/xml\r\nConnection: close\r\nContent-Length: " +
         std::to_string(Body.size()) + "\r\n\r\n" + Body;
}

std::string Error(const std::string& Code) {
  return "<ErrorResponse><Error><Type>Sender</Type><Code>" + Code +
         "</Code><Message>m</Message></Error><RequestId>r</RequestId></ErrorResponse>";
}

TEST(SQSRetries, OnSQSErrorFiresOncePerCallForTheLastAttempt) {
  const std::string ok =
      Answer(200,
             "<ListQueuesResponse><ListQueuesResult></ListQueuesResult><ResponseMetadata>"
             "<RequestId>r</RequestId></ResponseMetadata></ListQueuesResponse>");
  struct Row {
    std::vector<std::string> Answers;
    bool Success;
    std::vector<std::string> Reported;
  };
  const std::vector<Row> rows = {
      {{Answer(503, Error("ServiceUnavailable")), Answer(400, Error("InvalidParameterValue"))},
       false,
       {"InvalidParameterValue"}},
      {{Answer(400, Error("RequestThrottled")), Answer(500, Error("InternalError")), ok}, true, {}},
  };
  for (const Row& row : rows) {
    std::vector<ScriptedServer::Script> scripts;
    for (const std::string& answer : row.Answers)
      scripts.push_back(
          {ScriptedServer::Read(), ScriptedServer::Send(answer), ScriptedServer::Close()});
    ScriptedServer server(scripts);
    TbrvHTTPAWS_SQS_Client client;
    client.AWSOptions().Region = "us-east-1";
    client.AWSOptions().AccessKey = "k";
    client.AWSOptions().SecretKey = "s";
    client.AWSOptions().EndPointURL = "http://127.0.0.1:" + std::to_string(server.Port());
    client.SetSleep([](std::chrono::milliseconds, const TIdDeadline&) {});
    std::vector<std::string> reported;
    client.OnSQSError = [&reported](TObject*, const std::string& Code, const std::string&,
                                    const std::string&) { reported.push_back(Code); };
    TStringList queues;
    EXPECT_EQ(client.ListQueues(queues, ""), row.Success);
    EXPECT_EQ(reported, row.Reported);
    EXPECT_EQ(client.Attempts(), static_cast<int>(row.Answers.size()));
  }
}

}  // namespace
}  // namespace brv

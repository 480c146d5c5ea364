// The built `sqs` program pages through list-queues against the local SQS service, and
// refuses answers whose message digests differ, served by a scripted server.
#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/LocalSQSService.h"
#include "support/RunSQS.h"
#include "tests/http/support/ScriptedServer.h"

namespace brv {
namespace {

using test::ScriptedServer;
using testing::OutputLines;
using testing::RunSQS;
using testing::TLocalSQSService;
using testing::TSQSRun;

TSQSRun RunAgainst(const std::string& EndPoint, std::vector<std::string> Args) {
  Args.insert(Args.end(), {"--endpoint-url", EndPoint});
  return RunSQS(Args, {{"AWS_ACCESS_KEY_ID", "test"},
                       {"AWS_SECRET_ACCESS_KEY", "test"},
                       {"AWS_DEFAULT_REGION", "us-east-1"}});
}

TEST(SQSCommandPaging, ListQueuesFollowsEveryPage) {
  TLocalSQSService service(TLocalSQSService::TOptions{false, {}});
  ASSERT_TRUE(service.Ready()) << service.Failure();
  const std::string prefix = "cli-paged-" + std::to_string(getpid());
  for (int i = 0; i < 12; ++i)
    ASSERT_EQ(RunAgainst(service.HTTP(),
                         {"create-queue", "--queue-name", prefix + "-" + std::to_string(i)})
                  .Status,
              0);
  struct TRow {
    std::vector<std::string> Options;
    size_t Expected;
  } rows[] = {
      {{}, 12},
      {{"--page-size", "5"}, 12},
      {{"--max-items", "7"}, 7},
      {{"--max-items", "7", "--page-size", "3"}, 7},
      {{"--max-items", "50"}, 12},
  };
  for (const TRow& row : rows) {
    std::vector<std::string> args = {"list-queues", "--queue-name-prefix", prefix};
    args.insert(args.end(), row.Options.begin(), row.Options.end());
    const TSQSRun run = RunAgainst(service.HTTP(), args);
    EXPECT_EQ(run.Status, 0) << run.Err;
    const std::vector<std::string> lines = OutputLines(run.Out);
    EXPECT_EQ(lines.size(), row.Expected) << run.Out;
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()).size(), lines.size()) << run.Out;
  }
  EXPECT_EQ(RunAgainst(service.HTTP(), {"list-queues", "--page-size", "0"}).Status, 2);
}

std::string HTTPAnswer(const std::string& Action, const std::string& Result) {
  const std::string body = "<?xml version=\"1.0\"?><" + Action +
                           "Response xmlns=\"http://queue.amazonaws.com/doc/2012-11-05/\"><" +
                           Action + "Result>" + Result + "</" + Action +
                           "Result><ResponseMetadata><RequestId>r-1</RequestId>"
                           "</ResponseMetadata></" +
                           Action + "Response>";
  return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// The endpoint resolves the queue "q" on its first connection and answers the operation,
// sent to the same endpoint with the queue URL's path, on its second.
struct TScriptedService {
  using S = ScriptedServer;
  ScriptedServer EndPoint;
  TScriptedService(const std::string& Action, const std::string& Result)
      : EndPoint(
            {{S::Read(),
              S::Send(HTTPAnswer("GetQueueUrl", "<QueueUrl>http://queue.invalid/0/q</QueueUrl>")),
              S::Close()},
             {S::Read(), S::Send(HTTPAnswer(Action, Result)), S::Close()}}) {}
};

TEST(SQSCommandDigests, AnAnswerWithAnotherDigestFailsNamingTheMessage) {
  // MD5("hello") with its last digit changed.
  const std::string altered = "5d41402abc4b2a76b9719d911017c591";
  const std::string send =
      "<MessageId>m-77</MessageId><MD5OfMessageBody>" + altered + "</MD5OfMessageBody>";
  const std::string receive =
      "<Message><MessageId>m-78</MessageId><ReceiptHandle>h</ReceiptHandle><MD5OfBody>"
      "5d41402abc4b2a76b9719d911017c592</MD5OfBody><Body>hellO</Body></Message>";
  struct TRow {
    std::vector<std::string> Args;
    std::string Action, Result, MessageId;
  } rows[] = {
      {{"send-message", "--queue-name", "q", "--message-body", "hello"},
       "SendMessage",
       send,
       "m-77"},
      {{"receive-message", "--queue-name", "q"}, "ReceiveMessage", receive, "m-78"},
  };
  for (const TRow& row : rows) {
    SCOPED_TRACE(row.Args[0]);
    TScriptedService service(row.Action, row.Result);
    const TSQSRun failed = RunAgainst(service.EndPoint.Url(""), row.Args);
    EXPECT_EQ(failed.Status, 4);  // an answer that could not be used
    EXPECT_EQ(failed.Out, "");
    EXPECT_NE(failed.Err.find("ChecksumMismatch: message \"" + row.MessageId + "\""),
              std::string::npos)
        << failed.Err;
  }

  // Switched off, the same answer is printed as it came.
  TScriptedService service("SendMessage", send);
  std::vector<std::string> args = rows[0].Args;
  args.push_back("--no-checksum-validation");
  const TSQSRun taken = RunAgainst(service.EndPoint.Url(""), args);
  EXPECT_EQ(taken.Status, 0) << taken.Err;
  EXPECT_NE(taken.Out.find("MD5OfMessageBody=" + altered), std::string::npos) << taken.Out;
}

}  // namespace
}  // namespace brv

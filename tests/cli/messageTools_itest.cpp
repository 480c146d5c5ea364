// The message-tool commands of the built `sqs` program: export and import carry 100 messages
// with every attribute type and Unicode bodies to another queue byte for byte (the digests
// agree), a line import cannot use is named by its number, an import over several connections
// keeps each FIFO group's order, and `&` and `<` from canned answers come out as the
// characters they stand for.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/SQSCommandLine.h"
#include "support/LocalSQSService.h"
#include "support/RunSQS.h"
#include "support/ScriptedServer.h"

namespace brv {
namespace {

using test::ScriptedServer;
using testing::RunSQS;
using testing::TLocalSQSService;
using testing::TSQSRun;

TSQSRun RunAt(std::vector<std::string> Args, const std::string& EndPoint,
              const std::string& Input = {}) {
  Args.insert(Args.end(), {"--endpoint-url", EndPoint});
  return RunSQS(Args,
                {{"AWS_ACCESS_KEY_ID", "test"},
                 {"AWS_SECRET_ACCESS_KEY", "test"},
                 {"AWS_REGION", "us-east-1"}},
                Input);
}

// What must survive a trip: body, message attributes and their digests, one entry a message,
// in a stable order.
std::vector<std::string> Contents(const std::string& JSONLines) {
  std::vector<std::string> contents;
  size_t start = 0;
  for (size_t end; (end = JSONLines.find('\n', start)) != std::string::npos; start = end + 1) {
    const nlohmann::json line = nlohmann::json::parse(JSONLines.substr(start, end - start));
    contents.push_back(line["Body"].dump() + line["MessageAttributes"].dump() +
                       line["MD5OfBody"].dump() + line["MD5OfMessageAttributes"].dump());
  }
  std::sort(contents.begin(), contents.end());
  return contents;
}

TEST(SQSMessageTools, ExportAndImportCarryEveryMessageByteForByte) {
  TLocalSQSService service;
  ASSERT_TRUE(service.Ready()) << service.Failure();
  const std::string at = service.HTTP();
  for (const char* queue : {"export-from", "import-to"})
    ASSERT_EQ(RunAt({"create-queue", "--queue-name", queue}, at).Status, 0);
  for (int batch = 0; batch < 10; ++batch) {
    std::vector<std::string> args = {"send-message-batch",
                                     "--queue-name",
                                     "export-from",
                                     "--message-attribute",
                                     "text=gr\xC3\xBC\xC3\x9F &<",
                                     "--message-attribute",
                                     "count:Number=-1.5",
                                     "--message-attribute",
                                     "raw:Binary=AP8BAg=="};
    for (int i = 0; i < 10; ++i)
      args.insert(args.end(),
                  {"--entry", "e" + std::to_string(i) + "=\xE2\x82\xAC \xF0\x9F\x98\x80 " +
                                  std::to_string(batch * 10 + i) + " &<\ttab"});
    ASSERT_EQ(RunAt(args, at).Status, 0);
  }

  const TSQSRun exported = RunAt({"export", "--queue-name", "export-from"}, at);
  ASSERT_EQ(exported.Status, 0) << exported.Err;
  ASSERT_EQ(Contents(exported.Out).size(), 100u);

  // A line that is not a message is named and skipped; the others go.
  const TSQSRun imported = RunAt({"import", "--queue-name", "import-to", "--concurrency", "3"}, at,
                                 exported.Out + "{\"Body\": 5}\n");
  EXPECT_EQ(imported.Status, 1);
  EXPECT_EQ(imported.Out, "Sent=100\nFailed=1\n");
  EXPECT_EQ(imported.Err, "line 101: no Body\n");

  // Taken out with --delete, the copy matches the original, and its queue is empty after.
  const TSQSRun copy = RunAt({"export", "--queue-name", "import-to", "--delete"}, at);
  ASSERT_EQ(copy.Status, 0) << copy.Err;
  EXPECT_EQ(Contents(copy.Out), Contents(exported.Out));
  EXPECT_EQ(RunAt({"export", "--queue-name", "import-to"}, at).Out, "");
}

// Over several connections each message arrives once, and to a FIFO queue the messages of a
// group arrive in the order of their lines, whichever connection carries them.
TEST(SQSMessageTools, ImportOverSeveralConnectionsKeepsEachGroupsOrder) {
  TLocalSQSService service;
  ASSERT_TRUE(service.Ready()) << service.Failure();
  const std::string at = service.HTTP();
  ASSERT_EQ(
      RunAt({"create-queue", "--queue-name", "ordered.fifo", "--attribute", "FifoQueue=true"}, at)
          .Status,
      0);
  constexpr int kGroups = 5, kMessages = 120;
  std::string lines;
  for (int i = 0; i < kMessages; ++i)
    lines += nlohmann::json{{"MessageId", "id-" + std::to_string(i)},
                            {"Body", std::to_string(i)},
                            {"Attributes", {{"MessageGroupId", "g" + std::to_string(i % kGroups)}}}}
                 .dump() +
             "\n";
  const TSQSRun imported =
      RunAt({"import", "--queue-name", "ordered.fifo", "--concurrency", "4"}, at, lines);
  ASSERT_EQ(imported.Status, 0) << imported.Err;
  EXPECT_EQ(imported.Out, "Sent=" + std::to_string(kMessages) + "\nFailed=0\n");

  const TSQSRun exported = RunAt({"export", "--queue-name", "ordered.fifo", "--delete"}, at);
  ASSERT_EQ(exported.Status, 0) << exported.Err;
  std::map<std::string, std::vector<int>> groups;
  size_t start = 0;
  for (size_t end; (end = exported.Out.find('\n', start)) != std::string::npos; start = end + 1) {
    const nlohmann::json line = nlohmann::json::parse(exported.Out.substr(start, end - start));
    groups[line["Attributes"]["MessageGroupId"]].push_back(
        std::stoi(line["Body"].get<std::string>()));
  }
  ASSERT_EQ(groups.size(), static_cast<size_t>(kGroups));
  for (const auto& [group, bodies] : groups) {
    std::vector<int> expected;
    for (int i = std::stoi(group.substr(1)); i < kMessages; i += kGroups) expected.push_back(i);
    EXPECT_EQ(bodies, expected) << group;
  }
}

TEST(SQSMessageTools, TailEndsOnInterruptWithStatusZeroAndWholeMessages) {
  TLocalSQSService service;
  ASSERT_TRUE(service.Ready()) << service.Failure();
  ASSERT_EQ(RunAt({"create-queue", "--queue-name", "tailed"}, service.HTTP()).Status, 0);
  std::vector<std::string> send = {"send-message-batch", "--queue-name", "tailed"};
  for (int i = 0; i < 10; ++i) send.insert(send.end(), {"--entry", "e" + std::to_string(i) + "=m"});
  ASSERT_EQ(RunAt(send, service.HTTP()).Status, 0);

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    setenv("AWS_ACCESS_KEY_ID", "test", 1);
    setenv("AWS_SECRET_ACCESS_KEY", "test", 1);
    setenv("AWS_REGION", "us-east-1", 1);
    execl(BRV_SQS_PROGRAM, BRV_SQS_PROGRAM, "tail", "--queue-name", "tailed", "--endpoint-url",
          service.HTTP().c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  // Ten messages printed (their last lines included), then the program sits in its next long
  // poll: interrupt it there.
  std::string printed;
  char buffer[4096];
  const auto lines = [&](const std::string& Start) {
    size_t count = 0;
    for (size_t at = printed.find(Start); at != std::string::npos; at = printed.find(Start, at + 1))
      count += at == 0 || printed[at - 1] == '\n';
    return count;
  };
  for (ssize_t n; lines("Attribute.ApproximateFirstReceiveTimestamp=") < 10 &&
                  (n = read(out[0], buffer, sizeof buffer)) > 0;)
    printed.append(buffer, n);
  kill(pid, SIGINT);
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) printed.append(buffer, n);
  close(out[0]);
  int status = -1;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(lines("MessageId="), 10u);
  EXPECT_EQ(lines("Body=m\n"), 10u);
  EXPECT_EQ(printed.back(), '\n');
}

std::string HTTP(const std::string& Body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
         std::to_string(Body.size()) + "\r\n\r\n" + Body;
}

std::string Answer(const std::string& Action, const std::string& Result) {
  return HTTP("<" + Action + "Response><" + Action + "Result>" + Result + "</" + Action +
              "Result><ResponseMetadata><RequestId>r</RequestId></ResponseMetadata></" + Action +
              "Response>");
}

TEST(SQSMessageTools, EscapedCharactersOfAnswersArePrintedAsThemselves) {
  ScriptedServer queue({});
  const std::string message =
      "<Message><MessageId>m</MessageId><ReceiptHandle>h</ReceiptHandle><MD5OfBody>x</MD5OfBody>"
      "<Body>a &amp; &lt;b&gt;</Body><MessageAttribute><Name>k</Name><Value>"
      "<StringValue>&lt;v&amp;</StringValue><DataType>String</DataType></Value>"
      "</MessageAttribute></Message>";
  const ScriptedServer::Script script = ScriptedServer::Exchange(
      {Answer("GetQueueUrl", "<QueueUrl>" + queue.Url("/1/q") + "</QueueUrl>"),
       Answer("ReceiveMessage", message),
       Answer("ChangeMessageVisibilityBatch",
              "<ChangeMessageVisibilityBatchResultEntry><Id>m0</Id>"
              "</ChangeMessageVisibilityBatchResultEntry>")});
  ScriptedServer server({script, script});
  const std::vector<std::string> options = {"--queue-name", "q", "--max", "1",
                                            "--no-checksum-validation"};
  std::vector<std::string> peek = {"peek"}, exported = {"export"};
  peek.insert(peek.end(), options.begin(), options.end());
  exported.insert(exported.end(), options.begin(), options.end());

  const TSQSRun peeked = RunAt(peek, server.Url(""));
  EXPECT_EQ(peeked.Status, 0) << peeked.Err;
  EXPECT_NE(peeked.Out.find("\nBody=a & <b>\n"), std::string::npos) << peeked.Out;
  EXPECT_NE(peeked.Out.find("\nMessageAttribute.k:String=<v&\n"), std::string::npos);

  const TSQSRun line = RunAt(exported, server.Url(""));
  EXPECT_EQ(line.Status, 0) << line.Err;
  const nlohmann::json json = nlohmann::json::parse(line.Out);
  EXPECT_EQ(json["Body"], "a & <b>");
  EXPECT_EQ(json["MessageAttributes"]["k"]["StringValue"], "<v&");
}

TEST(SQSMessageTools, EveryNewCommandHasHelp) {
  for (const char* command : {"peek", "tail", "move", "export", "import", "redrive",
                              "redrive-status", "redrive-cancel"}) {
    std::ostringstream out, err;
    EXPECT_EQ(RunSQSCommandLine({command, "--help"}, out, err), 0) << command;
    EXPECT_NE(out.str().find(command), std::string::npos) << command;
    EXPECT_EQ(err.str(), "") << command;
  }
}

}  // namespace
}  // namespace brv

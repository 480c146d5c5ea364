// The built `sqs` program against scripted loopback peers that answer what a real service
// never would: the exit status and the failure text of each kind of failure, the escaping of
// what a server sends on both streams, queue URLs that point elsewhere, batches that fail in
// part, and the exact parameters sent for values the user typed.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/RunSQS.h"
#include "support/ScriptedServer.h"
#include "tests/support/Programs.h"

namespace brv {
namespace {

using test::ScriptedServer;
using testing::RunSQS;
using testing::TSQSRun;

const std::map<std::string, std::string> kUser = {
    {"AWS_ACCESS_KEY_ID", "test"}, {"AWS_SECRET_ACCESS_KEY", "test"}, {"AWS_REGION", "us-east-1"}};

std::string HTTP(int Status, const std::string& Body) {
  return "HTTP/1.1 " + std::to_string(Status) + (Status == 200 ? " OK" : " Error") +
         "\r\nContent-Type: text/xml\r\nContent-Length: " + std::to_string(Body.size()) +
         "\r\n\r\n" + Body;
}

std::string Answer(const std::string& Action, const std::string& Result) {
  return HTTP(200, "<" + Action + "Response><" + Action + "Result>" + Result + "</" + Action +
                       "Result><ResponseMetadata><RequestId>r</RequestId></ResponseMetadata></" +
                       Action + "Response>");
}

std::string Error(const std::string& Code, const std::string& Message) {
  return HTTP(400, "<ErrorResponse><Error><Type>Sender</Type><Code>" + Code + "</Code><Message>" +
                       Message + "</Message></Error><RequestId>r</RequestId></ErrorResponse>");
}

TSQSRun RunAt(std::vector<std::string> Args, const std::string& EndPoint) {
  Args.insert(Args.end(), {"--endpoint-url", EndPoint});
  return RunSQS(Args, kUser);
}

// The request line of a recorded request.
std::string RequestLine(const std::string& Request) {
  return Request.substr(0, Request.find("\r\n"));
}

TEST(SQSFailures, EachKindOfFailureNamesOperationEndpointAndReasonWithItsStatus) {
  const std::string refused = "127.0.0.1:" + std::to_string(test::ClosedPort());
  const TSQSRun run = RunAt({"list-queues"}, "http://" + refused);
  EXPECT_EQ(run.Status, 3);
  EXPECT_EQ(run.Err, "sqs: list-queues: cannot connect to " + refused +
                         ": connection refused (Socket Error # 10061)\n");

  const TSQSRun unknown =
      RunAt({"get-queue-url", "--queue-name", "q"}, "https://no-such-host.invalid");
  EXPECT_EQ(unknown.Status, 3);
  EXPECT_EQ(unknown.Err.rfind("sqs: get-queue-url: cannot resolve no-such-host.invalid: ", 0), 0u)
      << unknown.Err;
  EXPECT_NE(unknown.Err.find("(Socket Error # 110"), std::string::npos) << unknown.Err;

  struct TCase {
    std::vector<std::string> Options;
    ScriptedServer::Script Script;
    bool TLS;
    std::string Expected;  // after "sqs: list-queues: ", with PEER for host and port
    int Status;
  };
  const std::vector<TCase> cases = {
      {{"--read-timeout", "1"},
       {ScriptedServer::Read(), ScriptedServer::Sleep(2500)},
       false,
       "no answer from PEER in time (Read timed out.)",
       3},
      {{},
       {ScriptedServer::Send("HTTP/1.1 200 OK\r\n\r\n"), ScriptedServer::Close()},
       true,
       "TLS with PEER failed: ",
       3},
      {{"--tls-engine", "schannel"},
       {ScriptedServer::Send("HTTP/1.1 200 OK\r\n\r\n"), ScriptedServer::Close()},
       true,
       "TLS with PEER failed: ",
       3},
      {{},
       {ScriptedServer::Read(),
        ScriptedServer::Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n")},
       false,
       "unusable answer from PEER: ",
       4},
      {{},
       {ScriptedServer::Read(),
        ScriptedServer::Send("HTTP/1.1 200 OK\r\nX-Long: " + std::string(70000, 'a') + "\r\n")},
       false,
       "unusable answer from PEER: ",
       4},
      {{}, ScriptedServer::Exchange({Error("ChecksumMismatch", "altered")}), false, "", 4},
  };
  for (const TCase& c : cases) {
    ScriptedServer server({c.Script});
    const std::string peer = "127.0.0.1:" + std::to_string(server.Port());
    std::vector<std::string> args = {"list-queues"};
    args.insert(args.end(), c.Options.begin(), c.Options.end());
    const TSQSRun failed = RunAt(args, (c.TLS ? "https://" : "http://") + peer);
    EXPECT_EQ(failed.Status, c.Status) << failed.Err;
    if (c.Expected.empty()) continue;
    std::string expected = "sqs: list-queues: " + c.Expected;
    expected.replace(expected.find("PEER"), 4, peer);
    EXPECT_EQ(failed.Err.rfind(expected, 0), 0u) << failed.Err;
  }
}

// What a terminal must never receive from a server: ESC, the C1 control sequence
// introducer U+009B, the right-to-left override U+202E and a byte that is not UTF-8.
const std::string kHostile = "\x1b[2J\xc2\x9b\xe2\x80\xae\xff";
const std::string kEscaped = "\\x1b[2J\\xc2\\x9b\\xe2\\x80\\xae\\xff";

void ExpectNothingRaw(const std::string& Stream) {
  for (const std::string raw : {"\x1b", "\xc2\x9b", "\xe2\x80\xae", "\xff"})
    EXPECT_EQ(Stream.find(raw), std::string::npos) << Stream;
}

TEST(SQSEscaping, ServerTextIsEscapedOnBothStreams) {
  ScriptedServer queue({});
  const std::string error_entry = "<BatchResultErrorEntry><Id>a</Id><Code>" + kHostile +
                                  "</Code><Message>" + kHostile +
                                  "</Message></BatchResultErrorEntry>";
  ScriptedServer server(
      {ScriptedServer::Exchange(
           {Answer("ListQueues", "<QueueUrl>http://q/1/" + kHostile + "</QueueUrl>")}),
       // An error document's text arrives decoded: C1 and bidirectional controls as references.
       ScriptedServer::Exchange({Error("\x1b[2J&#x9B;&#x202E;", "m&#x2066;")}),
       ScriptedServer::Exchange(
           {Answer("GetQueueUrl", "<QueueUrl>" + queue.Url("/1/q") + "</QueueUrl>"),
            Answer("DeleteMessageBatch", error_entry)}),
       {ScriptedServer::Read(),
        ScriptedServer::Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + kHostile +
                             "\r\n")},
       ScriptedServer::Exchange(
           {Answer("CreateQueue", "<QueueUrl>http://q/1/" + kHostile + "</QueueUrl>")}),
       ScriptedServer::Exchange(
           {Answer("ListQueues", "<QueueUrl>http://q/1/" + kHostile + "</QueueUrl>")})});
  const std::string endpoint = server.Url("");
  const TSQSRun listed = RunAt({"list-queues"}, endpoint);
  EXPECT_EQ(listed.Status, 0);
  EXPECT_EQ(listed.Out, "http://q/1/" + kEscaped + "\n");

  const TSQSRun refused = RunAt({"list-queues"}, endpoint);
  EXPECT_EQ(refused.Status, 1);
  EXPECT_EQ(refused.Err, "\\x1b[2J\\xc2\\x9b\\xe2\\x80\\xae: m\\xe2\\x81\\xa6\n");

  const TSQSRun batch =
      RunAt({"delete-message-batch", "--queue-name", "q", "--entry", "a=h"}, endpoint);
  EXPECT_EQ(batch.Status, 1);
  EXPECT_EQ(batch.Err, "a: " + kEscaped + ": " + kEscaped + "\n");

  const TSQSRun broken = RunAt({"list-queues"}, endpoint);  // an exception text quoting bytes
  EXPECT_EQ(broken.Status, 4);
  EXPECT_NE(broken.Err.find("\\x1b[2J"), std::string::npos) << broken.Err;
  const TSQSRun created = RunAt({"create-queue", "--queue-name", "q"}, endpoint);
  EXPECT_EQ(created.Out, "http://q/1/" + kEscaped + "\n");
  // JSON's own escapes, and U+FFFD for the byte that is not UTF-8.
  const TSQSRun json = RunAt({"list-queues", "--output", "json"}, endpoint);
  EXPECT_EQ(json.Status, 0) << json.Err;
  EXPECT_EQ(json.Out,
            "{\n    \"QueueUrls\": [\n        \"http://q/1/\\u001b[2J\\u009b\\u202e\xef\xbf\xbd\"\n"
            "    ]\n}\n");
  for (const TSQSRun* run : {&listed, &refused, &batch, &broken, &created, &json}) {
    ExpectNothingRaw(run->Out);
    ExpectNothingRaw(run->Err);
  }
}

TEST(SQSQueueURL, RequestsGoToTheEndpointWhateverHostTheQueueURLNames) {
  ScriptedServer elsewhere({ScriptedServer::Exchange({Answer("PurgeQueue", "")})});
  const std::string queue_url = elsewhere.Url("/123456789012/orders");
  const std::string purged = Answer("PurgeQueue", "");
  ScriptedServer endpoint(
      {ScriptedServer::Exchange(
           {Answer("GetQueueUrl", "<QueueUrl>" + queue_url + "</QueueUrl>"), purged}),
       ScriptedServer::Exchange({purged})});
  const TSQSRun run = RunAt({"purge-queue", "--queue-name", "orders"}, endpoint.Url(""));
  EXPECT_EQ(run.Status, 0) << run.Err;
  const std::vector<std::string> requests = endpoint.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(RequestLine(requests[1]), "GET /123456789012/orders/?Action=PurgeQueue HTTP/1.1");
  EXPECT_EQ(elsewhere.Connections(), 0);

  for (const std::string path : {"/orders", "/1/2/orders", "/1/../orders", "/1/or%2Fders", ""}) {
    const std::string bad = elsewhere.Url(path);
    ScriptedServer answering(
        {ScriptedServer::Exchange({Answer("GetQueueUrl", "<QueueUrl>" + bad + "</QueueUrl>")})});
    const TSQSRun refused = RunAt({"purge-queue", "--queue-name", "orders"}, answering.Url(""));
    EXPECT_EQ(refused.Status, 4) << path;
    EXPECT_NE(refused.Err.find("\"" + bad + "/\""), std::string::npos) << refused.Err;
    EXPECT_EQ(answering.Requests().size(), 1u) << path;
  }
  EXPECT_EQ(elsewhere.Connections(), 0);
}

TEST(SQSBatches, AnyEntryNotCarriedOutFailsTheCommandAndIsNamed) {
  const std::string error_entry =
      "<BatchResultErrorEntry><Id>b</Id><Code>ReceiptHandleIsInvalid</Code><Message>bad "
      "handle</Message><SenderFault>true</SenderFault></BatchResultErrorEntry>";
  struct TCase {
    std::string Command, Answer, Out, Err;
  };
  const std::vector<TCase> cases = {
      {"delete-message-batch", HTTP(500, ""), "", "a: not accepted\nb: not accepted\n"},
      {"delete-message-batch", HTTP(200, ""), "", "a: not accepted\nb: not accepted\n"},
      {"delete-message-batch",
       Answer("DeleteMessageBatch",
              "<DeleteMessageBatchResultEntry><Id>a</Id></DeleteMessageBatchResultEntry>" +
                  error_entry),
       "", "b: ReceiptHandleIsInvalid: bad handle\n"},
      {"delete-message-batch",
       Answer("DeleteMessageBatch",
              "<DeleteMessageBatchResultEntry><Id>a</Id></DeleteMessageBatchResultEntry>"),
       "", "b: not accepted\n"},
      {"change-message-visibility-batch",
       Answer("ChangeMessageVisibilityBatch",
              "<ChangeMessageVisibilityBatchResultEntry><Id>a</Id></"
              "ChangeMessageVisibilityBatchResultEntry>" +
                  error_entry),
       "a\n", "b: ReceiptHandleIsInvalid: bad handle\n"},
  };
  for (const TCase& c : cases) {
    ScriptedServer server({});
    const std::string url = server.Url("/1/q");
    ScriptedServer peer({ScriptedServer::Exchange(
        {Answer("GetQueueUrl", "<QueueUrl>" + url + "</QueueUrl>"), c.Answer})});
    // One attempt: the scripted peer answers each request once (a 500 would be retried).
    std::vector<std::string> args = {c.Command, "--queue-name",   "q", "--entry", "a=h1", "--entry",
                                     "b=h2",    "--max-attempts", "1"};
    if (c.Command == "change-message-visibility-batch")
      args.insert(args.end(), {"--visibility-timeout", "5"});
    const TSQSRun run = RunAt(args, peer.Url(""));
    EXPECT_EQ(run.Status, 1) << c.Command << " " << c.Answer;
    EXPECT_EQ(run.Out, c.Out) << c.Answer;
    EXPECT_EQ(run.Err, c.Err) << c.Answer;
  }
}

TEST(SQSParameters, ValuesAreSentExactlyAsTyped) {
  struct TCase {
    std::vector<std::string> Args;
    std::string Answer, Query;
  };
  const std::vector<TCase> cases = {
      {{"send-message", "--message-body", "m", "--delay-seconds", "0"},
       Answer("SendMessage",
              "<MessageId>1</MessageId>"
              "<MD5OfMessageBody>6f8f57715090da2632453988d9a1501b</MD5OfMessageBody>"),
       "Action=SendMessage&DelaySeconds=0&MessageBody=m"},
      {{"receive-message", "--visibility-timeout", "0", "--wait-time-seconds", "0",
        "--attribute-name", "SentTimestamp", "--attribute-name", "ApproximateReceiveCount"},
       Answer("ReceiveMessage", ""),
       "Action=ReceiveMessage&AttributeName.1=SentTimestamp&AttributeName.2="
       "ApproximateReceiveCount&MaxNumberOfMessages=1&VisibilityTimeout=0&WaitTimeSeconds=0"},
      {{"add-permission", "--label", "l", "--aws-account-ids", "111122223333", "--aws-account-ids",
        "444455556666", "--actions", "SendMessage"},
       Answer("AddPermission", ""),
       "AWSAccountId.1=111122223333&AWSAccountId.2=444455556666&Action=AddPermission&"
       "ActionName.1=SendMessage&Label=l"},
  };
  for (const TCase& c : cases) {
    ScriptedServer server({});
    ScriptedServer peer({ScriptedServer::Exchange(
        {Answer("GetQueueUrl", "<QueueUrl>" + server.Url("/1/q") + "</QueueUrl>"), c.Answer})});
    std::vector<std::string> args = c.Args;
    args.insert(args.end(), {"--queue-name", "q"});
    const TSQSRun run = RunAt(args, peer.Url(""));
    EXPECT_EQ(run.Status, 0) << run.Err;
    const std::vector<std::string> requests = peer.Requests();
    ASSERT_EQ(requests.size(), 2u) << c.Query;
    EXPECT_EQ(RequestLine(requests[1]), "GET /1/q/?" + c.Query + " HTTP/1.1");
  }

  const TSQSRun pairs = testing::RunSQSHere({"add-permission", "--queue-name", "q", "--label", "l",
                                             "--permission", "111122223333=SendMessage"},
                                            kUser);
  EXPECT_EQ(pairs.Status, 2);
  EXPECT_NE(pairs.Err.find("--aws-account-ids"), std::string::npos) << pairs.Err;
  EXPECT_NE(pairs.Err.find("--actions"), std::string::npos) << pairs.Err;
}

}  // namespace
}  // namespace brv

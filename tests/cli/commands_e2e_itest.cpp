// The built `sqs` program against the local SQS service, every command over plain HTTP and
// over verified HTTPS through each TLS engine. Each step reads the service's state back with
// the program itself (list-queues, get-queue-attributes, list-queue-tags, receive-message).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/E2ETransports.h"
#include "support/RunSQS.h"
#include "support/ServiceTexts.h"
#include "support/SharedLocalSQSService.h"

namespace brv {
namespace {

using testing::E2ETransportName;
using testing::E2ETransports;
using testing::OutputLines;
using testing::Pairs;
using testing::RunSQS;
using testing::TE2ETransport;
using testing::TLocalSQSService;
using testing::TSQSRun;
using testing::TWithLocalSQSService;

using TMessage = std::map<std::string, std::string>;

// The messages of a receive-message output: each begins with its MessageId line.
std::vector<TMessage> Messages(const std::string& Output) {
  std::vector<TMessage> messages;
  for (const auto& [name, value] : Pairs(Output)) {
    if (name == "MessageId") messages.emplace_back();
    if (messages.empty()) {
      ADD_FAILURE() << "output does not start with a message id: " << Output;
      break;
    }
    messages.back()[name] = value;
  }
  return messages;
}

std::map<std::string, std::string> AsMap(const std::string& Output) {
  std::map<std::string, std::string> map;
  for (const auto& [name, value] : Pairs(Output)) map[name] = value;
  return map;
}

bool Contains(const std::vector<std::string>& List, const std::string& Item) {
  return std::find(List.begin(), List.end(), Item) != List.end();
}

class SQSCommands : public TWithLocalSQSService<::testing::TestWithParam<TE2ETransport>> {
 protected:
  std::string EndPoint(const TLocalSQSService& Of) const {
    return GetParam().TLS ? Of.HTTPS() : Of.HTTP();
  }

  // Runs the program for the transport under test with the service's credentials.
  TSQSRun Run(std::vector<std::string> Args, const std::string& Input = {},
              std::map<std::string, std::string> Environment = {}) {
    std::vector<std::string> options = {"--endpoint-url", EndPoint(*service)};
    if (GetParam().TLS)
      options.insert(options.end(),
                     {"--ca-bundle", service->CA(), "--tls-engine", GetParam().EngineName});
    Args.insert(Args.end(), options.begin(), options.end());
    Environment.insert({{"AWS_ACCESS_KEY_ID", "test"},
                        {"AWS_SECRET_ACCESS_KEY", "test"},
                        {"AWS_DEFAULT_REGION", service->Region()}});
    return RunSQS(Args, Environment, Input);
  }

  // Runs the program and expects success with nothing on standard error; gives its output.
  std::string Ok(const std::vector<std::string>& Args, const std::string& Input = {}) {
    const TSQSRun run = Run(Args, Input);
    EXPECT_EQ(run.Status, 0) << Args[0] << ": " << run.Err;
    EXPECT_EQ(run.Err, "") << Args[0];
    return run.Out;
  }

  std::string Attribute(const std::string& Queue, const std::string& Name) {
    return AsMap(Ok({"get-queue-attributes", "--queue-name", Queue}))[Name];
  }

  std::vector<TMessage> ReceiveUpTo(const std::string& Queue, size_t Count,
                                    const std::string& VisibilityTimeout = "30") {
    std::vector<TMessage> all;
    for (int empty = 0; all.size() < Count && empty < 3;) {
      const auto messages =
          Messages(Ok({"receive-message", "--queue-name", Queue, "--max-number-of-messages", "10",
                       "--wait-time-seconds", "1", "--visibility-timeout", VisibilityTimeout,
                       "--attribute-name", "All", "--message-attribute-name", "All"}));
      empty = messages.empty() ? empty + 1 : 0;
      all.insert(all.end(), messages.begin(), messages.end());
    }
    return all;
  }

  static std::string UniqueName(const std::string& Prefix) {
    static int counter = 0;
    return Prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
  }
};

TEST_P(SQSCommands, QueuesAreCreatedConfiguredTaggedAndDeleted) {
  const std::string name = UniqueName("cli-settings");
  const std::string url = EndPoint(*service) + "/" + service->AccountId() + "/" + name;
  EXPECT_EQ(Ok({"create-queue", "--queue-name", name, "--attribute", "VisibilityTimeout=45",
                "--tag", "team=blue", "--tag", "a\\=b:c/d=e+f-g@h.i_j k"}),
            url + "\n");
  EXPECT_EQ(Ok({"get-queue-url", "--queue-name", name}), url + "\n");
  EXPECT_TRUE(Contains(OutputLines(Ok({"list-queues", "--queue-name-prefix", name})), url));
  EXPECT_TRUE(Contains(OutputLines(Ok({"list-queues"})), url));

  EXPECT_EQ(Attribute(name, "VisibilityTimeout"), "45");
  EXPECT_EQ(Ok({"set-queue-attributes", "--queue-name", name, "--attribute", "VisibilityTimeout=60",
                "--attribute", "DelaySeconds=1"}),
            "");
  EXPECT_EQ(Attribute(name, "VisibilityTimeout"), "60");
  EXPECT_EQ(Attribute(name, "DelaySeconds"), "1");

  EXPECT_EQ(AsMap(Ok({"list-queue-tags", "--queue-name", name})),
            (std::map<std::string, std::string>{{"team", "blue"}, {"a=b:c/d", "e+f-g@h.i_j k"}}));
  Ok({"tag-queue", "--queue-name", name, "--tag", "stage=prod"});
  Ok({"untag-queue", "--queue-name", name, "--tag-key", "team", "--tag-key", "a=b:c/d"});
  EXPECT_EQ(Ok({"list-queue-tags", "--queue-name", name}), "stage=prod\n");

  Ok({"delete-queue", "--queue-name", name});
  EXPECT_FALSE(Contains(OutputLines(Ok({"list-queues"})), url));
  const TSQSRun gone = Run({"get-queue-url", "--queue-name", name});
  EXPECT_EQ(gone.Status, 1);
  EXPECT_EQ(gone.Out, "");
  EXPECT_EQ(gone.Err.rfind("AWS.SimpleQueueService.NonExistentQueue: ", 0), 0u) << gone.Err;
}

TEST_P(SQSCommands, MessagesAreSentReceivedHiddenAndDeleted) {
  const std::string name = UniqueName("cli-messages");
  Ok({"create-queue", "--queue-name", name});
  const auto sent = AsMap(
      Ok({"send-message", "--queue-name", name, "--message-body", "order 1 & 2 = \"3\"",
          "--message-attribute", "colour=blue green", "--message-attribute", "count:Number=42"}));
  ASSERT_EQ(sent.count("MessageId"), 1u);
  EXPECT_EQ(sent.at("MD5OfMessageBody").size(), 32u);
  EXPECT_EQ(sent.at("MD5OfMessageAttributes").size(), 32u);

  auto received = ReceiveUpTo(name, 1);
  ASSERT_EQ(received.size(), 1u);
  TMessage message = received[0];
  EXPECT_EQ(message["MessageId"], sent.at("MessageId"));
  EXPECT_EQ(message["Body"], "order 1 & 2 = \"3\"");
  EXPECT_EQ(message["MD5OfBody"], sent.at("MD5OfMessageBody"));
  EXPECT_EQ(message["MessageAttribute.colour:String"], "blue green");
  EXPECT_EQ(message["MessageAttribute.count:Number"], "42");
  EXPECT_EQ(message["Attribute.ApproximateReceiveCount"], "1");

  EXPECT_EQ(Attribute(name, "ApproximateNumberOfMessagesNotVisible"), "1");
  Ok({"change-message-visibility", "--queue-name", name, "--receipt-handle",
      message["ReceiptHandle"], "--visibility-timeout", "0"});
  received = ReceiveUpTo(name, 1);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0]["MessageId"], sent.at("MessageId"));
  Ok({"delete-message", "--queue-name", name, "--receipt-handle", received[0]["ReceiptHandle"]});
  EXPECT_EQ(Attribute(name, "ApproximateNumberOfMessages"), "0");
  EXPECT_EQ(Attribute(name, "ApproximateNumberOfMessagesNotVisible"), "0");

  // An empty queue: success, nothing printed.
  EXPECT_EQ(Ok({"receive-message", "--queue-name", name}), "");
  Ok({"delete-queue", "--queue-name", name});
}

TEST_P(SQSCommands, BatchesAndPurge) {
  const std::string name = UniqueName("cli-batches");
  Ok({"create-queue", "--queue-name", name});
  std::vector<std::string> args = {"send-message-batch", "--queue-name", name,
                                   "--message-attribute", "kind=batch"};
  std::set<std::string> bodies;
  for (int i = 1; i <= 12; ++i) {
    const std::string body = "body " + std::to_string(i) + " =&+";
    bodies.insert(body);
    args.insert(args.end(), {"--entry", "e" + std::to_string(i) + "=" + body});
  }
  const auto ids = Pairs(Ok(args));
  ASSERT_EQ(ids.size(), 12u);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(ids[i].first, "e" + std::to_string(i + 1));

  const auto received = ReceiveUpTo(name, 12, "30");
  ASSERT_EQ(received.size(), 12u);
  std::set<std::string> got;
  std::vector<std::string> hide = {"change-message-visibility-batch", "--queue-name", name,
                                   "--visibility-timeout", "120"};
  std::vector<std::string> remove = {"delete-message-batch", "--queue-name", name};
  for (size_t i = 0; i < received.size(); ++i) {
    TMessage message = received[i];
    got.insert(message["Body"]);
    EXPECT_EQ(message["MessageAttribute.kind:String"], "batch");
    const std::string entry = "m" + std::to_string(i) + "=" + message["ReceiptHandle"];
    hide.insert(hide.end(), {"--entry", entry});
    remove.insert(remove.end(), {"--entry", entry});
  }
  EXPECT_EQ(got, bodies);
  EXPECT_EQ(OutputLines(Ok(hide)).size(), 12u);
  EXPECT_EQ(Attribute(name, "ApproximateNumberOfMessagesNotVisible"), "12");
  EXPECT_EQ(Ok(remove), "");
  EXPECT_EQ(Attribute(name, "ApproximateNumberOfMessages"), "0");
  EXPECT_EQ(Attribute(name, "ApproximateNumberOfMessagesNotVisible"), "0");

  for (int i = 0; i < 3; ++i)
    Ok({"send-message", "--queue-name", name, "--message-body", "to purge"});
  Ok({"purge-queue", "--queue-name", name});
  EXPECT_EQ(Attribute(name, "ApproximateNumberOfMessages"), "0");
  EXPECT_EQ(Ok({"receive-message", "--queue-name", name}), "");
  Ok({"delete-queue", "--queue-name", name});
}

TEST_P(SQSCommands, AnExplicitZeroOverridesTheQueuesDefaults) {
  const std::string name = UniqueName("cli-zero");
  Ok({"create-queue", "--queue-name", name, "--attribute", "DelaySeconds=60", "--attribute",
      "ReceiveMessageWaitTimeSeconds=20"});
  Ok({"send-message", "--queue-name", name, "--message-body", "now", "--delay-seconds", "0"});
  // Neither the queue's delay nor its 20 s long poll applies; the message stays visible.
  const auto first = Messages(Ok({"receive-message", "--queue-name", name, "--wait-time-seconds",
                                  "0", "--visibility-timeout", "0", "--attribute-name",
                                  "SentTimestamp", "--attribute-name", "ApproximateReceiveCount"}));
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].at("Body"), "now");
  EXPECT_FALSE(first[0].at("Attribute.SentTimestamp").empty());
  EXPECT_EQ(first[0].at("Attribute.ApproximateReceiveCount"), "1");
  const auto again = Messages(Ok({"receive-message", "--queue-name", name, "--wait-time-seconds",
                                  "0", "--attribute-name", "ApproximateReceiveCount"}));
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].at("Attribute.ApproximateReceiveCount"), "2");
  Ok({"delete-queue", "--queue-name", name});
}

TEST_P(SQSCommands, PermissionsAndDeadLetterSources) {
  const std::string dead = UniqueName("cli-dead");
  const std::string source = UniqueName("cli-source");
  Ok({"create-queue", "--queue-name", dead});
  const std::string source_url = OutputLines(Ok({"create-queue", "--queue-name", source}))[0];
  EXPECT_EQ(Ok({"list-dead-letter-source-queues", "--queue-name", dead}), "");
  Ok({"set-queue-attributes", "--queue-name", source, "--attribute",
      "RedrivePolicy={\"deadLetterTargetArn\":\"" + Attribute(dead, "QueueArn") +
          "\",\"maxReceiveCount\":\"3\"}"});
  EXPECT_EQ(Ok({"list-dead-letter-source-queues", "--queue-name", dead}), source_url + "\n");

  Ok({"add-permission", "--queue-name", source, "--label", "senders", "--aws-account-ids",
      "123456789012", "--aws-account-ids", "210987654321", "--actions", "SendMessage"});
  const std::string policy = Attribute(source, "Policy");
  EXPECT_NE(policy.find("\"Sid\":\"senders\""), std::string::npos) << policy;
  EXPECT_NE(policy.find("arn:aws:iam::123456789012:root"), std::string::npos) << policy;
  Ok({"remove-permission", "--queue-name", source, "--label", "senders"});
  EXPECT_EQ(Attribute(source, "Policy").find("senders"), std::string::npos);
  const TSQSRun again = Run({"remove-permission", "--queue-name", source, "--label", "senders"});
  EXPECT_EQ(again.Status, 1);
  EXPECT_EQ(again.Err.rfind("InvalidParameterValue: ", 0), 0u) << again.Err;

  Ok({"delete-queue", "--queue-name", source});
  Ok({"delete-queue", "--queue-name", dead});
}

TEST_P(SQSCommands, TextsAndLargeBodiesComeBackByteExact) {
  const std::string name = UniqueName("cli-texts");
  Ok({"create-queue", "--queue-name", name});
  testing::TServiceTextGenerator generator(20240608);
  std::vector<std::string> texts = {"a & b = c + d % e # f", "line one\r\nline two\n",
                                    " {\"json\": \"with \\\"quotes\\\"\"} ",
                                    "--looks-like-an-option", "back\\slash \\n not a line feed"};
  for (int i = 0; i < 6; ++i) texts.push_back(generator.Text(120, 120));
  std::map<std::string, std::string> sent;  // message id -> text
  for (const std::string& text : texts) {
    const auto answer = AsMap(Ok({"send-message", "--queue-name", name, "--message-body", text,
                                  "--message-attribute", "text=" + text}));
    sent[answer.at("MessageId")] = text;
  }

  // Bodies too large for an argument: from a file, and from standard input.
  std::string big(1024 * 1024, 'x');
  for (size_t i = 0; i < big.size(); i += 1000) big[i] = "&=+%# \r\n"[(i / 1000) % 8];
  const std::string file = std::string(BRV_BINARY_DIR) + "/cli-e2e-body-" +
                           std::to_string(getpid()) + "-" + GetParam().Name;
  std::ofstream(file, std::ios::binary) << big;
  sent[AsMap(Ok({"send-message", "--queue-name", name, "--message-body-file", file}))
           .at("MessageId")] = big;
  std::remove(file.c_str());
  const std::string piped = "from standard input\r\n" + std::string(300 * 1024, 'y');
  sent[AsMap(Ok({"send-message", "--queue-name", name, "--message-body-file", "-"}, piped))
           .at("MessageId")] = piped;

  const auto received = ReceiveUpTo(name, sent.size(), "60");
  ASSERT_EQ(received.size(), sent.size());
  for (TMessage message : received) {
    ASSERT_EQ(sent.count(message["MessageId"]), 1u);
    const std::string& text = sent[message["MessageId"]];
    EXPECT_TRUE(message["Body"] == text) << text.size() << " bytes";
    if (text.size() < 1000) {
      EXPECT_EQ(message["MessageAttribute.text:String"], text);
    }
  }
  Ok({"delete-queue", "--queue-name", name});
}

TEST_P(SQSCommands, AWrongSecretIsAServiceError) {
  const TSQSRun run = Run({"list-queues"}, {}, {{"AWS_SECRET_ACCESS_KEY", "not the secret"}});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Err.rfind("SignatureDoesNotMatch: The request signature we calculated", 0), 0u)
      << run.Err;
}

TEST_P(SQSCommands, TheEnvironmentConfiguresEverything) {
  const std::string token = "FwoGZXIvYXdzEJr//////////token+with/odd=chars";
  TLocalSQSService withToken({true, {"--session-token", token}});
  ASSERT_TRUE(withToken.Ready()) << withToken.Failure();
  std::map<std::string, std::string> environment = {{"AWS_ACCESS_KEY_ID", "test"},
                                                    {"AWS_SECRET_ACCESS_KEY", "test"},
                                                    {"AWS_SESSION_TOKEN", token},
                                                    {"AWS_REGION", withToken.Region()},
                                                    {"AWS_ENDPOINT_URL_SQS", EndPoint(withToken)},
                                                    {"AWS_CA_BUNDLE", withToken.CA()}};
  const std::vector<std::string> engine = {"--tls-engine", GetParam().EngineName};
  const std::string name = UniqueName("cli-env");
  std::vector<std::string> create = {"create-queue", "--queue-name", name};
  create.insert(create.end(), engine.begin(), engine.end());
  TSQSRun run = RunSQS(create, environment);
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Out, EndPoint(withToken) + "/" + withToken.AccountId() + "/" + name + "\n");

  // A wrong token is refused; the flags win over the environment.
  environment["AWS_SESSION_TOKEN"] = "other";
  run = RunSQS({"list-queues", "--tls-engine", GetParam().EngineName}, environment);
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Err.rfind("InvalidClientTokenId: ", 0), 0u) << run.Err;
  environment["AWS_SESSION_TOKEN"] = token;
  environment["AWS_REGION"] = "eu-west-1";  // the service refuses another region's scope
  run =
      RunSQS({"list-queues", "--region", withToken.Region(), "--tls-engine", GetParam().EngineName},
             environment);
  EXPECT_EQ(run.Status, 0) << run.Err;
}

TEST_P(SQSCommands, AnUntrustedCertificateIsRefusedUnlessVerificationIsOff) {
  if (!GetParam().TLS) GTEST_SKIP() << "no certificate on plain HTTP";
  const std::map<std::string, std::string> environment = {{"AWS_ACCESS_KEY_ID", "test"},
                                                          {"AWS_SECRET_ACCESS_KEY", "test"},
                                                          {"AWS_REGION", service->Region()}};
  const std::vector<std::string> args = {"list-queues", "--endpoint-url", service->HTTPS(),
                                         "--tls-engine", GetParam().EngineName};
  const TSQSRun refused = RunSQS(args, environment);
  EXPECT_EQ(refused.Status, 3);
  EXPECT_EQ(refused.Err.rfind("sqs: ", 0), 0u) << refused.Err;
  std::vector<std::string> unverified = args;
  unverified.push_back("--no-verify-ssl");
  const TSQSRun accepted = RunSQS(unverified, environment);
  EXPECT_EQ(accepted.Status, 0) << accepted.Err;
}

INSTANTIATE_TEST_SUITE_P(Transports, SQSCommands, ::testing::ValuesIn(E2ETransports()),
                         E2ETransportName);

}  // namespace
}  // namespace brv

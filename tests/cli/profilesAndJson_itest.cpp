// The `sqs` command against the local SQS service configured only by a profile (static keys,
// and a credential_process script), a queue named by --queue-url, and --output json for every
// command: parsed back, and for receive-message and list-queues compared with what the AWS CLI
// itself prints for the same service state.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/RunSQS.h"
#include "support/SharedLocalSQSService.h"
#include "tests/support/TempDir.h"

namespace brv {
namespace {

using nlohmann::json;
using testing::RunSQSHere;
using testing::TSQSRun;
using testing::TWithLocalSQSService;

constexpr const char* kAWSCLI = "/usr/bin/aws";

class SQSProfilesAndJson : public TWithLocalSQSService<> {
 protected:
  static void SetUpTestSuite() {
    StartService(testing::PlainHTTPService());
    scratch_ = std::make_unique<testing::TTempDir>("sqs-profiles");
    home_ = scratch_->Path();
    std::filesystem::create_directories(home_ / ".aws");
    const std::string helper = (home_ / "credential-helper").string();
    std::ofstream(helper) << "#!/bin/sh\n"
                             "echo 'helper ran' >&2\n"
                             "printf '{\"Version\": 1, \"AccessKeyId\": \"test\", "
                             "\"SecretAccessKey\": \"test\", "
                             "\"Expiration\": \"2099-01-01T00:00:00Z\"}'\n";
    chmod(helper.c_str(), 0700);
    const std::string settings =
        "region = " + service->Region() + "\nendpoint_url = " + service->HTTP() + "\n";
    std::ofstream(home_ / ".aws" / "credentials")
        << "[static]\naws_access_key_id = test\naws_secret_access_key = test\n";
    std::ofstream(home_ / ".aws" / "config")
        << "[profile static]\n"
        << settings << "output = json\n"
        << "[profile helper]\n"
        << settings << "credential_process = " << helper << "\n";
  }
  static void TearDownTestSuite() {
    TWithLocalSQSService::TearDownTestSuite();
    scratch_.reset();
  }

  // The command with nothing but a home holding the profiles and the profile's name.
  static TSQSRun Run(std::vector<std::string> Args, const std::string& Profile = "static") {
    return RunSQSHere(Args, {{"HOME", home_.string()}, {"AWS_PROFILE", Profile}});
  }
  // A run expected to succeed; its standard output read as JSON (null when it is empty).
  static json Json(const std::vector<std::string>& Args) {
    const TSQSRun run = Run(Args);
    EXPECT_EQ(run.Status, 0) << Args[0] << ": " << run.Err;
    EXPECT_EQ(run.Err, "") << Args[0];
    return run.Out.empty() ? json() : json::parse(run.Out);
  }
  // The AWS CLI's JSON for the same request, with the service's key pair and endpoint.
  static json AWSCLI(const std::string& Arguments) {
    const std::string command = "env -i PATH=/usr/bin:/bin HOME=" + home_.string() +
                                "/none AWS_ACCESS_KEY_ID=test AWS_SECRET_ACCESS_KEY=test "
                                "AWS_DEFAULT_REGION=" +
                                service->Region() + " " + kAWSCLI + " --endpoint-url " +
                                service->HTTP() + " --output json sqs " + Arguments;
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
      EXPECT_EQ(pclose(pipe), 0) << command;
    }
    return out.empty() ? json() : json::parse(out);
  }
  static std::string UniqueName(const std::string& Prefix) {
    static int counter = 0;
    return Prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
  }

  static inline std::unique_ptr<testing::TTempDir> scratch_;
  static inline std::filesystem::path home_;
};

TEST_F(SQSProfilesAndJson, AProfileAloneConfiguresTheCommand) {
  const std::string name = UniqueName("cli-profile");
  for (const char* profile : {"static", "helper"}) {
    const TSQSRun created =
        Run({"create-queue", "--queue-name", name, "--output", "text"}, profile);
    EXPECT_EQ(created.Status, 0) << profile << ": " << created.Err;
    EXPECT_NE(created.Out.find("/" + service->AccountId() + "/" + name), std::string::npos);
    // The helper's standard error is not the command's business on success.
    EXPECT_EQ(created.Err, "") << profile;
  }
  // The program, given the files through the environment, reads the same profile.
  const TSQSRun program =
      testing::RunSQS({"list-queues", "--profile", "static", "--queue-name-prefix", name},
                      {{"AWS_CONFIG_FILE", (home_ / ".aws" / "config").string()},
                       {"AWS_SHARED_CREDENTIALS_FILE", (home_ / ".aws" / "credentials").string()}});
  EXPECT_EQ(program.Status, 0) << program.Err;
  EXPECT_EQ(json::parse(program.Out)["QueueUrls"].size(), 1u) << program.Out;
  EXPECT_EQ(Run({"delete-queue", "--queue-name", name}).Status, 0);
}

TEST_F(SQSProfilesAndJson, AQueueURLIsUsedWithoutAskingForIt) {
  const std::string name = UniqueName("cli-url");
  const std::string url = Json({"create-queue", "--queue-name", name})["QueueUrl"];
  const std::string log = (home_ / (name + ".log")).string();
  const json sent =
      Json({"send-message", "--queue-url", url, "--message-body", "by url", "--log-file", log});
  const json received = Json({"receive-message", "--queue-url", url, "--log-file", log});
  ASSERT_EQ(received["Messages"].size(), 1u) << received;
  EXPECT_EQ(received["Messages"][0]["MessageId"], sent["MessageId"]);
  std::ifstream in(log);
  const std::string exchange((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  EXPECT_NE(exchange.find("ReceiveMessage"), std::string::npos);
  EXPECT_EQ(exchange.find("GetQueueUrl"), std::string::npos);
  EXPECT_EQ(Run({"delete-queue", "--queue-url", url}).Status, 0);
  EXPECT_EQ(Run({"get-queue-url", "--queue-name", name}).Status, 1);
}

// Every command's JSON: the members the AWS CLI prints, or nothing where it prints nothing.
TEST_F(SQSProfilesAndJson, EveryCommandPrintsItsAnswerAsJson) {
  const std::string name = UniqueName("cli-json");
  const std::string url =
      Json({"create-queue", "--queue-name", name, "--tag", "team=a"})["QueueUrl"];
  EXPECT_EQ(Json({"get-queue-url", "--queue-name", name})["QueueUrl"], url);
  const json sent = Json({"send-message", "--queue-name", name, "--message-body", "one",
                          "--message-attribute", "kind=x"});
  EXPECT_EQ(sent["MD5OfMessageBody"], "f97c5d29941bfb1b2fdab0874906ab82");
  EXPECT_TRUE(sent.contains("MessageId") && sent.contains("MD5OfMessageAttributes")) << sent;
  const json batch =
      Json({"send-message-batch", "--queue-name", name, "--entry", "a=two", "--entry", "b=three"});
  ASSERT_EQ(batch["Successful"].size(), 2u) << batch;
  EXPECT_EQ(batch["Successful"][0]["Id"], "a");
  EXPECT_FALSE(batch.contains("Failed"));

  json messages = json::array();
  for (int tries = 0; messages.size() < 3 && tries < 5; ++tries) {
    const json got = Json({"receive-message", "--queue-name", name, "--max-number-of-messages",
                           "10", "--message-attribute-name", "All", "--attribute-name", "All"});
    for (const json& message : got.value("Messages", json::array())) messages.push_back(message);
  }
  ASSERT_EQ(messages.size(), 3u);
  std::vector<std::string> handles;
  for (const json& message : messages) {
    handles.push_back(message["ReceiptHandle"]);
    EXPECT_TRUE(message["Attributes"].contains("SentTimestamp")) << message;
    if (message["Body"] == "one") {
      EXPECT_EQ(message["MessageAttributes"]["kind"],
                (json{{"StringValue", "x"}, {"DataType", "String"}}));
    }
  }
  EXPECT_TRUE(Json({"change-message-visibility", "--queue-name", name, "--receipt-handle",
                    handles[0], "--visibility-timeout", "60"})
                  .is_null());
  EXPECT_EQ(Json({"change-message-visibility-batch", "--queue-name", name, "--entry",
                  "v=" + handles[1], "--visibility-timeout", "60"}),
            (json{{"Successful", {{{"Id", "v"}}}}}));
  EXPECT_TRUE(
      Json({"delete-message", "--queue-name", name, "--receipt-handle", handles[0]}).is_null());
  EXPECT_EQ(Json({"delete-message-batch", "--queue-name", name, "--entry", "d=" + handles[1]}),
            (json{{"Successful", {{{"Id", "d"}}}}}));
  // An entry the service refuses is listed as the AWS CLI lists it, and the status says so.
  const TSQSRun refused =
      Run({"delete-message-batch", "--queue-name", name, "--entry", "x=not-a-handle"});
  EXPECT_EQ(refused.Status, 1);
  const json failed = json::parse(refused.Out)["Failed"][0];
  EXPECT_EQ(failed["Id"], "x");
  EXPECT_TRUE(failed["SenderFault"].is_boolean() && failed["Code"].is_string()) << failed;

  EXPECT_TRUE(
      Json({"set-queue-attributes", "--queue-name", name, "--attribute", "VisibilityTimeout=45"})
          .is_null());
  EXPECT_EQ(Json({"get-queue-attributes", "--queue-name", name})["Attributes"]["VisibilityTimeout"],
            "45");
  EXPECT_TRUE(Json({"tag-queue", "--queue-name", name, "--tag", "env=dev"}).is_null());
  EXPECT_EQ(Json({"list-queue-tags", "--queue-name", name}),
            (json{{"Tags", {{"team", "a"}, {"env", "dev"}}}}));
  EXPECT_TRUE(Json({"untag-queue", "--queue-name", name, "--tag-key", "env"}).is_null());
  EXPECT_TRUE(Json({"add-permission", "--queue-name", name, "--label", "l", "--aws-account-ids",
                    "111122223333", "--actions", "SendMessage"})
                  .is_null());
  EXPECT_TRUE(Json({"remove-permission", "--queue-name", name, "--label", "l"}).is_null());
  EXPECT_TRUE(Json({"list-dead-letter-source-queues", "--queue-name", name}).is_null());
  EXPECT_EQ(Json({"list-queues", "--queue-name-prefix", name}), (json{{"QueueUrls", {url}}}));
  EXPECT_TRUE(Json({"purge-queue", "--queue-name", name}).is_null());
  EXPECT_TRUE(Json({"delete-queue", "--queue-name", name}).is_null());
  EXPECT_TRUE(Json({"list-queues", "--queue-name-prefix", name}).is_null());
}

// The same service state read by the AWS CLI and by the command: the same members with the
// same values (but for what changes with every receive).
TEST_F(SQSProfilesAndJson, ReceiveAndListAreShapedAsTheAWSCLIPrintsThem) {
  if (access(kAWSCLI, X_OK) != 0) GTEST_SKIP() << kAWSCLI << " is not installed";
  const std::string name = UniqueName("cli-compare");
  const std::string url = Json({"create-queue", "--queue-name", name})["QueueUrl"];
  Json({"send-message", "--queue-name", name, "--message-body", "caf\xC3\xA9 \x7f \xE2\x80\xAE",
        "--message-attribute", "n:Number=7", "--message-attribute", "s=text", "--message-attribute",
        "b:Binary=AAEC"});

  EXPECT_EQ(Json({"list-queues", "--queue-name-prefix", name}),
            AWSCLI("list-queues --queue-name-prefix " + name));
  EXPECT_EQ(Json({"list-queues", "--queue-name-prefix", name + "-none"}),
            AWSCLI("list-queues --queue-name-prefix " + name + "-none"));

  const std::string receive = " --visibility-timeout 0 --message-attribute-names All";
  const json theirs = AWSCLI("receive-message --queue-url " + url + receive +
                             " --attribute-names SentTimestamp SenderId");
  const json ours = Json({"receive-message", "--queue-url", url, "--visibility-timeout", "0",
                          "--message-attribute-name", "All", "--attribute-name", "SentTimestamp",
                          "--attribute-name", "SenderId"});
  ASSERT_EQ(ours["Messages"].size(), 1u) << ours;
  ASSERT_EQ(theirs["Messages"].size(), 1u) << theirs;
  json mine = ours["Messages"][0], other = theirs["Messages"][0];
  mine.erase("ReceiptHandle");
  other.erase("ReceiptHandle");
  EXPECT_EQ(mine, other);
  EXPECT_EQ(Json({"delete-queue", "--queue-name", name}), json());
}

// The message tools' JSON, parsed back: peek and tail as receive-message's answer (tail one
// document a line, whatever the bodies hold), move and import their counts, and the redrive
// commands as the service's move-task answers (the status as the AWS CLI lists it).
TEST_F(SQSProfilesAndJson, MessageToolsPrintTheirAnswersAsJson) {
  const std::string dlq = UniqueName("cli-json-dlq"), source = UniqueName("cli-json-source");
  Json({"create-queue", "--queue-name", dlq});
  const std::string arn =
      Json({"get-queue-attributes", "--queue-name", dlq})["Attributes"]["QueueArn"];
  Json({"create-queue", "--queue-name", source, "--attribute",
        R"(RedrivePolicy={"maxReceiveCount":"5","deadLetterTargetArn":")" + arn + "\"}"});
  const std::vector<std::string> bodies = {"one", "two\nlines", "bidi \xE2\x80\xAE end"};
  Json({"send-message-batch", "--queue-name", dlq, "--entry", "a=" + bodies[0], "--entry",
        "b=" + bodies[1], "--entry", "c=" + bodies[2]});
  const auto sorted_bodies = [](const json& Messages) {
    std::vector<std::string> got;
    for (const json& message : Messages) got.push_back(message["Body"]);
    std::sort(got.begin(), got.end());
    return got;
  };
  std::vector<std::string> expected = bodies;
  std::sort(expected.begin(), expected.end());

  // Peek and export leave the messages where they were; the exported copies are imported with
  // one line that is not a message, then tailed away.
  EXPECT_EQ(sorted_bodies(Json({"peek", "--queue-name", dlq})["Messages"]), expected);
  const std::string file = (home_ / (dlq + ".jsonl")).string();
  std::ofstream(file) << Run({"export", "--queue-name", dlq}).Out << "{\"Body\": 5}\n";
  const TSQSRun imported = Run({"import", "--queue-name", source, "--file", file});
  EXPECT_EQ(imported.Status, 1);
  EXPECT_EQ(json::parse(imported.Out), (json{{"Sent", 3}, {"Failed", 1}})) << imported.Out;

  const TSQSRun tail = Run({"tail", "--queue-name", source, "--delete", "--max", "3"});
  EXPECT_EQ(tail.Status, 0) << tail.Err;
  json tailed = json::array();
  std::istringstream lines(tail.Out);
  for (std::string line; std::getline(lines, line);) {
    const json document = json::parse(line);
    ASSERT_EQ(document["Messages"].size(), 1u) << line;
    tailed.push_back(document["Messages"][0]);
  }
  EXPECT_EQ(sorted_bodies(tailed), expected) << tail.Out;

  const json moved = {{"Received", 3}, {"Moved", 3}, {"NotSent", 0}, {"NotDeleted", 0}};
  EXPECT_EQ(Json({"move", "--from", dlq, "--to", source}), moved);
  EXPECT_EQ(Json({"move", "--from", source, "--to", dlq}), moved);

  const json started = Json({"redrive", "--queue-name", dlq, "--to", source});
  ASSERT_TRUE(started["TaskHandle"].is_string()) << started;
  json task;
  for (int tries = 0; tries < 100; ++tries) {
    const json status = Json({"redrive-status", "--queue-name", dlq});
    ASSERT_EQ(status["Results"].size(), 1u) << status;
    task = status["Results"][0];
    if (task["Status"] != "RUNNING") break;
    usleep(100000);
  }
  EXPECT_EQ(task["Status"], "COMPLETED") << task;
  EXPECT_EQ(task["SourceArn"], arn);
  EXPECT_EQ(task["ApproximateNumberOfMessagesMoved"], 3) << task;

  // A slow task, cancelled while it runs.
  EXPECT_EQ(Json({"move", "--from", source, "--to", dlq}), moved);
  const json slow = Json({"redrive", "--queue-name", dlq, "--to", source, "--max-per-second", "1"});
  const json cancelled =
      Json({"redrive-cancel", "--task-handle", slow["TaskHandle"].get<std::string>()});
  EXPECT_TRUE(cancelled["ApproximateNumberOfMessagesMoved"].is_number_integer()) << cancelled;
  EXPECT_EQ(cancelled.size(), 1u) << cancelled;
  for (const std::string& name : {dlq, source}) Json({"delete-queue", "--queue-name", name});
}

}  // namespace
}  // namespace brv

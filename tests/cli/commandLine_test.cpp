// The `sqs` command without a service, run in-process with an environment of its own: help,
// usage errors, the output escapes, and the exit status of a failure that never reaches a
// service; and a few runs of the built program, for what main adds.
#include "cli/SQSCommandLine.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/RunSQS.h"
#include "tests/support/TempDir.h"

namespace brv {
namespace {

using testing::RunSQS;
using testing::TSQSRun;
// In-process unless a test says otherwise.
TSQSRun RunHere(const std::vector<std::string>& Args,
                const std::map<std::string, std::string>& Environment = {}) {
  return testing::RunSQSHere(Args, Environment);
}

const std::vector<std::string> kCommands = {"list-queues",
                                            "create-queue",
                                            "get-queue-url",
                                            "delete-queue",
                                            "purge-queue",
                                            "get-queue-attributes",
                                            "set-queue-attributes",
                                            "send-message",
                                            "send-message-batch",
                                            "receive-message",
                                            "delete-message",
                                            "delete-message-batch",
                                            "change-message-visibility",
                                            "change-message-visibility-batch",
                                            "list-queue-tags",
                                            "tag-queue",
                                            "untag-queue",
                                            "add-permission",
                                            "remove-permission",
                                            "list-dead-letter-source-queues"};

// The environment of a user who has set up credentials and a region.
const std::map<std::string, std::string> kUser = {
    {"AWS_ACCESS_KEY_ID", "test"}, {"AWS_SECRET_ACCESS_KEY", "test"}, {"AWS_REGION", "us-east-1"}};

TEST(SQSCommandLine, HelpNamesEveryCommandAndExplainsEach) {
  const TSQSRun general = RunHere({"--help"});
  EXPECT_EQ(general.Status, 0);
  EXPECT_EQ(general.Err, "");
  for (const std::string& command : kCommands)
    EXPECT_NE(general.Out.find("\n  " + command + " "), std::string::npos) << command;
  for (const char* topic :
       {"--endpoint-url", "--no-verify-ssl", "--ca-bundle", "--log-file", "--tls-engine",
        "--profile", "--output", "--version", "AWS_SESSION_TOKEN", "AWS_DEFAULT_REGION",
        "AWS_ENDPOINT_URL_SQS", "AWS_CA_BUNDLE", "AWS_PROFILE", "AWS_CONFIG_FILE",
        "AWS_SHARED_CREDENTIALS_FILE", "AWS_DEFAULT_OUTPUT", "Exit status"})
    EXPECT_NE(general.Out.find(topic), std::string::npos) << topic;
  EXPECT_EQ(RunHere({"help"}).Out, general.Out);

  for (const std::string& command : kCommands) {
    const TSQSRun help = RunHere({command, "--help"});
    EXPECT_EQ(help.Status, 0) << command;
    EXPECT_EQ(help.Out.rfind("Usage: sqs [OPTIONS] " + command, 0), 0u) << help.Out;
    EXPECT_NE(help.Out.find("--queue-name"), command == "list-queues" ? std::string::npos : 0u)
        << command;
    const bool by_url =
        command != "list-queues" && command != "create-queue" && command != "get-queue-url";
    EXPECT_EQ(help.Out.find("--queue-url URL") != std::string::npos, by_url) << command;
    EXPECT_NE(help.Out.find("Prints: "), std::string::npos) << command;
    EXPECT_EQ(RunHere({"help", command}).Out, help.Out);
  }
}

TEST(SQSCommandLine, UsageErrorsExitWithTwoAndSayWhatIsWrong) {
  struct TCase {
    std::vector<std::string> Args;
    std::map<std::string, std::string> Environment;
    std::string Message;
  };
  const std::vector<TCase> cases = {
      {{}, kUser, "no command given"},
      {{"lsit-queues"}, kUser, "unknown command \"lsit-queues\"; did you mean list-queues?"},
      {{"delete-mesage"}, kUser, "unknown command \"delete-mesage\"; did you mean delete-message?"},
      {{"permission"},
       kUser,
       "unknown command \"permission\"; did you mean add-permission or remove-permission?"},
      {{"xyzzy"}, kUser, "unknown command \"xyzzy\""},
      {{"list-queues", "--verbose"}, kUser, "unknown option --verbose for list-queues"},
      {{"--queue-name", "q", "get-queue-url"}, kUser, "unknown option --queue-name"},
      {{"get-queue-url"}, kUser, "get-queue-url needs --queue-name"},
      {{"get-queue-url", "--queue-url", "http://h/1/q"},
       kUser,
       "unknown option --queue-url for get-queue-url"},
      {{"purge-queue"}, kUser, "purge-queue needs either --queue-name or --queue-url"},
      {{"purge-queue", "--queue-name", "q", "--queue-url", "http://h/1/q"},
       kUser,
       "purge-queue needs either --queue-name or --queue-url"},
      {{"purge-queue", "--queue-url", "http://127.0.0.1:1/q", "--endpoint-url",
        "http://127.0.0.1:1"},
       kUser,
       "--queue-url: "},
      {{"list-queues", "--output", "table"}, kUser, "--output is text or json, not \"table\""},
      {{"list-queues", "--endpoint-url", "localhost:4566"},
       kUser,
       "the endpoint \"localhost:4566\" has no scheme: write http:// or https:// before the host"},
      {{"list-queues", "--profile", "nobody"},
       kUser,
       "The config profile (nobody) could not be found in /nonexistent/home/.aws/config or "
       "/nonexistent/home/.aws/credentials"},
      {{"get-queue-url", "--queue-name"}, kUser, "--queue-name needs a value (NAME)"},
      {{"get-queue-url", "--queue-name", "a", "--queue-name", "b"},
       kUser,
       "--queue-name is given more than once"},
      {{"get-queue-url", "--queue-name", "a", "b"}, kUser, "unexpected argument \"b\""},
      {{"--no-verify-ssl=yes", "list-queues"}, kUser, "--no-verify-ssl takes no value"},
      {{"receive-message", "--queue-name", "q", "--max-number-of-messages", "11"},
       kUser,
       "--max-number-of-messages needs a whole number from 1 to 10, got \"11\""},
      {{"receive-message", "--queue-name", "q", "--wait-time-seconds", "2s"},
       kUser,
       "--wait-time-seconds needs a whole number from 0 to 20, got \"2s\""},
      {{"receive-message", "--queue-name", "q", "--attribute-name", "Everything"},
       kUser,
       "--attribute-name: no attribute is called \"Everything\""},
      {{"tag-queue", "--queue-name", "q", "--tag", "novalue"},
       kUser,
       "--tag needs NAME=VALUE, got \"novalue\""},
      {{"send-message", "--queue-name", "q"},
       kUser,
       "send-message needs either --message-body or --message-body-file"},
      {{"send-message", "--queue-name", "q", "--message-body", "a", "--message-body-file", "f"},
       kUser,
       "send-message needs either --message-body or --message-body-file"},
      {{"send-message", "--queue-name", "q", "--message-body-file", "/nonexistent/body"},
       kUser,
       "cannot read /nonexistent/body"},
      {{"send-message-batch", "--queue-name", "q", "--entry", "a=1", "--entry", "a=2"},
       kUser,
       "--entry id \"a\" repeats"},
      {{"list-queues", "--tls-engine", "schanel"},
       kUser,
       "--tls-engine is openssl or gnutls, not \"schanel\""},
      // Both names of the second engine are taken: the next option is the one refused.
      {{"list-queues", "--tls-engine", "gnutls", "--read-timeout", "x"},
       kUser,
       "--read-timeout needs a whole number from 0 to 86400, got \"x\""},
      {{"list-queues", "--tls-engine", "schannel", "--read-timeout", "x"},
       kUser,
       "--read-timeout needs a whole number from 0 to 86400, got \"x\""},
      {{"list-queues", "--read-timeout", "-1"},
       kUser,
       "--read-timeout needs a whole number from 0 to 86400, got \"-1\""},
      {{"list-queues"},
       {{"AWS_REGION", "us-east-1"}},
       "no credentials: set AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY, or give a profile"},
      {{"list-queues"},
       {{"AWS_ACCESS_KEY_ID", "a"}, {"AWS_SECRET_ACCESS_KEY", "b"}},
       "no region: give --region, set AWS_REGION or AWS_DEFAULT_REGION, or give the profile a "
       "region"},
  };
  for (const TCase& c : cases) {
    const TSQSRun run = RunHere(c.Args, c.Environment);
    EXPECT_EQ(run.Status, 2) << c.Message;
    EXPECT_EQ(run.Out, "") << c.Message;
    EXPECT_EQ(run.Err.rfind("sqs: " + c.Message, 0), 0u) << run.Err;
    EXPECT_NE(run.Err.find("--help\"."), std::string::npos) << run.Err;
  }
}

TEST(SQSCommandLine, NoAnswerExitsWithThree) {
  // A port nothing listens on: bound by the OS, then closed.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  close(fd);
  const std::string peer = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  const std::string endpoint = "http://" + peer;

  const TSQSRun refused = RunHere({"list-queues", "--endpoint-url", endpoint}, kUser);
  EXPECT_EQ(refused.Status, 3);
  EXPECT_EQ(refused.Out, "");
  EXPECT_EQ(refused.Err, "sqs: list-queues: cannot connect to " + peer +
                             ": connection refused (Socket Error # 10061)\n");

  // The environment's endpoint is used when no flag names one.
  auto environment = kUser;
  environment["AWS_ENDPOINT_URL_SQS"] = endpoint + "/";
  EXPECT_EQ(RunHere({"list-queues"}, environment).Err, refused.Err);
  environment.erase("AWS_ENDPOINT_URL_SQS");
  environment["AWS_ENDPOINT_URL"] = endpoint;
  EXPECT_EQ(RunHere({"list-queues"}, environment).Err, refused.Err);
}

TEST(SQSCommandLine, ALogFileThatCannotBeWrittenIsAUsageError) {
  const TSQSRun run = RunHere(
      {"list-queues", "--endpoint-url", "http://127.0.0.1:9", "--log-file", "/nonexistent/x.log"},
      kUser);
  EXPECT_EQ(run.Status, 2);
  EXPECT_NE(run.Err.find("/nonexistent/x.log"), std::string::npos) << run.Err;
}

TEST(SQSCommandLine, OutputEscapesKeepEveryByteOnOneLine) {
  EXPECT_EQ(EscapeOutputValue("plain \xC3\xA9 = & %"), "plain \xC3\xA9 = & %");
  EXPECT_EQ(EscapeOutputValue("a\\b\r\n\tc"), "a\\\\b\\r\\n\\tc");
  EXPECT_EQ(EscapeOutputValue(std::string("\x01\x1f\x7f\0", 4)), "\\x01\\x1f\\x7f\\x00");
  EXPECT_EQ(EscapeOutputName("a=b\\c\n"), "a\\=b\\\\c\\n");
  // What the tests read back is what went in.
  const std::string text = std::string("k=\\ \r\n\x02", 7);
  EXPECT_EQ(testing::Unescape(EscapeOutputValue(text)), text);
  const auto pairs = testing::Pairs(EscapeOutputName(text) + "=" + EscapeOutputValue(text) + "\n");
  ASSERT_EQ(pairs.size(), 1u);
  EXPECT_EQ(pairs[0].first, text);
  EXPECT_EQ(pairs[0].second, text);
}

TEST(SQSCommandLine, TheProgramReadsItsOwnEnvironment) {
  const TSQSRun version = RunSQS({"--version"});
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out.rfind("sqs ", 0), 0u) << version.Out;
  EXPECT_EQ(RunHere({"list-queues", "--version"}).Out, version.Out);

  // What the process environment holds reaches the command, and usage errors keep their
  // status and streams through main.
  EXPECT_EQ(RunSQS({"lsit-queues"}, kUser).Status, 2);
  const TSQSRun no_region =
      RunSQS({"list-queues"}, {{"AWS_ACCESS_KEY_ID", "a"}, {"AWS_SECRET_ACCESS_KEY", "b"}});
  EXPECT_EQ(no_region.Status, 2);
  EXPECT_EQ(no_region.Err.rfind("sqs: no region", 0), 0u) << no_region.Err;
}

// Resolver errors name the profile or the file, never a key the files hold.
TEST(SQSCommandLine, ProfileErrorsAreUsageErrorsWithoutSecrets) {
  const testing::TTempDir scratch("sqs-home");
  const std::filesystem::path home = scratch.Path();
  std::filesystem::create_directories(home / ".aws");
  std::ofstream(home / ".aws" / "credentials") << "[half]\naws_secret_access_key = SECRETVALUE\n";
  // A helper that prints keys but fails, and says so with a terminal control.
  const std::string helper = (home / "helper").string();
  std::ofstream(helper) << "#!/bin/sh\nprintf '{\"Version\": 1, \"AccessKeyId\": \"A\", "
                           "\"SecretAccessKey\": \"SECRETVALUE\"}'\n"
                           "printf '\\033[2Jdenied' >&2\nexit 3\n";
  std::filesystem::permissions(helper, std::filesystem::perms::owner_all);
  std::ofstream(home / ".aws" / "config")
      << "[profile role]\nrole_arn = arn:aws:iam::1:role/r\n"
      << "[profile failing]\ncredential_process = " << helper << "\n";
  std::ofstream(home / "broken") << "[default]\naws_secret_access_key SECRETVALUE\n";
  struct TCase {
    const char* Profile;
    std::string Named;  // what the message names
    std::string ConfigFile;
  };
  const std::string config = (home / ".aws" / "config").string();
  for (const TCase& c :
       {TCase{"half", "half", config}, TCase{"role", "role_arn", config},
        TCase{"failing", "\\x1b[2Jdenied", config},
        TCase{"default", (home / "broken").string(), (home / "broken").string()}}) {
    const TSQSRun run =
        RunHere({"list-queues", "--profile", c.Profile},
                {{"HOME", home.string()}, {"AWS_REGION", "r"}, {"AWS_CONFIG_FILE", c.ConfigFile}});
    EXPECT_EQ(run.Status, 2) << c.Profile;
    EXPECT_EQ(run.Err.find("SECRETVALUE"), std::string::npos) << run.Err;
    EXPECT_EQ(run.Err.find('\x1b'), std::string::npos) << run.Err;
    EXPECT_NE(run.Err.find(c.Named), std::string::npos) << run.Err;
  }
}

}  // namespace
}  // namespace brv

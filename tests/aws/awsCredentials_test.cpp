#include "aws/brvAWSCredentials.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>

#include "support/TempHome.h"

namespace {

using brv::EbrvAWSConfigError;
using brv::TbrvAWSConfig;
using brv::TbrvAWSConfigRequest;
using brv::TbrvAWSConfigResolver;
using brv::testing::TTempHome;
using namespace std::chrono_literals;

using TEnv = std::map<std::string, std::string>;

// A resolver over a temporary home and a fixed environment.
struct TSetup {
  TTempHome Home;
  TEnv Env;
  TbrvAWSConfigResolver Resolver{[this](const std::string& Name) {
                                   const auto it = Env.find(Name);
                                   return it == Env.end() ? std::string() : it->second;
                                 },
                                 Home.Path()};

  // Writes ~/.aws/config and ~/.aws/credentials; "{home}" stands for the home directory.
  void Files(const std::string& Config, const std::string& Credentials) {
    Home.Write(".aws/config", Expand(Config));
    Home.Write(".aws/credentials", Expand(Credentials));
  }
  std::string Expand(std::string Text) const {
    for (std::size_t at; (at = Text.find("{home}")) != std::string::npos;)
      Text.replace(at, 6, Home.Path());
    return Text;
  }
  // A credential process script: prints Answer on standard output (and Error on standard
  // error), counts its runs in ~/runs, exits with Status.
  std::string Script(const std::string& Name, const std::string& Answer,
                     const std::string& Error = "", int Status = 0) {
    const std::string runs = Home.Path() + "/runs";
    return Home.Write(Name,
                      "#!/bin/sh\necho x >> '" + runs + "'\nprintf '%s' '" + Answer +
                          "'\nprintf '%s' '" + Error + "' >&2\nexit " + std::to_string(Status) +
                          "\n",
                      true);
  }
  int Runs() const {
    std::ifstream in(Home.Path() + "/runs");
    std::string line;
    int n = 0;
    while (std::getline(in, line)) ++n;
    return n;
  }
};

const char* kProcessAnswer =
    R"({"Version": 1, "AccessKeyId": "AKPROC", "SecretAccessKey": "procsecret", )"
    R"("SessionToken": "proctoken", "Expiration": "2030-01-01T00:00:00Z"})";

struct TPrecedenceRow {
  const char* Case;
  TEnv Env;
  const char* Config;
  const char* Credentials;
  TbrvAWSConfigRequest Request;
  // Expected: source, access key, session token, region, endpoint, CA bundle.
  const char* Source;
  const char* AccessKey;
  const char* Token;
  const char* Region;
  const char* EndPoint;
  const char* CABundle;
};

TbrvAWSConfigRequest Typed(const char* Key, const char* Secret) {
  TbrvAWSConfigRequest request;
  request.AccessKey = Key;
  request.SecretKey = Secret;
  return request;
}
TbrvAWSConfigRequest WithProfile(const char* Name) {
  TbrvAWSConfigRequest request;
  request.Profile = Name;
  return request;
}
TbrvAWSConfigRequest WithRegion(const char* Region) {
  TbrvAWSConfigRequest request;
  request.Region = Region;
  return request;
}
TbrvAWSConfigRequest WithEndPoint(const char* URL) {
  TbrvAWSConfigRequest request;
  request.EndPointURL = URL;
  return request;
}

const TEnv kEnvKeys = {{"AWS_ACCESS_KEY_ID", "AKENV"},
                       {"AWS_SECRET_ACCESS_KEY", "envsecret"},
                       {"AWS_SESSION_TOKEN", "envtoken"}};
const char* kAllConfig =
    "[default]\nregion = eu-central-1\ncredential_process = {home}/cred.sh\n"
    "aws_access_key_id = AKCONFIG\naws_secret_access_key = configsecret\n"
    "[profile dev]\nregion = ap-south-1\naws_access_key_id = AKDEVCONFIG\n"
    "aws_secret_access_key = s\n";
const char* kAllCredentials =
    "[default]\naws_access_key_id = AKCREDS\naws_secret_access_key = credssecret\n"
    "[dev]\naws_access_key_id = AKDEV\naws_secret_access_key = devsecret\n"
    "[only]\naws_access_key_id = AKONLY\naws_secret_access_key = s\n";
const char* kRegional = "https://sqs.eu-central-1.amazonaws.com";
const char* kEndPoints =
    "[default]\nregion = eu-central-1\nendpoint_url = http://profile:1\nservices = local\n"
    "[services local]\nsqs =\n  endpoint_url = http://services:2/\n";

class Precedence : public ::testing::TestWithParam<TPrecedenceRow> {};

TEST_P(Precedence, FollowsAWSToolsOrder) {
  const TPrecedenceRow& row = GetParam();
  TSetup setup;
  setup.Env = row.Env;
  setup.Files(row.Config, row.Credentials);
  setup.Script("cred.sh", kProcessAnswer);
  setup.Resolver.SetClock([] { return std::chrono::system_clock::time_point{}; });
  const TbrvAWSConfig config = setup.Resolver.Resolve(row.Request);
  EXPECT_EQ(config.CredentialSource, row.Source);
  EXPECT_EQ(config.Credentials.AccessKey, row.AccessKey);
  EXPECT_EQ(config.Credentials.SessionToken, row.Token);
  EXPECT_EQ(config.Region, row.Region);
  EXPECT_EQ(config.EndPoint, row.EndPoint);
  EXPECT_EQ(config.CABundle, row.CABundle);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Precedence,
    ::testing::Values(
        // Credentials.
        TPrecedenceRow{"typed keys win", kEnvKeys, kAllConfig, kAllCredentials,
                       Typed("AKTYPED", ""), "typed", "AKTYPED", "", "eu-central-1", kRegional, ""},
        TPrecedenceRow{"environment before the profile",
                       kEnvKeys,
                       kAllConfig,
                       kAllCredentials,
                       {},
                       "environment",
                       "AKENV",
                       "envtoken",
                       "eu-central-1",
                       kRegional,
                       ""},
        TPrecedenceRow{"credentials file before credential_process",
                       {},
                       kAllConfig,
                       kAllCredentials,
                       {},
                       "profile default",
                       "AKCREDS",
                       "",
                       "eu-central-1",
                       kRegional,
                       ""},
        TPrecedenceRow{"credential_process before the config file's keys",
                       {},
                       kAllConfig,
                       "",
                       {},
                       "credential process",
                       "AKPROC",
                       "proctoken",
                       "eu-central-1",
                       kRegional,
                       ""},
        TPrecedenceRow{"the config file's keys last",
                       {},
                       "[default]\naws_access_key_id = AKCONFIG\naws_secret_access_key = s\n"
                       "aws_session_token = conftoken\n",
                       "",
                       {},
                       "profile default",
                       "AKCONFIG",
                       "conftoken",
                       "",
                       "https://sqs..amazonaws.com",
                       ""},
        TPrecedenceRow{
            "nothing found", {}, "", "", {}, "", "", "", "", "https://sqs..amazonaws.com", ""},
        // Profiles.
        TPrecedenceRow{"AWS_PROFILE selects [profile dev] and [dev]",
                       {{"AWS_PROFILE", "dev"}},
                       kAllConfig,
                       kAllCredentials,
                       {},
                       "profile dev",
                       "AKDEV",
                       "",
                       "ap-south-1",
                       "https://sqs.ap-south-1.amazonaws.com",
                       ""},
        TPrecedenceRow{"an explicit profile before AWS_PROFILE",
                       {{"AWS_PROFILE", "dev"}},
                       kAllConfig,
                       kAllCredentials,
                       WithProfile("only"),
                       "profile only",
                       "AKONLY",
                       "",
                       "",
                       "https://sqs..amazonaws.com",
                       ""},
        TPrecedenceRow{"[profile default] before [default]",
                       {},
                       "[default]\nregion=a\n[profile default]\nregion=b\n",
                       "",
                       {},
                       "",
                       "",
                       "",
                       "b",
                       "https://sqs.b.amazonaws.com",
                       ""},
        TPrecedenceRow{"role_arn is not reached when the environment has keys",
                       kEnvKeys,
                       "[default]\nrole_arn = arn:aws:iam::1:role/r\n",
                       "",
                       {},
                       "environment",
                       "AKENV",
                       "envtoken",
                       "",
                       "https://sqs..amazonaws.com",
                       ""},
        // Region.
        TPrecedenceRow{"explicit region, even empty",
                       {{"AWS_REGION", "r1"}},
                       kAllConfig,
                       "",
                       WithRegion(""),
                       "credential process",
                       "AKPROC",
                       "proctoken",
                       "",
                       "https://sqs..amazonaws.com",
                       ""},
        TPrecedenceRow{"AWS_REGION before AWS_DEFAULT_REGION",
                       {{"AWS_REGION", "r1"}, {"AWS_DEFAULT_REGION", "r2"}},
                       "[default]\nregion=p\n",
                       "",
                       {},
                       "",
                       "",
                       "",
                       "r1",
                       "https://sqs.r1.amazonaws.com",
                       ""},
        TPrecedenceRow{"AWS_DEFAULT_REGION before the profile",
                       {{"AWS_DEFAULT_REGION", "r2"}},
                       "[default]\nregion=p\n",
                       "",
                       {},
                       "",
                       "",
                       "",
                       "r2",
                       "https://sqs.r2.amazonaws.com",
                       ""},
        // Endpoint and trusted roots.
        TPrecedenceRow{"explicit endpoint first",
                       {{"AWS_ENDPOINT_URL_SQS", "http://env-sqs:3"}},
                       kEndPoints,
                       "",
                       WithEndPoint("http://explicit:4/"),
                       "",
                       "",
                       "",
                       "eu-central-1",
                       "http://explicit:4",
                       ""},
        TPrecedenceRow{
            "AWS_ENDPOINT_URL_SQS before AWS_ENDPOINT_URL",
            {{"AWS_ENDPOINT_URL_SQS", "http://env-sqs:3"}, {"AWS_ENDPOINT_URL", "http://env:5"}},
            kEndPoints,
            "",
            {},
            "",
            "",
            "",
            "eu-central-1",
            "http://env-sqs:3",
            ""},
        TPrecedenceRow{"AWS_ENDPOINT_URL before the profile",
                       {{"AWS_ENDPOINT_URL", "http://env:5"}},
                       kEndPoints,
                       "",
                       {},
                       "",
                       "",
                       "",
                       "eu-central-1",
                       "http://env:5",
                       ""},
        TPrecedenceRow{"the services section before the profile's endpoint_url",
                       {},
                       kEndPoints,
                       "",
                       {},
                       "",
                       "",
                       "",
                       "eu-central-1",
                       "http://services:2",
                       ""},
        TPrecedenceRow{"the profile's endpoint_url",
                       {},
                       "[default]\nendpoint_url = http://profile:1\nservices = none\n",
                       "",
                       {},
                       "",
                       "",
                       "",
                       "",
                       "http://profile:1",
                       ""},
        TPrecedenceRow{
            "ignoring configured endpoints (environment)",
            {{"AWS_IGNORE_CONFIGURED_ENDPOINT_URLS", "True"}, {"AWS_ENDPOINT_URL", "http://env:5"}},
            kEndPoints,
            "",
            {},
            "",
            "",
            "",
            "eu-central-1",
            kRegional,
            ""},
        TPrecedenceRow{"ignoring configured endpoints (profile); explicit still counts",
                       {},
                       "[default]\nignore_configured_endpoint_urls = true\n"
                       "endpoint_url = http://profile:1\n",
                       "",
                       WithEndPoint("http://explicit:4"),
                       "",
                       "",
                       "",
                       "",
                       "http://explicit:4",
                       ""},
        TPrecedenceRow{"the environment's false overrides the profile's true",
                       {{"AWS_IGNORE_CONFIGURED_ENDPOINT_URLS", "false"}},
                       "[default]\nignore_configured_endpoint_urls = true\n"
                       "endpoint_url = http://profile:1\n",
                       "",
                       {},
                       "",
                       "",
                       "",
                       "",
                       "http://profile:1",
                       ""},
        TPrecedenceRow{"AWS_CA_BUNDLE before the profile's ca_bundle",
                       {{"AWS_CA_BUNDLE", "/env.pem"}},
                       "[default]\nca_bundle = /profile.pem\n",
                       "",
                       {},
                       "",
                       "",
                       "",
                       "",
                       "https://sqs..amazonaws.com",
                       "/env.pem"},
        TPrecedenceRow{"the profile's ca_bundle",
                       {},
                       "[default]\nca_bundle = /profile.pem\n",
                       "",
                       {},
                       "",
                       "",
                       "",
                       "",
                       "https://sqs..amazonaws.com",
                       "/profile.pem"}),
    [](const auto& Info) { return "Row" + std::to_string(Info.index); });

TEST(ConfigResolver, OtherFilesByVariableAndTildeForTheHome) {
  TSetup setup;
  setup.Home.Write("elsewhere/c", "[profile x]\nregion = from-other-file\n");
  setup.Home.Write("elsewhere/k", "[x]\naws_access_key_id = AK\naws_secret_access_key = s\n");
  setup.Env = {{"AWS_CONFIG_FILE", "~/elsewhere/c"},
               {"AWS_SHARED_CREDENTIALS_FILE", setup.Home.Path() + "/elsewhere/k"},
               {"AWS_PROFILE", "x"}};
  const TbrvAWSConfig config = setup.Resolver.Resolve({});
  EXPECT_EQ(config.ConfigFile, setup.Home.Path() + "/elsewhere/c");
  EXPECT_EQ(config.Region, "from-other-file");
  EXPECT_EQ(config.CredentialSource, "profile x");
}

struct TRefusalRow {
  const char* Case;
  TEnv Env;
  const char* Config;
  const char* Credentials;
  const char* Message;  // a part of the message
};

class Refusal : public ::testing::TestWithParam<TRefusalRow> {};

// Refusals say what is wrong and never show a key.
TEST_P(Refusal, SaysWhyWithoutSecrets) {
  TSetup setup;
  setup.Env = GetParam().Env;
  setup.Files(GetParam().Config, GetParam().Credentials);
  try {
    setup.Resolver.Resolve({});
    FAIL() << "resolved";
  } catch (const EbrvAWSConfigError& e) {
    EXPECT_NE(e.Message().find(setup.Expand(GetParam().Message)), std::string::npos) << e.Message();
    EXPECT_EQ(e.Message().find("Sekr1t"), std::string::npos) << e.Message();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Refusal,
    ::testing::Values(
        TRefusalRow{"a named profile in neither file",
                    {{"AWS_PROFILE", "gone"}},
                    "[default]\n",
                    "[other]\n",
                    "The config profile (gone) could not be found in {home}/.aws/config or "
                    "{home}/.aws/credentials"},
        TRefusalRow{"role_arn",
                    {},
                    "[default]\nrole_arn = r\nsource_profile = base\n",
                    "[default]\naws_access_key_id = AK\naws_secret_access_key = Sekr1t\n",
                    "uses role_arn"},
        TRefusalRow{"sso_session", {}, "[default]\nsso_session = s\n", "", "uses sso_session"},
        TRefusalRow{"sso_start_url",
                    {},
                    "[default]\nsso_start_url = https://x\n",
                    "",
                    "uses sso_start_url"},
        TRefusalRow{"web_identity_token_file",
                    {},
                    "",
                    "[default]\nweb_identity_token_file = /t\n",
                    "uses web_identity_token_file"},
        TRefusalRow{"a web identity in the environment",
                    {{"AWS_WEB_IDENTITY_TOKEN_FILE", "/t"}, {"AWS_ROLE_ARN", "r"}},
                    "",
                    "",
                    "AWS_WEB_IDENTITY_TOKEN_FILE"},
        TRefusalRow{"half a key pair in the credentials file",
                    {},
                    "",
                    "[default]\naws_secret_access_key = Sekr1t\n",
                    "{home}/.aws/credentials has aws_secret_access_key without aws_access_key_id"},
        TRefusalRow{"half a key pair in the environment",
                    {{"AWS_ACCESS_KEY_ID", "AK"}},
                    "",
                    "",
                    "AWS_ACCESS_KEY_ID without AWS_SECRET_ACCESS_KEY"},
        TRefusalRow{"a malformed file",
                    {},
                    "[default]\nregion\n",
                    "",
                    "Unable to parse config file: {home}/.aws/config, line 2"}),
    [](const auto& Info) { return "Row" + std::to_string(Info.index); });

// --- The credential process.

struct TSplitRow {
  const char* Command;
  std::vector<std::string> Words;
};

TEST(CredentialProcessCommand, SplitsLikeAShellWithoutExpansions) {
  const TSplitRow rows[] = {
      {"  prog  a\tb ", {"prog", "a", "b"}},
      {R"("/opt/my tools/helper" --profile 'a b')", {"/opt/my tools/helper", "--profile", "a b"}},
      {R"(p "a\"b\\c\$d" 'x\y' e\ f)", {"p", R"(a"b\c\$d)", R"(x\y)", "e f"}},
      {R"(p a"b c"d '' "")", {"p", "ab cd", "", ""}},
      {R"(p $HOME ~ *.sh ; x)", {"p", "$HOME", "~", "*.sh", ";", "x"}},
  };
  for (const TSplitRow& row : rows) {
    EXPECT_EQ(brv::SplitCredentialProcessCommand(row.Command), row.Words) << row.Command;
  }
  for (const char* bad : {"p 'a", "p \"a", "p \\"}) {
    EXPECT_THROW(brv::SplitCredentialProcessCommand(bad), EbrvAWSConfigError) << bad;
  }
}

TEST(CredentialProcessExpiration, ReadsRFC3339) {
  using std::chrono::system_clock;
  const auto at = [](const char* Text) {
    const auto parsed = brv::ParseRFC3339(Text);
    return parsed
               ? std::chrono::duration_cast<std::chrono::milliseconds>(parsed->time_since_epoch())
                     .count()
               : -1;
  };
  EXPECT_EQ(at("1970-01-01T00:00:00Z"), 0);
  EXPECT_EQ(at("2030-01-01T00:00:00Z"), 1893456000000);
  EXPECT_EQ(at("2030-01-01t01:30:00.250+01:30"), 1893456000250);
  EXPECT_EQ(at("2029-12-31 23:00:00-01:00"), 1893456000000);
  EXPECT_EQ(at("2024-02-29T00:00:00z"), 1709164800000);
  EXPECT_GT(at("2999-01-01T00:00:00Z"), at("2262-01-01T00:00:00Z"));  // beyond the clock's range
  for (const char* bad :
       {"", "2030-01-01", "2030-01-01T00:00:00", "2030-13-01T00:00:00Z", "2023-02-29T00:00:00Z",
        "2030-01-01T00:00:00Z junk", "2030-01-01T00:00:00.Z", "1893456000"}) {
    EXPECT_EQ(at(bad), -1) << bad;
  }
}

class CredentialProcess : public ::testing::Test {
 protected:
  void UseScript(const std::string& Answer, const std::string& Error = "", int Status = 0) {
    setup.Script("bin dir/cred.sh", Answer, Error, Status);
    setup.Files("[profile p]\ncredential_process = \"{home}/bin dir/cred.sh\"\n", "");
  }
  TbrvAWSConfig Resolve() { return setup.Resolver.Resolve(WithProfile("p")); }
  std::string Refusal() {
    try {
      Resolve();
    } catch (const EbrvAWSConfigError& e) {
      return e.Message();
    }
    return "(resolved)";
  }

  TSetup setup;
  std::chrono::system_clock::time_point now = *brv::ParseRFC3339("2029-12-31T23:00:00Z");
  void SetUp() override {
    setup.Resolver.SetClock([this] { return now; });
  }
};

TEST_F(CredentialProcess, ArgumentsReachTheProgramWithoutAShell) {
  setup.Home.Write("bin dir/args.sh",
                   "#!/bin/sh\nprintf '{\"Version\":1,\"AccessKeyId\":\"%s|%s|%s\","
                   "\"SecretAccessKey\":\"s\"}' \"$1\" \"$2\" \"$#\"\n",
                   true);
  setup.Files("[profile p]\ncredential_process = \"{home}/bin dir/args.sh\" 'a  b' $HOME;echo\n",
              "");
  const TbrvAWSConfig config = Resolve();
  EXPECT_EQ(config.Credentials.AccessKey, "a  b|$HOME;echo|2");
  EXPECT_EQ(config.Credentials.SessionToken, "");
  EXPECT_FALSE(config.Credentials.Expiration);
  EXPECT_EQ(config.CredentialSource, "credential process");
}

TEST_F(CredentialProcess, IsRunAgainAFewMinutesBeforeExpiry) {
  UseScript(kProcessAnswer);
  const TbrvAWSConfig first = Resolve();
  EXPECT_EQ(first.Credentials.AccessKey, "AKPROC");
  EXPECT_EQ(first.Credentials.SecretKey, "procsecret");
  EXPECT_EQ(first.Credentials.SessionToken, "proctoken");
  EXPECT_EQ(first.Credentials.Expiration, brv::ParseRFC3339("2030-01-01T00:00:00Z"));
  EXPECT_EQ(setup.Runs(), 1);

  now = *brv::ParseRFC3339("2029-12-31T23:54:00Z");  // six minutes left: kept
  Resolve();
  EXPECT_EQ(setup.Runs(), 1);
  now = *brv::ParseRFC3339("2029-12-31T23:56:00Z");  // four minutes left: run again
  EXPECT_EQ(Resolve().Credentials.AccessKey, "AKPROC");
  EXPECT_EQ(setup.Runs(), 2);

  // Without an expiration the answer is kept for good.
  UseScript(R"({"Version":1,"AccessKeyId":"AKLONG","SecretAccessKey":"s"})");
  now += 1000h;
  Resolve();
  Resolve();
  EXPECT_EQ(setup.Runs(), 3);
}

TEST_F(CredentialProcess, FailuresCarryStandardErrorButNeverStandardOutput) {
  struct TRow {
    const char* Answer;
    int Status;
    const char* Reason;
  };
  const TRow rows[] = {
      {R"({"Version":1,"AccessKeyId":"AK","SecretAccessKey":"Sekr1t"})", 3,
       "the program exited with status 3"},
      {"Sekr1t not json", 0, "is not a JSON object"},
      {R"(["Sekr1t"])", 0, "is not a JSON object"},
      {R"({"Version":2,"AccessKeyId":"AK","SecretAccessKey":"Sekr1t"})", 0, "no \"Version\" of 1"},
      {R"({"Version":"1","AccessKeyId":"AK","SecretAccessKey":"Sekr1t"})", 0,
       "no \"Version\" of 1"},
      {R"({"Version":1,"SecretAccessKey":"Sekr1t"})", 0, "no \"AccessKeyId\""},
      {R"({"Version":1,"AccessKeyId":"AK"})", 0, "no \"SecretAccessKey\""},
      {R"({"Version":1,"AccessKeyId":"AK","SecretAccessKey":"Sekr1t","Expiration":"soon"})", 0,
       "\"Expiration\" is not an RFC 3339 time"},
      {R"({"Version":1,"AccessKeyId":"AK","SecretAccessKey":"Sekr1t",)"
       R"("Expiration":"2029-12-31T22:00:00Z"})",
       0, "already expired"},
  };
  for (const TRow& row : rows) {
    UseScript(row.Answer, "helper: please log in again", row.Status);
    const std::string message = Refusal();
    EXPECT_NE(message.find("credential_process of profile p: "), std::string::npos) << message;
    EXPECT_NE(message.find(row.Reason), std::string::npos) << message;
    EXPECT_NE(message.find("helper: please log in again"), std::string::npos) << message;
    EXPECT_EQ(message.find("Sekr1t"), std::string::npos) << message;
  }
}

TEST_F(CredentialProcess, AProgramThatCannotStartOrTakesTooLongIsRefused) {
  setup.Files("[profile p]\ncredential_process = {home}/missing\n", "");
  EXPECT_NE(Refusal().find("cannot run " + setup.Home.Path() + "/missing"), std::string::npos);

  setup.Home.Write("slow.sh", "#!/bin/sh\necho waiting >&2\nexec sleep 30\n", true);
  setup.Files("[profile p]\ncredential_process = {home}/slow.sh\n", "");
  setup.Resolver.SetProcessTimeout(300ms);
  const std::string message = Refusal();
  EXPECT_NE(message.find("did not finish within 300 ms"), std::string::npos) << message;
  EXPECT_NE(message.find("waiting"), std::string::npos) << message;
}

}  // namespace

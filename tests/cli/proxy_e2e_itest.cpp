// The built `sqs` program through tinyproxy to the local SQS service, over plain HTTP and
// over verified HTTPS through a CONNECT tunnel: the proxy from --proxy and from the
// environment, Basic proxy credentials, and the failures a user meets.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/E2ETransports.h"
#include "support/RunSQS.h"
#include "support/SharedLocalSQSService.h"
#include "support/Tinyproxy.h"

namespace brv {
namespace {

using testing::E2ETransportName;
using testing::E2ETransports;
using testing::RunSQS;
using testing::TE2ETransport;
using testing::TSQSRun;
using testing::TTinyproxy;
using testing::TWithLocalSQSService;

class SQSCommandThroughProxy
    : public TWithLocalSQSService<::testing::TestWithParam<TE2ETransport>> {
 protected:
  std::string EndPoint() const { return GetParam().TLS ? service->HTTPS() : service->HTTP(); }
  // What tinyproxy logs for the program's request.
  std::string ProxiedLine() const {
    const std::string endPoint = EndPoint();
    if (GetParam().TLS) return "CONNECT " + endPoint.substr(endPoint.find("://") + 3) + " HTTP/1.1";
    return "GET " + endPoint + "/?Action=ListQueues";
  }
  TSQSRun ListQueues(std::vector<std::string> Args,
                     std::map<std::string, std::string> Environment = {}, bool InProcess = false) {
    Args.insert(Args.begin(), "list-queues");
    Args.insert(Args.end(), {"--endpoint-url", EndPoint()});
    if (GetParam().TLS)
      Args.insert(Args.end(),
                  {"--ca-bundle", service->CA(), "--tls-engine", GetParam().EngineName});
    Environment.insert({{"AWS_ACCESS_KEY_ID", "test"},
                        {"AWS_SECRET_ACCESS_KEY", "test"},
                        {"AWS_DEFAULT_REGION", service->Region()}});
    return InProcess ? testing::RunSQSHere(Args, Environment) : RunSQS(Args, Environment);
  }
};

TEST_P(SQSCommandThroughProxy, ProxyFromTheOptionOrTheEnvironment) {
  TTinyproxy proxy("proxyuser", "pa55");
  ASSERT_TRUE(proxy.Ready()) << proxy.Failure();
  const std::string variable = GetParam().TLS ? "HTTPS_PROXY" : "HTTP_PROXY";

  TSQSRun run = ListQueues({"--proxy", proxy.Url("proxyuser", "pa55")});
  EXPECT_EQ(run.Status, 0) << run.Err;
  EXPECT_TRUE(proxy.Logged(ProxiedLine())) << proxy.Log();

  // The environment's proxy; --proxy overrides it.
  run = ListQueues({}, {{variable, proxy.Url("proxyuser", "pa55")}});
  EXPECT_EQ(run.Status, 0) << run.Err;
  run = ListQueues({"--proxy", proxy.Url("proxyuser", "pa55")}, {{variable, "http://127.0.0.1:1"}});
  EXPECT_EQ(run.Status, 0) << run.Err;

  // A wrong password is named as such.
  run = ListQueues({"--proxy", proxy.Url("proxyuser", "wrong")});
  EXPECT_NE(run.Status, 0);
  EXPECT_NE(run.Err.find("proxy authentication failed"), std::string::npos) << run.Err;

  // With the proxy stopped nothing goes direct; no_proxy sends it direct.
  proxy.Stop();
  run = ListQueues({"--max-attempts", "1"}, {{variable, proxy.Url()}});
  EXPECT_EQ(run.Status, 3) << run.Err;
  run = ListQueues({}, {{variable, proxy.Url()}, {"no_proxy", "127.0.0.1"}});
  EXPECT_EQ(run.Status, 0) << run.Err;
}

// Run in this process, the command and its client read only the environment handed in: a
// dead proxy in the process's own environment is not used.
TEST_P(SQSCommandThroughProxy, TheProcessEnvironmentIsNotReadBehindTheCommandsBack) {
  const char* variable = GetParam().TLS ? "https_proxy" : "http_proxy";
  ASSERT_EQ(std::getenv(variable), nullptr);
  setenv(variable, "http://127.0.0.1:1", 1);
  const TSQSRun run = ListQueues({"--max-attempts", "1"}, {}, true);
  unsetenv(variable);
  EXPECT_EQ(run.Status, 0) << run.Err;
}

TEST(SQSCommandOptions, ProxyAttemptsAndTimeLimitAreChecked) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--proxy", "https://proxy:443"},
        std::vector<std::string>{"--max-attempts", "0"},
        std::vector<std::string>{"--max-time", "-1"}}) {
    std::vector<std::string> line = {"list-queues", "--endpoint-url", "http://127.0.0.1:1"};
    line.insert(line.end(), args.begin(), args.end());
    const TSQSRun run = testing::RunSQSHere(
        line, {{"AWS_ACCESS_KEY_ID", "k"}, {"AWS_SECRET_ACCESS_KEY", "s"}, {"AWS_REGION", "r"}});
    EXPECT_EQ(run.Status, 2) << args[0] << ": " << run.Err;
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, SQSCommandThroughProxy, ::testing::ValuesIn(E2ETransports()),
                         E2ETransportName);

}  // namespace
}  // namespace brv

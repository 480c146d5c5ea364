// The SQS client through a real HTTP proxy (tinyproxy): plain requests forwarded, https
// through a CONNECT tunnel with the service's certificate checked, Basic proxy credentials,
// the proxy variables of the environment, and what happens when the proxy is not there.
#include "sqs/brvHTTP.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "aws/brvAWSProxy.h"
#include "support/SQSServiceFixture.h"
#include "support/Tinyproxy.h"

namespace brv {
namespace {

using testing::E2ETransportName;
using testing::E2ETransports;
using testing::SQSServiceTest;
using testing::TTinyproxy;

// Sets the proxy variables for one test and removes them after it.
class ScopedEnvironment {
 public:
  ScopedEnvironment& Set(const char* Name, const std::string& Value) {
    ::setenv(Name, Value.c_str(), 1);
    names_.push_back(Name);
    return *this;
  }
  ~ScopedEnvironment() {
    for (const char* name : names_) ::unsetenv(name);
  }

 private:
  std::vector<const char*> names_;
};

class SQSThroughProxy : public SQSServiceTest {
 protected:
  // The request line tinyproxy logs for a request of the client: the forwarded GET for http,
  // the CONNECT that opens the tunnel for https.
  std::string ProxiedLine() const {
    const std::string endPoint = EndPoint();
    if (GetParam().TLS) return "CONNECT " + endPoint.substr(endPoint.find("://") + 3) + " HTTP/1.1";
    return "GET " + endPoint + "/?Action=ListQueues";
  }
  bool ListQueues(TbrvHTTPAWS_SQS_Client& Client) {
    TStringList queues;
    return Client.ListQueues(queues, "");
  }
};

TEST_P(SQSThroughProxy, RequestsGoThroughTheProxyGivenAsAProperty) {
  TTinyproxy proxy;
  ASSERT_TRUE(proxy.Ready()) << proxy.Failure();
  auto client = MakeClient();
  client->SetProxy(proxy.Url());
  const std::string name = UniqueName("proxied");
  ASSERT_FALSE(client->CreateQueue(name).empty());
  ASSERT_TRUE(client->SendMessage(name, "through the proxy", 0));
  EXPECT_TRUE(ListQueues(*client));
  EXPECT_TRUE(client->DeleteQueue(name));
  EXPECT_TRUE(proxy.Logged(ProxiedLine())) << proxy.Log();

  // With the proxy gone the request fails instead of going direct.
  proxy.Stop();
  client->SetMaxAttempts(1);
  EXPECT_THROW(ListQueues(*client), EIdSocketError);
}

TEST_P(SQSThroughProxy, BasicProxyCredentialsFromTheProxyURL) {
  TTinyproxy proxy("proxyuser", "s3cret");
  ASSERT_TRUE(proxy.Ready()) << proxy.Failure();
  auto client = MakeClient();
  client->SetProxy(proxy.Url("proxyuser", "s3cret"));
  EXPECT_TRUE(ListQueues(*client));
  EXPECT_TRUE(proxy.Logged(ProxiedLine())) << proxy.Log();

  for (const std::string& url : {proxy.Url("proxyuser", "wrong"), proxy.Url()}) {
    SCOPED_TRACE(url);
    auto other = MakeClient();
    other->SetProxy(url);
    try {
      ListQueues(*other);
      ADD_FAILURE() << "a refused proxy login raised nothing";
    } catch (const EbrvAWSProxyError& E) {
      EXPECT_NE(std::string(E.Message()).find("proxy authentication failed"), std::string::npos)
          << E.Message();
    }
    EXPECT_EQ(other->Attempts(), 1);
  }
}

TEST_P(SQSThroughProxy, TheEnvironmentNamesTheProxyAndNoProxyBypassesIt) {
  TTinyproxy proxy;
  ASSERT_TRUE(proxy.Ready()) << proxy.Failure();
  auto client = MakeClient();
  {
    ScopedEnvironment environment;
    environment.Set(GetParam().TLS ? "https_proxy" : "http_proxy", proxy.Url())
        .Set(GetParam().TLS ? "HTTPS_PROXY" : "HTTP_PROXY", "http://127.0.0.1:1");
    EXPECT_TRUE(ListQueues(*client));
    EXPECT_TRUE(proxy.Logged(ProxiedLine())) << proxy.Log();
  }
  proxy.Stop();
  {
    // The stopped proxy is never tried for a host that NO_PROXY lists.
    ScopedEnvironment environment;
    environment.Set(GetParam().TLS ? "HTTPS_PROXY" : "HTTP_PROXY", proxy.Url())
        .Set("NO_PROXY", "example.com, 127.0.0.1");
    EXPECT_TRUE(ListQueues(*client));
  }
}

INSTANTIATE_TEST_SUITE_P(Transports, SQSThroughProxy, ::testing::ValuesIn(E2ETransports()),
                         E2ETransportName);

}  // namespace
}  // namespace brv

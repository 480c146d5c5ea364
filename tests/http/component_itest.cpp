#include "http/brvHTTP_Client.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "support/ScriptedServer.h"
#include "tests/support/TempDir.h"

namespace brv {
namespace {

using test::ScriptedServer;
using S = ScriptedServer;

std::string Ok(const std::string& ABody) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(ABody.size()) + "\r\n\r\n" + ABody;
}

// A TLS handler whose "encryption" is the identity: the https branch runs end to end
// against a plain loopback server.
class IdentityTLSHandler : public TIdSSLIOHandlerSocketBase {
 public:
  using TIdSSLIOHandlerSocketBase::TIdSSLIOHandlerSocketBase;
  std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() override {
    return std::make_unique<IdentityTLSHandler>();
  }
  void StartSSL() override { ++starts; }
  int starts = 0;

 protected:
  int ReadDecrypted(TIdBytes& VBuffer) override { return TIdIOHandlerStack::ReadRawData(VBuffer); }
  int WriteEncrypted(const TIdBytes& ABuffer, int AOffset, int ALength) override {
    return TIdIOHandlerStack::WriteRawData(ABuffer, AOffset, ALength);
  }
};

class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    made_ = 0;
    log_ = dir_.File("http.log");
  }
  std::string ReadLog() const {
    std::ifstream in(log_, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // Makes http's https requests go through the identity handler, counting the handlers made.
  void UseIdentityTLS(TbrvIdHTTP& http) {
    http.SetTLSHandlerFactory([this](TbrvIdHTTP&) {
      ++made_;
      return std::make_unique<IdentityTLSHandler>();
    });
  }
  int made_ = 0;
  testing::TTempDir dir_{"brv-component"};
  std::string log_;
};

TEST_F(ComponentTest, SendsItsUserAgent) {
  ScriptedServer server({S::Exchange({Ok("x")})});
  TbrvIdHTTP http;
  http.Get(server.Url());
  EXPECT_NE(server.Requests().at(0).find("\r\nUser-Agent: Mozilla/5.0 (Brevolink 4.4.6)\r\n"),
            std::string::npos);
}

TEST_F(ComponentTest, LogFileHoldsTheExchangeInItsLineFormats) {
  ScriptedServer server({S::Exchange({Ok("first")}), S::Exchange({Ok("third")})});
  {
    TbrvIdHTTP http;
    http.LogOptions().FileName = log_;
    http.SetLog(true);
    http.Request().SetAccept("");
    EXPECT_EQ(http.Get(server.Url("/a")), "first");
    http.SetLog(false);  // frees the log: the connection's close is no longer logged
    http.Disconnect();
    http.SetLog(true);
    EXPECT_EQ(http.Get(server.Url("/b")), "third");
  }  // destroyed with the log on: "Disconnected." and the file closed
  const std::string stamp = "\\d{4}-\\d{2}-\\d{2}( \\d{2}:\\d{2}:\\d{2})?";
  const std::string host = "127\\.0\\.0\\.1:" + std::to_string(server.Port());
  auto period = [&](const std::string& APath, const std::string& ABody) {
    return "Stat Connected\\.\r\n"
           "Sent " + stamp + ": GET " + APath + " HTTP/1\\.1\r\nHost: " + host +
           "\r\nUser-Agent: Mozilla/5\\.0 \\(Brevolink 4\\.4\\.6\\)\r\n\r\n\r\n"
           "Recv " + stamp + ": HTTP/1\\.1 200 OK\r\nContent-Length: \\d+\r\n\r\n" + ABody + "\r\n";
  };
  const std::regex whole(period("/a", "first") + period("/b", "third") + "Stat Disconnected\\.\r\n");
  const std::string text = ReadLog();
  EXPECT_TRUE(std::regex_match(text, whole)) << text;
  // The file is closed: another writer may open it.
  TIdLogFile other;
  other.SetFilename(log_);
  EXPECT_NO_THROW(other.SetActive(true));
}

TEST_F(ComponentTest, ALogThatCannotOpenFailsTheRequestBeforeSending) {
  ScriptedServer server({S::Exchange({Ok("no log")})});
  TbrvIdHTTP http;
  http.LogOptions().FileName = dir_.File("missing/http.log");
  http.SetLog(true);
  EXPECT_THROW(http.Get(server.Url()), EFOpenError);
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_EQ(http.Get(server.Url()), "no log");  // held, not installed: runs without a log
  ASSERT_NE(http.LogIntercept(), nullptr);
  EXPECT_FALSE(http.LogIntercept()->Active());
}

TEST_F(ComponentTest, TheFirstFiveCharactersChooseTheTLSBranch) {
  ScriptedServer server({S::Exchange({Ok("1"), Ok("2")}), S::Exchange({Ok("3")}),
                         S::Exchange({Ok("4")})});
  const std::string tail = "127.0.0.1:" + std::to_string(server.Port()) + "/p?q=1";
  TbrvIdHTTP http;
  UseIdentityTLS(http);
  EXPECT_EQ(http.Get("HTTPS://" + tail), "1");
  EXPECT_EQ(http.Get("Https://" + tail), "2");
  EXPECT_EQ(made_, 1);
  ASSERT_NE(http.TLSHandler(), nullptr);
  EXPECT_FALSE(http.TLSHandler()->PassThrough());
  EXPECT_EQ(http.TLSHandler()->URIToCheck(), "Https://" + tail);  // the URL of the request
  EXPECT_EQ(http.Get("http://" + tail), "3");
  EXPECT_EQ(http.TLSHandler(), nullptr);
  EXPECT_EQ(http.Get("https://" + tail), "4");
  EXPECT_EQ(made_, 2);
  const auto r = server.Requests();
  EXPECT_EQ(r[0].substr(0, r[0].find("\r\n")), "GET /p?q=1 HTTP/1.1");
  EXPECT_NE(r[0].find("\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"),
            std::string::npos);
}

TEST_F(ComponentTest, HttpsThroughAProxyOpensATunnelAndSendsTheBareHost) {
  ScriptedServer proxy({{S::Read(), S::Send("HTTP/1.1 200 Connection established\r\n\r\n"),
                         S::Read(), S::Send(Ok("tunnelled"))}});
  TbrvIdHTTP http;
  UseIdentityTLS(http);
  http.ProxyParams().SetProxyServer("127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy.Port());
  http.Request().SetAccept("");
  EXPECT_EQ(http.Get("https://example.test/p?q=1"), "tunnelled");
  const auto r = proxy.Requests();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].substr(0, r[0].find("\r\n")), "CONNECT example.test:443 HTTP/1.1");
  EXPECT_NE(r[0].find("\r\nProxy-Connection: keep-alive\r\n"), std::string::npos) << r[0];
  EXPECT_EQ(r[1],
            "GET /p?q=1 HTTP/1.1\r\nHost: example.test\r\n"
            "User-Agent: Mozilla/5.0 (Brevolink 4.4.6)\r\n\r\n");
  EXPECT_FALSE(http.TLSHandler()->PassThrough());
}

TEST_F(ComponentTest, WithoutATLSEngineHttpsIsRefused) {
  if (TIdIOHandler::TryMakeIOHandler<TIdSSLIOHandlerSocketBase>() != nullptr)
    GTEST_SKIP() << "a TLS handler class is registered";
  TbrvIdHTTP http;
  http.SetTLSHandlerFactory(
      [](TbrvIdHTTP&) -> std::unique_ptr<TIdSSLIOHandlerSocketBase> { return nullptr; });
  try {
    http.Get("https://127.0.0.1:1/");
    FAIL();
  } catch (const EIdIOHandlerPropInvalid& e) {
    EXPECT_EQ(e.Message(), "IOHandler value is not valid");
  }
}

class DelayedOAuth : public TbrvHTTPComponentClient_OAuth {
 public:
  ~DelayedOAuth() override {
    if (worker.joinable()) worker.join();
  }
  void StartAuthorization() override {
    ++starts;
    worker = std::thread([this] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      OnAuthToken(this, "Bearer", "tok123", nullptr);
    });
  }
  int starts = 0;
  std::thread worker;
};

TEST_F(ComponentTest, BearerTokenIsFetchedOnceAndSentOncePerRequest) {
  ScriptedServer server({S::Exchange({Ok("a"), Ok("b")})});
  DelayedOAuth oauth;
  TbrvIdHTTP http;
  http.Authentication().Token().OAuth = &oauth;
  http.Get(server.Url());
  http.Get(server.Url());
  EXPECT_EQ(oauth.starts, 1);
  for (const std::string& r : server.Requests()) {
    const size_t first = r.find("Authorization: Bearer tok123\r\n");
    ASSERT_NE(first, std::string::npos) << r;
    EXPECT_EQ(r.find("Authorization:", first + 1), std::string::npos) << r;
  }
  EXPECT_THROW(http.DoAuthTokenError(nullptr, "invalid_grant", "expired", nullptr), Exception);
  try {
    http.DoAuthTokenError(nullptr, "invalid_grant", "expired", nullptr);
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Error invalid_grant. expired");
  }
}

TEST_F(ComponentTest, OptionGroupsCopyIntoTheOwnedObjects) {
  TbrvIdHTTP http;
  TbrvHttpLogFile log;
  log.FileName = "x.log";
  http.SetLogOptions(log);
  EXPECT_EQ(http.LogOptions().FileName, "x.log");
  TbrvIdHTTPAuthentication_Options auth;
  auth.Token().ReadTimeout = 5;
  http.SetAuthentication(auth);
  EXPECT_EQ(http.Authentication().Token().ReadTimeout, 5);
  TbrvTCPTLS_Options tls;
  tls.Version = tls1_2;
  tls.CertFile = "c.pem";
  http.SetTLSOptions(tls);
  EXPECT_EQ(http.TLSOptions().Version, tls1_2);
  EXPECT_EQ(http.TLSOptions().CertFile, "c.pem");
  std::string password;
  http.TLSOptions().Password = "pw";
  http.DoGetTLSPassword(password);
  EXPECT_EQ(password, "pw");
}

}  // namespace
}  // namespace brv

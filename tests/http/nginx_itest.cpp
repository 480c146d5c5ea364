#include "http/IdHTTP.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>
#include <memory>
#include <sstream>

#include "tests/support/Nginx.h"

namespace brv {
namespace {

using test::Nginx;

const char* kServer = R"(
    keepalive_timeout 60s;
    location = /old { return 301 /new.txt; }
    location = /away { return 302 http://127.0.0.1:$server_port/new.txt; }
    location /private/ {
      auth_basic "Private Area";
      auth_basic_user_file %PREFIX%/htpasswd;
    }
)";

class NginxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Nginx::Available()) GTEST_SKIP() << "nginx is not installed";
    nginx_ = std::make_unique<Nginx>(kServer);
    ASSERT_TRUE(nginx_->Running());
    std::ofstream(nginx_->Prefix() + "/htpasswd") << "aladdin:{PLAIN}open sesame\n";
    std::string kib;
    for (int i = 0; i < 1024; ++i) kib += static_cast<char>('a' + i % 26);
    nginx_->WriteFile("kib.txt", kib);
    nginx_->WriteFile("new.txt", "new place");
    nginx_->WriteFile("private/doc.txt", "secret doc");
    std::string big(1 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
    nginx_->WriteFile("big.bin", big);
    kib_ = kib;
    big_ = big;
    http_.SetReadTimeout(10000);
  }

  // The access log as (connection number, request line and status), once it holds
  // AExpected lines (nginx writes a line when it has finished a request).
  std::vector<std::pair<long, std::string>> Log(size_t AExpected) const {
    for (int i = 0; i < 200 && Count() < AExpected; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::vector<std::pair<long, std::string>> lines;
    std::istringstream in(nginx_->AccessLog());
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream f(line);
      long conn = 0, n = 0;
      f >> conn >> n;
      std::string rest;
      std::getline(f, rest);
      lines.emplace_back(conn, rest);
    }
    return lines;
  }

  size_t Count() const {
    const std::string log = nginx_->AccessLog();
    return static_cast<size_t>(std::count(log.begin(), log.end(), '\n'));
  }

  std::unique_ptr<Nginx> nginx_;
  TIdHTTP http_;
  std::string kib_;
  std::string big_;
};

TEST_F(NginxTest, KeepAliveReusesOneConnectionForCountedBodies) {
  EXPECT_EQ(http_.Get(nginx_->Url("/kib.txt")), kib_);
  EXPECT_EQ(http_.Response().ContentLength(), 1024);
  TMemoryStream big;
  http_.Get(nginx_->Url("/big.bin"), &big);
  EXPECT_EQ(std::string(big.Bytes().begin(), big.Bytes().end()), big_);
  EXPECT_EQ(http_.Get(nginx_->Url("/kib.txt")), kib_);
  EXPECT_TRUE(http_.Connected());
  http_.Disconnect();
  const auto log = Log(3);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].first, log[2].first);
  EXPECT_EQ(log[0].second, " \"GET /kib.txt HTTP/1.1\" 200");
}

TEST_F(NginxTest, HeadAndNotFoundKeepTheConnection) {
  http_.Head(nginx_->Url("/kib.txt"));
  EXPECT_EQ(http_.ResponseCode(), 200);
  EXPECT_EQ(http_.Response().ContentLength(), 1024);
  try {
    http_.Get(nginx_->Url("/missing"));
    FAIL();
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ErrorCode(), 404);
    EXPECT_NE(e.ErrorMessage().find("404 Not Found"), std::string::npos);
  }
  EXPECT_EQ(http_.Get(nginx_->Url("/new.txt")), "new place");
  const auto log = Log(3);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].first, log[2].first);
}

TEST_F(NginxTest, RedirectsAreFollowedWhenAsked) {
  try {
    http_.Get(nginx_->Url("/old"));
    FAIL();
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ErrorCode(), 301);
  }
  http_.SetHandleRedirects(true);
  EXPECT_EQ(http_.Get(nginx_->Url("/old")), "new place");
  EXPECT_EQ(http_.Get(nginx_->Url("/away")), "new place");
  EXPECT_EQ(http_.RedirectCount(), 1);
  EXPECT_EQ(http_.URL().Document(), "new.txt");
}

TEST_F(NginxTest, BasicAuthenticationAgainstAuthBasic) {
  try {
    http_.Get(nginx_->Url("/private/doc.txt"));
    FAIL();
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ErrorCode(), 401);
  }
  http_.SetHTTPOptions(http_.HTTPOptions() | hoInProcessAuth);
  http_.Request().SetUsername("aladdin");
  http_.Request().SetPassword("open sesame");
  EXPECT_EQ(http_.Get(nginx_->Url("/private/doc.txt")), "secret doc");
  EXPECT_EQ(http_.AuthRetries(), 1);
  // The scheme object stays with the request: the next call sends credentials at once.
  EXPECT_EQ(http_.Get(nginx_->Url("/private/doc.txt")), "secret doc");
  EXPECT_EQ(http_.AuthRetries(), 0);

  TIdHTTP eager;
  eager.Request().SetUsername("aladdin");
  eager.Request().SetPassword("open sesame");
  eager.Request().SetBasicAuthentication(true);
  EXPECT_EQ(eager.Get(nginx_->Url("/private/doc.txt")), "secret doc");

  TIdHTTP wrong;
  wrong.SetHTTPOptions(hoInProcessAuth);
  wrong.Request().SetUsername("aladdin");
  wrong.Request().SetPassword("wrong");
  EXPECT_THROW(wrong.Get(nginx_->Url("/private/doc.txt")), EIdHTTPProtocolException);
  EXPECT_EQ(wrong.AuthRetries(), 3);
}

}  // namespace
}  // namespace brv

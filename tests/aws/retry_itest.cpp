#include "aws/brvHTTP_Amazon_AWS.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http/IdHTTP.h"
#include "tests/http/support/ScriptedServer.h"
#include "tests/support/Certificates.h"
#include "tests/support/Programs.h"
#include "support/TestAccount.h"

namespace brv {
namespace {

using std::chrono::milliseconds;
using test::ScriptedServer;
using Clock = std::chrono::system_clock;

// An answer after which the client closes, so that no test waits for a kept connection.
std::string Answer(int Status, const std::string& Body, const std::string& Extra = "") {
  return "HTTP/1.1 " + std::to_string(Status) + " Status\r\nContent-Type: text/xml\r\n" + Extra +
         "Connection: close\r\nContent-Length: " + std::to_string(Body.size()) + "\r\n\r\n" + Body;
}

// One connection per answer.
std::vector<ScriptedServer::Script> Answers(const std::vector<std::string>& AAnswers) {
  std::vector<ScriptedServer::Script> scripts;
  for (const std::string& answer : AAnswers)
    scripts.push_back(
        {ScriptedServer::Read(), ScriptedServer::Send(answer), ScriptedServer::Close()});
  return scripts;
}

std::string ErrorBody(const std::string& Code, const std::string& Message = "no") {
  return "<ErrorResponse><Error><Type>Sender</Type><Code>" + Code + "</Code><Message>" + Message +
         "</Message></Error><RequestId>r</RequestId></ErrorResponse>";
}

const std::string kOK = Answer(200, "<ListQueuesResponse>ok</ListQueuesResponse>");

// "X-Amz-Date:..." of a request as received.
std::string AmzDate(const std::string& Request) {
  const std::size_t at = Request.find("X-Amz-Date:");
  return at == std::string::npos ? "" : Request.substr(at + 11, 16);
}

// An HTTP date of a moment.
std::string HTTPDate(Clock::time_point Moment) {
  const std::time_t t = Clock::to_time_t(Moment);
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
  return text;
}

std::string Stamp(Clock::time_point Moment) {
  const std::time_t t = Clock::to_time_t(Moment);
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &parts);
  return text;
}

// A client of the library's own signer and HTTP component whose waits are recorded instead
// of slept and whose random source is fixed.
class RetryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::UseTestAccount(client.AWSOptions());
    client.SetSleep([this](milliseconds Delay, const TIdDeadline&) { waits.push_back(Delay); });
    client.SetRandom([this] { return random; });
  }

  bool Get(const std::string& URL) {
    response.clear();
    error.clear();
    return client.GetURL(URL + "?Action=ListQueues", response, error);
  }

  TbrvHTTP_Amazon_AWS_Client client;
  std::vector<milliseconds> waits;
  double random = 0.5;
  std::string response, error;
};

TEST_F(RetryTest, ErrorAnswersAreRetriedOrNotByStatusAndCode) {
  struct Row {
    const char* Name;
    std::vector<std::string> Answers;
    bool Success;
    int Attempts;
    std::vector<milliseconds> Waits;  // with the random source at 0.5
  };
  const std::string unavailable = Answer(503, ErrorBody("ServiceUnavailable"));
  const std::vector<Row> rows = {
      {"503, 503, 200",
       {unavailable, unavailable, kOK},
       true,
       3,
       {milliseconds(25), milliseconds(50)}},
      {"three 503s: the last one is the result",
       {unavailable, unavailable, unavailable},
       false,
       3,
       {milliseconds(25), milliseconds(50)}},
      {"throttled with 400",
       {Answer(400, ErrorBody("RequestThrottled")), kOK},
       true,
       2,
       {milliseconds(500)}},
      {"throttled with 403",
       {Answer(403, ErrorBody("RequestThrottled")), kOK},
       true,
       2,
       {milliseconds(500)}},
      {"ThrottlingException",
       {Answer(400, ErrorBody("ThrottlingException")), kOK},
       true,
       2,
       {milliseconds(500)}},
      {"InternalError with 400",
       {Answer(400, ErrorBody("InternalError")), kOK},
       true,
       2,
       {milliseconds(25)}},
      {"502 without a document", {Answer(502, ""), kOK}, true, 2, {milliseconds(25)}},
      {"InvalidParameterValue",
       {Answer(400, ErrorBody("InvalidParameterValue")), kOK},
       false,
       1,
       {}},
      {"AccessDenied with 403", {Answer(403, ErrorBody("AccessDenied")), kOK}, false, 1, {}},
      {"501 is not retried", {Answer(501, ErrorBody("NotImplemented")), kOK}, false, 1, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    waits.clear();
    ScriptedServer server(Answers(row.Answers));
    EXPECT_EQ(Get(server.Url()), row.Success);
    EXPECT_EQ(client.Attempts(), row.Attempts);
    EXPECT_EQ(static_cast<int>(server.Requests().size()), row.Attempts);
    EXPECT_EQ(waits, row.Waits);
    if (row.Success) {
      EXPECT_EQ(response, "<ListQueuesResponse>ok</ListQueuesResponse>");
      EXPECT_EQ(error, "");
    } else {
      // The error text is the last attempt's answer.
      EXPECT_EQ(response, "");
      EXPECT_NE(error, "");
    }
  }
}

TEST_F(RetryTest, WaitsStayInsideTheirBoundsAndTheCeiling) {
  // Retry k waits a fraction of min(20 s, base * 2^(k-1)); with the random source just under 1
  // each wait is just under its bound.
  random = 0.999;
  client.SetMaxAttempts(8);
  const std::string throttled = Answer(400, ErrorBody("Throttling"));
  ScriptedServer server(Answers(std::vector<std::string>(8, throttled)));
  EXPECT_FALSE(Get(server.Url()));
  ASSERT_EQ(waits.size(), 7u);
  const long long bounds[] = {1000, 2000, 4000, 8000, 16000, 20000, 20000};
  for (std::size_t k = 0; k < waits.size(); ++k) {
    EXPECT_LT(waits[k].count(), bounds[k]) << "retry " << k + 1;
    EXPECT_GE(waits[k].count(), bounds[k] * 99 / 100) << "retry " << k + 1;
  }
}

TEST_F(RetryTest, EveryAttemptIsSignedAfreshWithTheSameRequest) {
  Clock::time_point now = Clock::from_time_t(1700000000);
  client.SetClock([&now] {
    now += std::chrono::seconds(7);
    return now;
  });
  const std::string unavailable = Answer(500, ErrorBody("InternalError"));
  ScriptedServer server(Answers({unavailable, kOK}));
  std::string body(9000, 'x');  // a URL this long goes out as a form POST
  ASSERT_TRUE(
      client.GetURL(server.Url() + "?Action=SendMessage&MessageBody=" + body, response, error));
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(AmzDate(requests[0]), AmzDate(requests[1]));
  const auto after = [](const std::string& R) { return R.substr(R.find("\r\n\r\n")); };
  EXPECT_EQ(after(requests[0]), after(requests[1]));
  EXPECT_NE(requests[0].find("POST /"), std::string::npos);
  EXPECT_NE(requests[1].find("POST /"), std::string::npos);
}

TEST_F(RetryTest, FailuresWithoutAnAnswer) {
  using S = ScriptedServer;
  {
    SCOPED_TRACE("a reset before the answer is retried");
    ScriptedServer server({{S::Read(), S::Reset()}, {S::Read(), S::Send(kOK)}});
    EXPECT_TRUE(Get(server.Url()));
    EXPECT_EQ(client.Attempts(), 2);
  }
  {
    SCOPED_TRACE("a close in the middle of the body is retried");
    ScriptedServer server({{S::Read(), S::Send(kOK.substr(0, kOK.size() - 5)), S::Close()},
                           {S::Read(), S::Send(kOK), S::Close()}});
    EXPECT_TRUE(Get(server.Url()));
    EXPECT_EQ(client.Attempts(), 2);
  }
  {
    SCOPED_TRACE("a refused connection is retried, then raised");
    EXPECT_THROW(Get("http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/"),
                 EIdSocketError);
    EXPECT_EQ(client.Attempts(), 3);
  }
  {
    SCOPED_TRACE("a certificate for another name is never retried");
    const auto& certificates = test::ServerCertificates::Get();
    ASSERT_EQ(certificates.Error, "");
    client.GetHTTPClient().TLSOptions().RootCertFile = certificates.CA;
    ScriptedServer server({{S::TLS(true)}, {S::TLS(true)}});
    EXPECT_THROW(Get(server.Url("/", "https")), Exception);
    EXPECT_EQ(client.Attempts(), 1);
  }
  {
    SCOPED_TRACE("a malformed answer is never retried");
    ScriptedServer server(Answers({"HTTP/1.1 200 OK\r\nContent-Length: 12x\r\n\r\n", kOK}));
    EXPECT_THROW(Get(server.Url()), EIdHTTPMalformedResponse);
    EXPECT_EQ(client.Attempts(), 1);
  }
}

TEST_F(RetryTest, TheQuotaLimitsRetriesAndSuccessRefillsIt) {
  client.SetRetryQuotaCapacity(5);
  const std::string unavailable = Answer(503, ErrorBody("ServiceUnavailable"));
  ScriptedServer server(Answers({unavailable, unavailable, unavailable, kOK}));
  // One retry empties the quota; the second is not made.
  EXPECT_FALSE(Get(server.Url()));
  EXPECT_EQ(client.Attempts(), 2);
  EXPECT_EQ(client.RetryQuota(), 0);
  // With an empty quota a failure is final at once.
  EXPECT_FALSE(Get(server.Url()));
  EXPECT_EQ(client.Attempts(), 1);
  // A success that needed no retry gives back one unit.
  EXPECT_TRUE(Get(server.Url()));
  EXPECT_EQ(client.RetryQuota(), 1);
}

TEST_F(RetryTest, ARetryAfterATimeOutCostsMore) {
  client.SetRetryQuotaCapacity(10);
  client.GetHTTPClient().SetReadTimeout(100);
  const ScriptedServer::Script stall = {ScriptedServer::Read(), ScriptedServer::Sleep(400)};
  ScriptedServer server({stall, stall, stall});
  EXPECT_THROW(Get(server.Url()), EIdReadTimeout);
  EXPECT_EQ(client.Attempts(), 2);
  EXPECT_EQ(client.RetryQuota(), 0);
}

TEST_F(RetryTest, MaxAttemptsComesFromThePropertyTheEnvironmentOrTheDefault) {
  EXPECT_EQ(client.MaxAttempts(), 3);
  ::setenv("AWS_MAX_ATTEMPTS", "5", 1);
  EXPECT_EQ(client.MaxAttempts(), 5);
  ::setenv("AWS_MAX_ATTEMPTS", "zero", 1);
  EXPECT_EQ(client.MaxAttempts(), 3);
  ::setenv("AWS_MAX_ATTEMPTS", "5", 1);
  client.SetMaxAttempts(1);
  EXPECT_EQ(client.MaxAttempts(), 1);
  ::unsetenv("AWS_MAX_ATTEMPTS");

  const std::string unavailable = Answer(503, ErrorBody("ServiceUnavailable"));
  ScriptedServer server(Answers({unavailable, kOK}));
  EXPECT_FALSE(Get(server.Url()));
  EXPECT_EQ(client.Attempts(), 1);
  EXPECT_TRUE(waits.empty());
}

TEST_F(RetryTest, TheTimeLimitCoversTheWaitsAndACancelEndsTheCall) {
  const std::string unavailable = Answer(503, ErrorBody("ServiceUnavailable"));
  {
    SCOPED_TRACE("the limit runs out while waiting: no further attempt");
    client.SetMaxTime(milliseconds(200));
    client.SetSleep(
        [](milliseconds, const TIdDeadline&) { std::this_thread::sleep_for(milliseconds(300)); });
    ScriptedServer server(Answers({unavailable, kOK}));
    EXPECT_THROW(Get(server.Url()), EIdDeadlineExceeded);
    EXPECT_EQ(server.Requests().size(), 1u);
  }
  {
    SCOPED_TRACE("a wait longer than the time left is not begun: the last answer stands");
    client.SetMaxTime(milliseconds(1500));
    random = 0.999;  // a throttling wait of almost 1 s, then almost 2 s
    client.SetMaxAttempts(5);
    client.SetSleep([this](milliseconds Delay, const TIdDeadline&) { waits.push_back(Delay); });
    const std::string throttled = Answer(400, ErrorBody("Throttling"));
    ScriptedServer server(Answers({throttled, throttled, throttled, kOK}));
    waits.clear();
    EXPECT_FALSE(Get(server.Url()));
    EXPECT_EQ(client.Attempts(), 2);
    EXPECT_EQ(waits, std::vector<milliseconds>{milliseconds(999)});
  }
  {
    SCOPED_TRACE("a cancel during the wait ends the call with the cancel");
    client.SetMaxTime(milliseconds(60000));
    client.SetSleep(nullptr);  // the client's own wait, which a cancel ends early
    random = 0.999;
    auto cancel = std::make_shared<TIdCancellation>();
    client.SetCancellation(cancel);
    const std::string throttled = Answer(400, ErrorBody("Throttling"));
    ScriptedServer server(Answers({throttled, kOK}));
    std::thread canceller([&] {
      std::this_thread::sleep_for(milliseconds(100));
      cancel->Cancel();
    });
    EXPECT_THROW(Get(server.Url()), EIdOperationCancelled);
    canceller.join();
    EXPECT_EQ(server.Requests().size(), 1u);
    client.SetCancellation(nullptr);
  }
  {
    SCOPED_TRACE("a cancelled call sends nothing");
    auto cancel = std::make_shared<TIdCancellation>();
    cancel->Cancel();
    client.SetCancellation(cancel);
    ScriptedServer server(Answers({kOK}));
    EXPECT_THROW(Get(server.Url()), EIdOperationCancelled);
    EXPECT_EQ(client.Attempts(), 0);
  }
}

TEST_F(RetryTest, AServerClockTwentyMinutesAheadIsLearntAndKept) {
  const Clock::time_point ours = Clock::from_time_t(1765280000);
  const Clock::time_point theirs = ours + std::chrono::minutes(20);
  client.SetClock([ours] { return ours; });
  const std::string expired =
      Answer(403,
             ErrorBody("SignatureDoesNotMatch", "Signature expired: " + Stamp(ours) +
                                                    " is now earlier than " + Stamp(theirs) + " (" +
                                                    Stamp(theirs) + " - 5 min.)"),
             "Date: " + HTTPDate(theirs) + "\r\n");
  ScriptedServer server(Answers({expired, kOK, kOK, expired, expired}));
  EXPECT_TRUE(Get(server.Url()));
  EXPECT_EQ(client.Attempts(), 2);
  EXPECT_TRUE(waits.empty());
  // The next call to the same endpoint is signed with the service's time at once.
  EXPECT_TRUE(Get(server.Url()));
  EXPECT_EQ(client.Attempts(), 1);
  // A second complaint in one call is not corrected again.
  client.SetMaxAttempts(5);
  EXPECT_FALSE(Get(server.Url()));
  EXPECT_EQ(client.Attempts(), 2);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(AmzDate(requests[0]), Stamp(ours));
  EXPECT_EQ(AmzDate(requests[1]), Stamp(theirs));
  EXPECT_EQ(AmzDate(requests[2]), Stamp(theirs));
}

TEST_F(RetryTest, SkewCodesAreRecognisedOnlyWhereTheyMeanTheClock) {
  const Clock::time_point ours = Clock::from_time_t(1765280000);
  client.SetClock([ours] { return ours; });
  const std::string date = "Date: " + HTTPDate(ours + std::chrono::minutes(-20)) + "\r\n";
  struct Row {
    std::string Code, Message;
    int Attempts;
  };
  for (const Row& row : std::vector<Row>{{"RequestTimeTooSkewed", "x", 2},
                                         {"RequestExpired", "x", 2},
                                         {"InvalidSignatureException", "x", 2},
                                         {"SignatureDoesNotMatch", "The signature is wrong", 1}}) {
    SCOPED_TRACE(row.Code);
    ScriptedServer server(Answers({Answer(400, ErrorBody(row.Code, row.Message), date), kOK}));
    EXPECT_EQ(Get(server.Url()), row.Attempts == 2);
    EXPECT_EQ(client.Attempts(), row.Attempts);
  }
}

}  // namespace
}  // namespace brv

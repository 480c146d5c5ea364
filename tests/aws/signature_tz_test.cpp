#include "aws/brvBase_Helpers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "aws/brvHTTP_Amazon_AWS_Signature.h"

namespace brv {
namespace {

// Runs a test in a time zone given by a POSIX TZ rule (no zone database needed) and puts
// the process's zone back afterwards.
class ZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    hadTZ_ = tz != nullptr;
    if (hadTZ_) savedTZ_ = tz;
  }
  void TearDown() override {
    if (hadTZ_) {
      setenv("TZ", savedTZ_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void Zone(const char* rule) {
    setenv("TZ", rule, 1);
    tzset();
  }

 private:
  bool hadTZ_ = false;
  std::string savedTZ_;
};

// A local date and time as the library counts it: days since 30 December 1899.
TDateTime Local(int y, unsigned m, unsigned d, unsigned hh, unsigned mm, unsigned ss) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const long long days = era * 146097LL + doe - 719468 + 25569;
  return static_cast<double>(days) + (hh * 3600.0 + mm * 60.0 + ss) / 86400.0;
}

constexpr char kBerlin[] = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr char kNewYork[] = "EST5EDT,M3.2.0,M11.1.0";

struct StampCase {
  const char* zone;
  TDateTime local;
  const char* stamp;
  double offsetHours;
};

TEST_F(ZoneTest, StampsAreUtcEastAndWestAndAcrossDaylightSavingChanges) {
  const std::vector<StampCase> cases = {
      {"UTC0", Local(2021, 3, 2, 9, 5, 7), "20210302T090507Z", 0},
      {kBerlin, Local(2021, 1, 15, 12, 0, 0), "20210115T110000Z", 1},
      {kBerlin, Local(2021, 7, 15, 12, 0, 0), "20210715T100000Z", 2},
      // the night the clocks go forward, one second before and at the change
      {kBerlin, Local(2021, 3, 28, 1, 59, 59), "20210328T005959Z", 1},
      {kBerlin, Local(2021, 3, 28, 3, 0, 0), "20210328T010000Z", 2},
      // and the night they go back, after the repeated hour
      {kBerlin, Local(2021, 10, 31, 3, 0, 0), "20211031T020000Z", 1},
      {kNewYork, Local(2021, 1, 15, 12, 0, 0), "20210115T170000Z", -5},
      {kNewYork, Local(2021, 7, 15, 20, 30, 0), "20210716T003000Z", -4},
      {kNewYork, Local(2021, 3, 14, 1, 59, 59), "20210314T065959Z", -5},
      {kNewYork, Local(2021, 3, 14, 3, 0, 0), "20210314T070000Z", -4},
      {"<+0530>-5:30", Local(2021, 1, 1, 5, 0, 0), "20201231T233000Z", 5.5},
      {"<-0930>9:30", Local(2020, 12, 31, 20, 0, 0), "20210101T053000Z", -9.5},
      // a leap day east of Greenwich
      {"<+02>-2", Local(2024, 3, 1, 1, 0, 0), "20240229T230000Z", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.zone) + " " + c.stamp);
    Zone(c.zone);
    EXPECT_EQ(UTCDateStamp(c.local), c.stamp);
    EXPECT_DOUBLE_EQ(LocalOffsetFromUTC(c.local) * 24.0, c.offsetHours);
  }
}

TEST_F(ZoneTest, SigningEastOfGreenwichJustAfterMidnightDatesThePreviousDay) {
  Zone("<+02>-2");
  TbrvHTTP_Amazon_AWS_Signature_V4 signer;
  signer.SignatureV4Options().AccessKey = "AK";
  signer.SignatureV4Options().Region = "eu-central-1";
  signer.SignatureV4Options().Service = "sqs";
  signer.SetClock([] { return Local(2021, 1, 1, 1, 30, 0); });
  signer.SignGET("https://sqs.eu-central-1.amazonaws.com/?Action=ListQueues");
  EXPECT_EQ(signer.RequestDate(), "20201231T233000Z");
  EXPECT_NE(signer.StringToSign().find("\n20201231/eu-central-1/sqs/aws4_request\n"),
            std::string::npos);
  EXPECT_NE(signer.AuthorizationHeader().find("Credential=AK/20201231/eu-central-1/sqs/"),
            std::string::npos);
}

TEST_F(ZoneTest, NowIsTheCurrentUtcTimeInAnyZone) {
  for (const char* zone : {"UTC0", kBerlin, kNewYork, "<+1345>-13:45"}) {
    Zone(zone);
    const std::time_t before = std::time(nullptr);
    const std::string stamp = UTCDateStamp(0);
    const std::time_t after = std::time(nullptr);
    // the stamp is one of the seconds the call spanned
    bool found = false;
    for (std::time_t t = before; t <= after && !found; ++t) {
      std::tm utc{};
      gmtime_r(&t, &utc);
      char text[20];
      std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
      found = stamp == text;
    }
    EXPECT_TRUE(found) << zone << " " << stamp;
  }
}

TEST_F(ZoneTest, AnUnrepresentableTimeRaisesTheTimeZoneError) {
  Zone(kBerlin);
  for (TDateTime t : {1e15, -1e15}) {
    try {
      (void)UTCDateStamp(t);
      FAIL() << "no exception for " << t;
    } catch (const EIdFailedToRetreiveTimeZoneInfo& e) {
      EXPECT_EQ(e.Message(), "Failed attempting to retrieve time zone information.");
    }
    EXPECT_THROW((void)LocalOffsetFromUTC(t), EIdFailedToRetreiveTimeZoneInfo);
  }
}

}  // namespace
}  // namespace brv

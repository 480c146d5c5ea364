#include "aws/brvBase_Helpers.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <limits>

namespace brv {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// Days from 30 December 1899 to 1 January 1970.
constexpr std::int64_t kUnixEpochDays = 25569;

[[noreturn]] void TimeZoneFailure() {
  throw EIdFailedToRetreiveTimeZoneInfo("Failed attempting to retrieve time zone information.");
}

// Seconds since 30 December 1899 of a date-time, rounded to the millisecond first so that a
// time a hair below a whole second reads as that second, then cut to the whole second.
std::int64_t ToSeconds(TDateTime ADateTime) {
  const double ms = std::round(ADateTime * 86400000.0);
  // beyond about 290 million years either way the value is not a date any more
  if (!std::isfinite(ms) || std::fabs(ms) > 9.0e18) TimeZoneFailure();
  const auto whole = static_cast<std::int64_t>(ms);
  return whole >= 0 ? whole / 1000 : -((-whole + 999) / 1000);
}

TDateTime FromSeconds(std::int64_t ASeconds) {
  return static_cast<TDateTime>(ASeconds) / static_cast<TDateTime>(kSecondsPerDay);
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Civil date of a day count since 1970-01-01 (proleptic Gregorian calendar).
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = FloorDiv(z, 146097);
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

// The broken-down form of seconds since 30 December 1899.
struct TCivil {
  std::int64_t year;
  unsigned month, day, hour, minute, second;
};

TCivil Decode(std::int64_t ASeconds) {
  const std::int64_t days = FloorDiv(ASeconds, kSecondsPerDay);
  const std::int64_t rest = ASeconds - days * kSecondsPerDay;
  TCivil c{};
  CivilFromDays(days - kUnixEpochDays, c.year, c.month, c.day);
  c.hour = static_cast<unsigned>(rest / 3600);
  c.minute = static_cast<unsigned>(rest % 3600 / 60);
  c.second = static_cast<unsigned>(rest % 60);
  return c;
}

long OffsetSecondsAt(std::time_t AMoment) {
  std::tm local{};
  if (localtime_r(&AMoment, &local) == nullptr) TimeZoneFailure();
  return local.tm_gmtoff;
}

}  // namespace

TDateTime NowLocal() {
  std::timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const long offset = OffsetSecondsAt(now.tv_sec);
  const std::int64_t seconds =
      static_cast<std::int64_t>(now.tv_sec) + offset + kUnixEpochDays * kSecondsPerDay;
  return FromSeconds(seconds) + static_cast<double>(now.tv_nsec / 1000000) / 86400000.0;
}

TDateTime LocalTimeOfUnixTime(long long AUnixSeconds) {
  tzset();
  const auto moment = static_cast<std::time_t>(AUnixSeconds);
  return FromSeconds(AUnixSeconds + OffsetSecondsAt(moment) + kUnixEpochDays * kSecondsPerDay);
}

TDateTime LocalOffsetFromUTC(TDateTime ALocalTime) {
  tzset();
  if (ALocalTime == 0) return FromSeconds(OffsetSecondsAt(std::time(nullptr)));

  // The moment that local time stands for, as the platform's zone rules see it (in a
  // skipped or repeated hour of a daylight-saving change the platform picks one).
  const TCivil c = Decode(ToSeconds(ALocalTime));
  if (c.year - 1900 > std::numeric_limits<int>::max() ||
      c.year - 1900 < std::numeric_limits<int>::min()) {
    TimeZoneFailure();
  }
  std::tm local{};
  local.tm_year = static_cast<int>(c.year - 1900);
  local.tm_mon = static_cast<int>(c.month) - 1;
  local.tm_mday = static_cast<int>(c.day);
  local.tm_hour = static_cast<int>(c.hour);
  local.tm_min = static_cast<int>(c.minute);
  local.tm_sec = static_cast<int>(c.second);
  local.tm_isdst = -1;
  errno = 0;
  const std::time_t moment = std::mktime(&local);
  if (moment == static_cast<std::time_t>(-1) && errno != 0) TimeZoneFailure();
  return FromSeconds(OffsetSecondsAt(moment));
}

namespace {

// yyyymmddThhnnssZ of a UTC moment in seconds since the TDateTime epoch.
std::string StampOfUTCSeconds(std::int64_t AUTCSeconds) {
  const TCivil c = Decode(AUTCSeconds);
  if (c.year < 0 || c.year > 9999) TimeZoneFailure();
  // yyyymmddThhnnssZ
  std::string text(16, '0');
  const auto put = [&text](std::size_t at, unsigned value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10)
      text[at + static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
  };
  put(0, static_cast<unsigned>(c.year), 4);
  put(4, c.month, 2);
  put(6, c.day, 2);
  text[8] = 'T';
  put(9, c.hour, 2);
  put(11, c.minute, 2);
  put(13, c.second, 2);
  text[15] = 'Z';
  return text;
}

}  // namespace

std::string UTCDateStamp(TDateTime ALocalTime) {
  std::int64_t utcSeconds = 0;
  if (ALocalTime == 0) {
    // Now: local time less the offset in force is the clock's own UTC reading, so the zone
    // need not be consulted (this runs for every signed request).
    std::timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    utcSeconds = static_cast<std::int64_t>(now.tv_sec) + kUnixEpochDays * kSecondsPerDay;
  } else {
    const TDateTime offset = LocalOffsetFromUTC(ALocalTime);
    utcSeconds =
        ToSeconds(ALocalTime) - static_cast<std::int64_t>(std::llround(offset * kSecondsPerDay));
  }
  return StampOfUTCSeconds(utcSeconds);
}

std::string UTCDateStampOfUnixTime(long long AUnixSeconds) {
  return StampOfUTCSeconds(static_cast<std::int64_t>(AUnixSeconds) +
                           kUnixEpochDays * kSecondsPerDay);
}

}  // namespace brv

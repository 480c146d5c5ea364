#include "http/IdHeaderValues.h"

#include <algorithm>
#include <iterator>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <optional>

#include "http/private/Text.h"

namespace brv {

using namespace http_detail;

namespace {

const char* SpecialsOf(TIdHeaderQuotingType AQuoteType) {
  switch (AQuoteType) {
    case QuoteRFC822:
      return "()<>@,;:\\\"./";
    case QuoteMIME:
      return "()<>@,;:\\\"/[]?=";
    case QuoteHTTP:
      return "()<>@,;:\\\"/[]?={} \t";
    case QuotePlain:
      break;
  }
  return "";
}

// For each kind, which bytes end an unquoted value: codes 0 to 32, 127 and the kind's specials.
struct TDelimiterTable {
  bool Is[4][256] = {};
  TDelimiterTable() {
    for (const TIdHeaderQuotingType kind : {QuotePlain, QuoteRFC822, QuoteMIME, QuoteHTTP}) {
      bool* is = Is[kind];
      for (int c = 0; c <= 32; ++c) is[c] = true;
      is[127] = true;
      for (const char* p = SpecialsOf(kind); *p != 0; ++p)
        is[static_cast<unsigned char>(*p)] = true;
    }
  }
};

bool IsDelimiter(char C, TIdHeaderQuotingType AQuoteType) {
  static const TDelimiterTable table;
  const auto u = static_cast<unsigned char>(C);
  if (static_cast<unsigned>(AQuoteType) > QuoteHTTP) return u <= 32 || u == 127;
  return table.Is[AQuoteType][u];
}

}  // namespace

std::string HeaderMainItem(const std::string& AValue) {
  return Trim(std::string_view(AValue).substr(0, AValue.find(';')));
}

void SplitHeaderParams(const std::string& AValue, TIdHeaderParams& AParams,
                       TIdHeaderQuotingType AQuoteType) {
  AParams.clear();
  const size_t semi = AValue.find(';');
  if (semi == std::string::npos) return;
  std::string_view text = std::string_view(AValue).substr(semi + 1);
  for (;;) {
    text = TrimLeftView(text);
    if (text.empty()) break;
    TIdHeaderParam param;
    const size_t eq = text.find('=');
    param.Name = std::string(TrimView(text.substr(0, eq)));
    text = eq == std::string_view::npos ? std::string_view() : TrimLeftView(text.substr(eq + 1));
    if (!text.empty() && text[0] == '"') {
      param.Quoted = true;
      size_t i = 1;
      while (i < text.size() && text[i] != '"') {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        param.Value += text[i];
        ++i;
      }
      // Drop the closing quote and anything up to and including the next ";".
      const size_t next = text.find(';', i);
      text = next == std::string_view::npos ? std::string_view() : text.substr(next + 1);
    } else {
      size_t i = 0;
      while (i < text.size() && !IsDelimiter(text[i], AQuoteType)) ++i;
      param.Value = std::string(text.substr(0, i));
      if (i < text.size() && text[i] == ';') ++i;
      text.remove_prefix(i);
    }
    if (!param.Name.empty() && (param.Quoted || !param.Value.empty()))
      AParams.push_back(std::move(param));
  }
}

std::string HeaderSubItem(const std::string& AValue, const std::string& AParam,
                          TIdHeaderQuotingType AQuoteType) {
  TIdHeaderParams params;
  SplitHeaderParams(AValue, params, AQuoteType);
  for (const auto& p : params)
    if (TextIsSame(p.Name, AParam)) return p.Value;
  return {};
}

std::string ReplaceHeaderParam(const std::string& AValue, const std::string& AParam,
                               const std::string& ANewValue, std::string& VOld,
                               TIdHeaderQuotingType AQuoteType) {
  VOld.clear();
  if (AValue.find(';') == std::string::npos) {
    // Without parameters there is nothing to remove, and a new one is simply appended.
    const std::string value = Trim(ANewValue);
    if (value.empty()) return AValue;
    std::string result = HeaderMainItem(AValue);
    if (result.empty()) return {};
    result += "; ";
    result += AParam;
    result += '=';
    result += QuoteHeaderValue(value, false, AQuoteType);
    return result;
  }
  TIdHeaderParams params;
  SplitHeaderParams(AValue, params, AQuoteType);
  int found = -1;
  for (size_t i = 0; i < params.size(); ++i) {
    if (TextIsSame(params[i].Name, AParam)) {
      found = static_cast<int>(i);
      VOld = params[i].Value;
      break;
    }
  }
  const std::string value = Trim(ANewValue);
  if (!value.empty()) {
    if (found >= 0)
      params[static_cast<size_t>(found)].Value = value;
    else
      params.push_back({AParam, value, false});
  } else if (found < 0) {
    return AValue;
  } else {
    params.erase(params.begin() + found);
  }
  std::string result = HeaderMainItem(AValue);
  if (result.empty()) return {};
  for (const auto& p : params) {
    result += "; ";
    result += p.Name;
    result += '=';
    result += QuoteHeaderValue(p.Value, p.Quoted, AQuoteType);
  }
  return result;
}

std::string RemoveHeaderParam(const std::string& AValue, const std::string& AParam,
                              std::string& VOld, TIdHeaderQuotingType AQuoteType) {
  return ReplaceHeaderParam(AValue, AParam, std::string(), VOld, AQuoteType);
}

std::string QuoteHeaderValue(const std::string& AText, bool AForceQuotes,
                             TIdHeaderQuotingType AQuoteType) {
  if (AText.empty()) return {};
  bool quote = AForceQuotes;
  std::string result;
  result.reserve(AText.size() + 2);
  const bool escapeCR = AQuoteType == QuoteRFC822 || AQuoteType == QuoteMIME;
  for (char c : AText) {
    if (c == '"' || c == '\\' || (escapeCR && c == '\r')) {
      result += '\\';
      quote = true;
    } else if (IsDelimiter(c, AQuoteType)) {
      quote = true;
    }
    result += c;
  }
  return quote ? "\"" + result + "\"" : result;
}

namespace {

std::string_view MainItemView(const std::string& AValue) {
  return TrimView(std::string_view(AValue).substr(0, AValue.find(';')));
}

}  // namespace

bool MediaTypeIs(const std::string& AValue, std::string_view AMediaType) {
  const std::string_view main = MainItemView(AValue);
  if (AMediaType.find('/') == std::string_view::npos)
    return main.size() > AMediaType.size() && main[AMediaType.size()] == '/' &&
           TextStartsWith(main, AMediaType);
  return TextIsSame(main, AMediaType);
}

std::string MediaSubType(const std::string& AValue) {
  const std::string_view main = MainItemView(AValue);
  const size_t p = main.find('/');
  return p == std::string_view::npos ? std::string() : std::string(main.substr(p + 1));
}

// ---- dates -----------------------------------------------------------------------------

namespace {

constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 as days since 1899-12-30
constexpr std::string_view kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

long LocalOffsetAt(std::time_t T) {
  std::tm tm{};
  localtime_r(&T, &tm);
  return tm.tm_gmtoff;
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

int MonthIndex(std::string_view S) {
  if (S.size() < 3) return -1;
  for (int i = 0; i < 12; ++i)
    if (TextStartsWith(S, kMonths[i])) return i;
  return -1;
}

bool AllDigits(std::string_view S) {
  if (S.empty()) return false;
  for (char c : S)
    if (c < '0' || c > '9') return false;
  return true;
}

std::optional<long> ZoneOffset(std::string_view Z) {
  static constexpr struct {
    std::string_view name;
    int hours;
  } zones[] = {{"GMT", 0},  {"UT", 0},   {"UTC", 0},  {"Z", 0},    {"EST", -5}, {"EDT", -4},
               {"CST", -6}, {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
  for (const auto& z : zones)
    if (AsciiTextIsSame(Z, z.name)) return z.hours * 3600L;
  if (Z.size() >= 3 && (Z[0] == '+' || Z[0] == '-')) {
    // "+hhmm", "+hh:mm" or "+hh" (colons anywhere are ignored).
    char digits[4];
    size_t count = 0;
    for (char c : Z.substr(1)) {
      if (c == ':') continue;
      if (c < '0' || c > '9' || count == 4) return std::nullopt;
      digits[count++] = c;
    }
    if (count != 4 && count != 2) return std::nullopt;
    const long h = (digits[0] - '0') * 10 + (digits[1] - '0');
    const long m = count == 4 ? (digits[2] - '0') * 10 + (digits[3] - '0') : 0;
    if (h > 23 || m > 59) return std::nullopt;
    const long off = h * 3600 + m * 60;
    return Z[0] == '-' ? -off : off;
  }
  return std::nullopt;
}

// Reads a time of day "h:m:s" or "h:m" the way the C library's sscanf reads "%d:%d:%d%c":
// each number may follow white space and carry a sign; a third number must end the token,
// while after two numbers the rest is ignored. False for anything else, and for a number
// that does not fit an int (sscanf would wrap it into range).
bool ParseTimeOfDay(std::string_view T, int& VHour, int& VMinute, int& VSecond) {
  size_t i = 0;
  auto number = [&](int& VValue) {
    while (i < T.size() && (T[i] == ' ' || (T[i] >= '\t' && T[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < T.size() && (T[i] == '+' || T[i] == '-')) negative = T[i++] == '-';
    const size_t start = i;
    std::int64_t value = 0;
    bool fits = true;
    for (; i < T.size() && T[i] >= '0' && T[i] <= '9'; ++i) {
      value = value * 10 + (T[i] - '0');
      if (value > 2147483648LL) {
        fits = false;
        value = 2147483648LL;
      }
    }
    if (i == start) return 0;  // no digits: the conversion fails
    if (negative) value = -value;
    if (!fits || value > 2147483647LL || value < -2147483648LL) return -1;
    VValue = static_cast<int>(value);
    return 1;
  };
  int converted = number(VHour);
  if (converted <= 0) return false;
  VSecond = 0;
  if (i >= T.size() || T[i] != ':') return false;  // one number only
  ++i;
  converted = number(VMinute);
  if (converted < 0) return false;
  if (converted == 0) return false;
  if (i >= T.size() || T[i] != ':') return true;  // "h:m", the rest ignored
  ++i;
  int second = 0;
  converted = number(second);
  if (converted < 0) return false;
  if (converted == 0) return true;  // "h:m:" followed by no number: still "h:m"
  VSecond = second;
  return i == T.size();  // a character after the seconds fails the whole time
}

}  // namespace

TDateTime Now() {
  std::timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  const double local = static_cast<double>(ts.tv_sec + LocalOffsetAt(ts.tv_sec)) +
                       static_cast<double>(ts.tv_nsec) / 1e9;
  return local / 86400.0 + kUnixEpochDays;
}

std::string FormatHttpDate(TDateTime ALocalDateTime) {
  const std::time_t now = std::time(nullptr);
  const double gmtDays = ALocalDateTime - static_cast<double>(LocalOffsetAt(now)) / 86400.0;
  const auto secs = static_cast<std::time_t>(std::llround((gmtDays - kUnixEpochDays) * 86400.0));
  std::tm tm{};
  gmtime_r(&secs, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %.2d %s %.4d %.2d:%.2d:%.2d GMT", kDays[tm.tm_wday].data(),
                tm.tm_mday, kMonths[tm.tm_mon].data(), tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return buf;
}

namespace {

// The preferred form of an HTTP date, "Sun, 06 Nov 1994 08:49:37 GMT", read by position: it is
// what servers send in nearly every answer. False for any other text, which the token reader
// below then takes; for this form both give the same fields.
bool ReadIMFFixdate(std::string_view T, int& VDay, int& VMonth, std::int64_t& VYear, int& VHour,
                    int& VMinute, int& VSecond) {
  if (T.size() != 29 || T.substr(3, 2) != ", " || T[7] != ' ' || T[11] != ' ' || T[16] != ' ' ||
      T[19] != ':' || T[22] != ':' || T.substr(25) != " GMT")
    return false;
  const auto digits = [&](std::size_t AAt, std::size_t ACount, int& VValue) {
    VValue = 0;
    for (std::size_t i = AAt; i < AAt + ACount; ++i) {
      if (T[i] < '0' || T[i] > '9') return false;
      VValue = VValue * 10 + (T[i] - '0');
    }
    return true;
  };
  int year = 0;
  if (!digits(5, 2, VDay) || !digits(12, 4, year) || !digits(17, 2, VHour) ||
      !digits(20, 2, VMinute) || !digits(23, 2, VSecond))
    return false;
  if (std::find(std::begin(kDays), std::end(kDays), T.substr(0, 3)) == std::end(kDays))
    return false;
  const auto month = std::find(std::begin(kMonths), std::end(kMonths), T.substr(8, 3));
  if (month == std::end(kMonths)) return false;
  VMonth = static_cast<int>(month - std::begin(kMonths));
  VYear = year;
  return true;
}

// The local date and time of a UTC date read from a header (AMonth from 0, AOffset the zone's
// seconds east of UTC); 0 when a field is out of range.
TDateTime LocalDateTime(std::int64_t AYear, int AMonth, int ADay, int AHour, int AMinute,
                        int ASecond, long AOffset) {
  if (ADay < 1 || ADay > 31 || AMonth < 0 || AYear < 1601 || AHour < 0 || AHour > 23 ||
      AMinute < 0 || AMinute > 59 || ASecond < 0 || ASecond > 60)
    return 0;
  const std::int64_t days =
      DaysFromCivil(AYear, static_cast<unsigned>(AMonth + 1), static_cast<unsigned>(ADay));
  const std::int64_t utc = days * 86400 + AHour * 3600 + AMinute * 60 + ASecond - AOffset;
  // The earliest moment read is the start of 1601 in UTC: an offset east of UTC must not carry
  // a date of that first day back before it, where its written form would not read again.
  if (utc < DaysFromCivil(1601, 1, 1) * 86400) return 0;
  const auto local = static_cast<double>(utc + LocalOffsetAt(static_cast<std::time_t>(utc)));
  return local / 86400.0 + kUnixEpochDays;
}

}  // namespace

TDateTime ParseHttpDate(const std::string& AText) {
  {
    int day = 0, month = 0, hour = 0, minute = 0, second = 0;
    std::int64_t year = 0;
    if (ReadIMFFixdate(AText, day, month, year, hour, minute, second))
      return LocalDateTime(year, month, day, hour, minute, second, 0);
  }
  // The text is read as tokens separated by blanks and commas; a token with a hyphen that is
  // not an offset ("06-Nov-94") is split at its hyphens, and an offset glued to the time
  // ("08:49:37+0100") is a token of its own. Tokens are views into AText, read as they end.
  int day = -1, month = -1, hour = -1, minute = 0, second = 0;
  std::int64_t year = -1;
  long offset = 0;
  bool yearWasShort = false;
  auto take = [&](std::string_view t) {
    if (t.find(':') != std::string_view::npos && t[0] >= '0' && t[0] <= '9') {
      int h = 0, m = 0, s = 0;
      if (!ParseTimeOfDay(t, h, m, s)) return false;
      hour = h;
      minute = m;
      second = s;
    } else if (AllDigits(t)) {
      if (t.size() > 4) return false;
      int v = 0;
      for (char c : t) v = v * 10 + (c - '0');
      if (day < 0 && t.size() <= 2 && month < 0 && year < 0) {
        day = v;
      } else if (day < 0 && t.size() <= 2 && month >= 0) {
        day = v;  // asctime: month before day
      } else if (year < 0) {
        year = v;
        yearWasShort = t.size() <= 2;
      } else {
        return false;
      }
    } else if (month < 0 && MonthIndex(t) >= 0) {
      month = MonthIndex(t);
    } else if (auto z = ZoneOffset(t)) {
      offset = *z;
    } else {
      bool weekday = false;
      for (const std::string_view d : kDays)
        if (TextStartsWith(t, d)) weekday = true;
      if (!weekday) return false;
    }
    return true;
  };
  auto flush = [&](std::string_view cur) {
    if (cur.empty()) return true;
    if (cur[0] == '+' || cur[0] == '-' || cur.find('-') == std::string_view::npos) return take(cur);
    while (!cur.empty()) {
      const size_t dash = cur.find('-');
      const std::string_view part = cur.substr(0, dash);
      cur = dash == std::string_view::npos ? std::string_view() : cur.substr(dash + 1);
      if (!part.empty() && !take(part)) return false;
    }
    return true;
  };
  const std::string_view text = AText;
  size_t start = 0;
  bool colon = false;  // the current token holds a ":"
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == ',' || c == '\t') {
      if (!flush(text.substr(start, i - start))) return 0;
      start = i + 1;
      colon = false;
    } else if ((c == '+' || c == '-') && colon) {
      if (!flush(text.substr(start, i - start))) return 0;  // "08:49:37+0100"
      start = i;
      colon = false;
    } else if (c == ':') {
      colon = true;
    }
  }
  if (!flush(text.substr(start))) return 0;

  if (yearWasShort) year += year < 70 ? 2000 : 1900;
  return LocalDateTime(year, month, day, hour, minute, second, offset);
}

}  // namespace brv

#include "http/IdHeaderValues.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
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

bool IsDelimiter(char C, TIdHeaderQuotingType AQuoteType) {
  const auto u = static_cast<unsigned char>(C);
  if (u <= 32 || u == 127) return true;
  for (const char* p = SpecialsOf(AQuoteType); *p != 0; ++p)
    if (*p == C) return true;
  return false;
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
  // Without parameters there is nothing to remove.
  if (AValue.find(';') == std::string::npos && TrimView(ANewValue).empty()) return AValue;
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
  for (const auto& p : params)
    result += "; " + p.Name + "=" + QuoteHeaderValue(p.Value, p.Quoted, AQuoteType);
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

bool MediaTypeIs(const std::string& AValue, const std::string& AMediaType) {
  const std::string_view main = MainItemView(AValue);
  if (AMediaType.find('/') == std::string::npos)
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
const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
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
  static const struct {
    const char* name;
    int hours;
  } zones[] = {{"GMT", 0},  {"UT", 0},   {"UTC", 0},  {"Z", 0},    {"EST", -5}, {"EDT", -4},
               {"CST", -6}, {"CDT", -5}, {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
  for (const auto& z : zones)
    if (TextIsSame(Z, z.name)) return z.hours * 3600L;
  if (Z.size() >= 3 && (Z[0] == '+' || Z[0] == '-')) {
    std::string digits;
    for (char c : Z.substr(1))
      if (c != ':') digits += c;
    if (!AllDigits(digits) || (digits.size() != 4 && digits.size() != 2)) return std::nullopt;
    const long h = std::stol(digits.substr(0, 2));
    const long m = digits.size() == 4 ? std::stol(digits.substr(2, 2)) : 0;
    if (h > 23 || m > 59) return std::nullopt;
    const long off = h * 3600 + m * 60;
    return Z[0] == '-' ? -off : off;
  }
  return std::nullopt;
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
  std::snprintf(buf, sizeof buf, "%s, %.2d %s %.4d %.2d:%.2d:%.2d GMT", kDays[tm.tm_wday],
                tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                tm.tm_sec);
  return buf;
}

TDateTime ParseHttpDate(const std::string& AText) {
  // Tokens separated by blanks and commas; "06-Nov-94" is split at its hyphens.
  std::vector<std::string> tokens;
  std::string cur;
  auto flush = [&] {
    if (cur.empty()) return;
    const bool offset = (cur[0] == '+' || cur[0] == '-');
    if (!offset && cur.find('-') != std::string::npos) {
      std::string rest = cur;
      while (!rest.empty()) {
        std::string part = Fetch(rest, "-");
        if (!part.empty()) tokens.push_back(part);
      }
    } else {
      tokens.push_back(cur);
    }
    cur.clear();
  };
  for (char c : AText) {
    if (c == ' ' || c == ',' || c == '\t') {
      flush();
    } else if ((c == '+' || c == '-') && !cur.empty() && cur.find(':') != std::string::npos) {
      flush();  // "08:49:37+0100"
      cur += c;
    } else {
      cur += c;
    }
  }
  flush();

  int day = -1, month = -1, hour = -1, minute = 0, second = 0;
  std::int64_t year = -1;
  long offset = 0;
  bool yearWasShort = false;
  for (const std::string& t : tokens) {
    if (t.find(':') != std::string::npos && AllDigits(t.substr(0, 1))) {
      int h = 0, m = 0, s = 0;
      char extra = 0;
      const int n = std::sscanf(t.c_str(), "%d:%d:%d%c", &h, &m, &s, &extra);
      if (n < 2 || n > 3) return 0;
      hour = h;
      minute = m;
      second = n == 3 ? s : 0;
    } else if (AllDigits(t)) {
      if (t.size() > 4) return 0;
      const int v = std::stoi(t);
      if (day < 0 && t.size() <= 2 && month < 0 && year < 0) {
        day = v;
      } else if (day < 0 && t.size() <= 2 && month >= 0) {
        day = v;  // asctime: month before day
      } else if (year < 0) {
        year = v;
        yearWasShort = t.size() <= 2;
      } else {
        return 0;
      }
    } else if (MonthIndex(t) >= 0 && month < 0) {
      month = MonthIndex(t);
    } else if (auto z = ZoneOffset(t)) {
      offset = *z;
    } else {
      bool weekday = false;
      for (const char* d : kDays)
        if (TextStartsWith(t, d)) weekday = true;
      if (!weekday) return 0;
    }
  }
  if (yearWasShort) year += year < 70 ? 2000 : 1900;
  if (day < 1 || day > 31 || month < 0 || year < 1601 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 60)
    return 0;
  const std::int64_t days =
      DaysFromCivil(year, static_cast<unsigned>(month + 1), static_cast<unsigned>(day));
  const std::int64_t utc = days * 86400 + hour * 3600 + minute * 60 + second - offset;
  const auto local = static_cast<double>(utc + LocalOffsetAt(static_cast<std::time_t>(utc)));
  return local / 86400.0 + kUnixEpochDays;
}

}  // namespace brv

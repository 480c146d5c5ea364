#include "http/brvIdLogBase.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "http/IdHeaderValues.h"
#include "transport/IdTextEncoding.h"

namespace brv {

TIdLogBase::TIdLogBase(TComponent* AOwner) : TIdConnectionIntercept(AOwner) {}

// A derived log closes its own file in its destructor; Close is not called from here, since
// the derived part is already gone.
TIdLogBase::~TIdLogBase() { FActive = false; }

void TIdLogBase::SetActive(bool AValue) {
  if (ComponentState() & (csDesigning | csLoading)) {
    FActive = AValue;
    return;
  }
  if (AValue == FActive) return;
  if (AValue)
    Open();
  else
    Close();
  FActive = AValue;
}

void TIdLogBase::Connect(TComponent* AConnection) {
  TIdConnectionIntercept::Connect(AConnection);
  if (FActive) WriteStatusLine("Connected.");
}

void TIdLogBase::Disconnect() {
  if (FActive) WriteStatusLine("Disconnected.");
  TIdConnectionIntercept::Disconnect();
}

void TIdLogBase::Receive(TIdBytes& VBuffer) {
  TIdConnectionIntercept::Receive(VBuffer);
  if (FActive) WriteReceivedLine(TimeStamp(), DataText(VBuffer));
}

void TIdLogBase::Send(TIdBytes& VBuffer) {
  if (FActive) WriteSentLine(TimeStamp(), DataText(VBuffer));
  TIdConnectionIntercept::Send(VBuffer);
}

std::string TIdLogBase::TimeStamp() const { return FLogTime ? FormatLogDateTime(Now()) : std::string(); }

std::string TIdLogBase::DataText(const TIdBytes& ABuffer) const {
  std::string text = IndyTextEncoding_8Bit()->GetString(ABuffer);
  return FReplaceCRLF ? ReplaceLineBreaks(text) : text;
}

std::string ReplaceLineBreaks(const std::string& AText) {
  std::string out;
  out.reserve(AText.size() + 16);
  for (size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c == '\r' && i + 1 < AText.size() && AText[i + 1] == '\n') {
      out += "<EOL>";
      ++i;
    } else if (c == '\r') {
      out += "<CR>";
    } else if (c == '\n') {
      out += "<LF>";
    } else {
      out += c;
    }
  }
  return out;
}

std::string FormatLogDateTime(double ALocalDateTime) {
  const double days = std::floor(ALocalDateTime);
  const auto msOfDay = static_cast<long long>(std::llround((ALocalDateTime - days) * 86400000.0));
  const auto secs = static_cast<std::time_t>((static_cast<long long>(days) - 25569) * 86400 +
                                             msOfDay / 1000);
  std::tm tm{};
  gmtime_r(&secs, &tm);  // the value is already local time
  char buf[40];
  if (msOfDay == 0)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return buf;
}

}  // namespace brv

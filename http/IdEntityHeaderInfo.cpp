#include "http/IdEntityHeaderInfo.h"

#include <climits>
#include <cmath>
#include <mutex>

#include "base/Streams.h"
#include "http/private/Text.h"

namespace brv {

using namespace http_detail;

namespace {

std::mutex& UserAgentLock() {
  static std::mutex lock;
  return lock;
}

std::string& UserAgentValue() {
  static std::string value = "Mozilla/3.0 (compatible; Quillon Library)";
  return value;
}

std::int64_t NumberOr(const std::string& AText, std::int64_t ADefault) {
  const auto v = ParseInt64(AText);
  return v ? *v : ADefault;
}

std::unique_ptr<TIdHeaderList> NewHeaderList() {
  auto list = std::make_unique<TIdHeaderList>(QuoteHTTP);
  list->SetFoldLength(INT_MAX);
  return list;
}

const char* const kDefaultAccept =
    "text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8";

}  // namespace

const std::string& DefaultUserAgent() {
  std::lock_guard<std::mutex> guard(UserAgentLock());
  return UserAgentValue();
}

void SetDefaultUserAgent(const std::string& AValue) {
  std::lock_guard<std::mutex> guard(UserAgentLock());
  UserAgentValue() = AValue;
}

// ---- ranges ------------------------------------------------------------------------------

std::string TIdEntityRange::Text() const {
  if (StartPos >= 0) {
    if (EndPos >= 0) return std::to_string(StartPos) + "-" + std::to_string(EndPos);
    return std::to_string(StartPos) + "-";
  }
  if (SuffixLength >= 0) return "-" + std::to_string(SuffixLength);
  return {};
}

void TIdEntityRange::SetText(const std::string& AValue) {
  StartPos = EndPos = SuffixLength = -1;
  std::string s = Trim(AValue);
  if (s.empty()) return;
  if (s[0] == '-') {
    SuffixLength = NumberOr(s.substr(1), -1);
    return;
  }
  const std::string start = Fetch(s, "-");
  StartPos = NumberOr(start, -1);
  EndPos = NumberOr(s, -1);
}

TIdEntityRange& TIdEntityRanges::Add() {
  FItems.emplace_back();
  return FItems.back();
}

std::string TIdEntityRanges::Text() const {
  std::string items;
  for (const auto& item : FItems) {
    const std::string t = item.Text();
    if (t.empty()) continue;
    if (!items.empty()) items += ",";
    items += t;
  }
  return items.empty() ? std::string() : FUnits + "=" + items;
}

void TIdEntityRanges::SetText(const std::string& AValue) {
  FItems.clear();
  std::string s = AValue;
  if (s.find('=') != std::string::npos) SetUnits(Trim(Fetch(s, "=")));
  while (!s.empty()) {
    const std::string piece = Trim(Fetch(s, ","));
    if (!piece.empty()) Add().SetText(piece);
  }
}

void TIdEntityRanges::Assign(const TPersistent* Source) {
  if (auto* other = dynamic_cast<const TIdEntityRanges*>(Source)) {
    FItems = other->FItems;
    FUnits = other->FUnits;
    return;
  }
  TPersistent::Assign(Source);
}

// ---- entity ------------------------------------------------------------------------------

TIdEntityHeaderInfo::TIdEntityHeaderInfo(TPersistent* AOwner)
    : FOwner(AOwner), FRawHeaders(NewHeaderList()), FCustomHeaders(NewHeaderList()) {
  TIdEntityHeaderInfo::Clear();
}

TIdEntityHeaderInfo::~TIdEntityHeaderInfo() = default;

TComponent* TIdEntityHeaderInfo::OwnerComponent() const {
  // Every parse asks (for the content type); the casts up a deep class tree cost more than
  // the rest of the answer.
  if (!FOwnerComponentFound) {
    if (auto* c = dynamic_cast<TComponent*>(FOwner))
      FOwnerComponent = c;
    else if (auto* e = dynamic_cast<TIdEntityHeaderInfo*>(FOwner))
      FOwnerComponent = e->OwnerComponent();
    FOwnerComponentFound = true;
  }
  return FOwnerComponent;
}

void TIdEntityHeaderInfo::Clear() {
  FCacheControl.clear();
  FCharSet.clear();
  FConnection.clear();
  FContentVersion.clear();
  FContentDisposition.clear();
  FContentEncoding.clear();
  FContentLanguage.clear();
  FContentType.clear();
  FContentRangeUnits.clear();
  SetContentLength(-1);
  FContentRangeStart = FContentRangeEnd = FContentRangeInstanceLength = -1;
  FDate = FLastModified = FExpires = 0;
  FETag.clear();
  FRawHeaders->Clear();
}

void TIdEntityHeaderInfo::SetContentType(const std::string& AValue) {
  if (AValue.empty()) {
    FContentType.clear();
    FCharSet.clear();
    return;
  }
  std::string charset;
  if (AValue.find(';') == std::string::npos) {
    FContentType = AValue;  // no parameters, so no charset to take out
  } else {
    // A client sets the same type with parameters on request after request: the last split
    // is kept per thread.
    thread_local std::string lastValue, lastType, lastCharset;
    if (lastValue.empty() || AValue != lastValue) {
      lastType = RemoveHeaderParam(AValue, "charset", lastCharset, QuoteHTTP);
      lastValue = AValue;
    }
    charset = lastCharset;
    FContentType = lastType;
  }
  const bool infer = charset.empty() && FCharSet.empty() && MediaTypeIs(FContentType, "text");
  if (charset.empty() && !infer) return;  // nothing more would change, loading or not
  if (TComponent* owner = OwnerComponent();
      owner != nullptr && (owner->ComponentState() & csLoading))
    return;
  if (infer) {
    const std::string sub = MediaSubType(FContentType);
    if (TextIsSame(sub, "xml") || TextIsSame(sub, "xml-external-parsed-entity") ||
        TextEndsWith(sub, "+xml"))
      charset = "us-ascii";
    else
      charset = "ISO-8859-1";
  }
  if (!charset.empty()) FCharSet = charset;
}

void TIdEntityHeaderInfo::ParseRawHeaders() {
  const TIdHeaderList& raw = *FRawHeaders;
  // Every field reads the first header of its name; one pass over the lines finds them all.
  enum {
    kCacheControl,
    kConnection,
    kContentVersion,
    kContentDisposition,
    kContentEncoding,
    kContentLanguage,
    kContentType,
    kContentLength,
    kContentRange,
    kDate,
    kLastModified,
    kExpires,
    kETag,
    kPragma,
    kTransferEncoding,
    kCount
  };
  static constexpr std::string_view kNames[kCount] = {"Cache-control",
                                                      "Connection",
                                                      "Content-Version",
                                                      "Content-Disposition",
                                                      "Content-Encoding",
                                                      "Content-Language",
                                                      "Content-Type",
                                                      "Content-Length",
                                                      "Content-Range",
                                                      "Date",
                                                      "Last-Modified",
                                                      "Expires",
                                                      "ETag",
                                                      "Pragma",
                                                      "Transfer-Encoding"};
  int at[kCount];
  raw.IndexOfNames(kNames, kCount, at);

  FCacheControl = raw.ValueAt(at[kCacheControl]);
  FConnection = raw.ValueAt(at[kConnection]);
  FContentVersion = raw.ValueAt(at[kContentVersion]);
  FContentDisposition = raw.ValueAt(at[kContentDisposition]);
  FContentEncoding = raw.ValueAt(at[kContentEncoding]);
  FContentLanguage = raw.ValueAt(at[kContentLanguage]);
  SetContentType(raw.ValueAt(at[kContentType]));
  SetContentLength(NumberOr(raw.ValueAt(at[kContentLength]), -1));

  FContentRangeStart = FContentRangeEnd = FContentRangeInstanceLength = -1;
  FContentRangeUnits.clear();
  if (at[kContentRange] >= 0) {
    std::string s = raw.ValueAt(at[kContentRange]);
    FContentRangeUnits = Fetch(s, " ");
    std::string range = Fetch(s, "/");
    FContentRangeInstanceLength = NumberOr(Fetch(s, " "), -1);
    FContentRangeStart = NumberOr(Fetch(range, "-"), -1);
    FContentRangeEnd = NumberOr(range, -1);
  }

  FDate = at[kDate] >= 0 ? ParseHttpDate(raw.ValueAt(at[kDate])) : Now();
  FLastModified = at[kLastModified] >= 0 ? ParseHttpDate(raw.ValueAt(at[kLastModified])) : 0;

  FExpires = 0;
  if (at[kExpires] >= 0) {
    const std::string text = raw.ValueAt(at[kExpires]);
    if (const auto secs = ParseInt64(text)) {
      FExpires = *secs < 0 ? 0 : Now() + static_cast<double>(*secs) / 86400.0;
    } else {
      const TDateTime d = ParseHttpDate(text);
      // A date that cannot be read means "already expired".
      FExpires = d != 0 ? d : Now() - 1.0 / 86400.0;
    }
  }
  FETag = raw.ValueAt(at[kETag]);
  FPragma = raw.ValueAt(at[kPragma]);
  FTransferEncoding = raw.ValueAt(at[kTransferEncoding]);
}

void TIdEntityHeaderInfo::ComposeRawHeaders() {
  TIdHeaderList& raw = *FRawHeaders;
  raw.Clear();
  if (!FConnection.empty()) raw.SetValue("Connection", FConnection);
  if (!FContentVersion.empty()) raw.SetValue("Content-Version", FContentVersion);
  if (!FContentDisposition.empty()) raw.SetValue("Content-Disposition", FContentDisposition);
  if (!FContentEncoding.empty()) raw.SetValue("Content-Encoding", FContentEncoding);
  if (!FContentLanguage.empty()) raw.SetValue("Content-Language", FContentLanguage);
  if (!FContentType.empty()) {
    static const std::string kContentType = "Content-Type";
    static const std::string kCharset = "charset";
    raw.SetValueAndParam(kContentType, FContentType, kCharset, FCharSet);
  }
  if (FContentLength >= 0) raw.SetValue("Content-Length", std::to_string(FContentLength));
  if (!FCacheControl.empty()) raw.SetValue("Cache-control", FCacheControl);
  if (FDate > 0) raw.SetValue("Date", FormatHttpDate(FDate));
  if (!FETag.empty()) raw.SetValue("ETag", FETag);
  if (FExpires > 0) raw.SetValue("Expires", FormatHttpDate(FExpires));
  if (!FPragma.empty()) raw.SetValue("Pragma", FPragma);
  if (!FTransferEncoding.empty()) raw.SetValue("Transfer-Encoding", FTransferEncoding);
}

void TIdEntityHeaderInfo::AssignTo(TPersistent* Dest) const {
  auto* d = dynamic_cast<TIdEntityHeaderInfo*>(Dest);
  if (d == nullptr) {
    TPersistent::AssignTo(Dest);
    return;
  }
  d->FCacheControl = FCacheControl;
  d->FRawHeaders->Assign(FRawHeaders.get());
  d->FCharSet = FCharSet;
  d->FConnection = FConnection;
  d->FContentDisposition = FContentDisposition;
  d->FContentEncoding = FContentEncoding;
  d->FContentLanguage = FContentLanguage;
  d->FContentLength = FContentLength;
  d->FHasContentLength = FHasContentLength;
  d->FContentRangeEnd = FContentRangeEnd;
  d->FContentRangeStart = FContentRangeStart;
  d->FContentRangeInstanceLength = FContentRangeInstanceLength;
  d->FContentRangeUnits = FContentRangeUnits;
  d->FContentType = FContentType;
  d->FContentVersion = FContentVersion;
  d->FCustomHeaders->Assign(FCustomHeaders.get());
  d->FDate = FDate;
  d->FExpires = FExpires;
  d->FETag = FETag;
  d->FLastModified = FLastModified;
  d->FPragma = FPragma;
  d->FTransferEncoding = FTransferEncoding;
}

// ---- request -----------------------------------------------------------------------------

TIdRequestHeaderInfo::TIdRequestHeaderInfo(TPersistent* AOwner)
    : TIdEntityHeaderInfo(AOwner), FRanges(std::make_unique<TIdEntityRanges>()) {
  TIdRequestHeaderInfo::Clear();
}

TIdRequestHeaderInfo::~TIdRequestHeaderInfo() = default;

void TIdRequestHeaderInfo::Clear() {
  FAccept = kDefaultAccept;
  FAcceptCharSet.clear();
  FUserAgent = DefaultUserAgent();
  FBasicByDefault = false;
  FRanges->Clear();
  FMethodOverride.clear();
  TIdEntityHeaderInfo::Clear();
}

void TIdRequestHeaderInfo::ParseRawHeaders() {
  TIdEntityHeaderInfo::ParseRawHeaders();
  const TIdHeaderList& raw = *FRawHeaders;
  FAccept = raw.GetValue("Accept");
  FAcceptCharSet = raw.GetValue("Accept-Charset");
  FAcceptEncoding = raw.GetValue("Accept-Encoding");
  FAcceptLanguage = raw.GetValue("Accept-Language");
  FHost = raw.GetValue("Host");
  FFrom = raw.GetValue("From");
  FReferer = raw.GetValue("Referer");
  FUserAgent = raw.GetValue("User-Agent");
  FRanges->SetText(raw.GetValue("Range"));
  FMethodOverride = raw.GetValue("X-HTTP-Method-Override");
}

void TIdRequestHeaderInfo::ComposeRawHeaders() {
  TIdEntityHeaderInfo::ComposeRawHeaders();
  TIdHeaderList& raw = *FRawHeaders;
  // Custom lines go in as they are; the typed rows below replace a custom line of the same
  // name in place.
  if (FCustomHeaders->Count() > 0) {
    // Joining the texts and splitting them again changes only lines that hold a CR or LF;
    // without one the custom lines are appended as they are.
    const auto breaks = [](const TIdHeaderList& AList) {
      for (const std::string& line : AList.Lines())
        if (line.find('\n') != std::string::npos || line.find('\r') != std::string::npos)
          return true;
      return false;
    };
    if (breaks(raw) || breaks(*FCustomHeaders))
      raw.SetText(raw.Text() + FCustomHeaders->Text());
    else
      for (const std::string& line : FCustomHeaders->Lines()) raw.Add(line);
  }
  if (!FProxyConnection.empty()) raw.SetValue("Proxy-Connection", FProxyConnection);
  if (!FHost.empty()) raw.SetValue("Host", FHost);
  if (!FAccept.empty()) raw.SetValue("Accept", FAccept);
  if (!FAcceptCharSet.empty()) raw.SetValue("Accept-Charset", FAcceptCharSet);
  if (!FAcceptEncoding.empty()) raw.SetValue("Accept-Encoding", FAcceptEncoding);
  if (!FAcceptLanguage.empty()) raw.SetValue("Accept-Language", FAcceptLanguage);
  if (!FFrom.empty()) raw.SetValue("From", FFrom);
  if (!FReferer.empty()) raw.SetValue("Referer", FReferer);
  if (!FUserAgent.empty()) raw.SetValue("User-Agent", FUserAgent);
  const std::string range = FRanges->Text();
  if (!range.empty()) raw.SetValue("Range", range);
  if (FLastModified > 0) raw.SetValue("If-Modified-Since", FormatHttpDate(FLastModified));
  std::string auth;
  if (FAuthentication) {
    auth = FAuthentication->Authentication();
  } else if (FBasicByDefault) {
    FAuthentication = std::make_unique<TIdBasicAuthentication>();
    FAuthentication->SetUsername(FUserName);
    FAuthentication->SetPassword(FPassword);
    auth = FAuthentication->Authentication();
  }
  if (!auth.empty()) raw.SetValue("Authorization", auth);
  if (!FMethodOverride.empty()) raw.SetValue("X-HTTP-Method-Override", FMethodOverride);
}

void TIdRequestHeaderInfo::AssignTo(TPersistent* Dest) const {
  if (auto* d = dynamic_cast<TIdRequestHeaderInfo*>(Dest)) {
    d->FAccept = FAccept;
    d->FAcceptCharSet = FAcceptCharSet;
    d->FAcceptEncoding = FAcceptEncoding;
    d->FAcceptLanguage = FAcceptLanguage;
    d->FFrom = FFrom;
    d->FUserName = FUserName;
    d->FPassword = FPassword;
    d->FReferer = FReferer;
    d->FUserAgent = FUserAgent;
    d->FBasicByDefault = FBasicByDefault;
    d->FRanges->Assign(FRanges.get());
    d->FMethodOverride = FMethodOverride;
  }
  TIdEntityHeaderInfo::AssignTo(Dest);
}

// ---- response ----------------------------------------------------------------------------

TIdResponseHeaderInfo::TIdResponseHeaderInfo(TPersistent* AOwner)
    : TIdEntityHeaderInfo(AOwner),
      FProxyAuthenticate(NewHeaderList()),
      FWWWAuthenticate(NewHeaderList()) {
  TIdResponseHeaderInfo::Clear();
}

TIdResponseHeaderInfo::~TIdResponseHeaderInfo() = default;

void TIdResponseHeaderInfo::Clear() {
  TIdEntityHeaderInfo::Clear();
  FContentType.clear();
  FCharSet.clear();
  FLocation.clear();
  FServer.clear();
  FAcceptPatch.clear();
  FAcceptRanges.clear();
  FWWWAuthenticate->Clear();
  FProxyAuthenticate->Clear();
}

void TIdResponseHeaderInfo::ParseRawHeaders() {
  TIdEntityHeaderInfo::ParseRawHeaders();
  const TIdHeaderList& raw = *FRawHeaders;
  enum {
    kLocation,
    kServer,
    kProxyConnection,
    kAcceptPatch,
    kAcceptRanges,
    kWWWAuthenticate,
    kProxyAuthenticate,
    kCount
  };
  static constexpr std::string_view kNames[kCount] = {
      "Location",      "Server",           "Proxy-Connection",  "Accept-Patch",
      "Accept-Ranges", "WWW-Authenticate", "Proxy-Authenticate"};
  int at[kCount];
  raw.IndexOfNames(kNames, kCount, at);
  FLocation = raw.ValueAt(at[kLocation]);
  FServer = raw.ValueAt(at[kServer]);
  FProxyConnection = raw.ValueAt(at[kProxyConnection]);
  // The challenge lists are gathered only from a head that has one: most answers have none.
  FWWWAuthenticate->Clear();
  if (at[kWWWAuthenticate] >= 0) raw.Extract("WWW-Authenticate", FWWWAuthenticate.get());
  FProxyAuthenticate->Clear();
  if (at[kProxyAuthenticate] >= 0) raw.Extract("Proxy-Authenticate", FProxyAuthenticate.get());
  FAcceptPatch = raw.ValueAt(at[kAcceptPatch]);
  FAcceptRanges = raw.ValueAt(at[kAcceptRanges]);
}

void TIdResponseHeaderInfo::ComposeRawHeaders() {
  TIdEntityHeaderInfo::ComposeRawHeaders();
  TIdHeaderList& raw = *FRawHeaders;
  if (HasContentRange()) {
    std::string v = (FContentRangeUnits.empty() ? std::string("bytes") : FContentRangeUnits) + " " +
                    std::to_string(FContentRangeStart) + "-" + std::to_string(FContentRangeEnd) +
                    "/" +
                    (HasContentRangeInstance() ? std::to_string(FContentRangeInstanceLength)
                                               : std::string("*"));
    raw.SetValue("Content-Range", v);
  }
  if (!FAcceptPatch.empty()) raw.SetValue("Accept-Patch", FAcceptPatch);
  if (!FAcceptRanges.empty()) raw.SetValue("Accept-Ranges", FAcceptRanges);
  if (FLastModified > 0) raw.SetValue("Last-Modified", FormatHttpDate(FLastModified));
  if (!FLocation.empty()) raw.SetValue("Location", FLocation);
  if (!FServer.empty()) raw.SetValue("Server", FServer);
}

void TIdResponseHeaderInfo::AssignTo(TPersistent* Dest) const {
  if (auto* d = dynamic_cast<TIdResponseHeaderInfo*>(Dest)) {
    d->FAcceptPatch = FAcceptPatch;
    d->FAcceptRanges = FAcceptRanges;
    d->FLocation = FLocation;
    d->FServer = FServer;
    d->FProxyConnection = FProxyConnection;
    d->FProxyAuthenticate->Assign(FProxyAuthenticate.get());
    d->FWWWAuthenticate->Assign(FWWWAuthenticate.get());
  }
  TIdEntityHeaderInfo::AssignTo(Dest);
}

// ---- proxy -------------------------------------------------------------------------------

TIdProxyConnectionInfo::TIdProxyConnectionInfo() = default;
TIdProxyConnectionInfo::~TIdProxyConnectionInfo() = default;

void TIdProxyConnectionInfo::Clear() {
  FServer.clear();
  FUsername.clear();
  FPassword.clear();
  FPort = 0;
}

void TIdProxyConnectionInfo::SetProxyPort(int V) {
  if (V != FPort) FAuthentication.reset();
  FPort = V;
}

void TIdProxyConnectionInfo::SetProxyServer(const std::string& V) {
  if (!TextIsSame(V, FServer)) FAuthentication.reset();
  FServer = V;
}

void TIdProxyConnectionInfo::SetHeaders(TIdHeaderList& AHeaders) {
  std::string value;
  if (FAuthentication) {
    value = FAuthentication->Authentication();
  } else if (FBasicByDefault) {
    FAuthentication = std::make_unique<TIdBasicAuthentication>();
    FAuthentication->SetUsername(FUsername);
    FAuthentication->SetPassword(FPassword);
    value = FAuthentication->Authentication();
  }
  if (!value.empty()) AHeaders.SetValue("Proxy-Authorization", value);
}

void TIdProxyConnectionInfo::Assign(const TPersistent* Source) {
  if (auto* s = dynamic_cast<const TIdProxyConnectionInfo*>(Source)) {
    if (s == this) return;
    FPassword = s->FPassword;
    SetProxyPort(s->FPort);
    SetProxyServer(s->FServer);
    FUsername = s->FUsername;
    FBasicByDefault = s->FBasicByDefault;
    return;
  }
  TPersistent::Assign(Source);
}

// ---- meta headers ------------------------------------------------------------------------

namespace {

// The value of attribute AName inside the tag text ATag (which starts after "<meta").
std::string TagAttribute(const std::string& ATag, const char* AName) {
  const std::string lower = LowerAscii(ATag);
  size_t pos = 0;
  const std::string name = AName;
  while ((pos = lower.find(name, pos)) != std::string::npos) {
    const bool startOk = pos == 0 || static_cast<unsigned char>(lower[pos - 1]) <= 32 ||
                         lower[pos - 1] == '"' || lower[pos - 1] == '\'';
    size_t i = pos + name.size();
    while (i < lower.size() && static_cast<unsigned char>(lower[i]) <= 32) ++i;
    if (!startOk || i >= lower.size() || lower[i] != '=') {
      pos += name.size();
      continue;
    }
    ++i;
    while (i < lower.size() && static_cast<unsigned char>(lower[i]) <= 32) ++i;
    if (i >= ATag.size()) return {};
    if (ATag[i] == '"' || ATag[i] == '\'') {
      const char q = ATag[i];
      const size_t end = ATag.find(q, i + 1);
      return ATag.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
    }
    size_t end = i;
    while (end < ATag.size() && static_cast<unsigned char>(ATag[end]) > 32 && ATag[end] != '>' &&
           ATag[end] != '/')
      ++end;
    return ATag.substr(i, end - i);
  }
  return {};
}

}  // namespace

void TIdMetaHTTPEquiv::ProcessMetaHTTPEquiv(TStream& AStream) {
  const std::int64_t pos = AStream.Position();
  AStream.SetPosition(0);
  std::string html;
  html.resize(static_cast<size_t>(AStream.Size()));
  if (!html.empty()) AStream.ReadBuffer(html.data(), static_cast<std::int64_t>(html.size()));
  AStream.SetPosition(pos);

  const std::string lower = LowerAscii(html);
  std::string charset;
  size_t p = 0;
  while ((p = lower.find("<meta", p)) != std::string::npos) {
    const size_t end = lower.find('>', p);
    const std::string tag =
        html.substr(p + 5, end == std::string::npos ? std::string::npos : end - p - 5);
    const std::string equiv = Trim(TagAttribute(tag, "http-equiv"));
    if (!equiv.empty()) {
      FRawHeaders->AddValue(equiv, Trim(TagAttribute(tag, "content")));
    } else {
      const std::string cs = Trim(TagAttribute(tag, "charset"));
      if (!cs.empty()) charset = cs;
    }
    if (end == std::string::npos) break;
    p = end;
  }
  ParseRawHeaders();
  if (!charset.empty()) FCharSet = charset;
}

}  // namespace brv

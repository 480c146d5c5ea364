#include "aws/brvHTTP_Amazon_AWS_Signature.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Hex.h"
#include "base/IdURI.h"
#include "base/UTF8.h"
#include "base/brvIdHMACSHA1.h"
#include "base/brvIdHash.h"
#include "base/brvIdHashSHA.h"

namespace brv {

namespace {

constexpr char kContentType[] = "application/x-www-form-urlencoded; charset=utf-8";
// The SHA-256 of no bytes, which every request without a body signs as its payload hash.
constexpr char kEmptyPayloadHash[] =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// The hook table after asking the binding to load the crypto library, and whether it offers
// SHA-256 (TIdHashSHA256.IsAvailable, read from the same table).
bool LoadLibrarySHA256(TIdHashHooks& AHooks) {
  AHooks = GetHashHooks();
  if (AHooks.LoadHashLibrary != nullptr) {
    AHooks.LoadHashLibrary();
    AHooks = GetHashHooks();
  }
  return AHooks.HashingAvailable != nullptr && AHooks.HashingAvailable() &&
         AHooks.SHA256Available != nullptr && AHooks.SHA256Available();
}

// One digest of AText through the library: fed in one piece, then finished, which releases the
// context also when the update failed.
TIdBytes LibraryDigest(TIdHashContext AContext,
                       void (*AUpdate)(TIdHashContext, const std::uint8_t*, std::size_t),
                       TIdBytes (*AFinish)(TIdHashContext), const std::string& AText) {
  try {
    AUpdate(AContext, reinterpret_cast<const std::uint8_t*>(AText.data()), AText.size());
  } catch (...) {
    try {
      (void)AFinish(AContext);
    } catch (...) {
      // the update's failure is the one reported
    }
    throw;
  }
  return AFinish(AContext);
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// True when a name or value of a query is in canonical form already: only unreserved
// characters and upper-case escapes of the other bytes, the escaped bytes above 0x7F forming
// well-formed UTF-8.
bool IsCanonicalComponent(std::string_view AText) {
  int need = 0;  // continuation bytes still to come
  std::uint8_t lo = 0x80;
  std::uint8_t hi = 0xBF;
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const auto c = static_cast<std::uint8_t>(AText[i]);
    if (IsURIUnreserved(c)) {
      if (need > 0) return false;
      // the run of unreserved bytes that follows, most of a value, in one tight loop
      while (i + 1 < AText.size() && IsURIUnreserved(static_cast<std::uint8_t>(AText[i + 1]))) ++i;
      continue;
    }
    if (c != '%' || i + 2 >= AText.size()) return false;
    const char h1 = AText[i + 1];
    const char h2 = AText[i + 2];
    const bool upperHex1 = (h1 >= '0' && h1 <= '9') || (h1 >= 'A' && h1 <= 'F');
    const bool upperHex2 = (h2 >= '0' && h2 <= '9') || (h2 >= 'A' && h2 <= 'F');
    if (!upperHex1 || !upperHex2) return false;
    const auto b = static_cast<std::uint8_t>(HexValue(h1) * 16 + HexValue(h2));
    i += 2;
    if (need > 0) {
      if (b < lo || b > hi) return false;
      lo = 0x80;
      hi = 0xBF;
      --need;
      continue;
    }
    if (b < 0x80) {
      if (IsURIUnreserved(b)) return false;
      continue;
    }
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
  }
  return need == 0;
}

// Form-decodes one name or value of a query and re-encodes it canonically.
std::string CanonicalComponent(std::string_view AText) {
  if (IsCanonicalComponent(AText)) return std::string(AText);

  std::string bytes;
  bytes.reserve(AText.size());
  for (std::size_t i = 0; i < AText.size(); ++i) {
    const char c = AText[i];
    if (c == '+') {
      bytes += ' ';
    } else if (c == '%' && i + 2 < AText.size() && HexValue(AText[i + 1]) >= 0 &&
               HexValue(AText[i + 2]) >= 0) {
      bytes += static_cast<char>(HexValue(AText[i + 1]) * 16 + HexValue(AText[i + 2]));
      i += 2;
    } else {
      bytes += c;
    }
  }
  std::string out;
  out.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t start = i;
    char32_t code = 0;
    if (!NextUTF8CodePoint(bytes, i, code)) {
      // every byte of an ill-formed sequence is read as U+FFFD, as a server decoding the
      // query into text does
      for (std::size_t k = start; k < i; ++k) out += "%EF%BF%BD";
      continue;
    }
    for (std::size_t k = start; k < i; ++k) {
      const auto b = static_cast<std::uint8_t>(bytes[k]);
      if (IsURIUnreserved(b)) {
        out += static_cast<char>(b);
      } else {
        AppendPercentEscape(out, b);
      }
    }
  }
  return out;
}

bool SameText(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    char x = a[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (x != b[i]) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// The Host value the HTTP engine sends for the URL: the host (in brackets for IPv6), and the
// port unless it is the default of the scheme.
std::string HostHeaderValue(const TIdURI& AURI) {
  std::string host = AURI.IPVersion() == Id_IPv6 ? "[" + AURI.Host() + "]" : AURI.Host();
  const std::string& port = AURI.Port();
  if (!port.empty() && !(SameText(AURI.Protocol(), "http") && port == "80") &&
      !(SameText(AURI.Protocol(), "https") && port == "443")) {
    host += ":" + port;
  }
  return host;
}

// A header value as Signature Version 4 canonicalises it: blanks around it removed and every
// run of blanks inside it taken as one.
std::string TrimHeaderValue(const std::string& AValue) {
  std::string out;
  out.reserve(AValue.size());
  bool blank = false;
  for (const char c : AValue) {
    if (c == ' ' || c == '\t') {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

}  // namespace

std::string AWSCanonicalQuery(const std::string& AQuery) {
  // Common case first: a query the SQS client built is canonical and sorted already, and is
  // its own canonical form.
  {
    const std::string_view query(AQuery);
    bool asIs = true;
    std::string_view lastName;
    std::string_view lastValue;
    std::size_t start = 0;
    while (asIs && start < query.size()) {
      std::size_t end = query.find('&', start);
      if (end == std::string_view::npos) end = query.size();
      const std::string_view param = query.substr(start, end - start);
      const std::size_t eq = param.find('=');
      if (param.empty() || eq == std::string_view::npos) {
        asIs = false;
        break;
      }
      const std::string_view name = param.substr(0, eq);
      const std::string_view value = param.substr(eq + 1);
      asIs = IsCanonicalComponent(name) && IsCanonicalComponent(value) &&
             (start == 0 || lastName < name || (lastName == name && lastValue <= value));
      lastName = name;
      lastValue = value;
      start = end + 1;
      if (end == query.size()) break;
      if (start == query.size()) asIs = false;  // a trailing "&"
    }
    if (asIs) return AQuery;
  }

  std::vector<std::pair<std::string, std::string>> params;
  const std::string_view query(AQuery);
  std::size_t start = 0;
  while (start <= query.size()) {
    std::size_t end = query.find('&', start);
    if (end == std::string_view::npos) end = query.size();
    if (end > start) {
      const std::string_view param = query.substr(start, end - start);
      const std::size_t eq = param.find('=');
      if (eq == std::string_view::npos) {
        params.emplace_back(CanonicalComponent(param), std::string());
      } else {
        params.emplace_back(CanonicalComponent(param.substr(0, eq)),
                            CanonicalComponent(param.substr(eq + 1)));
      }
    }
    start = end + 1;
  }
  std::sort(params.begin(), params.end());
  std::string out;
  out.reserve(AQuery.size() + params.size());
  for (const auto& [name, value] : params) {
    if (!out.empty()) out += '&';
    out += name;
    out += '=';
    out += value;
  }
  return out;
}

namespace {

// True when APath is its own canonical form: it starts with "/", has no empty, "." or ".."
// segment (but for the one after a final "/"), and needs no escape.
bool IsCanonicalPath(std::string_view APath) {
  if (APath.empty() || APath.front() != '/') return false;
  std::size_t start = 1;
  while (start < APath.size()) {
    std::size_t end = start;
    while (end < APath.size() && APath[end] != '/') {
      if (!IsURIUnreserved(static_cast<std::uint8_t>(APath[end]))) return false;
      ++end;
    }
    const std::string_view segment = APath.substr(start, end - start);
    if (segment.empty() || segment == "." || segment == "..") return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

std::string AWSCanonicalPath(const std::string& APath) {
  if (APath.empty()) return "/";
  if (IsCanonicalPath(APath)) return APath;  // a queue URL's path, as it usually is
  // Dot segments and empty segments go, as the service removes them before it checks.
  std::vector<std::string_view> segments;
  const std::string_view path = APath;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view segment = path.substr(start, end - start);
    if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string out;
  out.reserve(APath.size() + 8);
  if (APath.front() == '/') out += '/';
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) out += '/';
    for (char ch : segments[i]) {
      const auto c = static_cast<std::uint8_t>(ch);
      if (IsURIUnreserved(c)) {
        out += ch;
      } else {
        AppendPercentEscape(out, c);
      }
    }
  }
  if (APath.back() == '/' && !segments.empty()) out += '/';
  return out.empty() ? "/" : out;
}

// ---------------------------------------------------------------------------------------------

TbrvHTTP_Amazon_AWS_Signature::TbrvHTTP_Amazon_AWS_Signature(TComponent* aOwner)
    : TbrvComponent_Base(aOwner) {}

TIdBytes TbrvHTTP_Amazon_AWS_Signature::GetHMACSHA256(const std::string& AText,
                                                      const TIdBytes& AKey) {
  try {
    // Without the library the built-in road is taken straight away: the library road would
    // only raise "SHA256 hashing is not available!" to be caught below.
    TIdHashHooks hooks;
    if (LoadLibrarySHA256(hooks)) {
      // The text goes to the library as it stands, without a copy into a byte buffer and an
      // HMAC object around it (an empty key keeps the object's own handling).
      if (!AKey.empty() && hooks.HMACAvailable != nullptr && hooks.HMACAvailable() &&
          hooks.HMACSHA256Available != nullptr && hooks.HMACSHA256Available() &&
          hooks.NewHMACSHA256Context != nullptr && hooks.UpdateHMAC != nullptr &&
          hooks.FinishHMAC != nullptr)
        return LibraryDigest(hooks.NewHMACSHA256Context(AKey.data(), AKey.size()), hooks.UpdateHMAC,
                             hooks.FinishHMAC, AText);
      TIdHMACSHA256 hmac;
      hmac.SetKey(AKey);
      return hmac.HashValue(TIdBytes(AText.begin(), AText.end()));
    }
  } catch (const std::exception&) {
    // any failure of the library road falls back to the built-in HMAC
  }
  const auto mac =
      TIdHMACSHA256Builtin::Digest(AKey.data(), AKey.size(), AText.data(), AText.size());
  return TIdBytes(mac.begin(), mac.end());
}

std::string TbrvHTTP_Amazon_AWS_Signature::GetSHA256Hex(const std::string& AText) {
  try {
    TIdHashHooks hooks;
    if (LoadLibrarySHA256(hooks)) {
      if (hooks.NewSHA256Context != nullptr && hooks.UpdateDigest != nullptr &&
          hooks.FinishDigest != nullptr)
        return ToHex(
            LibraryDigest(hooks.NewSHA256Context(), hooks.UpdateDigest, hooks.FinishDigest, AText),
            false);
      TIdHashSHA256 sha;
      std::string hex = sha.HashStringAsHex(AText);
      std::transform(hex.begin(), hex.end(), hex.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
      });
      return hex;
    }
  } catch (const std::exception&) {
    // any failure of the library road falls back to the built-in SHA-256
  }
  const auto digest = TIdSHA256Builtin::Digest(AText);
  return ToHex(TIdBytes(digest.begin(), digest.end()), false);
}

// ---------------------------------------------------------------------------------------------

void TbrvHTTP_Amazon_AWS_Signature_V4_Options::Assign(const TPersistent* Source) {
  if (const auto* other = dynamic_cast<const TbrvHTTP_Amazon_AWS_Signature_V4_Options*>(Source)) {
    Region = other->Region;
    Service = other->Service;
    AccessKey = other->AccessKey;
    SecretKey = other->SecretKey;
    SessionToken = other->SessionToken;
    return;
  }
  TPersistent::Assign(Source);
}

TbrvHTTP_Amazon_AWS_Signature_V4::TbrvHTTP_Amazon_AWS_Signature_V4(TComponent* aOwner)
    : TbrvHTTP_Amazon_AWS_Signature(aOwner),
      FSignatureV4Options(std::make_unique<TbrvHTTP_Amazon_AWS_Signature_V4_Options>()) {}

TbrvHTTP_Amazon_AWS_Signature_V4::~TbrvHTTP_Amazon_AWS_Signature_V4() = default;

void TbrvHTTP_Amazon_AWS_Signature_V4::SetSignatureV4Options(
    const TbrvHTTP_Amazon_AWS_Signature_V4_Options& Value) {
  FSignatureV4Options->Assign(&Value);
}

void TbrvHTTP_Amazon_AWS_Signature_V4::SignGET(const std::string& aURL) {
  SignRequest(FSignatureV4Options->Region, FSignatureV4Options->Service, "GET", aURL, "");
}

void TbrvHTTP_Amazon_AWS_Signature_V4::SignPOST(const std::string& aURL,
                                                const std::string& aRequestPayload) {
  SignRequest(FSignatureV4Options->Region, FSignatureV4Options->Service, "POST", aURL,
              aRequestPayload);
}

std::string TbrvHTTP_Amazon_AWS_Signature_V4::AuthorizationHeader() const {
  const auto& o = *FSignatureV4Options;
  std::string line;
  line.reserve(200);
  line += "Authorization: AWS4-HMAC-SHA256 Credential=";
  line += o.AccessKey;
  line += '/';
  line += FRequestDate.substr(0, 8);
  line += '/';
  line += o.Region;
  line += '/';
  line += o.Service;
  line += "/aws4_request, SignedHeaders=";
  line += FSignedHeaders;
  line += ", Signature=";
  line += FSignature;
  return line;
}

void TbrvHTTP_Amazon_AWS_Signature_V4::SignRequest(const std::string& ARegion,
                                                   const std::string& AService,
                                                   const std::string& AMethod,
                                                   const std::string& AURL,
                                                   const std::string& APayload) {
  CreateCanonicalRequest(AMethod, AURL, APayload);
  CreateStringToSign(ARegion, AService);
  CalculateSignature();
}

void TbrvHTTP_Amazon_AWS_Signature_V4::CreateCanonicalRequest(const std::string& AMethod,
                                                              const std::string& AURL,
                                                              const std::string& APayload) {
  FHashedCanonicalRequest.clear();
  if (FUTCClock) {
    FRequestDate = UTCDateStampOfUnixTime(
        std::chrono::floor<std::chrono::seconds>(FUTCClock().time_since_epoch()).count());
  } else {
    FRequestDate = UTCDateStamp(FClock ? FClock() : 0);
  }
  const TIdURI& uri = ParsedURIOf(AURL);

  std::string headers;
  std::string path;
  if (FProtocol == sv4pHTTP) {
    headers.reserve(160);
    headers += "content-type:";
    headers += kContentType;
    headers += "\nhost:";
    headers += HostHeaderValue(uri);
    headers += "\nx-amz-date:";
    headers += FRequestDate;
    headers += '\n';
    FSignedHeaders = "content-type;host;x-amz-date";
    const std::string token = TrimHeaderValue(FSignatureV4Options->SessionToken);
    if (!token.empty()) {
      headers += "x-amz-security-token:";
      headers += token;
      headers += '\n';
      FSignedHeaders += ";x-amz-security-token";
    }
    path = AWSCanonicalPath(uri.Path() + uri.Document());
  } else {
    headers = "host:" + HostHeaderValue(uri) + "\n";
    FSignedHeaders = "host";
    path = "/mqtt";
  }
  FHashedCanonicalRequest = HashCanonicalRequest(AMethod, path, AWSCanonicalQuery(uri.Params()),
                                                 headers, FSignedHeaders, APayload);
}

std::string TbrvHTTP_Amazon_AWS_Signature_V4::HashCanonicalRequest(
    const std::string& AMethod, const std::string& APath, const std::string& AQuery,
    const std::string& AHeaders, const std::string& ASignedHeaders, const std::string& APayload) {
  std::string request;
  request.reserve(AMethod.size() + APath.size() + AQuery.size() + AHeaders.size() +
                  ASignedHeaders.size() + 70);
  request += AMethod;
  request += '\n';
  request += APath;
  request += '\n';
  request += AQuery;
  request += '\n';
  request += AHeaders;  // ends in a line feed itself, so an empty line follows
  request += '\n';
  request += ASignedHeaders;
  request += '\n';
  if (APayload.empty())
    request += kEmptyPayloadHash;
  else
    request += GetSHA256Hex(APayload);
  return GetSHA256Hex(request);
}

void TbrvHTTP_Amazon_AWS_Signature_V4::CreateStringToSign(const std::string& ARegion,
                                                          const std::string& AService) {
  std::string s;
  s.reserve(64 + ARegion.size() + AService.size() + FHashedCanonicalRequest.size());
  s += "AWS4-HMAC-SHA256\n";
  s += FRequestDate;
  s += '\n';
  s += FRequestDate.substr(0, 8);
  s += '/';
  s += ARegion;
  s += '/';
  s += AService;
  s += "/aws4_request\n";
  s += FHashedCanonicalRequest;
  FStringToSign = std::move(s);
}

void TbrvHTTP_Amazon_AWS_Signature_V4::CalculateSignature() {
  const auto& o = *FSignatureV4Options;
  const std::string day = FRequestDate.substr(0, 8);
  // The signing key depends only on these four texts, so it is derived once for them and
  // reused until one changes (at the latest the next day).
  if (FSigningKey.empty() || FSigningKeyDay != day || FSigningKeyRegion != o.Region ||
      FSigningKeyService != o.Service || FSigningKeySecret != o.SecretKey) {
    const std::string secret = "AWS4" + o.SecretKey;
    TIdBytes key(secret.begin(), secret.end());
    key = GetHMACSHA256(day, key);
    key = GetHMACSHA256(o.Region, key);
    key = GetHMACSHA256(o.Service, key);
    FSigningKey = GetHMACSHA256("aws4_request", key);
    FSigningKeyDay = day;
    FSigningKeyRegion = o.Region;
    FSigningKeyService = o.Service;
    FSigningKeySecret = o.SecretKey;
  }
  FSignature = ToHex(GetHMACSHA256(FStringToSign, FSigningKey), false);
}

}  // namespace brv

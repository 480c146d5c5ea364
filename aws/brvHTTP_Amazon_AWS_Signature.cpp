#include "aws/brvHTTP_Amazon_AWS_Signature.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <utility>
#include <vector>

#include "base/IdURI.h"
#include "base/brvIdHMACSHA1.h"
#include "base/brvIdHash.h"
#include "base/brvIdHashSHA.h"

namespace brv {

namespace {

constexpr char kContentType[] = "application/x-www-form-urlencoded; charset=utf-8";
constexpr char kHexUpper[] = "0123456789ABCDEF";

void LoadHashLibrary(const TIdHashHooks& AHooks) {
  if (AHooks.LoadHashLibrary != nullptr) AHooks.LoadHashLibrary();
}

bool IsUnreserved(std::uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '-' || c == '.' || c == '_' || c == '~';
}

void AppendEscape(std::string& out, std::uint8_t c) {
  out += '%';
  out += kHexUpper[c >> 4];
  out += kHexUpper[c & 0x0F];
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Length of the well-formed UTF-8 sequence at i, or 0 when none starts there.
std::size_t Utf8SequenceLength(const std::string& s, std::size_t i) {
  const auto b0 = static_cast<std::uint8_t>(s[i]);
  if (b0 < 0x80) return 1;
  std::size_t len = 0;
  std::uint8_t lo = 0x80;
  std::uint8_t hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  const auto b1 = static_cast<std::uint8_t>(s[i + 1]);
  if (b1 < lo || b1 > hi) return 0;
  for (std::size_t k = 2; k < len; ++k) {
    if ((static_cast<std::uint8_t>(s[i + k]) & 0xC0) != 0x80) return 0;
  }
  return len;
}

// Form-decodes one name or value of a query and re-encodes it canonically.
std::string CanonicalComponent(const std::string& AText) {
  // Fast road: a component that is already canonical stays as it is.
  bool canonical = true;
  for (std::size_t i = 0; i < AText.size() && canonical; ++i) {
    const auto c = static_cast<std::uint8_t>(AText[i]);
    if (IsUnreserved(c)) continue;
    if (c == '%' && i + 2 < AText.size() && HexValue(AText[i + 1]) >= 0 &&
        HexValue(AText[i + 2]) >= 0) {
      const auto byte = static_cast<std::uint8_t>(HexValue(AText[i + 1]) * 16 + HexValue(AText[i + 2]));
      const bool upper = !(AText[i + 1] >= 'a' && AText[i + 1] <= 'f') &&
                         !(AText[i + 2] >= 'a' && AText[i + 2] <= 'f');
      // an escape of an unreserved byte or of a byte above 0x7F (which may be part of a
      // multi-byte character) sends this component the slow road
      canonical = upper && !IsUnreserved(byte) && byte < 0x80;
      i += 2;
      continue;
    }
    canonical = false;
  }
  if (canonical) return AText;

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
    const std::size_t len = Utf8SequenceLength(bytes, i);
    if (len == 0) {
      // a byte that starts no character is read as U+FFFD, as a server decoding the query
      // into text does
      out += "%EF%BF%BD";
      ++i;
      continue;
    }
    for (std::size_t k = 0; k < len; ++k) {
      const auto b = static_cast<std::uint8_t>(bytes[i + k]);
      if (IsUnreserved(b)) {
        out += static_cast<char>(b);
      } else {
        AppendEscape(out, b);
      }
    }
    i += len;
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

}  // namespace

std::string AWSCanonicalQuery(const std::string& AQuery) {
  std::vector<std::pair<std::string, std::string>> params;
  std::size_t start = 0;
  while (start <= AQuery.size()) {
    std::size_t end = AQuery.find('&', start);
    if (end == std::string::npos) end = AQuery.size();
    if (end > start) {
      const std::string param = AQuery.substr(start, end - start);
      const std::size_t eq = param.find('=');
      if (eq == std::string::npos) {
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

std::string AWSCanonicalPath(const std::string& APath) {
  if (APath.empty()) return "/";
  // Dot segments and empty segments go, as the service removes them before it checks.
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= APath.size()) {
    std::size_t end = APath.find('/', start);
    if (end == std::string::npos) end = APath.size();
    const std::string segment = APath.substr(start, end - start);
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
      if (IsUnreserved(c)) {
        out += ch;
      } else {
        AppendEscape(out, c);
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
  const TIdHashHooks hooks = GetHashHooks();
  try {
    LoadHashLibrary(hooks);
    // Without the library the built-in road is taken straight away: the library road would
    // only raise "SHA256 hashing is not available!" to be caught below.
    if (TIdHashSHA256::IsAvailable()) {
      TIdHMACSHA256 hmac;
      hmac.SetKey(AKey);
      return hmac.HashValue(TIdBytes(AText.begin(), AText.end()));
    }
  } catch (const std::exception&) {
    // any failure of the library road falls back to the built-in HMAC
  }
  const auto mac = TIdHMACSHA256Builtin::Digest(AKey.data(), AKey.size(), AText.data(), AText.size());
  return TIdBytes(mac.begin(), mac.end());
}

std::string TbrvHTTP_Amazon_AWS_Signature::GetSHA256Hex(const std::string& AText) {
  const TIdHashHooks hooks = GetHashHooks();
  try {
    LoadHashLibrary(hooks);
    if (TIdHashSHA256::IsAvailable()) {
      TIdHashSHA256 sha;
      std::string hex = sha.HashStringAsHex(AText);
      std::transform(hex.begin(), hex.end(), hex.begin(),
                     [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; });
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
  FRequestDate = UTCDateStamp(FClock ? FClock() : 0);
  const TIdURI uri(AURL);

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
  const std::string secret = "AWS4" + FSignatureV4Options->SecretKey;
  TIdBytes key(secret.begin(), secret.end());
  key = GetHMACSHA256(FRequestDate.substr(0, 8), key);
  key = GetHMACSHA256(FSignatureV4Options->Region, key);
  key = GetHMACSHA256(FSignatureV4Options->Service, key);
  key = GetHMACSHA256("aws4_request", key);
  FSignature = ToHex(GetHMACSHA256(FStringToSign, key), false);
}

}  // namespace brv

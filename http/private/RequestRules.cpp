#include "http/private/RequestRules.h"

#include <arpa/inet.h>

#include "http/private/Text.h"

namespace brv::http_detail {

bool IsHttpsProtocol(std::string_view AProtocol) {
  return AsciiTextIsSame(AProtocol, "https");
}

std::string_view DefaultPortOf(std::string_view AProtocol) {
  if (AsciiTextIsSame(AProtocol, "http")) return "80";
  if (AsciiTextIsSame(AProtocol, "https")) return "443";
  return {};
}

std::uint16_t PortNumber(const std::string& APort) {
  const auto v = ParseInt64(APort);
  if (!v || *v < 1 || *v > 65535) return 80;
  return static_cast<std::uint16_t>(*v);
}

std::string MergePath(const std::string& ABase, const std::string& APath) {
  if (!APath.empty() && APath[0] == '/') return APath;
  std::string work = ABase;
  if (!work.empty() && work.back() != '/') work += '/';
  work += APath;
  std::string result;
  for (size_t i = 0; i < work.size();) {
    if (work[i] == '/') {
      if (result.empty() || result.back() != '/') result += '/';
      ++i;
    } else if (work.compare(i, 2, "..") == 0 && !result.empty() && result.back() == '/') {
      // Remove the last segment of the result.
      std::string trimmed = result.substr(0, result.size() - 1);
      const size_t slash = trimmed.rfind('/');
      result = slash == std::string::npos ? std::string() : trimmed.substr(0, slash + 1);
      if (result.empty() && !trimmed.empty() && trimmed[0] == '/') result = "/";
      i += 2;
    } else {
      result += work[i];
      ++i;
    }
  }
  if (result.size() > 1 && result.back() == '/' && !APath.empty() && APath.back() != '/')
    result.pop_back();
  return result;
}

void MergeRequestURI(TIdURI& AKept, const TIdURI& ARequested) {
  AKept.SetPath(MergePath(AKept.Path(), ARequested.Path()));
  AKept.SetDocument(ARequested.Document());
  AKept.SetParams(ARequested.Params());
  if (!ARequested.Host().empty()) AKept.SetHost(ARequested.Host());
  if (!ARequested.Protocol().empty())
    AKept.SetProtocol(ARequested.Protocol());
  else if (!IsHttpsProtocol(AKept.Protocol()))
    AKept.SetProtocol("http");
  const std::string_view defaultPort = DefaultPortOf(ARequested.Protocol());
  if (!ARequested.Port().empty())
    AKept.SetPort(ARequested.Port());
  else if (!defaultPort.empty())
    AKept.SetPort(std::string(defaultPort));
  else if (AKept.Port().empty())
    throw EIdUnknownProtocol();
}

std::string RequestTargetOf(const TIdURI& AURI, bool AOptions) {
  return AOptions && AURI.Document() == "*" ? "*" : AURI.GetPathAndParams();
}

std::string HostHeaderOf(const TIdURI& AURI) {
  std::string host = AURI.Host();
  unsigned char address[16];
  if (AURI.IPVersion() == Id_IPv6 && inet_pton(AF_INET6, host.c_str(), address) == 1)
    host = "[" + host + "]";
  const std::string_view defaultPort = DefaultPortOf(AURI.Protocol());
  if (AURI.Port() != defaultPort || defaultPort.empty()) host += ":" + AURI.Port();
  return host;
}

std::string AcceptEncodingOf(std::string AAccepted, bool ACompressorReady) {
  if (ACompressorReady)
    for (const char* e : {"deflate", "gzip"})
      if (AAccepted.find(e) == std::string::npos)
        AAccepted += AAccepted.empty() ? e : std::string(", ") + e;
  if (!AAccepted.empty() && AAccepted.find("identity") == std::string::npos)
    AAccepted += ", identity";
  return AAccepted;
}

bool NeedsHTTP11(std::string_view AMethod) {
  for (const char* m : {"TRACE", "PUT", "OPTIONS", "DELETE", "PATCH"})
    if (AsciiTextIsSame(AMethod, m)) return true;
  return false;
}

TConnectTarget ConnectTargetOf(const TIdURI& AURI, const std::string& AProxyServer,
                               int AProxyPort) {
  const bool https = IsHttpsProtocol(AURI.Protocol());
  if (AProxyServer.empty())
    return {AURI.Host(), PortNumber(AURI.Port()), https ? ctSSL : ctNormal};
  return {AProxyServer, static_cast<std::uint16_t>(AProxyPort), https ? ctSSLProxy : ctProxy};
}

bool LeavesOrigin(const TIdURI& AURI, const std::string& ALocation) {
  const TIdURI target(ALocation);
  if (target.Protocol().empty() && target.Host().empty()) return false;
  const std::string& protocol = target.Protocol().empty() ? AURI.Protocol() : target.Protocol();
  const std::string& host = target.Host().empty() ? AURI.Host() : target.Host();
  const std::string port =
      target.Port().empty() ? std::string(DefaultPortOf(protocol)) : target.Port();
  return !(TextIsSame(protocol, AURI.Protocol()) && TextIsSame(host, AURI.Host()) &&
           port == AURI.Port());
}

void PrepareForConnection(TIdHTTPRequest& ARequest, TIdHTTPConnectionType AType,
                          TIdHTTPProtocolVersion AVersion, TIdURI& AURI) {
  const bool keepAliveUnset = AVersion == pv1_0 && ARequest.Connection().empty();
  if (AType == ctNormal || AType == ctSSL) {
    if (keepAliveUnset) ARequest.SetConnection("keep-alive");
  } else if (AType == ctProxy) {
    ARequest.SetURL(AURI.URI());
    if (keepAliveUnset) ARequest.SetProxyConnection("keep-alive");
  }
}

std::string RequestHeadOf(const std::string& AMethod, const std::string& ATarget,
                          TIdHTTPProtocolVersion AVersion, const std::vector<std::string>& ALines) {
  std::string head;
  size_t size = AMethod.size() + ATarget.size() + 16;
  for (const std::string& line : ALines) size += line.size() + 2;
  head.reserve(size);
  head += AMethod;
  head += ' ';
  head += ATarget;
  head += " HTTP/";
  head += AVersion == pv1_0 ? "1.0" : "1.1";
  head += "\r\n";
  for (const std::string& line : ALines) {
    if (line.empty()) continue;
    head += line;
    head += "\r\n";
  }
  head += "\r\n";
  return head;
}

TSavedCredentials::TSavedCredentials(const TIdHTTPRequest& ARequest)
    : Username(ARequest.Username()),
      Password(ARequest.Password()),
      BasicAuthentication(ARequest.BasicAuthentication()),
      CustomHeaders(ARequest.CustomHeaders().Lines()) {}

void TSavedCredentials::Restore(TIdHTTPRequest& ARequest) const {
  ARequest.SetUsername(Username);
  ARequest.SetPassword(Password);
  ARequest.SetBasicAuthentication(BasicAuthentication);
  ARequest.CustomHeaders().Clear();
  for (const auto& line : CustomHeaders) ARequest.CustomHeaders().Add(line);
}

void DropCredentials(TIdHTTPRequest& ARequest) {
  ARequest.SetUsername("");
  ARequest.SetPassword("");
  ARequest.SetBasicAuthentication(false);
  ARequest.SetAuthentication(nullptr);
  for (int i = ARequest.CustomHeaders().Count() - 1; i >= 0; --i)
    if (AsciiTextIsSame(ARequest.CustomHeaders().GetName(i), "Authorization"))
      ARequest.CustomHeaders().Delete(i);
}

void PrepareConnectRequest(TIdHTTPRequest& AConnect, const TIdHTTPRequest& ARequest,
                           const std::string& ADestination) {
  AConnect.SetUserAgent(ARequest.UserAgent());
  AConnect.SetHost(ARequest.Host());
  AConnect.SetPragma("no-cache");
  AConnect.SetURL(ADestination);
  AConnect.SetMethod("CONNECT");
  AConnect.SetProxyConnection("keep-alive");
  AConnect.SetAccept("");
}

}  // namespace brv::http_detail

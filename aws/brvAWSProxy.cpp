#include "aws/brvAWSProxy.h"

#include <string_view>

#include "base/AsciiText.h"
#include "base/IdURI.h"

namespace brv {

namespace {

std::string WithoutBrackets(std::string_view AHost) {
  if (AHost.size() >= 2 && AHost.front() == '[' && AHost.back() == ']')
    AHost = AHost.substr(1, AHost.size() - 2);
  return std::string(AHost);
}

// The host of a "host[:port]" or "[v6]:port" entry, brackets removed.
std::string HostOfEntry(std::string_view AEntry) {
  if (!AEntry.empty() && AEntry.front() == '[') {
    const std::size_t close = AEntry.find(']');
    return std::string(AEntry.substr(1, close == std::string_view::npos ? AEntry.npos : close - 1));
  }
  // One colon is a port; more than one is a bare IPv6 address.
  const std::size_t colon = AEntry.find(':');
  if (colon != std::string_view::npos && AEntry.find(':', colon + 1) == std::string_view::npos)
    return std::string(AEntry.substr(0, colon));
  return std::string(AEntry);
}

[[noreturn]] void Refuse(const std::string& AURL, const char* AWhy) {
  throw EbrvAWSProxyError("Proxy \"" + AURL + "\" cannot be used: " + AWhy);
}

}  // namespace

TbrvAWSProxy ParseProxyURL(const std::string& AURL) {
  TbrvAWSProxy proxy;
  std::string_view rest(AURL);
  if (rest.empty()) return proxy;
  if (const std::size_t scheme = rest.find("://"); scheme != std::string_view::npos) {
    if (LowerAscii(rest.substr(0, scheme)) != "http") Refuse(AURL, "only http:// proxies are supported");
    rest.remove_prefix(scheme + 3);
  }
  // Everything after the authority must be a bare "/".
  if (const std::size_t slash = rest.find_first_of("/?#"); slash != std::string_view::npos) {
    if (rest.substr(slash) != "/") Refuse(AURL, "a proxy URL has no path");
    rest = rest.substr(0, slash);
  }
  if (const std::size_t at = rest.rfind('@'); at != std::string_view::npos) {
    const std::string_view user = rest.substr(0, at);
    const std::size_t colon = user.find(':');
    proxy.Username = TIdURI::URLDecode(std::string(user.substr(0, colon)));
    if (colon != std::string_view::npos)
      proxy.Password = TIdURI::URLDecode(std::string(user.substr(colon + 1)));
    rest.remove_prefix(at + 1);
  }
  std::string_view port;
  if (!rest.empty() && rest.front() == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string_view::npos) Refuse(AURL, "unclosed IPv6 address");
    proxy.Host = std::string(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') Refuse(AURL, "text after the IPv6 address");
      port = rest.substr(1);
    }
  } else {
    const std::size_t colon = rest.find(':');
    proxy.Host = std::string(rest.substr(0, colon));
    if (colon != std::string_view::npos) port = rest.substr(colon + 1);
  }
  if (proxy.Host.empty()) Refuse(AURL, "no host");
  proxy.Port = 80;
  if (!port.empty()) {
    int value = 0;
    for (const char c : port) {
      if (c < '0' || c > '9' || value > 65535) Refuse(AURL, "bad port");
      value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) Refuse(AURL, "bad port");
    proxy.Port = value;
  }
  return proxy;
}

bool HostBypassesProxy(const std::string& AHost, const std::string& ANoProxy) {
  const std::string host = LowerAscii(WithoutBrackets(AHost));
  if (host.empty()) return false;
  std::string_view list(ANoProxy);
  while (!list.empty()) {
    const std::size_t end = list.find_first_of(", \t");
    std::string_view token = list.substr(0, end);
    list.remove_prefix(end == std::string_view::npos ? list.size() : end + 1);
    if (token.empty()) continue;
    if (token == "*") return true;
    std::string entry = LowerAscii(HostOfEntry(token));
    // A trailing dot names the same host as without it.
    while (!entry.empty() && entry.back() == '.') entry.pop_back();
    if (!entry.empty() && entry.front() == '.') entry.erase(0, 1);
    if (entry.empty()) continue;
    if (host == entry) return true;
    // A domain matches the names below it at a label boundary ("example.com" matches
    // "sqs.example.com", not "badexample.com").
    if (host.size() > entry.size() &&
        host.compare(host.size() - entry.size(), entry.npos, entry) == 0 &&
        host[host.size() - entry.size() - 1] == '.')
      return true;
  }
  return false;
}

TbrvAWSProxy ProxyForEndPoint(const std::string& AEndPoint, const std::string& AExplicit,
                              const TbrvEnvironmentReader& AEnvironment) {
  if (!AExplicit.empty()) return ParseProxyURL(AExplicit);
  // The thread's parse of the request's URL, which its signer has just read.
  const TIdURI& uri = ParsedURIOf(AEndPoint);
  const bool https = LowerAscii(uri.Protocol()) == "https";
  const std::string host = uri.Host();
  const auto first = [&](const char* ALower, const char* AUpper) {
    std::string value = AEnvironment(ALower);
    return value.empty() ? AEnvironment(AUpper) : value;
  };
  const std::string url =
      https ? first("https_proxy", "HTTPS_PROXY") : first("http_proxy", "HTTP_PROXY");
  if (url.empty()) return {};
  if (HostBypassesProxy(host, first("no_proxy", "NO_PROXY"))) return {};
  return ParseProxyURL(url);
}

}  // namespace brv

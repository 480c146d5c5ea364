// Which HTTP proxy a request to an endpoint goes through: an explicit proxy URL, or the
// proxy variables of the environment (https_proxy, http_proxy, no_proxy and their upper-case
// forms), read as curl and AWS's own tools read them.
#pragma once

#include <functional>
#include <string>

#include "base/Exception.h"

namespace brv {

// A proxy URL that cannot be used (not http://, no host, a bad port).
BRV_DECLARE_EXCEPTION(EbrvAWSProxyError, EIdException);

// An HTTP proxy: host, port and the Basic credentials of its URL's user part. An empty Host
// means a direct connection.
struct TbrvAWSProxy {
  std::string Host;
  int Port = 0;
  std::string Username;
  std::string Password;

  bool Empty() const { return Host.empty(); }
  bool operator==(const TbrvAWSProxy&) const = default;
};

// Reads a proxy URL: "http://[user:password@]host[:port][/]" or the same without the scheme;
// the user name and password may be percent-encoded; the port defaults to 80. An empty text is
// no proxy. Raises EbrvAWSProxyError for anything else (an https:// proxy included: the
// connection to the proxy itself is plain TCP).
TbrvAWSProxy ParseProxyURL(const std::string& AURL);

// True when AHost (a name or an address literal, brackets allowed) is listed in ANoProxy: a
// comma- or blank-separated list of host names (matching the name and every name below it,
// with or without a leading dot), address literals (matched exactly), or "*" (every host).
// Ports on entries are ignored.
bool HostBypassesProxy(const std::string& AHost, const std::string& ANoProxy);

// Reads one environment variable ("" when unset); tests hand in a table.
using TbrvEnvironmentReader = std::function<std::string(const std::string&)>;

// The proxy for a request to AEndPoint (a URL): AExplicit when it is not empty (it overrides
// the environment and applies to every host); else https_proxy / HTTPS_PROXY for an https
// endpoint and http_proxy / HTTP_PROXY for an http one (the lower-case name wins when both are
// set), unless no_proxy / NO_PROXY lists the endpoint's host. Raises EbrvAWSProxyError for a
// proxy URL that cannot be used.
TbrvAWSProxy ProxyForEndPoint(const std::string& AEndPoint, const std::string& AExplicit,
                              const TbrvEnvironmentReader& AEnvironment);

}  // namespace brv

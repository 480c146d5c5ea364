// What a request is made of and where it goes: the URL of a call merged into the client's kept
// URI, the request target and Host header, the encodings it accepts, the server or proxy to
// connect to, and what a redirect changes. Functions of their arguments only: no socket and no
// client.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/IdURI.h"
#include "http/IdHTTP.h"

namespace brv::http_detail {

bool IsHttpsProtocol(std::string_view AProtocol);
// The default port text of a protocol ("" when it has none).
std::string_view DefaultPortOf(std::string_view AProtocol);
// The port number of a port text; 80 when it is not one.
std::uint16_t PortNumber(const std::string& APort);

// Merges APath into the directory ABase ("/" delimited, ".." removing a segment).
std::string MergePath(const std::string& ABase, const std::string& APath);

// Merges the URL of a call into the URI the client keeps between calls: the path relative to
// the kept directory, the document and parameters, and the host, protocol and port where the
// URL names them (the port then defaulting from the protocol). Raises EIdUnknownProtocol when
// no port can be known.
void MergeRequestURI(TIdURI& AKept, const TIdURI& ARequested);

// The target of the request line: "*" for an OPTIONS request of the document "*", else the
// path, document and parameters.
std::string RequestTargetOf(const TIdURI& AURI, bool AOptions);

// The Host header of a request to AURI: an IPv6 address in brackets, then ":" and the port
// unless it is the protocol's default.
std::string HostHeaderOf(const TIdURI& AURI);

// AAccepted with "deflate" and "gzip" added when a compressor is ready, then "identity" when
// the list names encodings but not that one.
std::string AcceptEncodingOf(std::string AAccepted, bool ACompressorReady);

// True for the methods HTTP/1.0 does not have (TRACE, PUT, OPTIONS, DELETE, PATCH).
bool NeedsHTTP11(std::string_view AMethod);

// The server a request connects to: the origin server, or the proxy when one is set.
struct TConnectTarget {
  std::string Host;
  std::uint16_t Port = 0;
  TIdHTTPConnectionType Type = ctNormal;
};
TConnectTarget ConnectTargetOf(const TIdURI& AURI, const std::string& AProxyServer,
                               int AProxyPort);

// True when ALocation names another origin (protocol, host or port) than AURI: the
// credentials of the request do not follow the redirect there. A relative location stays.
bool LeavesOrigin(const TIdURI& AURI, const std::string& ALocation);

// Readies ARequest for a connection of AType: with HTTP/1.0 a Connection (or, to a plain
// proxy, Proxy-Connection) of keep-alive unless one is set, and the absolute URL of AURI as
// the target of a request a plain proxy forwards.
void PrepareForConnection(TIdHTTPRequest& ARequest, TIdHTTPConnectionType AType,
                          TIdHTTPProtocolVersion AVersion, TIdURI& AURI);

// The request line and header block as sent: AMethod, ATarget and the version, then every
// non-empty line of ALines, each ended by CR LF, then the empty line.
std::string RequestHeadOf(const std::string& AMethod, const std::string& ATarget,
                          TIdHTTPProtocolVersion AVersion, const std::vector<std::string>& ALines);

// The credentials of a request, kept while a redirect to another origin goes without them and
// put back when the call ends.
struct TSavedCredentials {
  explicit TSavedCredentials(const TIdHTTPRequest& ARequest);
  void Restore(TIdHTTPRequest& ARequest) const;

  std::string Username;
  std::string Password;
  bool BasicAuthentication = false;
  std::vector<std::string> CustomHeaders;
};

// Takes the credentials off ARequest: user name, password, basic authentication, its scheme
// object and every Authorization custom header.
void DropCredentials(TIdHTTPRequest& ARequest);

// Fills AConnect as the CONNECT request that opens a tunnel through a proxy to ADestination
// (host:port) for ARequest.
void PrepareConnectRequest(TIdHTTPRequest& AConnect, const TIdHTTPRequest& ARequest,
                           const std::string& ADestination);

// True when a redirect with ACode repeats the request as a GET without a body: a 303, and a
// 302 with ATreat302Like303.
inline bool RedirectTurnsToGet(int ACode, bool ATreat302Like303) {
  return ACode == 303 || (ACode == 302 && ATreat302Like303);
}

}  // namespace brv::http_detail

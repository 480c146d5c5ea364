#include "http/IdHTTP.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <typeinfo>

#include "http/IdCharsets.h"
#include "http/private/ByteScan.h"
#include "http/private/Challenge.h"
#include "http/private/FormEncoding.h"
#include "http/private/HTTPResponseDecoder.h"
#include "http/private/RequestTarget.h"
#include "http/private/ResponseRules.h"
#include "http/private/Text.h"
#include "tls/IdSSLIOHandlerSocketBase.h"

namespace brv {

using namespace http_detail;

namespace {

const char* VersionText(TIdHTTPProtocolVersion V) {
  return V == pv1_0 ? "1.0" : "1.1";
}

bool ContainsCode(const std::vector<int>& ACodes, int ACode) {
  return std::find(ACodes.begin(), ACodes.end(), ACode) != ACodes.end();
}

// The handler as a TLS handler, or nullptr. The plain socket handler, asked about on every
// plain request, is recognised by its exact class without the cast's walk of the class tree.
TIdSSLIOHandlerSocketBase* AsTLS(TIdIOHandler* AHandler) {
  if (AHandler == nullptr || typeid(*AHandler) == typeid(TIdIOHandlerStack)) return nullptr;
  return dynamic_cast<TIdSSLIOHandlerSocketBase*>(AHandler);
}

}  // namespace

// ---- request and response ------------------------------------------------------------------

TIdHTTPRequest::TIdHTTPRequest(TIdCustomHTTP* AHTTP) : TIdRequestHeaderInfo(AHTTP), FHTTP(AHTTP) {}

TIdHTTPResponse::TIdHTTPResponse(TIdCustomHTTP* AHTTP)
    : TIdResponseHeaderInfo(AHTTP),
      FHTTP(AHTTP),
      FMetaHTTPEquiv(std::make_unique<TIdMetaHTTPEquiv>(this)) {}

TIdHTTPResponse::~TIdHTTPResponse() = default;

void TIdHTTPResponse::Clear() {
  TIdResponseHeaderInfo::Clear();
  if (FMetaHTTPEquiv) FMetaHTTPEquiv->Clear();
}

void TIdHTTPResponse::SetResponseText(const std::string& V) {
  FResponseText = V;
  FResponseCode = -1;
  FResponseVersion =
      (V.size() >= 8 && AsciiTextIsSame(std::string_view(V).substr(5, 3), "1.1")) ? pv1_1 : pv1_0;
}

int TIdHTTPResponse::ResponseCode() const {
  if (FResponseCode == -1) {
    // The text after the first space, trimmed, up to the next space, cut at a ".".
    std::string_view s = FResponseText;
    const size_t space = s.find(' ');
    s = space == std::string_view::npos ? std::string_view() : TrimView(s.substr(space + 1));
    std::string_view code = s.substr(0, s.find(' '));
    code = code.substr(0, code.find('.'));
    const auto v = ParseInt64(code);
    FResponseCode = (v && *v >= INT32_MIN && *v <= INT32_MAX) ? static_cast<int>(*v) : -1;
  }
  return FResponseCode;
}

bool TIdHTTPResponse::KeepAlive(bool ALookAtConnection) {
  bool keep = false;
  if (TIdIOHandler* io = FHTTP->IOHandler()) {
    // The disconnect check first, then one look at the connection: Connected reads what has
    // arrived without waiting and runs the same check after it, so a second look would only
    // repeat the system call.
    io->CheckForDisconnect(false, false);
    keep = ALookAtConnection ? FHTTP->Connected() : io->Opened();
  }
  keep = keep && KeepAliveByHeaders(FHTTP->Request(), *this, FHTTP->ProtocolVersion());
  FKeepAlive = keep;
  return keep;
}

// ---- protocol --------------------------------------------------------------------------

TIdHTTPProtocol::TIdHTTPProtocol(TIdCustomHTTP* AConnection)
    : FHTTP(AConnection),
      FRequest(std::make_unique<TIdHTTPRequest>(AConnection)),
      FResponse(std::make_unique<TIdHTTPResponse>(AConnection)) {}

TIdHTTPProtocol::~TIdHTTPProtocol() = default;

void TIdHTTPProtocol::BuildAndSendRequest(TIdURI* AURI) {
  TIdHTTPRequest& req = *FRequest;
  if (req.Authentication() != nullptr) req.Authentication()->SetRequest(req.Method(), req.URL());

  CheckRequestLine(req.Method(), req.URL(), req.Host());
  for (int i = 0; i < req.CustomHeaders().Count(); ++i)
    if (HasLineBreakOrNul(req.CustomHeaders()[i]))
      throw EIdHTTPInvalidRequestValue("Invalid header \"" + req.CustomHeaders().GetName(i) +
                                       "\": it holds a CR, LF or NUL");
  const std::pair<const char*, const std::string*> fields[] = {
      {"Connection", &req.Connection()},
      {"Content-Version", &req.ContentVersion()},
      {"Content-Disposition", &req.ContentDisposition()},
      {"Content-Encoding", &req.ContentEncoding()},
      {"Content-Language", &req.ContentLanguage()},
      {"Content-Type", &req.ContentType()},
      {"Content-Type", &req.CharSet()},
      {"Cache-control", &req.CacheControl()},
      {"ETag", &req.ETag()},
      {"Pragma", &req.Pragma()},
      {"Transfer-Encoding", &req.TransferEncoding()},
      {"Proxy-Connection", &req.ProxyConnection()},
      {"Accept", &req.Accept()},
      {"Accept-Charset", &req.AcceptCharSet()},
      {"Accept-Encoding", &req.AcceptEncoding()},
      {"Accept-Language", &req.AcceptLanguage()},
      {"From", &req.From()},
      {"Referer", &req.Referer()},
      {"User-Agent", &req.UserAgent()},
      {"X-HTTP-Method-Override", &req.MethodOverride()},
  };
  for (const auto& f : fields)
    if (HasLineBreakOrNul(*f.second))
      throw EIdHTTPInvalidRequestValue(std::string("Invalid header \"") + f.first +
                                       "\": it holds a CR, LF or NUL");

  req.ComposeRawHeaders();
  // The proxy's credentials go to the proxy only: on a request it forwards or on the CONNECT
  // that opens a tunnel, never through the tunnel to the server.
  if (req.UseProxy() == ctProxy || AsciiTextIsSame(req.Method(), "CONNECT"))
    FHTTP->ProxyParams().SetHeaders(req.RawHeaders());
  if (AURI != nullptr && FHTTP->AllowCookies() && FHTTP->CookieManager() != nullptr)
    FHTTP->CookieManager()->GenerateClientCookies(*AURI, AsciiTextIsSame(AURI->Protocol(), "HTTPS"),
                                                  req.RawHeaders());
  // Values produced by scheme objects and the cookie manager are checked as they stand.
  for (const std::string& line : req.RawHeaders().Lines())
    if (HasLineBreakOrNul(line))
      throw EIdHTTPInvalidRequestValue("Invalid header line: it holds a CR, LF or NUL");

  TIdIOHandler* io = FHTTP->IOHandler();
  const bool opened = !io->WriteBufferingActive();
  if (opened) io->WriteBufferOpen(-1);
  try {
    std::string head;
    size_t size = req.Method().size() + req.URL().size() + 16;
    for (const std::string& line : req.RawHeaders().Lines()) size += line.size() + 2;
    head.reserve(size);
    head += req.Method();
    head += ' ';
    head += req.URL();
    head += " HTTP/";
    head += VersionText(FHTTP->ProtocolVersion());
    head += "\r\n";
    for (const std::string& line : req.RawHeaders().Lines()) {
      if (line.empty()) continue;
      head += line;
      head += "\r\n";
    }
    head += "\r\n";
    io->Write(head);
    if (opened) io->WriteBufferClose();
  } catch (...) {
    if (opened) io->WriteBufferCancel();
    throw;
  }
}

void TIdHTTPProtocol::RetrieveHeaders(int AMaxHeaderCount) {
  // The client's own exchange stores cookies of every head; a CONNECT tunnel's does not.
  FHTTP->ReadHead(*FResponse, AMaxHeaderCount, false, this == FHTTP->FHTTPProto.get());
}

void TIdHTTPProtocol::ReadBodyGuarded() {
  try {
    FHTTP->ReadBody(*FRequest, *FResponse);
  } catch (const EIdConnClosedGracefully&) {
    FHTTP->Disconnect();
  } catch (...) {
    FHTTP->Disconnect();
    throw;
  }
}

void TIdHTTPProtocol::DiscardBody() {
  TStream* saved = FResponse->ContentStream();
  FResponse->SetContentStream(nullptr);
  try {
    ReadBodyGuarded();
  } catch (...) {
    FResponse->SetContentStream(saved);
    throw;
  }
  FResponse->SetContentStream(saved);
}

void TIdHTTPProtocol::RaiseProtocolError(const std::vector<int>& AIgnoreReplies) {
  const int code = FResponse->ResponseCode();
  if ((FHTTP->HTTPOptions() & hoNoProtocolErrorException) || ContainsCode(AIgnoreReplies, code)) {
    if (FHTTP->HTTPOptions() & hoWantProtocolErrorContent)
      ReadBodyGuarded();
    else
      DiscardBody();
    return;
  }
  TMemoryStream temp;
  TStream* saved = FResponse->ContentStream();
  FResponse->SetContentStream(&temp);
  try {
    ReadBodyGuarded();
  } catch (...) {
    FResponse->SetContentStream(saved);
    throw;
  }
  FResponse->SetContentStream(saved);
  throw EIdHTTPProtocolException(code, FResponse->ResponseText(), FHTTP->DecodeBody(temp));
}

TIdHTTPWhatsNext TIdHTTPProtocol::ProcessResponse(const std::vector<int>& AIgnoreReplies) {
  TIdHTTPRequest& req = *FRequest;
  TIdHTTPResponse& resp = *FResponse;
  if (FHTTP->OnHeadersAvailable) {
    bool cont = true;
    FHTTP->OnHeadersAvailable(FHTTP, &resp.RawHeaders(), cont);
    if (!cont) {
      resp.SetKeepAlive(false);
      resp.SetConnection("close");
      return wnJustExit;
    }
  }
  const int code = resp.ResponseCode();
  if (code / 100 == 3 && code != 304) {
    std::string location = resp.Location();
    if (location.empty()) {
      RaiseProtocolError(AIgnoreReplies);
      return wnJustExit;
    }
    ++FHTTP->FRedirectCount;
    std::string method = req.Method();
    if (!FHTTP->ConfirmRedirect(location, method, FHTTP->FRedirectCount)) {
      RaiseProtocolError(AIgnoreReplies);
      return wnJustExit;
    }
    TIdHTTPWhatsNext result;
    if (FHTTP->HandleRedirects() && FHTTP->FRedirectCount < FHTTP->RedirectMaximum()) {
      FHTTP->DropCredentialsForRedirect(location);
      req.SetURL(location);
      if (RedirectTurnsToGet(code, FHTTP->HTTPOptions() & hoTreat302Like303)) {
        req.SetSource(nullptr);
        req.SetMethod("GET");
      } else {
        req.SetMethod(method);
      }
      req.SetMethodOverride("");
      result = wnGoToURL;
    } else {
      resp.SetLocation(location);
      result = wnJustExit;
    }
    if (FHTTP->Connected()) DiscardBody();
    return result;
  }
  bool authPending = false;
  if (code / 100 != 2) {
    if (code == 101) {
      resp.SetKeepAlive(true);
      return wnJustExit;
    }
    if (code == 401 || code == 407) {
      const bool accepted = code == 401 ? FHTTP->AuthRetries() < FHTTP->MaxAuthRetries() &&
                                              FHTTP->HandleAuthorization(req, resp)
                                        : FHTTP->AuthProxyRetries() < FHTTP->MaxAuthRetries() &&
                                              FHTTP->HandleProxyAuthorization(req, resp);
      if (!accepted) {
        TIdAuthentication* auth =
            code == 401 ? req.Authentication() : FHTTP->ProxyParams().Authentication();
        if (auth != nullptr) auth->Reset();
      }
      // A challenge that is not answered at once is a refusal: its body is never taken as
      // the answer. The scheme object of an accepted one stays for the caller's next call.
      if (!accepted || !(FHTTP->HTTPOptions() & hoInProcessAuth)) {
        RaiseProtocolError(AIgnoreReplies);
        return wnJustExit;
      }
      authPending = true;
    } else {
      RaiseProtocolError(AIgnoreReplies);
      return wnJustExit;
    }
  }
  if (authPending) {
    DiscardBody();
    return wnAuthRequest;
  }
  if (IsHeadRequest(req) || code == 204)
    DiscardBody();
  else
    FHTTP->ReadBody(req, resp);
  return wnJustExit;
}

// ---- client --------------------------------------------------------------------------------

struct TIdCustomHTTP::TSavedCredentials {
  std::string Username;
  std::string Password;
  bool BasicAuthentication = false;
  std::vector<std::string> CustomHeaders;
};

TIdCustomHTTP::TIdCustomHTTP(TComponent* AOwner)
    : TIdTCPClientCustom(AOwner),
      FURI(std::make_unique<TIdURI>()),
      FHTTPProto(std::make_unique<TIdHTTPProtocol>(this)),
      FProxyParameters(std::make_unique<TIdProxyConnectionInfo>()),
      FDecoder(std::make_unique<http_detail::THTTPResponseDecoder>()) {}

TIdCustomHTTP::~TIdCustomHTTP() {
  // Close while the request and response still exist: the disconnect hook reads them.
  try {
    Disconnect(false);
  } catch (...) {
  }
  SetCookieManager(nullptr);  // frees an implicit one while this client is still whole
  SetCompressor(nullptr);
  SetAuthenticationManager(nullptr);
}

void TIdCustomHTTP::SetCookieManager(TIdCookieManager* AValue) {
  if (AValue == FCookieManager) return;
  if (FCookieManager != nullptr) RemoveFreeNotification(FCookieManager);
  if (FImplicitCookieManager && FCookieManager == FImplicitCookieManager.get()) {
    FCookieManager = nullptr;
    FImplicitCookieManager.reset();
  }
  FCookieManager = AValue;
  if (AValue != nullptr) FreeNotification(AValue);
}

void TIdCustomHTTP::SetCompressor(TIdZLibCompressorBase* AValue) {
  if (FCompressor != nullptr) RemoveFreeNotification(FCompressor);
  FCompressor = AValue;
  if (AValue != nullptr) FreeNotification(AValue);
}

void TIdCustomHTTP::SetAuthenticationManager(TIdAuthenticationManager* AValue) {
  if (FAuthenticationManager != nullptr) RemoveFreeNotification(FAuthenticationManager);
  FAuthenticationManager = AValue;
  if (AValue != nullptr) FreeNotification(AValue);
}

void TIdCustomHTTP::Notification(TComponent* AComponent, TOperation Operation) {
  TIdTCPClientCustom::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  if (AComponent == FCookieManager) {
    FCookieManager = nullptr;
    FImplicitCookieManager.release();  // being destroyed by its holder
  }
  if (AComponent == FCompressor) FCompressor = nullptr;
  if (AComponent == FAuthenticationManager) FAuthenticationManager = nullptr;
}

void TIdCustomHTTP::FireDisconnected() {
  TIdTCPClientCustom::FireDisconnected();
  if (!FHTTPProto) return;
  TIdHTTPRequest& req = Request();
  if (TIdAuthentication* auth = req.Authentication();
      auth != nullptr && auth->Steps() == auth->CurrentStep()) {
    if (FAuthenticationManager != nullptr) FAuthenticationManager->AddAuthentication(*auth, *FURI);
    req.SetAuthentication(nullptr);
  }
  if (TIdAuthentication* auth = FProxyParameters->Authentication();
      auth != nullptr && auth->Steps() == auth->CurrentStep())
    auth->Reset();
}

// -- public calls --

void TIdCustomHTTP::Get(const std::string& AURL, TStream* AResponseContent) {
  Get(AURL, AResponseContent, {});
}

void TIdCustomHTTP::Get(const std::string& AURL, TStream* AResponseContent,
                        const std::vector<int>& AIgnoreReplies) {
  ExecuteRequest("GET", AURL, nullptr, AResponseContent, AIgnoreReplies);
}

std::string TIdCustomHTTP::Get(const std::string& AURL) {
  return Get(AURL, std::vector<int>{});
}

std::string TIdCustomHTTP::Get(const std::string& AURL, const std::vector<int>& AIgnoreReplies) {
  return BodyTextOf([&](TStream* AOut) { Get(AURL, AOut, AIgnoreReplies); });
}

void TIdCustomHTTP::DoPost(const std::string& AURL, TStream* ASource, TStream* AResponseContent) {
  const TIdHTTPProtocolVersion saved = FProtocolVersion;
  if (!(FOptions & hoKeepOrigProtocol)) {
    if (Connected()) Disconnect();
    FProtocolVersion = pv1_0;
  }
  try {
    ExecuteRequest("POST", AURL, ASource, AResponseContent, {});
  } catch (...) {
    FProtocolVersion = saved;
    throw;
  }
  FProtocolVersion = saved;
}

void TIdCustomHTTP::Post(const std::string& AURL, TStream* ASource, TStream* AResponseContent) {
  DoPost(AURL, ASource, AResponseContent);
}

void TIdCustomHTTP::Post(const std::string& AURL, const std::string& ASourceFile,
                         TStream* AResponseContent) {
  std::ifstream file(ASourceFile, std::ios::binary);
  if (!file)
    throw EFOpenError(
        Format("Cannot open file \"%s\". %s", ASourceFile.c_str(), std::strerror(errno)));
  TMemoryStream source;
  char buf[65536];
  while (file.read(buf, sizeof buf) || file.gcount() > 0) source.Write(buf, file.gcount());
  source.SetPosition(0);
  DoPost(AURL, &source, AResponseContent);
}

void TIdCustomHTTP::Post(const std::string& AURL, const TStringList& ASource,
                         TStream* AResponseContent, const IIdTextEncoding* AByteEncoding) {
  if (Request().ContentType().empty() || IsHtmlMediaType(Request().ContentType()))
    Request().SetContentType("application/x-www-form-urlencoded");
  TStringStream body(EncodeFormFields(ASource, AByteEncoding));
  DoPost(AURL, &body, AResponseContent);
}

std::string TIdCustomHTTP::Post(const std::string& AURL, TStream* ASource) {
  return BodyTextOf([&](TStream* AOut) { Post(AURL, ASource, AOut); });
}

std::string TIdCustomHTTP::Post(const std::string& AURL, const std::string& ASourceFile) {
  return BodyTextOf([&](TStream* AOut) { Post(AURL, ASourceFile, AOut); });
}

std::string TIdCustomHTTP::Post(const std::string& AURL, const TStringList& ASource,
                                const IIdTextEncoding* AByteEncoding) {
  return BodyTextOf([&](TStream* AOut) { Post(AURL, ASource, AOut, AByteEncoding); });
}

void TIdCustomHTTP::Put(const std::string& AURL, TStream* ASource, TStream* AResponseContent) {
  ExecuteRequest("PUT", AURL, ASource, AResponseContent, {});
}

std::string TIdCustomHTTP::Put(const std::string& AURL, TStream* ASource) {
  return BodyTextOf([&](TStream* AOut) { Put(AURL, ASource, AOut); });
}

void TIdCustomHTTP::Patch(const std::string& AURL, TStream* ASource, TStream* AResponseContent) {
  ExecuteRequest("PATCH", AURL, ASource, AResponseContent, {});
}

std::string TIdCustomHTTP::Patch(const std::string& AURL, TStream* ASource) {
  return BodyTextOf([&](TStream* AOut) { Patch(AURL, ASource, AOut); });
}

void TIdCustomHTTP::Delete(const std::string& AURL, TStream* AResponseContent) {
  ExecuteRequest("DELETE", AURL, nullptr, AResponseContent, {});
}

std::string TIdCustomHTTP::Delete(const std::string& AURL) {
  return BodyTextOf([&](TStream* AOut) { Delete(AURL, AOut); });
}

void TIdCustomHTTP::Options(const std::string& AURL, TStream* AResponseContent) {
  ExecuteRequest("OPTIONS", AURL, nullptr, AResponseContent, {});
}

std::string TIdCustomHTTP::Options(const std::string& AURL) {
  return BodyTextOf([&](TStream* AOut) { Options(AURL, AOut); });
}

void TIdCustomHTTP::Trace(const std::string& AURL, TStream* AResponseContent) {
  ExecuteRequest("TRACE", AURL, nullptr, AResponseContent, {});
}

std::string TIdCustomHTTP::Trace(const std::string& AURL) {
  return BodyTextOf([&](TStream* AOut) { Trace(AURL, AOut); });
}

void TIdCustomHTTP::Head(const std::string& AURL) {
  ExecuteRequest("HEAD", AURL, nullptr, nullptr, {});
}

std::string TIdCustomHTTP::DecodeBody(TMemoryStream& AStream) {
  const auto& bytes = AStream.Bytes();
  return CharsetToEncoding(Response().CharSet())->GetString(bytes.data(), bytes.size());
}

// -- one call --

void TIdCustomHTTP::ExecuteRequest(const std::string& AMethod, const std::string& AURL,
                                   TStream* ASource, TStream* AResponseContent,
                                   const std::vector<int>& AIgnoreReplies) {
  FRedirectCount = 0;
  FAuthRetries = 0;
  FAuthProxyRetries = 0;
  const std::int64_t startPos = AResponseContent != nullptr ? AResponseContent->Position() : 0;
  TIdHTTPRequest& req = Request();
  TIdHTTPResponse& resp = Response();
  req.SetURL(AURL);
  req.SetMethod(AMethod);
  req.SetSource(ASource);
  resp.SetContentStream(AResponseContent);

  auto finish = [&] {
    if (FSavedCredentials) {
      req.SetUsername(FSavedCredentials->Username);
      req.SetPassword(FSavedCredentials->Password);
      req.SetBasicAuthentication(FSavedCredentials->BasicAuthentication);
      req.CustomHeaders().Clear();
      for (const auto& line : FSavedCredentials->CustomHeaders) req.CustomHeaders().Add(line);
      FSavedCredentials.reset();
    }
  };
  try {
    for (bool done = false; !done;) {
      ResolveRequestURL();
      if (TIdSSLIOHandlerSocketBase* tls = AsTLS(IOHandler())) tls->SetURIToCheck(FURI->URI());
      OpenAndSendRequest();
      FHTTPProto->RetrieveHeaders(FMaxHeaderLines);

      switch (FHTTPProto->ProcessResponse(AIgnoreReplies)) {
        case wnReadAndGo:
          ReadBody(req, resp);
          [[fallthrough]];
        case wnGoToURL:
          if (AResponseContent != nullptr) {
            AResponseContent->SetPosition(startPos);
            AResponseContent->SetSize(startPos);
          }
          FAuthRetries = 0;
          FAuthProxyRetries = 0;
          break;
        case wnJustExit:
          done = true;
          break;
        case wnDontKnow:
          throw EIdException("Not Acceptable");
        case wnAuthRequest:
          req.SetURL(AURL);
          break;
      }
    }
  } catch (const EIdHTTPProtocolException&) {
    // The error body was read in full: the connection may serve the next call.
    finish();
    if (!resp.KeepAlive()) Disconnect();
    throw;
  } catch (...) {
    // Whatever else ended the call may have left part of an answer unread; a later call must
    // never read it as its own.
    finish();
    Disconnect();
    if (IOHandler() != nullptr) IOHandler()->InputBuffer()->Clear();
    throw;
  }
  finish();
  // The headers decide here; whether the peer closed since is looked at before the connection
  // serves the next request.
  if (!resp.KeepAlive(false)) Disconnect();
}

std::string TIdCustomHTTP::MergePath(const std::string& ABase, const std::string& APath) {
  return http_detail::MergePath(ABase, APath);
}

void TIdCustomHTTP::ResolveRequestURL() {
  TIdHTTPRequest& req = Request();
  TIdURI uri(req.URL());
  if (!uri.Username().empty()) {
    req.SetUsername(uri.Username());
    req.SetPassword(uri.Password());
  }
  FURI->SetUsername(req.Username());
  FURI->SetPassword(req.Password());
  MergeRequestURI(*FURI, uri);
  req.SetURL(RequestTargetOf(*FURI, AsciiTextIsSame(req.Method(), "OPTIONS") ||
                                        AsciiTextIsSame(req.MethodOverride(), "OPTIONS")));
  req.SetIPVersion(uri.IPVersion());
  FURI->SetIPVersion(uri.IPVersion());

  if (FProtocolVersion != pv1_1 && (NeedsHTTP11(req.Method()) || NeedsHTTP11(req.MethodOverride())))
    throw EIdException("Request method requires HTTP version 1.1");
  if (req.Source() != nullptr)
    req.SetContentLength(req.Source()->Size());
  else if (AsciiTextIsSame(req.Method(), "POST") || AsciiTextIsSame(req.Method(), "PUT"))
    req.SetContentLength(0);
  else
    req.SetContentLength(-1);

  req.SetHost(HostHeaderOf(*FURI));
  CheckRequestLine(req.Method(), req.URL(), req.Host());  // before anything connects
}

TIdHTTPConnectionType TIdCustomHTTP::SelectTarget() {
  const TConnectTarget target =
      ConnectTargetOf(*FURI, FProxyParameters->ProxyServer(), FProxyParameters->ProxyPort());
  // A direct connection of another IP version, or to another server, is not reused.
  const bool direct = target.Type == ctNormal || target.Type == ctSSL;
  if (((direct && IPVersion() != FURI->IPVersion()) || !TextIsSame(target.Host, Host()) ||
       target.Port != Port()) &&
      Connected())
    Disconnect();
  SetHost(target.Host);
  SetPort(target.Port);
  return target.Type;
}

void TIdCustomHTTP::OpenAndSendRequest() {
  TIdHTTPRequest& req = Request();
  if (IOHandler() != nullptr) IOHandler()->InputBuffer()->Clear();
  const std::string destination = FURI->Host() + ":" + FURI->Port();
  const TIdHTTPConnectionType type = SelectTarget();
  if (FHaveLastUseProxy &&
      (type != FLastUseProxy ||
       (type == ctSSLProxy && !TextIsSame(destination, req.Destination()))) &&
      Connected())
    Disconnect();
  req.FUseProxy = type;
  FLastUseProxy = type;
  FHaveLastUseProxy = true;
  req.SetDestination(destination);

  bool tunnel = false;
  switch (type) {
    case ctNormal:
    case ctSSL:
      if (FProtocolVersion == pv1_0 && req.Connection().empty()) req.SetConnection("keep-alive");
      break;
    case ctProxy:
      req.SetURL(FURI->URI());
      if (FProtocolVersion == pv1_0 && req.Connection().empty())
        req.SetProxyConnection("keep-alive");
      tunnel = (FOptions & hoNonSSLProxyUseConnectVerb) && !Connected();
      break;
    case ctSSLProxy:
      tunnel = !Connected();
      break;
  }

  if (FCompressor != nullptr && FCompressor->IsReady()) {
    std::string enc = req.AcceptEncoding();
    for (const char* e : {"deflate", "gzip"}) {
      if (enc.find(e) == std::string::npos) enc += enc.empty() ? e : std::string(", ") + e;
    }
    req.SetAcceptEncoding(enc);
  }
  if (!req.AcceptEncoding().empty() && req.AcceptEncoding().find("identity") == std::string::npos)
    req.SetAcceptEncoding(req.AcceptEncoding() + ", identity");

  if (tunnel) {
    std::unique_ptr<TIdHTTPProtocol> connect = NewProtocol();
    TIdHTTPRequest& creq = connect->Request();
    creq.SetUserAgent(req.UserAgent());
    creq.SetHost(req.Host());
    creq.SetPragma("no-cache");
    creq.SetURL(destination);
    creq.SetMethod("CONNECT");
    creq.SetProxyConnection("keep-alive");
    creq.SetAccept("");
    creq.FUseProxy = type;
    for (bool done = false; !done;) {
      EnsureConnected(*connect);
      connect->BuildAndSendRequest(nullptr);
      TIdHTTPResponse& cresp = connect->Response();
      ReadHead(cresp, FMaxHeaderLines, true, false);
      if (cresp.ResponseText().empty()) {
        cresp.SetResponseText("HTTP/1.0 200 OK");
        cresp.SetConnection("close");
      }
      if (cresp.ResponseCode() / 100 == 2) {
        if (type == ctSSLProxy)
          if (TIdSSLIOHandlerSocketBase* tls = AsTLS(IOHandler())) tls->SetPassThrough(false);
        break;
      }
      switch (connect->ProcessResponse({})) {
        case wnAuthRequest:
          creq.SetURL(destination);
          break;
        case wnReadAndGo:
          ReadBody(creq, cresp);
          FAuthRetries = FAuthProxyRetries = 0;
          break;
        case wnGoToURL:
          FAuthRetries = FAuthProxyRetries = 0;
          break;
        case wnJustExit:
          done = true;
          break;
        case wnDontKnow:
          throw EIdException("Not Acceptable");
      }
    }
  } else {
    EnsureConnected(*FHTTPProto);
  }
  FHTTPProto->BuildAndSendRequest(FURI.get());
  if (req.Source() != nullptr) IOHandler()->Write(req.Source(), 0, false);
}

std::unique_ptr<TIdHTTPProtocol> TIdCustomHTTP::NewProtocol() {
  return std::make_unique<TIdHTTPProtocol>(this);
}

void TIdCustomHTTP::EnsureConnected(TIdHTTPProtocol& AProtocol) {
  const bool keep = Response().KeepAlive();
  if (!keep) Disconnect();
  bool stray = false;
  if (IOHandler() != nullptr) {
    stray = IOHandler()->InputBuffer()->Size() > 0;
    IOHandler()->InputBuffer()->Clear();
    CheckForGracefulDisconnect(false);
  }
  // KeepAlive has just looked at the connection and found it open with nothing waiting, so
  // it is reused without a second look. Bytes that were waiting are dropped, and the look is
  // repeated in case the peer closed after sending them.
  if (keep && !stray) return;
  if (Connected()) return;
  SetIPVersion(FURI->IPVersion());
  const TIdHTTPConnectionType type = AProtocol.Request().UseProxy();
  std::string uriText;
  try {
    uriText = FURI->URI();
  } catch (const EIdURIException&) {
  }
  if (type == ctSSL || type == ctSSLProxy) {
    if (IOHandler() == nullptr) {
      std::unique_ptr<TIdIOHandler> tls =
          TIdIOHandler::TryMakeIOHandler<TIdSSLIOHandlerSocketBase>(this);
      if (!tls) throw EIdIOHandlerPropInvalid();
      tls->OnStatus = OnStatus;
      SetIOHandler(std::move(tls));
    }
    TIdSSLIOHandlerSocketBase* tls = AsTLS(IOHandler());
    if (tls == nullptr) throw EIdIOHandlerPropInvalid();
    tls->SetURIToCheck(uriText);
    tls->SetPassThrough(type == ctSSLProxy);
  } else if (TIdSSLIOHandlerSocketBase* tls = AsTLS(IOHandler())) {
    tls->SetPassThrough(true);
    tls->SetURIToCheck(uriText);
  }
  Connect();
}

// Hands what the decoder reports to a response: its lines decoded as the I/O handler decodes
// text, its body to the target (dropped without one), each whole chunk through OnChunkReceived
// when there is a handler.
struct TIdCustomHTTP::TResponseEvents : http_detail::THTTPResponseDecoder::IEvents {
  TResponseEvents(TIdCustomHTTP& AHTTP, TIdHTTPResponse& AResponse)
      : HTTP(AHTTP),
        Response(AResponse),
        Encoding(AHTTP.IOHandler() != nullptr ? AHTTP.IOHandler()->DefStringEncoding()
                                              : IndyTextEncoding_Default()) {
    HTTP.FDecoder->SetEvents(this);
  }
  ~TResponseEvents() override { HTTP.FDecoder->SetEvents(nullptr); }
  std::string Text(std::string_view ALine) const {
    return Encoding->GetString(reinterpret_cast<const std::uint8_t*>(ALine.data()), ALine.size());
  }
  void OnStatusLine(std::string_view ALine) override {
    Response.Clear();
    Response.SetResponseText(Text(ALine));
  }
  void OnHeaderLine(std::string_view ALine) override { Response.RawHeaders().Add(Text(ALine)); }
  void OnTrailerLine(std::string_view ALine) override { OnHeaderLine(ALine); }
  void OnHeadEnd(bool) override {
    Response.ParseRawHeaders();
    if (StoreCookies) HTTP.StoreCookies();
  }
  void OnBody(const std::uint8_t* AData, std::size_t ASize) override {
    if (Chunks)
      Chunk.insert(Chunk.end(), AData, AData + ASize);
    else if (Target != nullptr)
      Target->WriteBuffer(AData, static_cast<std::int64_t>(ASize));
  }
  void OnChunkEnd() override {
    if (!Chunks) return;
    HTTP.OnChunkReceived(&HTTP, Chunk);
    if (!Chunk.empty()) Target->WriteBuffer(Chunk.data(), static_cast<std::int64_t>(Chunk.size()));
    Chunk.clear();
  }

  TIdCustomHTTP& HTTP;
  TIdHTTPResponse& Response;
  const IIdTextEncoding* Encoding;
  bool StoreCookies = false;
  TStream* Target = nullptr;
  bool Chunks = false;  // a chunked body with a target and an OnChunkReceived handler
  TIdBytes Chunk;
};

void TIdCustomHTTP::DriveDecoder() {
  TIdIOHandler* io = IOHandler();
  if (io == nullptr) throw EIdNotConnected();
  TIdBuffer* buffer = io->InputBuffer();
  http_detail::THTTPResponseDecoder& decoder = *FDecoder;
  try {
    for (;;) {
      if (buffer->Size() > 0)
        buffer->Remove(static_cast<int>(decoder.Feed(buffer->Peek(), buffer->Size())));
      if (decoder.HeadDone() || decoder.Done()) return;
      try {
        io->FillInputBuffer(true, IdTimeoutDefault, true);
      } catch (const EIdConnClosedGracefully&) {
        // A close before any byte of a status line is no answer at all, not a short one.
        if (decoder.AwaitingStatus()) throw;
        decoder.FeedEnd();
        return;
      } catch (const EIdClosedSocket&) {
        if (decoder.AwaitingStatus()) throw;
        decoder.FeedEnd();
        return;
      }
    }
  } catch (const EIdHTTPMalformedResponse& e) {
    // An endless line is refused the way the I/O handler refuses one.
    if (e.Rule() == frLineTooLong) throw EIdReadLnMaxLineLengthExceeded();
    throw;
  }
}

void TIdCustomHTTP::ReadHead(TIdHTTPResponse& AResponse, int AMaxHeaderCount,
                             bool AEmptyStatusEndsHead, bool AStoreCookies) {
  try {
    if (IOHandler() == nullptr) throw EIdNotConnected();
    http_detail::THTTPResponseDecoder::TLimits limits;
    limits.MaxLineLength = IOHandler()->MaxLineLength();
    limits.MaxHeaderLines = AMaxHeaderCount;
    limits.MaxBodySize = FMaxResponseBodySize;
    FDecoder->SetLimits(limits);
    TResponseEvents events(*this, AResponse);
    events.StoreCookies = AStoreCookies;
    FDecoder->BeginResponse(AEmptyStatusEndsHead);
    DriveDecoder();
  } catch (...) {
    Disconnect();
    throw;
  }
}

void TIdCustomHTTP::StoreCookies() {
  if (!FAllowCookies) return;
  TStringList cookies;
  Response().RawHeaders().Extract("Set-Cookie", &cookies);
  Response().MetaHTTPEquiv().RawHeaders().Extract("Set-Cookie", &cookies);
  if (cookies.Count() == 0) return;
  if (FCookieManager == nullptr) {
    FImplicitCookieManager = std::make_unique<TIdCookieManager>();
    FCookieManager = FImplicitCookieManager.get();
    FreeNotification(FCookieManager);
  }
  FCookieManager->AddServerCookies(cookies, *FURI);
}

// -- bodies --

bool TIdCustomHTTP::WaitForBodyData(int ATimeout) {
  TIdIOHandler* io = IOHandler();
  if (io == nullptr) return false;
  if (io->InputBuffer()->Size() > 0) return true;
  io->CheckForDataOnSource(ATimeout);
  return io->InputBuffer()->Size() > 0;
}

bool TIdCustomHTTP::ResponseHasBody(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse) {
  const TBodyExpectation body =
      BodyExpectationOf(FDecoder->Announced(), ARequest, AResponse, FOptions);
  return body.Expected && (body.WaitFirst == 0 || WaitForBodyData(body.WaitFirst));
}

void TIdCustomHTTP::ReadBody(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse) {
  if (!ResponseHasBody(ARequest, AResponse)) return;
  TStream* target = AResponse.ContentStream();
  const TBodyTreatment treatment = BodyTreatmentOf(
      AResponse, target != nullptr, FCompressor != nullptr && FCompressor->IsReady(), FOptions);
  std::unique_ptr<TMemoryStream> collect;
  TStream* into = target;
  if (treatment.Collect(target)) {
    collect = std::make_unique<TMemoryStream>();
    into = collect.get();
  }
  const std::int64_t scanStart = into != nullptr ? into->Position() : 0;

  const THTTPResponseDecoder::TAnnounced announced = FDecoder->Announced();
  TResponseEvents events(*this, AResponse);
  events.Target = into;
  events.Chunks = announced.Chunked && into != nullptr && OnChunkReceived;
  switch (BodyFramingOf(announced, AResponse.ContentType())) {
    case TBodyFraming::Chunked:
      DoStatus(hsStatusText, "Chunk Started");
      FDecoder->BeginBody(TBodyFraming::Chunked);
      break;
    case TBodyFraming::Counted:
      FDecoder->BeginBody(TBodyFraming::Counted, announced.Length);
      break;
    case TBodyFraming::Multipart:
      FDecoder->BeginBody(
          TBodyFraming::Multipart, -1,
          HeaderSubItem(AResponse.RawHeaders().GetValue("Content-Type"), "boundary", QuoteHTTP));
      break;
    default:
      FDecoder->BeginBody(TBodyFraming::UntilClose);
  }
  BeginWork(wmRead, announced.HasLength ? announced.Length : 0);
  try {
    DriveDecoder();
  } catch (...) {
    EndWork(wmRead);
    throw;
  }
  EndWork(wmRead);
  FinishBody(treatment, collect.get(), target, scanStart, AResponse, FCompressor);
}

// -- redirects and challenges --

bool TIdCustomHTTP::ConfirmRedirect(std::string& ALocation, std::string& AMethod,
                                    int ARedirectCount) {
  bool handled = FHandleRedirects;
  if (OnRedirect) {
    int count = ARedirectCount;
    OnRedirect(this, ALocation, count, handled, AMethod);
  }
  return handled;
}

void TIdCustomHTTP::DropCredentialsForRedirect(const std::string& ALocation) {
  if (!LeavesOrigin(*FURI, ALocation)) return;
  TIdHTTPRequest& req = Request();
  if (!FSavedCredentials) {
    FSavedCredentials = std::make_unique<TSavedCredentials>();
    FSavedCredentials->Username = req.Username();
    FSavedCredentials->Password = req.Password();
    FSavedCredentials->BasicAuthentication = req.BasicAuthentication();
    FSavedCredentials->CustomHeaders = req.CustomHeaders().Lines();
  }
  req.SetUsername("");
  req.SetPassword("");
  req.SetBasicAuthentication(false);
  req.SetAuthentication(nullptr);
  FURI->SetUsername("");
  FURI->SetPassword("");
  for (int i = req.CustomHeaders().Count() - 1; i >= 0; --i)
    if (AsciiTextIsSame(req.CustomHeaders().GetName(i), "Authorization"))
      req.CustomHeaders().Delete(i);
}

bool TIdCustomHTTP::HandleAuthorization(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse) {
  ++FAuthRetries;
  TIdHeaderList& challenges = AResponse.WWWAuthenticate();
  if (ARequest.Authentication() == nullptr) {
    TIdAuthenticationClass cls = SchemeClassOf(challenges);
    if (OnSelectAuthorization) OnSelectAuthorization(this, cls, &challenges);
    if (cls == nullptr) return false;
    ARequest.SetAuthentication(cls());
  }
  TIdAuthentication* auth = ARequest.Authentication();
  auth->SetUsername(ARequest.Username());
  auth->SetPassword(ARequest.Password());
  auth->Params().SetValue("Authorization", auth->Authentication());
  auth->SetAuthParams(challenges);
  return StepAuthentication(*auth, [&] {
    if (!OnAuthorization) return false;
    auth->SetUsername(ARequest.Username());
    auth->SetPassword(ARequest.Password());
    bool handled = false;
    OnAuthorization(this, auth, handled);
    if (!handled) return false;
    ARequest.SetBasicAuthentication(true);
    ARequest.SetUsername(auth->Username());
    ARequest.SetPassword(auth->Password());
    return true;
  });
}

bool TIdCustomHTTP::HandleProxyAuthorization(TIdHTTPRequest& /*ARequest*/,
                                             TIdHTTPResponse& AResponse) {
  ++FAuthProxyRetries;
  TIdProxyConnectionInfo& proxy = *FProxyParameters;
  TIdHeaderList& challenges = AResponse.ProxyAuthenticate();
  if (proxy.Authentication() == nullptr) {
    TIdAuthenticationClass cls = SchemeClassOf(challenges);
    if (OnSelectProxyAuthorization) OnSelectProxyAuthorization(this, cls, &challenges);
    if (cls == nullptr) return false;
    proxy.SetAuthentication(cls());
  }
  TIdAuthentication* auth = proxy.Authentication();
  auth->SetUsername(proxy.ProxyUsername());
  auth->SetPassword(proxy.ProxyPassword());
  auth->SetAuthParams(challenges);
  return StepAuthentication(*auth, [&] {
    if (!OnProxyAuthorization) return false;
    auth->SetUsername(proxy.ProxyUsername());
    auth->SetPassword(proxy.ProxyPassword());
    bool handled = false;
    OnProxyAuthorization(this, auth, handled);
    if (!handled) return false;
    proxy.SetProxyUsername(auth->Username());
    proxy.SetProxyPassword(auth->Password());
    return true;
  });
}

// -- forms --

std::string TIdCustomHTTP::FormEncodeValue(const std::string& AValue,
                                           const IIdTextEncoding* AByteEncoding) {
  return http_detail::FormEncodeValue(AValue, AByteEncoding);
}

std::string TIdCustomHTTP::EncodeFormFields(const TStringList& ASource,
                                            const IIdTextEncoding* AByteEncoding) {
  return http_detail::EncodeFormFields(ASource, AByteEncoding, FOptions & hoForceEncodeParams);
}

}  // namespace brv

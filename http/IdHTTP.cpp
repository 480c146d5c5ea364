#include "http/IdHTTP.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <typeinfo>

#include "http/IdCharsets.h"
#include "http/private/Challenge.h"
#include "http/private/FormEncoding.h"
#include "http/private/HTTPResponseDecoder.h"
#include "http/private/RequestChecks.h"
#include "http/private/RequestRules.h"
#include "http/private/ResponseRules.h"
#include "http/private/ResponseSink.h"
#include "http/private/Text.h"
#include "tls/IdSSLIOHandlerSocketBase.h"

namespace brv {

using namespace http_detail;

namespace {

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
  if (FResponseCode == -1) FResponseCode = ResponseCodeOf(FResponseText);
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
  const TIdHTTPRequest& req = FHTTP->Request();
  keep = keep && KeepAliveByHeaders(req, *this, FHTTP->ProtocolVersion(), ThroughProxy(req));
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

  CheckRequestValues(req);
  req.ComposeRawHeaders();
  // The proxy's credentials go to the proxy only: on a request it forwards or on the CONNECT
  // that opens a tunnel, never through the tunnel to the server.
  if (req.UseProxy() == ctProxy || AsciiTextIsSame(req.Method(), "CONNECT"))
    FHTTP->ProxyParams().SetHeaders(req.RawHeaders());
  if (AURI != nullptr && FHTTP->AllowCookies() && FHTTP->CookieManager() != nullptr)
    FHTTP->CookieManager()->GenerateClientCookies(*AURI, AsciiTextIsSame(AURI->Protocol(), "HTTPS"),
                                                  req.RawHeaders());
  // Values produced by scheme objects and the cookie manager are checked as they stand.
  CheckHeaderLines(req.RawHeaders().Lines());

  TIdIOHandler* io = FHTTP->IOHandler();
  const bool opened = !io->WriteBufferingActive();
  if (opened) io->WriteBufferOpen(-1);
  try {
    io->Write(RequestHeadOf(req.Method(), req.URL(), FHTTP->ProtocolVersion(),
                            req.RawHeaders().Lines()));
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

void TIdHTTPProtocol::ReadBodyInto(TStream* ATarget) {
  TStream* saved = FResponse->ContentStream();
  FResponse->SetContentStream(ATarget);
  try {
    ReadBodyGuarded();
  } catch (...) {
    FResponse->SetContentStream(saved);
    throw;
  }
  FResponse->SetContentStream(saved);
}

void TIdHTTPProtocol::DiscardBody() {
  ReadBodyInto(nullptr);
}

void TIdHTTPProtocol::RaiseProtocolError(const std::vector<int>& AIgnoreReplies) {
  const int code = FResponse->ResponseCode();
  if ((FHTTP->HTTPOptions() & hoNoProtocolErrorException) || std::find(AIgnoreReplies.begin(), AIgnoreReplies.end(), code) != AIgnoreReplies.end()) {
    if (FHTTP->HTTPOptions() & hoWantProtocolErrorContent)
      ReadBodyGuarded();
    else
      DiscardBody();
    return;
  }
  TMemoryStream temp;
  ReadBodyInto(&temp);
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
    std::string method = req.Method();
    // Counted only when there is somewhere to go.
    if (location.empty() || !FHTTP->ConfirmRedirect(location, method, ++FHTTP->FRedirectCount)) {
      RaiseProtocolError(AIgnoreReplies);
      return wnJustExit;
    }
    const bool follow =
        FHTTP->HandleRedirects() && FHTTP->FRedirectCount < FHTTP->RedirectMaximum();
    if (follow) {
      FHTTP->DropCredentialsForRedirect(location);
      req.SetURL(location);
      if (RedirectTurnsToGet(code, FHTTP->HTTPOptions() & hoTreat302Like303)) {
        req.SetSource(nullptr);
        req.SetMethod("GET");
      } else {
        req.SetMethod(method);
      }
      req.SetMethodOverride("");
    } else {
      resp.SetLocation(location);
    }
    if (FHTTP->Connected()) DiscardBody();
    return follow ? wnGoToURL : wnJustExit;
  }
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
    // A challenge that is not answered at once is a refusal: its body is never taken as the
    // answer. The scheme object of an accepted one stays for the caller's next call.
    if (!accepted || !(FHTTP->HTTPOptions() & hoInProcessAuth)) {
      RaiseProtocolError(AIgnoreReplies);
      return wnJustExit;
    }
    DiscardBody();
    return wnAuthRequest;
  }
  if (code / 100 != 2) {
    RaiseProtocolError(AIgnoreReplies);
    return wnJustExit;
  }
  if (IsHeadRequest(req) || code == 204)
    DiscardBody();
  else
    FHTTP->ReadBody(req, resp);
  return wnJustExit;
}

// ---- client --------------------------------------------------------------------------------

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
    if (FSavedCredentials) FSavedCredentials->Restore(req);
    FSavedCredentials.reset();
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
  // A signer in front of the engine has usually read the same URL just before.
  const TIdURI& uri = ParsedURIOf(req.URL());
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

  PrepareForConnection(req, type, FProtocolVersion, *FURI);
  // A tunnel is opened once per connection.
  const bool tunnel =
      (type == ctSSLProxy || (type == ctProxy && (FOptions & hoNonSSLProxyUseConnectVerb))) &&
      !Connected();

  req.SetAcceptEncoding(
      AcceptEncodingOf(req.AcceptEncoding(), FCompressor != nullptr && FCompressor->IsReady()));

  if (tunnel) {
    std::unique_ptr<TIdHTTPProtocol> connect = NewProtocol();
    TIdHTTPRequest& creq = connect->Request();
    PrepareConnectRequest(creq, req, destination);
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
    TResponseSink sink(*FDecoder, AResponse, IOHandler()->DefStringEncoding());
    if (AStoreCookies) sink.OnHeadParsed = [this] { StoreCookies(); };
    FDecoder->BeginResponse(AEmptyStatusEndsHead);
    DriveDecoder();
  } catch (...) {
    Disconnect();
    throw;
  }
}

void TIdCustomHTTP::StoreCookies() {
  if (!FAllowCookies) return;
  static const std::string kSetCookie = "Set-Cookie";
  TIdHeaderList& head = Response().RawHeaders();
  TIdHeaderList& meta = Response().MetaHTTPEquiv().RawHeaders();
  // Most answers set no cookie: then no list is made and no line copied.
  if (head.IndexOfName(kSetCookie) < 0 && meta.IndexOfName(kSetCookie) < 0) return;
  TStringList cookies;
  head.Extract(kSetCookie, &cookies);
  meta.Extract(kSetCookie, &cookies);
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
  TResponseSink sink(*FDecoder, AResponse,
                     IOHandler() != nullptr ? IOHandler()->DefStringEncoding()
                                            : IndyTextEncoding_Default());
  sink.Target = into;
  if (announced.Chunked && OnChunkReceived)
    sink.OnChunk = [this](TIdBytes& AChunk) { OnChunkReceived(this, AChunk); };
  const TBodyStart start = BodyStartOf(announced, AResponse);
  if (start.Framing == TBodyFraming::Chunked) DoStatus(hsStatusText, "Chunk Started");
  FDecoder->BeginBody(start.Framing, start.Length, start.Boundary);
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
  if (!FSavedCredentials) FSavedCredentials = std::make_unique<TSavedCredentials>(Request());
  DropCredentials(Request());
  FURI->SetUsername("");
  FURI->SetPassword("");
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

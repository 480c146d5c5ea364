#include "http/IdHTTP.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <typeinfo>

#include "http/IdCharsets.h"
#include "http/private/HTTPResponseDecoder.h"
#include "http/private/Text.h"
#include "tls/IdSSLIOHandlerSocketBase.h"

namespace brv {

using namespace http_detail;

namespace {

const char* VersionText(TIdHTTPProtocolVersion V) {
  return V == pv1_0 ? "1.0" : "1.1";
}

bool IsHttpsProtocol(const std::string& AProtocol) {
  return AsciiTextIsSame(AProtocol, "https");
}

// The default port text of a protocol ("" when it has none).
std::string_view DefaultPortOf(const std::string& AProtocol) {
  if (AsciiTextIsSame(AProtocol, "http")) return "80";
  if (AsciiTextIsSame(AProtocol, "https")) return "443";
  return {};
}

std::uint16_t PortNumber(const std::string& APort) {
  const auto v = ParseInt64(APort);
  if (!v || *v < 1 || *v > 65535) return 80;
  return static_cast<std::uint16_t>(*v);
}

bool IsValidIPv6(const std::string& AHost) {
  unsigned char buf[16];
  return inet_pton(AF_INET6, AHost.c_str(), buf) == 1;
}

bool ContainsCode(const std::vector<int>& ACodes, int ACode) {
  return std::find(ACodes.begin(), ACodes.end(), ACode) != ACodes.end();
}

// True when a byte of S below ALimit (at most 128) is one AMatch accepts. Eight bytes at a
// time are tested for any byte below the limit first: request values are mostly long runs of
// printable text.
template <unsigned ALimit, class TMatch>
bool HasControl(const std::string& S, TMatch AMatch) {
  static_assert(ALimit <= 128);
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  const char* p = S.data();
  const size_t n = S.size();
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    if (((word - kOnes * ALimit) & ~word & kHighs) == 0) continue;
    for (size_t k = i; k < i + 8; ++k)
      if (AMatch(p[k])) return true;
  }
  for (; i < n; ++i)
    if (AMatch(p[i])) return true;
  return false;
}

// A CR, LF or NUL anywhere in the text.
bool HasLineBreakOrNul(const std::string& S) {
  return HasControl<'\r' + 1>(S, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

bool HasBreakNulOrSpace(const std::string& S) {
  return HasControl<' ' + 1>(
      S, [](char c) { return c == '\r' || c == '\n' || c == '\0' || c == ' '; });
}

// No value may carry a line break into the message: it would end the header block early or
// start a header of its own.
void CheckRequestLine(TIdHTTPRequest& ARequest) {
  if (HasBreakNulOrSpace(ARequest.Method()) || ARequest.Method().empty())
    throw EIdHTTPInvalidRequestValue("Invalid request method: \"" + ARequest.Method() + "\"");
  if (HasBreakNulOrSpace(ARequest.URL()))
    throw EIdHTTPInvalidRequestValue("Invalid request target: it holds a CR, LF, NUL or space");
  if (HasBreakNulOrSpace(ARequest.Host()))
    throw EIdHTTPInvalidRequestValue("Invalid host: it holds a CR, LF, NUL or space");
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
  const auto is = [](const std::string& AValue, std::string_view AWord) {
    return AsciiTextIsSame(TrimView(AValue), AWord);
  };
  if (keep) {
    TIdHTTPRequest& req = FHTTP->Request();
    const bool proxied = req.UseProxy() == ctProxy || req.UseProxy() == ctSSLProxy;
    if (is(req.Connection(), "close")) keep = false;
    if (proxied && is(req.ProxyConnection(), "close")) keep = false;
  }
  if (keep) {
    const bool proxied =
        FHTTP->Request().UseProxy() == ctProxy || FHTTP->Request().UseProxy() == ctSSLProxy;
    if (FHTTP->ProtocolVersion() == pv1_0) {
      keep = is(Connection(), "keep-alive");
      if (keep && proxied) keep = is(ProxyConnection(), "keep-alive");
    } else {
      keep = !is(Connection(), "close");
      if (keep && proxied) keep = !is(ProxyConnection(), "close");
    }
  }
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

  CheckRequestLine(req);
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
      if (code == 303 || (code == 302 && (FHTTP->HTTPOptions() & hoTreat302Like303))) {
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
  if (AsciiTextIsSame(req.Method(), "HEAD") || AsciiTextIsSame(req.MethodOverride(), "HEAD") ||
      code == 204)
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
  TMemoryStream stream;
  Get(AURL, &stream, AIgnoreReplies);
  return DecodeBody(stream);
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
  if (Request().ContentType().empty() || MediaTypeIs(Request().ContentType(), "text/html") ||
      MediaTypeIs(Request().ContentType(), "text/html-sandboxed") ||
      MediaTypeIs(Request().ContentType(), "application/xhtml+xml"))
    Request().SetContentType("application/x-www-form-urlencoded");
  TStringStream body(EncodeFormFields(ASource, AByteEncoding));
  DoPost(AURL, &body, AResponseContent);
}

std::string TIdCustomHTTP::Post(const std::string& AURL, TStream* ASource) {
  TMemoryStream out;
  Post(AURL, ASource, &out);
  return DecodeBody(out);
}

std::string TIdCustomHTTP::Post(const std::string& AURL, const std::string& ASourceFile) {
  TMemoryStream out;
  Post(AURL, ASourceFile, &out);
  return DecodeBody(out);
}

std::string TIdCustomHTTP::Post(const std::string& AURL, const TStringList& ASource,
                                const IIdTextEncoding* AByteEncoding) {
  TMemoryStream out;
  Post(AURL, ASource, &out, AByteEncoding);
  return DecodeBody(out);
}

void TIdCustomHTTP::Put(const std::string& AURL, TStream* ASource, TStream* AResponseContent) {
  ExecuteRequest("PUT", AURL, ASource, AResponseContent, {});
}

std::string TIdCustomHTTP::Put(const std::string& AURL, TStream* ASource) {
  TMemoryStream out;
  Put(AURL, ASource, &out);
  return DecodeBody(out);
}

void TIdCustomHTTP::Patch(const std::string& AURL, TStream* ASource, TStream* AResponseContent) {
  ExecuteRequest("PATCH", AURL, ASource, AResponseContent, {});
}

std::string TIdCustomHTTP::Patch(const std::string& AURL, TStream* ASource) {
  TMemoryStream out;
  Patch(AURL, ASource, &out);
  return DecodeBody(out);
}

void TIdCustomHTTP::Delete(const std::string& AURL, TStream* AResponseContent) {
  ExecuteRequest("DELETE", AURL, nullptr, AResponseContent, {});
}

std::string TIdCustomHTTP::Delete(const std::string& AURL) {
  TMemoryStream out;
  Delete(AURL, &out);
  return DecodeBody(out);
}

void TIdCustomHTTP::Options(const std::string& AURL, TStream* AResponseContent) {
  ExecuteRequest("OPTIONS", AURL, nullptr, AResponseContent, {});
}

std::string TIdCustomHTTP::Options(const std::string& AURL) {
  TMemoryStream out;
  Options(AURL, &out);
  return DecodeBody(out);
}

void TIdCustomHTTP::Trace(const std::string& AURL, TStream* AResponseContent) {
  ExecuteRequest("TRACE", AURL, nullptr, AResponseContent, {});
}

std::string TIdCustomHTTP::Trace(const std::string& AURL) {
  TMemoryStream out;
  Trace(AURL, &out);
  return DecodeBody(out);
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

void TIdCustomHTTP::ResolveRequestURL() {
  TIdHTTPRequest& req = Request();
  TIdURI uri(req.URL());
  if (!uri.Username().empty()) {
    req.SetUsername(uri.Username());
    req.SetPassword(uri.Password());
  }
  FURI->SetUsername(req.Username());
  FURI->SetPassword(req.Password());
  FURI->SetPath(MergePath(FURI->Path(), uri.Path()));
  FURI->SetDocument(uri.Document());
  FURI->SetParams(uri.Params());
  if (!uri.Host().empty()) FURI->SetHost(uri.Host());
  if (!uri.Protocol().empty())
    FURI->SetProtocol(uri.Protocol());
  else if (!IsHttpsProtocol(FURI->Protocol()))
    FURI->SetProtocol("http");
  if (!uri.Port().empty()) {
    FURI->SetPort(uri.Port());
  } else if (AsciiTextIsSame(uri.Protocol(), "http")) {
    FURI->SetPort("80");
  } else if (AsciiTextIsSame(uri.Protocol(), "https")) {
    FURI->SetPort("443");
  } else if (FURI->Port().empty()) {
    throw EIdUnknownProtocol();
  }
  const bool options =
      AsciiTextIsSame(req.Method(), "OPTIONS") || AsciiTextIsSame(req.MethodOverride(), "OPTIONS");
  const std::string target = options && FURI->Document() == "*" ? "*" : FURI->GetPathAndParams();
  req.SetURL(target);
  req.SetIPVersion(uri.IPVersion());
  FURI->SetIPVersion(uri.IPVersion());

  if (FProtocolVersion != pv1_1) {
    for (const char* m : {"TRACE", "PUT", "OPTIONS", "DELETE", "PATCH"}) {
      if (AsciiTextIsSame(req.Method(), m) || AsciiTextIsSame(req.MethodOverride(), m))
        throw EIdException("Request method requires HTTP version 1.1");
    }
  }
  if (req.Source() != nullptr)
    req.SetContentLength(req.Source()->Size());
  else if (AsciiTextIsSame(req.Method(), "POST") || AsciiTextIsSame(req.Method(), "PUT"))
    req.SetContentLength(0);
  else
    req.SetContentLength(-1);

  std::string host = FURI->Host();
  if (FURI->IPVersion() == Id_IPv6 && IsValidIPv6(host)) host = "[" + host + "]";
  const std::string_view defaultPort = DefaultPortOf(FURI->Protocol());
  if (FURI->Port() != defaultPort || defaultPort.empty()) host += ":" + FURI->Port();
  req.SetHost(host);
  CheckRequestLine(req);  // before anything connects
}

TIdHTTPConnectionType TIdCustomHTTP::SelectTarget() {
  const TIdIPVersion uriVersion = FURI->IPVersion();
  TIdHTTPConnectionType type;
  std::string host;
  std::uint16_t port;
  if (FProxyParameters->ProxyServer().empty()) {
    if (IPVersion() != uriVersion && Connected()) Disconnect();
    host = FURI->Host();
    port = PortNumber(FURI->Port());
    if ((!TextIsSame(host, Host()) || port != Port()) && Connected()) Disconnect();
    type = IsHttpsProtocol(FURI->Protocol()) ? ctSSL : ctNormal;
  } else {
    host = FProxyParameters->ProxyServer();
    port = static_cast<std::uint16_t>(FProxyParameters->ProxyPort());
    if ((!TextIsSame(host, Host()) || port != Port()) && Connected()) Disconnect();
    type = IsHttpsProtocol(FURI->Protocol()) ? ctSSLProxy : ctProxy;
  }
  SetHost(host);
  SetPort(port);
  return type;
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
  const http_detail::THTTPResponseDecoder::TAnnounced announced = FDecoder->Announced();
  bool body;
  if (announced.Chunked) {
    body = !(FOptions & hoNoReadChunked);
  } else if (announced.HasLength) {
    body = announced.Length > 0;
  } else if (MediaTypeIs(AResponse.ContentType(), "multipart")) {
    body = !(FOptions & hoNoReadMultipartMIME);
  } else {
    body = true;
  }
  if (!body) return false;
  const int code = AResponse.ResponseCode();
  if (AsciiTextIsSame(ARequest.Method(), "HEAD") ||
      AsciiTextIsSame(ARequest.MethodOverride(), "HEAD") || code / 100 == 1 || code == 204 ||
      code == 304)
    return (FOptions & hoWaitForUnexpectedData) && WaitForBodyData(100);
  if (code / 100 == 3) return WaitForBodyData(5000);
  return true;
}

void TIdCustomHTTP::ReadBody(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse) {
  if (!ResponseHasBody(ARequest, AResponse)) return;
  TStream* target = AResponse.ContentStream();
  const std::string& type = AResponse.ContentType();
  const bool html = MediaTypeIs(type, "text/html") || MediaTypeIs(type, "text/html-sandboxed") ||
                    MediaTypeIs(type, "application/xhtml+xml");
  const std::string sub = LowerAscii(MediaSubType(type));
  const bool xml = MediaTypeIs(type, "application/xml") ||
                   MediaTypeIs(type, "application/xml-external-parsed-entity") ||
                   MediaTypeIs(type, "application/xml-dtd") ||
                   (!MediaTypeIs(type, "text") && TextEndsWith(sub, "+xml"));
  const bool scanHtml = target != nullptr && html && !(FOptions & hoNoParseMetaHTTPEquiv);
  const bool scanXml = target != nullptr && xml && !(FOptions & hoNoParseXmlCharset);
  const bool decompress = target != nullptr && FCompressor != nullptr && FCompressor->IsReady() &&
                          (AsciiTextIsSame(AResponse.ContentEncoding(), "deflate") ||
                           AsciiTextIsSame(AResponse.ContentEncoding(), "gzip"));

  std::unique_ptr<TMemoryStream> collect;
  TStream* into = target;
  if (decompress || ((scanHtml || scanXml) && dynamic_cast<TMemoryStream*>(target) == nullptr)) {
    collect = std::make_unique<TMemoryStream>();
    into = collect.get();
  }
  const std::int64_t scanStart = into != nullptr ? into->Position() : 0;

  const http_detail::THTTPResponseDecoder::TAnnounced announced = FDecoder->Announced();
  TResponseEvents events(*this, AResponse);
  events.Target = into;
  events.Chunks = announced.Chunked && into != nullptr && OnChunkReceived;
  if (announced.Chunked) {
    DoStatus(hsStatusText, "Chunk Started");
    FDecoder->BeginBody(http_detail::TBodyFraming::Chunked);
  } else if (announced.HasLength) {
    FDecoder->BeginBody(http_detail::TBodyFraming::Counted, announced.Length);
  } else if (MediaTypeIs(AResponse.ContentType(), "multipart")) {
    FDecoder->BeginBody(
        http_detail::TBodyFraming::Multipart, -1,
        HeaderSubItem(AResponse.RawHeaders().GetValue("Content-Type"), "boundary", QuoteHTTP));
  } else {
    FDecoder->BeginBody(http_detail::TBodyFraming::UntilClose);
  }
  BeginWork(wmRead, announced.HasLength ? announced.Length : 0);
  try {
    DriveDecoder();
  } catch (...) {
    EndWork(wmRead);
    throw;
  }
  EndWork(wmRead);

  if (decompress) {
    collect->SetPosition(0);
    TMemoryStream decoded;
    if (AsciiTextIsSame(AResponse.ContentEncoding(), "deflate"))
      FCompressor->DecompressDeflateStream(*collect, decoded);
    else
      FCompressor->DecompressGZipStream(*collect, decoded);
    collect->Clear();
    decoded.SetPosition(0);
    if (decoded.Size() > 0) collect->CopyFrom(decoded, 0);
  }
  TStream* scanned = collect ? static_cast<TStream*>(collect.get()) : target;
  if (scanHtml && scanned != nullptr) {
    TIdMetaHTTPEquiv& meta = AResponse.MetaHTTPEquiv();
    meta.ProcessMetaHTTPEquiv(*scanned);
    if (!meta.CharSet().empty()) AResponse.SetCharSet(meta.CharSet());
  }
  if (scanXml && scanned != nullptr) {
    const std::int64_t pos = scanned->Position();
    scanned->SetPosition(collect ? 0 : scanStart);
    AResponse.SetCharSet(DetectXmlCharset(*scanned));
    scanned->SetPosition(pos);
  }
  if (collect && target != nullptr && collect->Size() > 0) target->CopyFrom(*collect, 0);
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
  TIdURI target(ALocation);
  if (target.Protocol().empty() && target.Host().empty()) return;  // relative: same origin
  const std::string protocol = target.Protocol().empty() ? FURI->Protocol() : target.Protocol();
  const std::string host = target.Host().empty() ? FURI->Host() : target.Host();
  std::string port = target.Port().empty() ? std::string(DefaultPortOf(protocol)) : target.Port();
  if (TextIsSame(protocol, FURI->Protocol()) && TextIsSame(host, FURI->Host()) &&
      port == FURI->Port())
    return;
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
  if (ARequest.Authentication() == nullptr) {
    TIdAuthenticationClass cls = nullptr;
    TIdHeaderList& lines = AResponse.WWWAuthenticate();
    for (int i = 0; i < lines.Count() && cls == nullptr; ++i) {
      std::string line = lines[i];
      cls = FindSchemeClass(Fetch(line, " "));
    }
    if (OnSelectAuthorization) OnSelectAuthorization(this, cls, &lines);
    if (cls == nullptr) return false;
    ARequest.SetAuthentication(cls());
  }
  TIdAuthentication* auth = ARequest.Authentication();
  auth->SetUsername(ARequest.Username());
  auth->SetPassword(ARequest.Password());
  auth->Params().SetValue("Authorization", auth->Authentication());
  auth->SetAuthParams(AResponse.WWWAuthenticate());
  for (;;) {
    switch (auth->Next()) {
      case wnDoRequest:
        return true;
      case wnFail:
        return false;
      case wnAskTheProgram: {
        if (!OnAuthorization) return false;
        auth->SetUsername(ARequest.Username());
        auth->SetPassword(ARequest.Password());
        bool handled = false;
        OnAuthorization(this, auth, handled);
        if (!handled) return false;
        ARequest.SetBasicAuthentication(true);
        ARequest.SetUsername(auth->Username());
        ARequest.SetPassword(auth->Password());
        break;
      }
    }
  }
}

bool TIdCustomHTTP::HandleProxyAuthorization(TIdHTTPRequest& /*ARequest*/,
                                             TIdHTTPResponse& AResponse) {
  ++FAuthProxyRetries;
  TIdProxyConnectionInfo& proxy = *FProxyParameters;
  if (proxy.Authentication() == nullptr) {
    TIdAuthenticationClass cls = nullptr;
    TIdHeaderList& lines = AResponse.ProxyAuthenticate();
    for (int i = 0; i < lines.Count() && cls == nullptr; ++i) {
      std::string line = lines[i];
      cls = FindSchemeClass(Fetch(line, " "));
    }
    if (OnSelectProxyAuthorization) OnSelectProxyAuthorization(this, cls, &lines);
    if (cls == nullptr) return false;
    proxy.SetAuthentication(cls());
  }
  TIdAuthentication* auth = proxy.Authentication();
  auth->SetUsername(proxy.ProxyUsername());
  auth->SetPassword(proxy.ProxyPassword());
  auth->SetAuthParams(AResponse.ProxyAuthenticate());
  for (;;) {
    switch (auth->Next()) {
      case wnDoRequest:
        return true;
      case wnFail:
        return false;
      case wnAskTheProgram: {
        if (!OnProxyAuthorization) return false;
        auth->SetUsername(proxy.ProxyUsername());
        auth->SetPassword(proxy.ProxyPassword());
        bool handled = false;
        OnProxyAuthorization(this, auth, handled);
        if (!handled) return false;
        proxy.SetProxyUsername(auth->Username());
        proxy.SetProxyPassword(auth->Password());
        break;
      }
    }
  }
}

// -- forms --

std::string TIdCustomHTTP::FormEncodeValue(const std::string& AValue,
                                           const IIdTextEncoding* AByteEncoding) {
  const IIdTextEncoding* enc = AByteEncoding != nullptr ? AByteEncoding : IndyTextEncoding_UTF8();
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < AValue.size();) {
    const auto c = static_cast<unsigned char>(AValue[i]);
    if (c == ' ') {
      out += '+';
      ++i;
      continue;
    }
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' ||
        c == '-' || c == '.' || c == '_') {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // One whole UTF-8 character.
    size_t len = 1;
    if (c >= 0xF0 && c <= 0xF4)
      len = 4;
    else if (c >= 0xE0)
      len = 3;
    else if (c >= 0xC2 && c < 0xE0)
      len = 2;
    len = std::min(len, AValue.size() - i);
    const std::string ch = AValue.substr(i, len);
    TIdBytes bytes;
    if (enc->Encode(ch, bytes) > 0) {
      std::string tmp;
      const TIdBytes utf32 = IndyTextEncoding_UTF8()->GetBytes(ch);
      // The code point of the character, for the numeric character reference.
      char32_t cp = 0;
      if (len == 1)
        cp = c;
      else {
        cp = c & (0xFF >> (len + 1));
        for (size_t k = 1; k < len; ++k)
          cp = (cp << 6) | (static_cast<unsigned char>(ch[k]) & 0x3F);
      }
      out += "&#" + std::to_string(static_cast<unsigned long>(cp)) + ";";
      (void)utf32;
    } else {
      for (std::uint8_t b : bytes) {
        out += '%';
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
    }
    i += len;
  }
  return out;
}

std::string TIdCustomHTTP::EncodeFormFields(const TStringList& ASource,
                                            const IIdTextEncoding* AByteEncoding) {
  std::string result;
  for (int i = 0; i < ASource.Count(); ++i) {
    const std::string& line = ASource[i];
    std::string field;
    if (FOptions & hoForceEncodeParams) {
      const size_t sep = line.find(ASource.NameValueSeparator());
      if (sep != std::string::npos)
        field = FormEncodeValue(line.substr(0, sep), AByteEncoding) + "=" +
                FormEncodeValue(line.substr(sep + 1), AByteEncoding);
      else
        field = FormEncodeValue(line, AByteEncoding);
    } else {
      field = line;
    }
    if (i > 0) result += "&";
    result += field;
  }
  if (ASource.Count() == 1) result = Trim(result);
  return result;
}

}  // namespace brv

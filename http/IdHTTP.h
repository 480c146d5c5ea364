// The HTTP/1.0 and 1.1 client: request composition, status and header reading, body
// framing, redirects, authentication challenges and keep-alive.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/IdURI.h"
#include "base/Streams.h"
#include "base/StringList.h"
#include "http/IdAuthentication.h"
#include "http/IdCharsets.h"
#include "http/IdCookieManager.h"
#include "http/IdEntityHeaderInfo.h"
#include "http/IdHTTPResponseErrors.h"
#include "transport/IdException.h"
#include "transport/IdTCPClient.h"
#include "transport/IdTextEncoding.h"

namespace brv {

enum TIdHTTPProtocolVersion { pv1_0, pv1_1 };
enum TIdHTTPConnectionType { ctNormal, ctSSL, ctProxy, ctSSLProxy };
enum TIdHTTPWhatsNext { wnGoToURL, wnJustExit, wnDontKnow, wnReadAndGo, wnAuthRequest };

// Options of the client, or-ed together into TIdHTTPOptions.
enum TIdHTTPOption : unsigned {
  hoInProcessAuth = 1u << 0,
  hoKeepOrigProtocol = 1u << 1,
  hoForceEncodeParams = 1u << 2,
  hoNonSSLProxyUseConnectVerb = 1u << 3,
  hoNoParseMetaHTTPEquiv = 1u << 4,
  hoWaitForUnexpectedData = 1u << 5,
  hoTreat302Like303 = 1u << 6,
  hoNoProtocolErrorException = 1u << 7,
  hoNoReadMultipartMIME = 1u << 8,
  hoNoParseXmlCharset = 1u << 9,
  hoWantProtocolErrorContent = 1u << 10,
  hoNoReadChunked = 1u << 11,
};
using TIdHTTPOptions = unsigned;

// ---- exceptions ----

// An error reply of a protocol server.
BRV_DECLARE_EXCEPTION(EIdReplyError, EIdException);

// An error reply with its numeric code.
class EIdReplyRFCError : public EIdReplyError {
 public:
  EIdReplyRFCError(int AErrorCode, const std::string& AReplyMessage)
      : EIdReplyError(AReplyMessage), FErrorCode(AErrorCode) {}
  const char* ClassName() const noexcept override { return "EIdReplyRFCError"; }
  int ErrorCode() const noexcept { return FErrorCode; }

 private:
  int FErrorCode;
};

// An HTTP error status: the code, the status line as message and the body as ErrorMessage.
class EIdHTTPProtocolException : public EIdReplyRFCError {
 public:
  EIdHTTPProtocolException(int anErrCode, const std::string& asReplyMessage,
                           const std::string& asErrorMessage)
      : EIdReplyRFCError(anErrCode, asReplyMessage), FErrorMessage(asErrorMessage) {}
  const char* ClassName() const noexcept override { return "EIdHTTPProtocolException"; }
  // The response body, decoded with the response's character set.
  const std::string& ErrorMessage() const noexcept { return FErrorMessage; }

 private:
  std::string FErrorMessage;
};

BRV_DECLARE_EXCEPTION(EIdUnknownProtocol, EIdException, "Unknown Protocol");
BRV_DECLARE_EXCEPTION(EIdIOHandlerPropInvalid, EIdTCPConnectionError,
                      "IOHandler value is not valid");
// A request value that would change the message if it were sent: a CR, LF or NUL in a header,
// or a CR, LF, NUL or space in the method, the request target or the host. Nothing is sent.
BRV_DECLARE_EXCEPTION(EIdHTTPInvalidRequestValue, EIdException);

class TIdCustomHTTP;

namespace http_detail {
class THTTPResponseDecoder;
struct TSavedCredentials;
}

// Decoder of compressed bodies. The client's component attaches none.
class TIdZLibCompressorBase : public TComponent {
 public:
  BRV_CLASS_NAME(TIdZLibCompressorBase)
  using TComponent::TComponent;
  virtual bool IsReady() const = 0;
  virtual void DecompressDeflateStream(TStream& AInStream, TStream& AOutStream) = 0;
  virtual void DecompressGZipStream(TStream& AInStream, TStream& AOutStream) = 0;
};

// A request of the client: the header fields plus what the request line and body need.
class TIdHTTPRequest : public TIdRequestHeaderInfo {
 public:
  BRV_CLASS_NAME(TIdHTTPRequest)
  explicit TIdHTTPRequest(TIdCustomHTTP* AHTTP);

  // The request target written in the request line.
  const std::string& URL() const { return FURL; }
  void SetURL(const std::string& V) { FURL = V; }
  const std::string& Method() const { return FMethod; }
  void SetMethod(const std::string& V) { FMethod = V; }
  // The body to send (not owned).
  TStream* Source() const { return FSourceStream; }
  void SetSource(TStream* V) { FSourceStream = V; }
  TIdHTTPConnectionType UseProxy() const { return FUseProxy; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion V) { FIPVersion = V; }
  // Host, ":" and port of the origin server.
  const std::string& Destination() const { return FDestination; }
  void SetDestination(const std::string& V) { FDestination = V; }
  // The client this request belongs to.
  TIdCustomHTTP* HTTP() const { return FHTTP; }

 private:
  friend class TIdCustomHTTP;
  TIdCustomHTTP* FHTTP;
  std::string FURL;
  std::string FMethod;
  TStream* FSourceStream = nullptr;
  TIdHTTPConnectionType FUseProxy = ctNormal;
  TIdIPVersion FIPVersion = Id_IPv4;
  std::string FDestination;
};

// The response of the last call: the header fields plus the status and where the body goes.
class TIdHTTPResponse : public TIdResponseHeaderInfo {
 public:
  BRV_CLASS_NAME(TIdHTTPResponse)
  explicit TIdHTTPResponse(TIdCustomHTTP* AHTTP);
  ~TIdHTTPResponse() override;
  void Clear() override;

  // The status code, parsed from the status line on first read (-1 when it cannot be read).
  int ResponseCode() const;
  void SetResponseCode(int V) { FResponseCode = V; }
  // The whole status line; assigning it resets the code and sets ResponseVersion.
  const std::string& ResponseText() const { return FResponseText; }
  void SetResponseText(const std::string& V);
  // Whether the connection stays open after this response; computed at each read. With
  // ALookAtConnection false the connection is taken as open unless already known closed (no
  // system call): right after an answer, where the look before the next request on the
  // connection finds a peer that closed meanwhile.
  bool KeepAlive(bool ALookAtConnection = true);
  void SetKeepAlive(bool V) { FKeepAlive = V; }
  // Where the body goes (not owned).
  TStream* ContentStream() const { return FContentStream; }
  void SetContentStream(TStream* V) { FContentStream = V; }
  TIdHTTPProtocolVersion ResponseVersion() const { return FResponseVersion; }
  TIdMetaHTTPEquiv& MetaHTTPEquiv() { return *FMetaHTTPEquiv; }

 private:
  TIdCustomHTTP* FHTTP;
  mutable int FResponseCode = -1;
  std::string FResponseText;
  bool FKeepAlive = false;
  TStream* FContentStream = nullptr;
  TIdHTTPProtocolVersion FResponseVersion = pv1_1;
  std::unique_ptr<TIdMetaHTTPEquiv> FMetaHTTPEquiv;
};

// One request and its response, with the steps of an exchange.
class TIdHTTPProtocol : public TObject {
 public:
  BRV_CLASS_NAME(TIdHTTPProtocol)
  explicit TIdHTTPProtocol(TIdCustomHTTP* AConnection);
  ~TIdHTTPProtocol() override;

  // Writes the request line and the header block (cookies for AURI when given).
  void BuildAndSendRequest(TIdURI* AURI);
  // Reads the head of the answer (the status line into Response.ResponseText, the header lines
  // into Response.RawHeaders, parsed), skipping informational answers.
  void RetrieveHeaders(int AMaxHeaderCount);
  // Decides what the status means; reads or drops the body.
  TIdHTTPWhatsNext ProcessResponse(const std::vector<int>& AIgnoreReplies);

  TIdHTTPRequest& Request() { return *FRequest; }
  TIdHTTPResponse& Response() { return *FResponse; }

 private:
  friend class TIdCustomHTTP;
  void RaiseProtocolError(const std::vector<int>& AIgnoreReplies);
  void DiscardBody();
  void ReadBodyGuarded();
  // Reads the body into ATarget (nullptr: drops it); the response's content stream stays.
  void ReadBodyInto(TStream* ATarget);

  TIdCustomHTTP* FHTTP;
  std::unique_ptr<TIdHTTPRequest> FRequest;
  std::unique_ptr<TIdHTTPResponse> FResponse;
};

using TIdHTTPOnHeadersAvailableEvent =
    std::function<void(TObject* Sender, TIdHeaderList* AHeaders, bool& VContinue)>;
using TIdHTTPOnRedirectEvent = std::function<void(
    TObject* Sender, std::string& dest, int& NumRedirect, bool& Handled, std::string& VMethod)>;
using TIdOnSelectAuthorizationEvent = std::function<void(
    TObject* Sender, TIdAuthenticationClass& AuthenticationClass, TIdHeaderList* AuthInfo)>;
using TIdOnAuthorizationEvent =
    std::function<void(TObject* Sender, TIdAuthentication* Authentication, bool& Handled)>;
using TIdHTTPChunkReceivedEvent = std::function<void(TObject* Sender, TIdBytes& Chunk)>;

// The HTTP client. Each call merges its URL into the kept URI, reuses or opens the
// connection, sends the request, reads the answer by its framing, follows redirects and
// challenges as configured, and keeps the connection when both sides allow it.
class TIdCustomHTTP : public TIdTCPClientCustom {
 public:
  BRV_CLASS_NAME(TIdCustomHTTP)
  explicit TIdCustomHTTP(TComponent* AOwner = nullptr);
  ~TIdCustomHTTP() override;

  // ---- requests; AIgnoreReplies lists status codes that do not raise ----
  void Get(const std::string& AURL, TStream* AResponseContent);
  void Get(const std::string& AURL, TStream* AResponseContent,
           const std::vector<int>& AIgnoreReplies);
  std::string Get(const std::string& AURL);
  std::string Get(const std::string& AURL, const std::vector<int>& AIgnoreReplies);
  void Post(const std::string& AURL, TStream* ASource, TStream* AResponseContent);
  // Sends the file ASourceFile.
  void Post(const std::string& AURL, const std::string& ASourceFile, TStream* AResponseContent);
  // Sends the lines as form fields (application/x-www-form-urlencoded).
  void Post(const std::string& AURL, const TStringList& ASource, TStream* AResponseContent,
            const IIdTextEncoding* AByteEncoding = nullptr);
  std::string Post(const std::string& AURL, TStream* ASource);
  std::string Post(const std::string& AURL, const std::string& ASourceFile);
  std::string Post(const std::string& AURL, const TStringList& ASource,
                   const IIdTextEncoding* AByteEncoding = nullptr);
  void Put(const std::string& AURL, TStream* ASource, TStream* AResponseContent);
  std::string Put(const std::string& AURL, TStream* ASource);
  void Patch(const std::string& AURL, TStream* ASource, TStream* AResponseContent);
  std::string Patch(const std::string& AURL, TStream* ASource);
  void Delete(const std::string& AURL, TStream* AResponseContent);
  std::string Delete(const std::string& AURL);
  void Options(const std::string& AURL, TStream* AResponseContent);
  std::string Options(const std::string& AURL);
  void Trace(const std::string& AURL, TStream* AResponseContent);
  std::string Trace(const std::string& AURL);
  void Head(const std::string& AURL);

  // The request driver every call passes through, once per call.
  virtual void ExecuteRequest(const std::string& AMethod, const std::string& AURL, TStream* ASource,
                              TStream* AResponseContent, const std::vector<int>& AIgnoreReplies);

  // ---- properties ----
  int AuthRetries() const { return FAuthRetries; }
  int AuthProxyRetries() const { return FAuthProxyRetries; }
  TIdCookieManager* CookieManager() const { return FCookieManager; }
  void SetCookieManager(TIdCookieManager* AValue);
  TIdZLibCompressorBase* Compressor() const { return FCompressor; }
  void SetCompressor(TIdZLibCompressorBase* AValue);
  int MaxAuthRetries() const { return FMaxAuthRetries; }
  void SetMaxAuthRetries(int V) { FMaxAuthRetries = V; }
  int MaxHeaderLines() const { return FMaxHeaderLines; }
  void SetMaxHeaderLines(int V) { FMaxHeaderLines = V; }
  // The largest response body the client accepts, in bytes (-1: no limit, the default). A
  // larger body of any framing raises EIdHTTPResponseTooLarge and closes the connection.
  std::int64_t MaxResponseBodySize() const { return FMaxResponseBodySize; }
  void SetMaxResponseBodySize(std::int64_t V) { FMaxResponseBodySize = V; }
  bool AllowCookies() const { return FAllowCookies; }
  void SetAllowCookies(bool V) { FAllowCookies = V; }
  TIdAuthenticationManager* AuthenticationManager() const { return FAuthenticationManager; }
  void SetAuthenticationManager(TIdAuthenticationManager* AValue);
  TIdHTTPProtocolVersion ProtocolVersion() const { return FProtocolVersion; }
  void SetProtocolVersion(TIdHTTPProtocolVersion V) { FProtocolVersion = V; }
  int RedirectCount() const { return FRedirectCount; }
  int RedirectMaximum() const { return FRedirectMax; }
  void SetRedirectMaximum(int V) { FRedirectMax = V; }
  bool HandleRedirects() const { return FHandleRedirects; }
  void SetHandleRedirects(bool V) { FHandleRedirects = V; }
  TIdHTTPOptions HTTPOptions() const { return FOptions; }
  void SetHTTPOptions(TIdHTTPOptions V) { FOptions = V; }
  // The URI of the current or last request.
  TIdURI& URL() { return *FURI; }
  TIdHTTPRequest& Request() { return FHTTPProto->Request(); }
  void SetRequest(const TIdHTTPRequest& V) { FHTTPProto->Request().Assign(&V); }
  TIdHTTPResponse& Response() { return FHTTPProto->Response(); }
  int ResponseCode() { return Response().ResponseCode(); }
  const std::string& ResponseText() { return Response().ResponseText(); }
  TIdMetaHTTPEquiv& MetaHTTPEquiv() { return Response().MetaHTTPEquiv(); }
  TIdProxyConnectionInfo& ProxyParams() { return *FProxyParameters; }
  void SetProxyParams(const TIdProxyConnectionInfo& V) { FProxyParameters->Assign(&V); }

  // ---- events ----
  TIdHTTPOnHeadersAvailableEvent OnHeadersAvailable;
  TIdHTTPOnRedirectEvent OnRedirect;
  TIdOnSelectAuthorizationEvent OnSelectAuthorization;
  TIdOnSelectAuthorizationEvent OnSelectProxyAuthorization;
  TIdOnAuthorizationEvent OnAuthorization;
  TIdOnAuthorizationEvent OnProxyAuthorization;
  TIdHTTPChunkReceivedEvent OnChunkReceived;

  // Form-encodes one value: space as "+", letters, digits and "*-._" as they are, every
  // other byte as %XX, and a character the encoding cannot hold as "&#<code point>;".
  static std::string FormEncodeValue(const std::string& AValue,
                                     const IIdTextEncoding* AByteEncoding = nullptr);
  // Merges APath into the directory ABase ("/" delimited, ".." removing a segment).
  static std::string MergePath(const std::string& ABase, const std::string& APath);

 protected:
  // A new request/response pair of this client (used for the CONNECT tunnel).
  virtual std::unique_ptr<TIdHTTPProtocol> NewProtocol();
  // After a 401: selects or reuses the scheme object and says whether to repeat.
  virtual bool HandleAuthorization(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  // After a 407, the same for the proxy.
  virtual bool HandleProxyAuthorization(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  // Fires OnRedirect with HandleRedirects as the starting verdict.
  virtual bool ConfirmRedirect(std::string& ALocation, std::string& AMethod, int ARedirectCount);
  void Notification(TComponent* AComponent, TOperation Operation) override;
  // Retires finished authentication objects after a disconnect.
  void FireDisconnected() override;

  void ResolveRequestURL();
  TIdHTTPConnectionType SelectTarget();
  void OpenAndSendRequest();
  void EnsureConnected(TIdHTTPProtocol& AProtocol);
  // Reads one head into AResponse (see RetrieveHeaders). With AEmptyStatusEndsHead an empty
  // status line is the whole head; with AStoreCookies every head's cookies are stored.
  void ReadHead(TIdHTTPResponse& AResponse, int AMaxHeaderCount, bool AEmptyStatusEndsHead,
                bool AStoreCookies);
  void StoreCookies();
  // Reads the body by its framing into Response.ContentStream (dropped when none).
  void ReadBody(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  bool ResponseHasBody(TIdHTTPRequest& ARequest, TIdHTTPResponse& AResponse);
  bool WaitForBodyData(int ATimeout);
  std::string EncodeFormFields(const TStringList& ASource, const IIdTextEncoding* AByteEncoding);
  // Text of a body in the response's character set.
  std::string DecodeBody(TMemoryStream& AStream);
  void DoPost(const std::string& AURL, TStream* ASource, TStream* AResponseContent);
  // Drops credentials that must not follow a redirect to ALocation on another origin.
  void DropCredentialsForRedirect(const std::string& ALocation);

  int FAuthRetries = 0;
  int FAuthProxyRetries = 0;
  TIdCookieManager* FCookieManager = nullptr;
  TIdZLibCompressorBase* FCompressor = nullptr;
  std::unique_ptr<TIdCookieManager> FImplicitCookieManager;
  int FMaxAuthRetries = 3;
  int FMaxHeaderLines = 255;
  std::int64_t FMaxResponseBodySize = -1;
  bool FAllowCookies = true;
  TIdAuthenticationManager* FAuthenticationManager = nullptr;
  TIdHTTPProtocolVersion FProtocolVersion = pv1_1;
  int FRedirectCount = 0;
  int FRedirectMax = 15;
  bool FHandleRedirects = false;
  TIdHTTPOptions FOptions = hoForceEncodeParams;
  std::unique_ptr<TIdURI> FURI;
  std::unique_ptr<TIdHTTPProtocol> FHTTPProto;
  std::unique_ptr<TIdProxyConnectionInfo> FProxyParameters;

 private:
  friend class TIdHTTPProtocol;
  friend class TIdHTTPResponse;
  // Runs ACall with a memory stream for the response body; returns the body as text.
  template <class TCall>
  std::string BodyTextOf(TCall ACall) {
    TMemoryStream out;
    ACall(&out);
    return DecodeBody(out);
  }
  // Feeds the decoder from the I/O handler until it stops (head read, body complete).
  void DriveDecoder();
  // The framing of the answer being read.
  std::unique_ptr<http_detail::THTTPResponseDecoder> FDecoder;
  // Credentials saved when a cross-origin redirect dropped them, restored after the call.
  std::unique_ptr<http_detail::TSavedCredentials> FSavedCredentials;
  // The connection type of the previous request.
  TIdHTTPConnectionType FLastUseProxy = ctNormal;
  bool FHaveLastUseProxy = false;
};

// The HTTP client with every property published.
class TIdHTTP : public TIdCustomHTTP {
 public:
  BRV_CLASS_NAME(TIdHTTP)
  using TIdCustomHTTP::TIdCustomHTTP;
};

}  // namespace brv

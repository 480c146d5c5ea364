// Typed header records of HTTP messages: the entity fields common to requests and
// responses, the request and response records, ranges, and the proxy settings.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/Classes.h"
#include "http/IdAuthentication.h"
#include "http/IdHeaderList.h"
#include "http/IdHeaderValues.h"

namespace brv {

// The process-wide user agent that a cleared request record starts with.
const std::string& DefaultUserAgent();
void SetDefaultUserAgent(const std::string& AValue);

// One byte range: StartPos-EndPos, StartPos-, or -SuffixLength (-1 = absent).
class TIdEntityRange {
 public:
  std::int64_t StartPos = -1;
  std::int64_t EndPos = -1;
  std::int64_t SuffixLength = -1;
  std::string Text() const;
  void SetText(const std::string& AValue);
};

// The ranges of a "Range" header with their units.
class TIdEntityRanges : public TPersistent {
 public:
  BRV_CLASS_NAME(TIdEntityRanges)
  int Count() const { return static_cast<int>(FItems.size()); }
  TIdEntityRange& Add();
  TIdEntityRange& Items(int Index) { return FItems.at(static_cast<size_t>(Index)); }
  void Clear() { FItems.clear(); }
  const std::string& Units() const { return FUnits; }
  // An empty value restores "bytes".
  void SetUnits(const std::string& AValue) { FUnits = AValue.empty() ? "bytes" : AValue; }
  // units "=" the non-empty item texts joined by ","; "" when no item has text.
  std::string Text() const;
  void SetText(const std::string& AValue);
  void Assign(const TPersistent* Source) override;

 private:
  std::vector<TIdEntityRange> FItems;
  std::string FUnits = "bytes";
};

// The entity fields shared by requests and responses, with the raw lines they come from or
// go to.
class TIdEntityHeaderInfo : public TPersistent {
 public:
  BRV_CLASS_NAME(TIdEntityHeaderInfo)
  explicit TIdEntityHeaderInfo(TPersistent* AOwner = nullptr);
  ~TIdEntityHeaderInfo() override;

  // Fills the typed fields from RawHeaders.
  virtual void ParseRawHeaders();
  // Clears RawHeaders and rebuilds it from the typed fields.
  virtual void ComposeRawHeaders();
  // Resets the fields (CustomHeaders, Pragma and TransferEncoding keep their contents).
  virtual void Clear();

  TPersistent* Owner() const { return FOwner; }
  // The first component up the owner chain, or nullptr.
  TComponent* OwnerComponent() const;

  const std::string& CacheControl() const { return FCacheControl; }
  void SetCacheControl(const std::string& V) { FCacheControl = V; }
  TIdHeaderList& RawHeaders() { return *FRawHeaders; }
  const TIdHeaderList& RawHeaders() const { return *FRawHeaders; }
  const std::string& CharSet() const { return FCharSet; }
  void SetCharSet(const std::string& V) { FCharSet = V; }
  const std::string& Connection() const { return FConnection; }
  void SetConnection(const std::string& V) { FConnection = V; }
  const std::string& ContentDisposition() const { return FContentDisposition; }
  void SetContentDisposition(const std::string& V) { FContentDisposition = V; }
  const std::string& ContentEncoding() const { return FContentEncoding; }
  void SetContentEncoding(const std::string& V) { FContentEncoding = V; }
  const std::string& ContentLanguage() const { return FContentLanguage; }
  void SetContentLanguage(const std::string& V) { FContentLanguage = V; }
  std::int64_t ContentLength() const { return FContentLength; }
  void SetContentLength(std::int64_t V) {
    FContentLength = V;
    FHasContentLength = V >= 0;
  }
  std::int64_t ContentRangeEnd() const { return FContentRangeEnd; }
  void SetContentRangeEnd(std::int64_t V) { FContentRangeEnd = V; }
  std::int64_t ContentRangeStart() const { return FContentRangeStart; }
  void SetContentRangeStart(std::int64_t V) { FContentRangeStart = V; }
  std::int64_t ContentRangeInstanceLength() const { return FContentRangeInstanceLength; }
  void SetContentRangeInstanceLength(std::int64_t V) { FContentRangeInstanceLength = V; }
  const std::string& ContentRangeUnits() const { return FContentRangeUnits; }
  void SetContentRangeUnits(const std::string& V) { FContentRangeUnits = V; }
  const std::string& ContentType() const { return FContentType; }
  // Splits off the charset parameter into CharSet; infers one for text types without it.
  void SetContentType(const std::string& AValue);
  const std::string& ContentVersion() const { return FContentVersion; }
  void SetContentVersion(const std::string& V) { FContentVersion = V; }
  TIdHeaderList& CustomHeaders() { return *FCustomHeaders; }
  const TIdHeaderList& CustomHeaders() const { return *FCustomHeaders; }
  void SetCustomHeaders(const TIdHeaderList& V) { FCustomHeaders->Assign(&V); }
  TDateTime Date() const { return FDate; }
  void SetDate(TDateTime V) { FDate = V; }
  TDateTime Expires() const { return FExpires; }
  void SetExpires(TDateTime V) { FExpires = V; }
  const std::string& ETag() const { return FETag; }
  void SetETag(const std::string& V) { FETag = V; }
  TDateTime LastModified() const { return FLastModified; }
  void SetLastModified(TDateTime V) { FLastModified = V; }
  const std::string& Pragma() const { return FPragma; }
  void SetPragma(const std::string& V) { FPragma = V; }
  bool HasContentLength() const { return FHasContentLength; }
  const std::string& TransferEncoding() const { return FTransferEncoding; }
  void SetTransferEncoding(const std::string& V) { FTransferEncoding = V; }
  bool HasContentRange() const { return FContentRangeEnd >= 0; }
  bool HasContentRangeInstance() const { return FContentRangeInstanceLength >= 0; }

 protected:
  void AssignTo(TPersistent* Dest) const override;

  TPersistent* FOwner;
  // OwnerComponent, found on first use: the owner chain does not change.
  mutable TComponent* FOwnerComponent = nullptr;
  mutable bool FOwnerComponentFound = false;
  std::string FCacheControl;
  std::unique_ptr<TIdHeaderList> FRawHeaders;
  std::string FCharSet;
  std::string FConnection;
  std::string FContentDisposition;
  std::string FContentEncoding;
  std::string FContentLanguage;
  std::int64_t FContentLength = -1;
  std::int64_t FContentRangeEnd = -1;
  std::int64_t FContentRangeStart = -1;
  std::int64_t FContentRangeInstanceLength = -1;
  std::string FContentRangeUnits;
  std::string FContentType;
  std::string FContentVersion;
  std::unique_ptr<TIdHeaderList> FCustomHeaders;
  TDateTime FDate = 0;
  TDateTime FExpires = 0;
  std::string FETag;
  TDateTime FLastModified = 0;
  std::string FPragma;
  bool FHasContentLength = false;
  std::string FTransferEncoding;
};

// The header fields of a request.
class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
 public:
  BRV_CLASS_NAME(TIdRequestHeaderInfo)
  explicit TIdRequestHeaderInfo(TPersistent* AOwner = nullptr);
  ~TIdRequestHeaderInfo() override;

  void ParseRawHeaders() override;
  void ComposeRawHeaders() override;
  void Clear() override;

  const std::string& Accept() const { return FAccept; }
  void SetAccept(const std::string& V) { FAccept = V; }
  const std::string& AcceptCharSet() const { return FAcceptCharSet; }
  void SetAcceptCharSet(const std::string& V) { FAcceptCharSet = V; }
  const std::string& AcceptEncoding() const { return FAcceptEncoding; }
  void SetAcceptEncoding(const std::string& V) { FAcceptEncoding = V; }
  const std::string& AcceptLanguage() const { return FAcceptLanguage; }
  void SetAcceptLanguage(const std::string& V) { FAcceptLanguage = V; }
  const std::string& From() const { return FFrom; }
  void SetFrom(const std::string& V) { FFrom = V; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& V) { FPassword = V; }
  const std::string& Referer() const { return FReferer; }
  void SetReferer(const std::string& V) { FReferer = V; }
  const std::string& UserAgent() const { return FUserAgent; }
  void SetUserAgent(const std::string& V) { FUserAgent = V; }
  const std::string& Username() const { return FUserName; }
  void SetUsername(const std::string& V) { FUserName = V; }
  const std::string& Host() const { return FHost; }
  void SetHost(const std::string& V) { FHost = V; }
  const std::string& ProxyConnection() const { return FProxyConnection; }
  void SetProxyConnection(const std::string& V) { FProxyConnection = V; }
  TIdEntityRanges& Ranges() { return *FRanges; }
  std::string Range() const { return FRanges->Text(); }
  void SetRange(const std::string& V) { FRanges->SetText(V); }
  bool BasicAuthentication() const { return FBasicByDefault; }
  void SetBasicAuthentication(bool V) { FBasicByDefault = V; }
  // The scheme object (owned); nullptr when none.
  TIdAuthentication* Authentication() const { return FAuthentication.get(); }
  void SetAuthentication(std::unique_ptr<TIdAuthentication> V) { FAuthentication = std::move(V); }
  const std::string& MethodOverride() const { return FMethodOverride; }
  void SetMethodOverride(const std::string& V) { FMethodOverride = V; }

 protected:
  void AssignTo(TPersistent* Dest) const override;

  std::string FAccept;
  std::string FAcceptCharSet;
  std::string FAcceptEncoding;
  std::string FAcceptLanguage;
  std::string FFrom;
  std::string FPassword;
  std::string FReferer;
  std::string FUserAgent;
  std::string FUserName;
  std::string FHost;
  std::string FProxyConnection;
  std::unique_ptr<TIdEntityRanges> FRanges;
  bool FBasicByDefault = false;
  std::unique_ptr<TIdAuthentication> FAuthentication;
  std::string FMethodOverride;
};

// The header fields of a response.
class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
 public:
  BRV_CLASS_NAME(TIdResponseHeaderInfo)
  explicit TIdResponseHeaderInfo(TPersistent* AOwner = nullptr);
  ~TIdResponseHeaderInfo() override;

  void ParseRawHeaders() override;
  void ComposeRawHeaders() override;
  void Clear() override;

  const std::string& AcceptPatch() const { return FAcceptPatch; }
  void SetAcceptPatch(const std::string& V) { FAcceptPatch = V; }
  const std::string& AcceptRanges() const { return FAcceptRanges; }
  void SetAcceptRanges(const std::string& V) { FAcceptRanges = V; }
  const std::string& Location() const { return FLocation; }
  void SetLocation(const std::string& V) { FLocation = V; }
  const std::string& Server() const { return FServer; }
  void SetServer(const std::string& V) { FServer = V; }
  const std::string& ProxyConnection() const { return FProxyConnection; }
  void SetProxyConnection(const std::string& V) { FProxyConnection = V; }
  TIdHeaderList& ProxyAuthenticate() { return *FProxyAuthenticate; }
  TIdHeaderList& WWWAuthenticate() { return *FWWWAuthenticate; }

 protected:
  void AssignTo(TPersistent* Dest) const override;

  std::string FAcceptPatch;
  std::string FAcceptRanges;
  std::string FLocation;
  std::string FServer;
  std::string FProxyConnection;
  std::unique_ptr<TIdHeaderList> FProxyAuthenticate;
  std::unique_ptr<TIdHeaderList> FWWWAuthenticate;
};

// The proxy to go through, with its credentials.
class TIdProxyConnectionInfo : public TPersistent {
 public:
  BRV_CLASS_NAME(TIdProxyConnectionInfo)
  TIdProxyConnectionInfo();
  ~TIdProxyConnectionInfo() override;

  // Adds "Proxy-Authorization" to AHeaders when a value is available.
  void SetHeaders(TIdHeaderList& AHeaders);
  // Empties server, user name and password; port 0.
  void Clear();
  void Assign(const TPersistent* Source) override;

  TIdAuthentication* Authentication() const { return FAuthentication.get(); }
  void SetAuthentication(std::unique_ptr<TIdAuthentication> V) { FAuthentication = std::move(V); }
  const std::string& ProxyPassword() const { return FPassword; }
  void SetProxyPassword(const std::string& V) { FPassword = V; }
  int ProxyPort() const { return FPort; }
  // A different port frees the authentication object.
  void SetProxyPort(int V);
  const std::string& ProxyServer() const { return FServer; }
  // A name that differs other than in letter case frees the authentication object.
  void SetProxyServer(const std::string& V);
  const std::string& ProxyUsername() const { return FUsername; }
  void SetProxyUsername(const std::string& V) { FUsername = V; }
  bool BasicAuthentication() const { return FBasicByDefault; }
  void SetBasicAuthentication(bool V) { FBasicByDefault = V; }

 private:
  std::unique_ptr<TIdAuthentication> FAuthentication;
  std::string FPassword;
  int FPort = 0;
  std::string FServer;
  std::string FUsername;
  bool FBasicByDefault = false;
};

// Header values declared inside an HTML body (<meta http-equiv=... content=...> and
// <meta charset=...>).
class TIdMetaHTTPEquiv : public TIdEntityHeaderInfo {
 public:
  BRV_CLASS_NAME(TIdMetaHTTPEquiv)
  using TIdEntityHeaderInfo::TIdEntityHeaderInfo;
  // Reads the meta declarations of the HTML in AStream (from its start; the position is put
  // back) into RawHeaders and CharSet, then parses them.
  void ProcessMetaHTTPEquiv(class TStream& AStream);
};

}  // namespace brv

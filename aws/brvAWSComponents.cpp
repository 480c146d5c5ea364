#include "aws/brvAWSComponents.h"

#include <utility>

#include "tls/OpenSSLBinding.h"

namespace brv {

TbrvAWSSignerV4::TbrvAWSSignerV4() {
  InstallOpenSSLHashHooks();
}

void TbrvAWSSignerV4::CopyOptions() {
  auto& options = FSigner.SignatureV4Options();
  options.Region = FOptions.Region;
  options.Service = FOptions.Service;
  options.AccessKey = FOptions.AccessKey;
  options.SecretKey = FOptions.SecretKey;
  options.SessionToken = FOptions.SessionToken;
}

void TbrvAWSSignerV4::SignGET(const std::string& aURL) {
  CopyOptions();
  FSigner.SignGET(aURL);
}

void TbrvAWSSignerV4::SignPOST(const std::string& aURL, const std::string& aPayload) {
  CopyOptions();
  FSigner.SignPOST(aURL, aPayload);
}

void TbrvAWSSignerV4::SetSigningTime(std::chrono::system_clock::time_point AUTCTime) {
  FSigner.SetUTCClock([AUTCTime] { return AUTCTime; });
}

TbrvAWSHTTPClient::TbrvAWSHTTPClient() : FHTTP(std::make_unique<TbrvIdHTTP>()) {
  // A form POST goes out as HTTP/1.1 on the kept connection, like every GET; the engine would
  // otherwise close the connection and fall back to HTTP/1.0 for it.
  FHTTP->SetHTTPOptions(FHTTP->HTTPOptions() | hoKeepOrigProtocol);
  FHTTP->SetMaxResponseBodySize(brvAWSDefaultMaxResponseBodySize);
  // A request goes out as its head and then its body: with Nagle's algorithm the body waits
  // for the head's acknowledgement, which the peer delays (about 40 ms per form POST).
  FHTTP->SetUseNagle(false);
}

TbrvAWSHTTPClient::~TbrvAWSHTTPClient() = default;

void TbrvAWSHTTPClient::SetTLSVersion(TwsTLSVersions Version) {
  FHTTP->TLSOptions().Version = Version;
}

TbrvTCPTLS_Options& TbrvAWSHTTPClient::TLSOptions() {
  return FHTTP->TLSOptions();
}

int TbrvAWSHTTPClient::ConnectTimeout() const {
  return FHTTP->ConnectTimeout();
}

void TbrvAWSHTTPClient::SetConnectTimeout(int Value) {
  FHTTP->SetConnectTimeout(Value);
}

int TbrvAWSHTTPClient::ReadTimeout() const {
  return FHTTP->ReadTimeout();
}

void TbrvAWSHTTPClient::SetReadTimeout(int Value) {
  FHTTP->SetReadTimeout(Value);
}

void TbrvAWSHTTPClient::SetLogFileName(const std::string& FileName) {
  FHTTP->LogOptions().FileName = FileName;
}

void TbrvAWSHTTPClient::SetLog(bool Value) {
  FHTTP->SetLog(Value);
}

void TbrvAWSHTTPClient::ClearCustomHeaders() {
  FHTTP->Request().CustomHeaders().Clear();
}

void TbrvAWSHTTPClient::AddCustomHeader(std::string Line) {
  FHTTP->Request().CustomHeaders().Add(std::move(Line));
}

void TbrvAWSHTTPClient::SetContentType(const std::string& Value) {
  FHTTP->Request().SetContentType(Value);
}

void TbrvAWSHTTPClient::SetAccept(const std::string& Value) {
  FHTTP->Request().SetAccept(Value);
}

void TbrvAWSHTTPClient::Get(const std::string& aURL, TStream& aResponseContent) {
  FHTTP->Get(aURL, &aResponseContent);
}

void TbrvAWSHTTPClient::Post(const std::string& aURL, const std::string& aBody,
                             TStream& aResponseContent) {
  TStringStream source(aBody);
  FHTTP->Post(aURL, &source, &aResponseContent);
}

void TbrvAWSHTTPClient::SetDeadline(const TIdDeadline& ADeadline) {
  FHTTP->SetDeadline(ADeadline);
}

void TbrvAWSHTTPClient::SetProxy(const TbrvAWSProxy& AProxy) {
  TIdProxyConnectionInfo& proxy = FHTTP->ProxyParams();
  // Other credentials need a new authentication object; the kept one holds the old ones.
  if (proxy.ProxyUsername() != AProxy.Username || proxy.ProxyPassword() != AProxy.Password)
    proxy.SetAuthentication(nullptr);
  proxy.SetProxyServer(AProxy.Host);
  proxy.SetProxyPort(AProxy.Port);
  proxy.SetProxyUsername(AProxy.Username);
  proxy.SetProxyPassword(AProxy.Password);
  // Credentials in the proxy URL go with the first request (and the CONNECT), as curl sends
  // them, instead of waiting for a 407 challenge.
  proxy.SetBasicAuthentication(!AProxy.Username.empty());
}

std::string TbrvAWSHTTPClient::ResponseHeader(const std::string& AName) const {
  return FHTTP->Response().RawHeaders().Values(AName);
}

}  // namespace brv

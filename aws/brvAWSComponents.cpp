#include "aws/brvAWSComponents.h"

namespace brv {

void TbrvAWSSignerV4::CopyOptions() {
  auto& options = FSigner.SignatureV4Options();
  options.Region = FOptions.Region;
  options.Service = FOptions.Service;
  options.AccessKey = FOptions.AccessKey;
  options.SecretKey = FOptions.SecretKey;
}

void TbrvAWSSignerV4::SignGET(const std::string& aURL) {
  CopyOptions();
  FSigner.SignGET(aURL);
}

TbrvAWSHTTPClient::TbrvAWSHTTPClient() : FHTTP(std::make_unique<TbrvIdHTTP>()) {}

TbrvAWSHTTPClient::~TbrvAWSHTTPClient() = default;

void TbrvAWSHTTPClient::SetTLSVersion(TwsTLSVersions Version) {
  FHTTP->TLSOptions().Version = Version;
}

void TbrvAWSHTTPClient::SetLogFileName(const std::string& FileName) {
  FHTTP->LogOptions().FileName = FileName;
}

void TbrvAWSHTTPClient::SetLog(bool Value) { FHTTP->SetLog(Value); }

void TbrvAWSHTTPClient::ClearCustomHeaders() { FHTTP->Request().CustomHeaders().Clear(); }

void TbrvAWSHTTPClient::AddCustomHeader(const std::string& Line) {
  FHTTP->Request().CustomHeaders().Add(Line);
}

void TbrvAWSHTTPClient::SetContentType(const std::string& Value) {
  FHTTP->Request().SetContentType(Value);
}

void TbrvAWSHTTPClient::SetAccept(const std::string& Value) { FHTTP->Request().SetAccept(Value); }

void TbrvAWSHTTPClient::Get(const std::string& aURL, TStream& aResponseContent) {
  FHTTP->Get(aURL, &aResponseContent);
}

}  // namespace brv

#include "aws/brvHTTP_Amazon_AWS.h"

#include "aws/brvAWSComponents.h"
#include "aws/brvAWSHTTPError.h"

namespace brv {

namespace {
constexpr const char* kRequestContentType = "application/x-www-form-urlencoded; charset=utf-8";
}  // namespace

void TbrvHTTP_Amazon_AWS_Options::Assign(const TPersistent* Source) {
  if (auto* source = dynamic_cast<const TbrvHTTP_Amazon_AWS_Options*>(Source)) {
    Region = source->Region;
    Service = source->Service;
    AccessKey = source->AccessKey;
    SecretKey = source->SecretKey;
    return;
  }
  TPersistent::Assign(Source);
}

TbrvHTTP_Amazon_AWS_Client::TbrvHTTP_Amazon_AWS_Client(TComponent* aOwner)
    : TbrvHTTP_Amazon_AWS_Base(aOwner),
      FAWSOptions(std::make_unique<TbrvHTTP_Amazon_AWS_Options>()),
      FLogFile(std::make_unique<TbrvAWSLogFile>()) {}

TbrvHTTP_Amazon_AWS_Client::~TbrvHTTP_Amazon_AWS_Client() {
  FLogFile.reset();
  FSignature.reset();
  FAWSOptions.reset();
  FHTTPClient.reset();
}

std::string TbrvHTTP_Amazon_AWS_Client::EndPoint() const {
  return "https://" + FAWSOptions->Service + "." + FAWSOptions->Region +
         brvAWSRegionalEndpointSuffix;
}

std::unique_ptr<IbrvAWSSigner> TbrvHTTP_Amazon_AWS_Client::CreateSigner() {
  if (FSignerFactory) return FSignerFactory();
  return std::make_unique<TbrvAWSSignerV4>();
}

std::unique_ptr<IbrvAWSHTTPClient> TbrvHTTP_Amazon_AWS_Client::CreateHTTPClient() {
  if (FHTTPClientFactory) return FHTTPClientFactory();
  return std::make_unique<TbrvAWSHTTPClient>();
}

IbrvAWSHTTPClient& TbrvHTTP_Amazon_AWS_Client::GetHTTPClient() {
  if (!FHTTPClient) {
    auto client = CreateHTTPClient();
    if (!client) throw EbrvAWSComponentUnavailable("The HTTP client component is not available");
    client->SetTLSVersion(tls1_2);
    FHTTPClient = std::move(client);
  }
  return *FHTTPClient;
}

IbrvAWSSigner& TbrvHTTP_Amazon_AWS_Client::GetSigner() {
  if (!FSignature) {
    FSignature = CreateSigner();
    if (!FSignature)
      throw EbrvAWSComponentUnavailable("The AWS Signature Version 4 signer is not available");
  }
  return *FSignature;
}

bool TbrvHTTP_Amazon_AWS_Client::DoBeforeRequest(std::string& /*aURL*/) {
  return true;
}

void TbrvHTTP_Amazon_AWS_Client::CopyLogSettings() {
  IbrvAWSHTTPClient& http = GetHTTPClient();
  http.SetLogFileName(FLogFile->FileName);
  http.SetLog(FLogFile->Enabled);
}

void TbrvHTTP_Amazon_AWS_Client::CopyOptionsToSigner() {
  IbrvAWSSigner::TSignatureV4Options& options = GetSigner().SignatureV4Options();
  options.Region = FAWSOptions->Region;
  options.Service = FAWSOptions->Service;
  options.AccessKey = FAWSOptions->AccessKey;
  options.SecretKey = FAWSOptions->SecretKey;
}

void TbrvHTTP_Amazon_AWS_Client::SetRequestHeaders() {
  IbrvAWSHTTPClient& http = GetHTTPClient();
  IbrvAWSSigner& signer = GetSigner();
  http.ClearCustomHeaders();
  http.AddCustomHeader("X-Amz-Date:" + signer.RequestDate());
  http.AddCustomHeader(signer.AuthorizationHeader());
  http.SetContentType(kRequestContentType);
  http.SetAccept("");
}

void TbrvHTTP_Amazon_AWS_Client::PrepareGET(const std::string& aURL) {
  CopyLogSettings();
  CopyOptionsToSigner();
  GetSigner().SignGET(aURL);
  SetRequestHeaders();
}

void TbrvHTTP_Amazon_AWS_Client::PreparePOST(const std::string& /*aBody*/) {
  CopyLogSettings();
  CopyOptionsToSigner();
  SetRequestHeaders();
}

bool TbrvHTTP_Amazon_AWS_Client::GetURL(const std::string& aURL, std::string& aResponse,
                                        std::string& aError) {
  aResponse.clear();
  aError.clear();
  PrepareGET(aURL);
  // The body is UTF-8 text, which is this platform's text encoding: it is taken as it stands.
  TStringStream content;
  try {
    // The signature covers aURL; a URL changed by the gate is fetched with those headers.
    std::string url = aURL;
    if (!DoBeforeRequest(url)) return false;
    GetHTTPClient().Get(url, content);
    aResponse = content.DataString();
    return true;
  } catch (const EbrvAWSHTTPError& E) {
    aError = E.ErrorMessage();
    return false;
  }
}

bool TbrvHTTP_Amazon_AWS_Client::PostURL(const std::string& /*aURL*/, std::string& /*aResponse*/,
                                         std::string& /*aError*/) {
  return false;
}

}  // namespace brv

#include "aws/brvHTTP_Amazon_AWS.h"

#include <cstdlib>
#include <utility>

#include "aws/brvAWSComponents.h"
#include "aws/brvAWSHTTPError.h"

namespace brv {

namespace {

constexpr const char* kRequestContentType = "application/x-www-form-urlencoded; charset=utf-8";

// The value of an environment variable, empty when it is not set.
std::string Environment(const std::string& AName) {
  const char* value = std::getenv(AName.c_str());
  return value != nullptr ? std::string(value) : std::string();
}

// The service's endpoint variable: AWS_ENDPOINT_URL_ and the service name in upper case with
// blanks and "-" as "_", as AWS's own tools name it.
std::string ServiceEndPointVariable(const std::string& AService) {
  std::string name = "AWS_ENDPOINT_URL_";
  for (const char c : AService) {
    if (c == ' ' || c == '-')
      name += '_';
    else if (c >= 'a' && c <= 'z')
      name += static_cast<char>(c - 'a' + 'A');
    else
      name += c;
  }
  return name;
}

std::string WithoutTrailingSlashes(std::string AURL) {
  while (!AURL.empty() && AURL.back() == '/') AURL.pop_back();
  return AURL;
}

// A URL split into what goes before "?" and the query after it (empty when there is none).
std::pair<std::string, std::string> SplitQuery(const std::string& AURL) {
  const std::size_t mark = AURL.find('?');
  if (mark == std::string::npos) return {AURL, std::string()};
  return {AURL.substr(0, mark), AURL.substr(mark + 1)};
}

}  // namespace

void TbrvHTTP_Amazon_AWS_Options::Assign(const TPersistent* Source) {
  if (auto* source = dynamic_cast<const TbrvHTTP_Amazon_AWS_Options*>(Source)) {
    Region = source->Region;
    Service = source->Service;
    AccessKey = source->AccessKey;
    SecretKey = source->SecretKey;
    SessionToken = source->SessionToken;
    EndPointURL = source->EndPointURL;
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
  if (!FAWSOptions->EndPointURL.empty()) return WithoutTrailingSlashes(FAWSOptions->EndPointURL);
  for (const std::string& variable :
       {ServiceEndPointVariable(FAWSOptions->Service), std::string("AWS_ENDPOINT_URL")}) {
    const std::string url = WithoutTrailingSlashes(Environment(variable));
    if (!url.empty()) return url;
  }
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
    // Whoever sits on the network path must not be able to pose as the service: the
    // certificate is checked against the trusted roots and must name the URL's host.
    client->TLSOptions().VerifyCertificate = true;
    const std::string bundle = Environment("AWS_CA_BUNDLE");
    if (!bundle.empty()) client->TLSOptions().RootCertFile = bundle;
    // A lost packet or a stalled server must not hold the caller for good.
    client->SetConnectTimeout(brvAWSDefaultConnectTimeout);
    client->SetReadTimeout(brvAWSDefaultReadTimeout);
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
  options.SessionToken = FAWSOptions->SessionToken;
}

void TbrvHTTP_Amazon_AWS_Client::SetRequestHeaders() {
  IbrvAWSHTTPClient& http = GetHTTPClient();
  IbrvAWSSigner& signer = GetSigner();
  http.ClearCustomHeaders();
  http.AddCustomHeader("X-Amz-Date:" + signer.RequestDate());
  http.AddCustomHeader(signer.AuthorizationHeader());
  if (!FAWSOptions->SessionToken.empty())
    http.AddCustomHeader("X-Amz-Security-Token: " + FAWSOptions->SessionToken);
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

void TbrvHTTP_Amazon_AWS_Client::PreparePOST(const std::string& aURL, const std::string& aBody) {
  CopyLogSettings();
  CopyOptionsToSigner();
  GetSigner().SignPOST(aURL, aBody);
  SetRequestHeaders();
}

bool TbrvHTTP_Amazon_AWS_Client::GetURL(const std::string& aURL, std::string& aResponse,
                                        std::string& aError) {
  if (aURL.size() > brvAWSMaxGETURLLength) return PostURL(aURL, aResponse, aError);
  aResponse.clear();
  aError.clear();
  PrepareGET(aURL);
  return Fetch(aURL, false, aResponse, aError);
}

bool TbrvHTTP_Amazon_AWS_Client::PostURL(const std::string& aURL, std::string& aResponse,
                                         std::string& aError) {
  aResponse.clear();
  aError.clear();
  const auto [target, body] = SplitQuery(aURL);
  PreparePOST(target, body);
  return Fetch(aURL, true, aResponse, aError);
}

bool TbrvHTTP_Amazon_AWS_Client::Fetch(const std::string& aURL, bool aAsForm,
                                       std::string& aResponse, std::string& aError) {
  // The body is UTF-8 text, which is this platform's text encoding: it is taken as it stands.
  TStringStream content;
  try {
    // The signature covers aURL; a URL changed by the gate is fetched with those headers.
    std::string url = aURL;
    if (!DoBeforeRequest(url)) return false;
    if (aAsForm) {
      const auto [target, body] = SplitQuery(url);
      GetHTTPClient().Post(target, body, content);
    } else {
      GetHTTPClient().Get(url, content);
    }
    aResponse = content.DataString();
    return true;
  } catch (const EbrvAWSHTTPError& E) {
    aError = E.ErrorMessage();
    return false;
  }
}

}  // namespace brv

#include "aws/brvHTTP_Amazon_AWS.h"

#include <poll.h>

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <string_view>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <thread>
#include <utility>

#include "aws/brvAWSComponents.h"
#include "aws/brvAWSCredentials.h"
#include "aws/brvAWSHTTPError.h"
#include "base/IdURI.h"
#include "transport/IdException.h"
#include "transport/IdStack.h"

namespace brv {

namespace {

constexpr const char* kRequestContentType = "application/x-www-form-urlencoded; charset=utf-8";

// The value of an environment variable, empty when it is not set.
std::string Environment(const std::string& AName) {
  const char* value = std::getenv(AName.c_str());
  return value != nullptr ? std::string(value) : std::string();
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

// The URL up to its path: scheme, host and port, all that the end point depends on, without
// the query that is often most of a request's URL and would only lengthen a parse.
std::string_view BeforePath(std::string_view AURL) {
  const std::size_t scheme = AURL.find("://");
  const std::size_t path = AURL.find('/', scheme == std::string_view::npos ? 0 : scheme + 3);
  return path == std::string_view::npos ? AURL : AURL.substr(0, path);
}

// "scheme://host:port" of a URL: the endpoint whose clock offset is kept. The reference holds
// until the thread's next call: a caller that keeps the key copies it.
const std::string& EndPointKey(const std::string& AURL) {
  // Every request of a client goes to the same end point: the last one is kept per thread, so
  // a request does not parse its end point again.
  thread_local std::string lastURL, lastKey;
  const std::string_view beforePath = BeforePath(AURL);
  if (!lastURL.empty() && beforePath == lastURL) return lastKey;
  TIdURI uri{std::string(beforePath)};
  std::string scheme = uri.Protocol();
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string port = uri.Port();
  if (port.empty()) port = scheme == "https" ? "443" : "80";
  std::string key = scheme + "://" + uri.Host() + ":" + port;
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  lastURL = beforePath;
  lastKey = std::move(key);
  return lastKey;
}

// What a failed attempt says about the next one.
enum TFailureKind {
  fkFinal,       // another attempt would fail the same way
  fkTransient,   // a brief fault of the service or the network
  fkTimeout,     // the answer did not come in time
  fkThrottling,  // the service asks for fewer requests
  fkClockSkew,   // the request's time is too far from the service's
};

// The text of the first <ATag> element of an XML error document, "" without one.
std::string ElementText(const std::string& AXML, const std::string& ATag) {
  const std::string open = "<" + ATag + ">";
  const std::size_t begin = AXML.find(open);
  if (begin == std::string::npos) return {};
  const std::size_t from = begin + open.size();
  const std::size_t end = AXML.find("</" + ATag + ">", from);
  return end == std::string::npos ? std::string() : AXML.substr(from, end - from);
}

bool Contains(std::initializer_list<std::string_view> AList, const std::string& AValue) {
  return std::find(AList.begin(), AList.end(), AValue) != AList.end();
}

// An HTTP error answer: throttling is told by its code whatever the status.
TFailureKind ClassifyAnswer(int AStatus, const std::string& ABody) {
  const std::string code = ElementText(ABody, "Code");
  if (Contains({"Throttling", "ThrottlingException", "ThrottledException",
                "RequestThrottledException", "RequestThrottled", "TooManyRequestsException",
                "ProvisionedThroughputExceededException", "TransactionInProgressException",
                "RequestLimitExceeded", "BandwidthLimitExceeded", "LimitExceededException",
                "SlowDown", "PriorRequestNotComplete", "EC2ThrottledException"},
               code))
    return fkThrottling;
  if (Contains({"RequestTimeTooSkewed", "RequestExpired", "InvalidSignatureException"}, code))
    return fkClockSkew;
  if (code == "SignatureDoesNotMatch") {
    std::string message = ElementText(ABody, "Message");
    for (char& c : message) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (message.find("signature expired") != std::string::npos) return fkClockSkew;
  }
  if (Contains({"RequestTimeout", "RequestTimeoutException", "InternalError"}, code))
    return fkTransient;
  if (AStatus == 500 || AStatus == 502 || AStatus == 503 || AStatus == 504) return fkTransient;
  return fkFinal;
}

// A proxy that refuses the request answers 407; some (tinyproxy) answer a wrong password with
// 401 instead. The service never answers 401 with anything but its own error document, so a
// 401 without one came from the proxy. Either is a clear error, never the service's answer.
void RaiseIfProxyRefused(const EIdHTTPProtocolException& E, const TbrvAWSProxy& AProxy) {
  const bool refused = E.ErrorCode() == 407 ||
                       (E.ErrorCode() == 401 && ElementText(E.ErrorMessage(), "Code").empty());
  if (!refused) return;
  const std::string status = E.Message();
  throw EbrvAWSProxyError(AProxy.Username.empty()
                              ? "The proxy " + AProxy.Host + ":" + std::to_string(AProxy.Port) +
                                    " refused the request: proxy authentication failed (" + status +
                                    "); give the user name and password in the proxy URL"
                              : "The proxy " + AProxy.Host + ":" + std::to_string(AProxy.Port) +
                                    " refused the request: proxy authentication failed (" + status +
                                    "); check the user name and password of the proxy URL");
}

// A failure without an answer. Only what a later attempt can cure is retried: an unusable
// answer, a TLS verification failure, a cancel or the call's time limit never are.
TFailureKind ClassifyFailure(const Exception& E) {
  if (dynamic_cast<const EIdHTTPMalformedResponse*>(&E) != nullptr) return fkFinal;
  if (dynamic_cast<const EIdHTTPTruncatedResponse*>(&E) != nullptr ||
      dynamic_cast<const EIdConnClosedGracefully*>(&E) != nullptr ||
      dynamic_cast<const EIdClosedSocket*>(&E) != nullptr)
    return fkTransient;
  if (dynamic_cast<const EIdReadTimeout*>(&E) != nullptr ||
      dynamic_cast<const EIdConnectTimeout*>(&E) != nullptr)
    return fkTimeout;
  if (const auto* socket = dynamic_cast<const EIdSocketError*>(&E)) {
    switch (socket->LastError()) {
      case Id_WSAECONNREFUSED:
      case Id_WSAECONNRESET:
      case Id_WSAECONNABORTED:
      case Id_WSAENETRESET:
        return fkTransient;
      case Id_WSAETIMEDOUT:
        return fkTimeout;
      default:
        return fkFinal;
    }
  }
  return fkFinal;
}

// The moment of an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT"); false when it is not one.
bool ParseHTTPDate(const std::string& AText, std::chrono::system_clock::time_point& AMoment) {
  std::tm parts{};
  const char* end = strptime(AText.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts);
  if (end == nullptr || *end != '\0') return false;
  const std::time_t seconds = timegm(&parts);
  if (seconds == static_cast<std::time_t>(-1)) return false;
  AMoment = std::chrono::system_clock::from_time_t(seconds);
  return true;
}

// The default wait between attempts: a poll on the cancellation, so that Cancel ends it.
void Wait(std::chrono::milliseconds ADelay, const TIdDeadline& ADeadline) {
  if (ADelay.count() <= 0) return;
  const TIdDeadline until = TIdDeadline::After(ADelay, ADeadline.Cancellation());
  for (;;) {
    const int left = until.WaitMs();
    if (left == 0 || until.Cancelled()) return;
    const int handle = until.CancelHandle();
    if (handle < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 100)));
      continue;
    }
    pollfd fd{handle, POLLIN, 0};
    ::poll(&fd, 1, left);
  }
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

std::string TbrvHTTP_Amazon_AWS_Client::EnvironmentValue(const std::string& AName) const {
  return FEnvironment ? FEnvironment(AName) : Environment(AName);
}

std::string TbrvHTTP_Amazon_AWS_Client::EndPoint() const {
  if (!FAWSOptions->EndPointURL.empty()) return WithoutTrailingSlashes(FAWSOptions->EndPointURL);
  for (const std::string& variable :
       {AWSServiceEndPointVariable(FAWSOptions->Service), std::string("AWS_ENDPOINT_URL")}) {
    const std::string url = WithoutTrailingSlashes(EnvironmentValue(variable));
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
    const std::string bundle = EnvironmentValue("AWS_CA_BUNDLE");
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

int TbrvHTTP_Amazon_AWS_Client::MaxAttempts() const {
  if (FMaxAttempts > 0) return FMaxAttempts;
  const std::string text = EnvironmentValue("AWS_MAX_ATTEMPTS");
  if (!text.empty() && text.size() <= 4 &&
      std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const int value = std::stoi(text);
    if (value > 0) return value;
  }
  return brvAWSDefaultMaxAttempts;
}

void TbrvHTTP_Amazon_AWS_Client::SetRetryQuotaCapacity(int Value) {
  FRetryQuotaCapacity = std::max(Value, 0);
  FRetryQuota = FRetryQuotaCapacity;
}

void TbrvHTTP_Amazon_AWS_Client::Refund(int aRetryCost) {
  FRetryQuota = std::min(FRetryQuotaCapacity,
                         FRetryQuota + (aRetryCost > 0 ? aRetryCost : brvAWSNoRetryIncrement));
}

std::chrono::system_clock::time_point TbrvHTTP_Amazon_AWS_Client::Now() const {
  return FClock ? FClock() : std::chrono::system_clock::now();
}

double TbrvHTTP_Amazon_AWS_Client::Random() {
  if (FRandom) return std::clamp(FRandom(), 0.0, 1.0);
  if (!FRandomEngine) FRandomEngine = std::make_unique<std::mt19937_64>(std::random_device{}());
  return std::uniform_real_distribution<double>(0.0, 1.0)(*FRandomEngine);
}

void TbrvHTTP_Amazon_AWS_Client::Sign(const std::string& aURL, bool aAsForm,
                                      const std::string& aEndPoint) {
  const auto skew = FClockSkew.find(aEndPoint);
  if (FClock || skew != FClockSkew.end() || FSigningTimeSet) {
    std::chrono::system_clock::time_point now = Now();
    if (skew != FClockSkew.end()) now += skew->second;
    GetSigner().SetSigningTime(now);
    FSigningTimeSet = true;
  }
  if (aAsForm) {
    const auto [target, body] = SplitQuery(aURL);
    PreparePOST(target, body);
  } else {
    PrepareGET(aURL);
  }
}

bool TbrvHTTP_Amazon_AWS_Client::LearnClockSkew(const std::string& aEndPoint) {
  std::chrono::system_clock::time_point theirs;
  if (!ParseHTTPDate(GetHTTPClient().ResponseHeader("Date"), theirs)) return false;
  FClockSkew[aEndPoint] = std::chrono::duration_cast<std::chrono::seconds>(theirs - Now());
  return true;
}

bool TbrvHTTP_Amazon_AWS_Client::GetURL(const std::string& aURL, std::string& aResponse,
                                        std::string& aError) {
  if (aURL.size() > brvAWSMaxGETURLLength) return PostURL(aURL, aResponse, aError);
  aResponse.clear();
  aError.clear();
  Sign(aURL, false, EndPointKey(aURL));
  return Fetch(aURL, false, aResponse, aError);
}

bool TbrvHTTP_Amazon_AWS_Client::PostURL(const std::string& aURL, std::string& aResponse,
                                         std::string& aError) {
  aResponse.clear();
  aError.clear();
  Sign(aURL, true, EndPointKey(aURL));
  return Fetch(aURL, true, aResponse, aError);
}

bool TbrvHTTP_Amazon_AWS_Client::Fetch(const std::string& aURL, bool aAsForm,
                                       std::string& aResponse, std::string& aError) {
  FAttempts = 0;
  IbrvAWSHTTPClient& http = GetHTTPClient();
  const TIdDeadline deadline = TIdDeadline::After(
      FMaxTime.count() > 0 ? FMaxTime : std::chrono::milliseconds(-1), FCancellation);
  // The component keeps the deadline only for this call.
  struct TDeadlineScope {
    IbrvAWSHTTPClient& HTTP;
    ~TDeadlineScope() { HTTP.SetDeadline(TIdDeadline()); }
  } scope{http};
  http.SetDeadline(deadline);
  TbrvAWSProxy proxy;

  const std::string endPoint = EndPointKey(aURL);
  const int maxAttempts = MaxAttempts();
  std::string url = aURL;
  int retryCost = 0;
  bool skewRetried = false;
  for (int attempt = 1;; ++attempt) {
    deadline.Check();
    // The first signing is the caller's (GetURL, PostURL); each retry is signed afresh.
    if (attempt > 1) Sign(aURL, aAsForm, endPoint);
    // The signature covers aURL; a URL changed by the gate is fetched with those headers.
    if (attempt == 1) {
      if (!DoBeforeRequest(url)) return false;
      // The proxy is chosen for the host the request goes to.
      const auto environment = [this](const std::string& AName) { return EnvironmentValue(AName); };
      proxy = ProxyForEndPoint(url, FProxy, environment);
      http.SetProxy(proxy);
    }

    ++FAttempts;
    TFailureKind kind = fkFinal;
    std::exception_ptr failure;
    aError.clear();
    // The body is UTF-8 text, which is this platform's text encoding: it is taken as it stands.
    // Kept in blocks, so that an answer near the size limit costs its size and no more.
    TBlockMemoryStream content;
    try {
      if (aAsForm) {
        const auto [target, body] = SplitQuery(url);
        http.Post(target, body, content);
      } else {
        http.Get(url, content);
      }
      aResponse = content.TakeText();
      Refund(retryCost);
      return true;
    } catch (const EbrvAWSHTTPError& E) {
      if (!proxy.Empty()) RaiseIfProxyRefused(E, proxy);
      aError = E.ErrorMessage();
      kind = ClassifyAnswer(E.ErrorCode(), aError);
    } catch (const Exception& E) {
      kind = ClassifyFailure(E);
      if (kind == fkFinal) throw;
      failure = std::current_exception();
    }

    const auto finish = [&] {
      if (failure) std::rethrow_exception(failure);
      return false;
    };
    if (attempt >= maxAttempts) return finish();
    if (kind == fkClockSkew) {
      // One correction per call: a second complaint means the clock is not the cause.
      if (skewRetried || !LearnClockSkew(endPoint)) return finish();
      skewRetried = true;
      continue;
    }
    if (kind == fkFinal) return finish();
    const int cost = kind == fkTimeout ? brvAWSTimeoutRetryCost : brvAWSRetryCost;
    if (FRetryQuota < cost) return finish();
    const std::chrono::milliseconds base =
        kind == fkThrottling ? brvAWSThrottlingRetryBase : brvAWSTransientRetryBase;
    const std::chrono::milliseconds ceiling = std::min<std::chrono::milliseconds>(
        brvAWSMaxRetryDelay, base * (1LL << std::min(attempt - 1, 20)));
    const auto delay = std::chrono::milliseconds(
        static_cast<long long>(Random() * static_cast<double>(ceiling.count())));
    // A wait the time limit would cut short cannot lead to a useful attempt.
    if (deadline.HasLimit() && TIdDeadline::TClock::now() + delay >= deadline.Limit())
      return finish();
    FRetryQuota -= cost;
    retryCost += cost;
    if (FSleep)
      FSleep(delay, deadline);
    else
      Wait(delay, deadline);
  }
}

}  // namespace brv

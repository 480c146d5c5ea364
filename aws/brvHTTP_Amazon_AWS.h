// The AWS client base: AWS options, the service endpoint, and one signed GET through the
// client's signer and HTTP component.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "aws/brvAWSSeams.h"
#include "aws/brvBase_Classes.h"
#include "aws/brvTCP_Classes.h"

namespace brv {

// Domain under which AWS serves its regional endpoints; the endpoint is
// "https://" + service + "." + region + this suffix.
inline constexpr const char* brvAWSRegionalEndpointSuffix = ".amazonaws.com";

// Longest URL the client sends as a GET; a longer request goes out as a form POST of the same
// signed parameters, since servers and proxies refuse very long request lines.
inline constexpr std::size_t brvAWSMaxGETURLLength = 8192;

// Time-outs of the HTTP component the client makes, in milliseconds. The read time-out is
// longer than the longest long-poll wait of SQS (20 s).
inline constexpr int brvAWSDefaultConnectTimeout = 30000;
inline constexpr int brvAWSDefaultReadTimeout = 60000;

// Retries of a call: attempts in all (AWS_MAX_ATTEMPTS overrides it, the client's
// MaxAttempts overrides both), and the retry quota a client starts with.
inline constexpr int brvAWSDefaultMaxAttempts = 3;
inline constexpr int brvAWSDefaultRetryQuota = 500;
// What a retry takes from the quota: after a time-out, after any other failure; and what a
// call that needed no retry gives back.
inline constexpr int brvAWSRetryCost = 5;
inline constexpr int brvAWSTimeoutRetryCost = 10;
inline constexpr int brvAWSNoRetryIncrement = 1;
// The wait before retry k is a random fraction of min(brvAWSMaxRetryDelay, base * 2^(k-1)),
// base brvAWSTransientRetryBase after a transient failure and brvAWSThrottlingRetryBase after
// throttling.
inline constexpr std::chrono::milliseconds brvAWSTransientRetryBase{50};
inline constexpr std::chrono::milliseconds brvAWSThrottlingRetryBase{1000};
inline constexpr std::chrono::milliseconds brvAWSMaxRetryDelay{20000};
// The overall time limit of one call, every attempt and every wait included; room for a 20 s
// long poll and a retry.
inline constexpr std::chrono::milliseconds brvAWSDefaultMaxTime{90000};

// The AWS options: credentials, region and service name.
class TbrvHTTP_Amazon_AWS_Options : public TPersistent {
 public:
  BRV_CLASS_NAME(TbrvHTTP_Amazon_AWS_Options)
  // Copies Region, Service, AccessKey, SecretKey, SessionToken and EndPointURL from another
  // AWS options group; anything else is refused with "Cannot assign a %s to a %s".
  void Assign(const TPersistent* Source) override;

  std::string AccessKey;
  std::string Region;
  std::string SecretKey;
  // Set by the derived client ("sqs"); not stored with the form.
  std::string Service;
  // The session token of temporary credentials, sent signed as "X-Amz-Security-Token" when
  // not empty.
  std::string SessionToken;
  // An endpoint to use instead of the regional one (for example a local service); when not
  // empty it takes precedence over the AWS_ENDPOINT_URL variables.
  std::string EndPointURL;
};

// Log-file options of an AWS client.
class TbrvAWSLogFile : public TbrvTCPLogFile {
 public:
  BRV_CLASS_NAME(TbrvAWSLogFile)
};

// Common ancestor of the AWS components.
class TbrvHTTP_Amazon_AWS_Base : public TbrvComponent_Base {
 public:
  BRV_CLASS_NAME(TbrvHTTP_Amazon_AWS_Base)
  using TbrvComponent_Base::TbrvComponent_Base;
};

// Base of an AWS service client: performs one signed GET and hands back the response text or
// the error text of an HTTP error status. The signer and the HTTP component are made on first
// use by CreateSigner and CreateHTTPClient and live as long as the client.
//
// A call is retried when the answer or the failure says a later attempt may succeed
// (throttling, a 5xx status, a refused, reset or cut connection, a read time-out), up to
// MaxAttempts in all, with a random wait between attempts and a retry quota shared by the
// client's calls. Each attempt is signed afresh. An answer that says the request's time is too
// far from the service's corrects the signing time for that endpoint and is retried at once.
// The whole call, attempts and waits, ends by MaxTime or when its cancellation is raised.
class TbrvHTTP_Amazon_AWS_Client : public TbrvHTTP_Amazon_AWS_Base {
 public:
  BRV_CLASS_NAME(TbrvHTTP_Amazon_AWS_Client)
  using TSignerFactory = std::function<std::unique_ptr<IbrvAWSSigner>()>;
  using THTTPClientFactory = std::function<std::unique_ptr<IbrvAWSHTTPClient>()>;
  // The UTC clock signing reads (before the correction for an endpoint's clock).
  using TClock = std::function<std::chrono::system_clock::time_point()>;
  // Waits ADelay between attempts; should return early once ADeadline is cancelled.
  using TSleep =
      std::function<void(std::chrono::milliseconds ADelay, const TIdDeadline& ADeadline)>;
  // A random number in [0, 1).
  using TRandom = std::function<double()>;

  explicit TbrvHTTP_Amazon_AWS_Client(TComponent* aOwner = nullptr);
  ~TbrvHTTP_Amazon_AWS_Client() override;

  TbrvHTTP_Amazon_AWS_Options& AWSOptions() { return *FAWSOptions; }
  const TbrvHTTP_Amazon_AWS_Options& AWSOptions() const { return *FAWSOptions; }
  // Copies Value into the owned options group.
  void SetAWSOptions(const TbrvHTTP_Amazon_AWS_Options& Value) { FAWSOptions->Assign(&Value); }
  TbrvAWSLogFile& LogFile() { return *FLogFile; }
  const TbrvAWSLogFile& LogFile() const { return *FLogFile; }
  // Copies Value into the owned log-file group.
  void SetLogFile(const TbrvTCPLogFile& Value) { FLogFile->Assign(&Value); }

  // The service endpoint, computed on each read, without a trailing "/": AWSOptions.EndPointURL
  // when set; else the environment's AWS_ENDPOINT_URL_<SERVICE> (the service name in upper
  // case, blanks and "-" as "_"), else AWS_ENDPOINT_URL, when set and not empty; else
  // "https://" + Service + "." + Region + the regional endpoint suffix.
  std::string EndPoint() const;

  // One signed request of aURL. True with aResponse holding the body when one was obtained;
  // false with aError holding the error answer on an HTTP error status; false with both empty
  // when DoBeforeRequest refused. Every other failure raises. A URL longer than
  // brvAWSMaxGETURLLength goes out as PostURL; any other as a GET.
  bool GetURL(const std::string& aURL, std::string& aResponse, std::string& aError);
  // One signed form POST: the query of aURL is the body, sent to aURL without its query.
  // Results as for GetURL.
  bool PostURL(const std::string& aURL, std::string& aResponse, std::string& aError);

  // The HTTP component, made on first call: TLS 1.2, the server's certificate verified (chain
  // and host name; trusted roots from AWS_CA_BUNDLE when that is set, else the system's),
  // brvAWSDefaultConnectTimeout and brvAWSDefaultReadTimeout. Callers change any of these
  // through the component (TLSOptions().VerifyCertificate = false for a service with a
  // self-signed certificate).
  IbrvAWSHTTPClient& GetHTTPClient();
  // The signer, made on first call.
  IbrvAWSSigner& GetSigner();

  // Attempts per call in all, at least 1: the value set here when it is positive, else
  // AWS_MAX_ATTEMPTS when that is a positive number, else brvAWSDefaultMaxAttempts.
  int MaxAttempts() const;
  // 0 returns to the environment's or the default value.
  void SetMaxAttempts(int Value) { FMaxAttempts = Value; }
  // Attempts the last call made (0 when it was refused before sending).
  int Attempts() const { return FAttempts; }

  // The time limit of one call, attempts and waits included; zero or negative: no limit.
  // A call that runs out of it raises EIdDeadlineExceeded.
  std::chrono::milliseconds MaxTime() const { return FMaxTime; }
  void SetMaxTime(std::chrono::milliseconds Value) { FMaxTime = Value; }
  // A cancellation watched by every call from now on (the window's Cancel, the command's
  // Ctrl-C); a call it ends raises EIdOperationCancelled. Null: none.
  const std::shared_ptr<TIdCancellation>& Cancellation() const { return FCancellation; }
  void SetCancellation(std::shared_ptr<TIdCancellation> Value) { FCancellation = std::move(Value); }

  // The retry quota: its capacity (setting it also fills the quota) and what is left.
  int RetryQuotaCapacity() const { return FRetryQuotaCapacity; }
  void SetRetryQuotaCapacity(int Value);
  int RetryQuota() const { return FRetryQuota; }

  // The HTTP proxy of every request ("http://[user:password@]host[:port]"), overriding the
  // environment's https_proxy, http_proxy and no_proxy; empty: as the environment says.
  const std::string& Proxy() const { return FProxy; }
  void SetProxy(const std::string& Value) { FProxy = Value; }

  // The clock, the wait between attempts and the random source; tests set them so that
  // retries run in no time and their waits can be checked. Unset: the system clock, a wait
  // that a cancellation ends early, and a seeded Mersenne twister.
  void SetClock(TClock Value) { FClock = std::move(Value); }
  void SetSleep(TSleep Value) { FSleep = std::move(Value); }
  void SetRandom(TRandom Value) { FRandom = std::move(Value); }

  // Where the signer and the HTTP component come from when they are first needed (tests put
  // recording fakes here). Unset factories leave the choice to CreateSigner and
  // CreateHTTPClient.
  void SetSignerFactory(TSignerFactory Factory) { FSignerFactory = std::move(Factory); }
  void SetHTTPClientFactory(THTTPClientFactory Factory) { FHTTPClientFactory = std::move(Factory); }

  // Where the client reads AWS_ENDPOINT_URL(_<SERVICE>), AWS_CA_BUNDLE, AWS_MAX_ATTEMPTS and
  // the proxy variables. Unset: the process environment. A caller that resolves its
  // configuration from an environment of its own (the command's) hands the same one in here.
  void SetEnvironment(TbrvEnvironmentReader Value) { FEnvironment = std::move(Value); }

 protected:
  // The gate before each GET: may change the URL that will be fetched, or refuse (false).
  virtual bool DoBeforeRequest(std::string& aURL);
  // Readies the HTTP component for a signed GET of aURL: log settings, options into the
  // signer, signing, and the request headers.
  virtual void PrepareGET(const std::string& aURL);
  // As PrepareGET without signing: the headers carry whatever the signer last produced.
  virtual void PreparePOST(const std::string& aBody);
  // Readies the HTTP component for a signed form POST of aBody to aURL.
  virtual void PreparePOST(const std::string& aURL, const std::string& aBody);

  // Make the signer and the HTTP component: the factory's when one is set, else the
  // library's Signature Version 4 signer and TbrvIdHTTP component.
  virtual std::unique_ptr<IbrvAWSSigner> CreateSigner();
  virtual std::unique_ptr<IbrvAWSHTTPClient> CreateHTTPClient();

 private:
  void CopyLogSettings();
  void CopyOptionsToSigner();
  void SetRequestHeaders();
  // The whole call: signs and sends aURL (as a GET, or its query as a form POST) after the
  // gate, retries as the answers allow, and maps the last HTTP error status to the error text.
  bool Fetch(const std::string& aURL, bool aAsForm, std::string& aResponse, std::string& aError);
  // Signs one attempt with the clock corrected for aEndPoint.
  void Sign(const std::string& aURL, bool aAsForm, const std::string& aEndPoint);
  // Learns the offset of aEndPoint's clock from the last answer's Date header; false when
  // the answer had none.
  bool LearnClockSkew(const std::string& aEndPoint);
  // Gives back to the quota what a successful call's retries cost.
  void Refund(int aRetryCost);
  std::chrono::system_clock::time_point Now() const;
  double Random();
  // The value of an environment variable ("" when unset), from SetEnvironment's reader.
  std::string EnvironmentValue(const std::string& AName) const;

  std::unique_ptr<IbrvAWSSigner> FSignature;
  std::unique_ptr<IbrvAWSHTTPClient> FHTTPClient;
  std::unique_ptr<TbrvHTTP_Amazon_AWS_Options> FAWSOptions;
  std::unique_ptr<TbrvAWSLogFile> FLogFile;
  TSignerFactory FSignerFactory;
  THTTPClientFactory FHTTPClientFactory;
  TbrvEnvironmentReader FEnvironment;

  int FMaxAttempts = 0;
  int FAttempts = 0;
  std::chrono::milliseconds FMaxTime = brvAWSDefaultMaxTime;
  std::shared_ptr<TIdCancellation> FCancellation;
  int FRetryQuotaCapacity = brvAWSDefaultRetryQuota;
  int FRetryQuota = brvAWSDefaultRetryQuota;
  std::string FProxy;
  TClock FClock;
  TSleep FSleep;
  TRandom FRandom;
  std::unique_ptr<std::mt19937_64> FRandomEngine;
  // The offset of each endpoint's clock from ours ("scheme://host:port" as the key).
  std::map<std::string, std::chrono::seconds> FClockSkew;
  // Once the signing time has been set, it is set for every signing.
  bool FSigningTimeSet = false;
};

}  // namespace brv

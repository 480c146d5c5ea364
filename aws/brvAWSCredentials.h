// Where an AWS client's credentials, region, endpoint and trusted roots come from when the
// caller did not give them: the environment and the shared config and credentials files, in
// the order AWS's own tools use. Callers apply the result to a client; the client itself never
// reads these files.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "aws/brvAWSConfigFile.h"
#include "aws/brvAWSCredentialProcess.h"

namespace brv {

class TbrvHTTP_Amazon_AWS_Client;

// The value of an environment variable; empty when it is not set (an empty value counts as
// unset).
using TbrvEnvironmentLookup = std::function<std::string(const std::string& Name)>;

// Credentials from a credential process are run again this long before they expire.
inline constexpr std::chrono::minutes brvAWSCredentialRefreshMargin{5};

// What the caller itself gives; empty fields are looked up.
struct TbrvAWSConfigRequest {
  // The profile to use (a command's --profile); else AWS_PROFILE, else "default".
  std::string Profile;
  // Explicit credentials (typed into the window, given on a command line). When either key
  // is given they are used as they are, and nothing else is looked up for credentials.
  std::string AccessKey;
  std::string SecretKey;
  std::string SessionToken;
  // An explicit region; set (even to an empty text) it is used as it is.
  std::optional<std::string> Region;
  // An explicit endpoint.
  std::string EndPointURL;
  // The service whose endpoint is looked up ("sqs").
  std::string Service = "sqs";
};

// What the resolver found.
struct TbrvAWSConfig {
  // The selected profile.
  std::string Profile;
  // The files that were read.
  std::string ConfigFile;
  std::string CredentialsFile;
  // Empty keys when no credentials were found anywhere (CredentialSource is then empty).
  TbrvAWSCredentials Credentials;
  // Where the credentials came from, for a status line: "typed", "environment",
  // "profile NAME" or "credential process".
  std::string CredentialSource;
  std::string Region;
  // The endpoint to use, without a trailing "/"; the regional one when nothing else is
  // configured.
  std::string EndPoint;
  // A file of trusted root certificates (AWS_CA_BUNDLE, else the profile's ca_bundle), or empty.
  std::string CABundle;
  // The preferred output format of a command (AWS_DEFAULT_OUTPUT, else the profile's output).
  std::string Output;

  bool HasCredentials() const { return !CredentialSource.empty(); }
};

// Resolves configuration for AWS clients. Precedence:
// - credentials: explicit; AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY (AWS_SESSION_TOKEN); the
//   profile's keys in the credentials file; its credential_process; its keys in the config
//   file;
// - profile: explicit; AWS_PROFILE; "default" ([default] or [profile NAME] in the config file,
//   [NAME] in the credentials file; AWS_CONFIG_FILE and AWS_SHARED_CREDENTIALS_FILE name other
//   files than ~/.aws/config and ~/.aws/credentials);
// - region: explicit; AWS_REGION; AWS_DEFAULT_REGION; the profile's region;
// - endpoint: explicit; AWS_ENDPOINT_URL_<SERVICE>; AWS_ENDPOINT_URL; the service's
//   endpoint_url in the [services NAME] section the profile names; the profile's
//   endpoint_url; the regional endpoint. AWS_IGNORE_CONFIGURED_ENDPOINT_URLS (else the
//   profile's ignore_configured_endpoint_urls) set to "true" skips the configured ones.
// A profile that was named but exists in neither file, and a profile that needs what this
// program does not provide (role_arn, sso_session, sso_start_url, web_identity_token_file) are
// errors. Files are read again at every Resolve, so edits apply to the next request. The
// answer of a credential process is kept and reused until brvAWSCredentialRefreshMargin before
// it expires. Thread-safe.
class TbrvAWSConfigResolver {
 public:
  using TClock = std::function<std::chrono::system_clock::time_point()>;

  // Environment is asked for every variable; HomeDirectory is where ~/.aws lives (when empty:
  // the HOME variable, else the user's home from the password database).
  TbrvAWSConfigResolver(TbrvEnvironmentLookup Environment, std::string HomeDirectory);
  // The environment of this process, read at every call.
  static TbrvEnvironmentLookup ProcessEnvironment();

  // Raises EbrvAWSConfigError on a configuration problem (unreadable or malformed files, a
  // missing named profile, unsupported settings, partial keys, a failing credential process).
  TbrvAWSConfig Resolve(const TbrvAWSConfigRequest& Request);

  // Seams for tests: the wall clock that expirations are compared with, and how long a
  // credential process may run.
  void SetClock(TClock Clock) { FClock = std::move(Clock); }
  void SetProcessTimeout(std::chrono::milliseconds Timeout) { FProcessTimeout = Timeout; }

 private:
  std::string Env(const std::string& Name) const;
  std::string Home() const;
  std::string FilePath(const char* Variable, const char* DefaultName) const;
  TbrvAWSCredentials ProcessCredentials(const std::string& Command, const std::string& Profile);

  TbrvEnvironmentLookup FEnvironment;
  std::string FHomeDirectory;
  TClock FClock;
  std::chrono::milliseconds FProcessTimeout = brvAWSCredentialProcessTimeout;
  std::mutex FLock;
  std::map<std::string, TbrvAWSCredentials> FProcessCache;  // by command line
};

// Fills a client's options from a resolved configuration: region, keys, session token and
// endpoint, and the trusted roots of its HTTP component when a CA bundle is named.
void ApplyAWSConfig(const TbrvAWSConfig& Config, TbrvHTTP_Amazon_AWS_Client& Client);

// The environment variable naming a service's endpoint, as AWS's own tools name it:
// AWS_ENDPOINT_URL_ and the service name in upper case with blanks and "-" as "_".
std::string AWSServiceEndPointVariable(const std::string& AService);

}  // namespace brv

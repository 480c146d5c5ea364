#include "aws/brvAWSCredentials.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "aws/brvHTTP_Amazon_AWS.h"

namespace brv {

namespace {

// Settings that ask for credentials this program cannot obtain (assumed roles, single sign-on,
// web identities). A profile holding one is refused rather than answered with other keys.
constexpr const char* kUnsupportedKeys[] = {"role_arn", "sso_session", "sso_start_url",
                                            "web_identity_token_file"};

bool IsTrue(const std::string& Value) {
  std::string lower;
  for (char c : Value) lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower == "true";
}

std::string WithoutTrailingSlashes(std::string URL) {
  while (!URL.empty() && URL.back() == '/') URL.pop_back();
  return URL;
}

// "NAME" of a section header "PREFIX NAME" (any blanks between them), or empty.
std::string NameAfter(const std::string& Header, const std::string& Prefix) {
  if (Header.size() <= Prefix.size() || Header.compare(0, Prefix.size(), Prefix) != 0 ||
      (Header[Prefix.size()] != ' ' && Header[Prefix.size()] != '\t')) {
    return {};
  }
  const std::size_t first = Header.find_first_not_of(" \t", Prefix.size());
  return first == std::string::npos ? std::string() : Header.substr(first);
}

const TbrvAWSConfigSection* FindPrefixed(const TbrvAWSConfigFile& File, const std::string& Prefix,
                                         const std::string& Name) {
  for (const TbrvAWSConfigSection& section : File.Sections()) {
    if (NameAfter(section.Name, Prefix) == Name) return &section;
  }
  return nullptr;
}

// The profile as the config file has it: [profile NAME], and for the default profile
// [default] unless there is a [profile default].
const TbrvAWSConfigSection* ConfigProfile(const TbrvAWSConfigFile& File, const std::string& Name) {
  if (const TbrvAWSConfigSection* section = FindPrefixed(File, "profile", Name)) return section;
  return Name == "default" ? File.Section("default") : nullptr;
}

// "sqs" as the key of a [services] section: lower case, blanks and "-" as "_".
std::string ServiceKey(const std::string& Service) {
  std::string key;
  for (const char c : Service) {
    if (c == ' ' || c == '-')
      key += '_';
    else if (c >= 'A' && c <= 'Z')
      key += static_cast<char>(c - 'A' + 'a');
    else
      key += c;
  }
  return key;
}

// A profile seen through both files: the credentials file's settings before the config file's.
struct TProfileView {
  const TbrvAWSConfigSection* Credentials = nullptr;
  const TbrvAWSConfigSection* Config = nullptr;

  std::string Text(const std::string& Key) const {
    if (Credentials && Credentials->Find(Key)) return Credentials->Text(Key);
    return Config ? Config->Text(Key) : std::string();
  }
  bool Has(const std::string& Key) const {
    return (Credentials && Credentials->Find(Key)) || (Config && Config->Find(Key));
  }
};

}  // namespace

TbrvAWSConfigResolver::TbrvAWSConfigResolver(TbrvEnvironmentLookup Environment,
                                             std::string HomeDirectory)
    : FEnvironment(std::move(Environment)),
      FHomeDirectory(std::move(HomeDirectory)),
      FClock([] { return std::chrono::system_clock::now(); }) {}

TbrvEnvironmentLookup TbrvAWSConfigResolver::ProcessEnvironment() {
  return [](const std::string& Name) {
    const char* value = std::getenv(Name.c_str());
    return value ? std::string(value) : std::string();
  };
}

std::string TbrvAWSConfigResolver::Env(const std::string& Name) const {
  return FEnvironment ? FEnvironment(Name) : std::string();
}

std::string TbrvAWSConfigResolver::Home() const {
  if (!FHomeDirectory.empty()) return FHomeDirectory;
  std::string home = Env("HOME");
  if (!home.empty()) return home;
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir) {
    home = found->pw_dir;
  }
  return home;
}

std::string TbrvAWSConfigResolver::FilePath(const char* Variable, const char* DefaultName) const {
  std::string path = Env(Variable);
  if (path.empty()) return Home() + "/.aws/" + DefaultName;
  if (path == "~" || path.rfind("~/", 0) == 0) path = Home() + path.substr(1);
  return path;
}

TbrvAWSCredentials TbrvAWSConfigResolver::ProcessCredentials(const std::string& Command,
                                                             const std::string& Profile) {
  // One run at a time: two clicks, or two threads, must not start the helper twice.
  std::lock_guard<std::mutex> guard(FLock);
  const auto now = FClock();
  if (const auto cached = FProcessCache.find(Command); cached != FProcessCache.end()) {
    const TbrvAWSCredentials& kept = cached->second;
    if (!kept.Expiration || now < *kept.Expiration - brvAWSCredentialRefreshMargin) return kept;
    FProcessCache.erase(cached);
  }
  TbrvAWSCredentials fresh = RunCredentialProcess(Command, Profile, FProcessTimeout, now);
  FProcessCache[Command] = fresh;
  return fresh;
}

TbrvAWSConfig TbrvAWSConfigResolver::Resolve(const TbrvAWSConfigRequest& Request) {
  TbrvAWSConfig result;
  result.ConfigFile = FilePath("AWS_CONFIG_FILE", "config");
  result.CredentialsFile = FilePath("AWS_SHARED_CREDENTIALS_FILE", "credentials");
  const TbrvAWSConfigFile config = TbrvAWSConfigFile::Load(result.ConfigFile);
  const TbrvAWSConfigFile credentials = TbrvAWSConfigFile::Load(result.CredentialsFile);

  bool named = true;
  result.Profile = Request.Profile;
  if (result.Profile.empty()) result.Profile = Env("AWS_PROFILE");
  if (result.Profile.empty()) {
    result.Profile = "default";
    named = false;
  }
  TProfileView profile;
  profile.Credentials = credentials.Section(result.Profile);
  profile.Config = ConfigProfile(config, result.Profile);
  if (named && !profile.Credentials && !profile.Config) {
    throw EbrvAWSConfigError("The config profile (" + result.Profile + ") could not be found in " +
                             result.ConfigFile + " or " + result.CredentialsFile);
  }
  const std::string profileLabel = "profile " + result.Profile;

  // Credentials.
  auto takeKeys = [&](const TbrvAWSConfigSection* Section, const std::string& Source) {
    if (!Section) return false;
    const std::string key = Section->Text("aws_access_key_id");
    const std::string secret = Section->Text("aws_secret_access_key");
    if (key.empty() && secret.empty()) return false;
    if (key.empty() || secret.empty()) {
      throw EbrvAWSConfigError(
          "The profile " + result.Profile + " in " +
          (Section == profile.Credentials ? result.CredentialsFile : result.ConfigFile) + " has " +
          (key.empty() ? "aws_secret_access_key" : "aws_access_key_id") + " without " +
          (key.empty() ? "aws_access_key_id" : "aws_secret_access_key"));
    }
    result.Credentials.AccessKey = key;
    result.Credentials.SecretKey = secret;
    result.Credentials.SessionToken = Section->Text("aws_session_token");
    result.CredentialSource = Source;
    return true;
  };
  if (!Request.AccessKey.empty() || !Request.SecretKey.empty()) {
    result.Credentials.AccessKey = Request.AccessKey;
    result.Credentials.SecretKey = Request.SecretKey;
    result.Credentials.SessionToken = Request.SessionToken;
    result.CredentialSource = "typed";
  } else if (const std::string key = Env("AWS_ACCESS_KEY_ID"),
             secret = Env("AWS_SECRET_ACCESS_KEY");
             !key.empty() || !secret.empty()) {
    if (key.empty() || secret.empty()) {
      throw EbrvAWSConfigError(std::string("The environment has ") +
                               (key.empty() ? "AWS_SECRET_ACCESS_KEY without AWS_ACCESS_KEY_ID"
                                            : "AWS_ACCESS_KEY_ID without AWS_SECRET_ACCESS_KEY"));
    }
    result.Credentials.AccessKey = key;
    result.Credentials.SecretKey = secret;
    result.Credentials.SessionToken = Env("AWS_SESSION_TOKEN");
    result.CredentialSource = "environment";
  } else {
    for (const char* unsupported : kUnsupportedKeys) {
      if (profile.Has(unsupported)) {
        throw EbrvAWSConfigError("The profile " + result.Profile + " uses " + unsupported +
                                 ", which this program does not support; give it "
                                 "aws_access_key_id and aws_secret_access_key, or a "
                                 "credential_process");
      }
    }
    if (!Env("AWS_WEB_IDENTITY_TOKEN_FILE").empty() && !Env("AWS_ROLE_ARN").empty()) {
      throw EbrvAWSConfigError(
          "The environment asks for a web identity (AWS_WEB_IDENTITY_TOKEN_FILE), which this "
          "program does not support");
    }
    if (!takeKeys(profile.Credentials, profileLabel)) {
      if (const std::string command = profile.Text("credential_process"); !command.empty()) {
        result.Credentials = ProcessCredentials(command, result.Profile);
        result.CredentialSource = "credential process";
      } else {
        takeKeys(profile.Config, profileLabel);
      }
    }
  }

  // Region.
  if (Request.Region) {
    result.Region = *Request.Region;
  } else {
    result.Region = Env("AWS_REGION");
    if (result.Region.empty()) result.Region = Env("AWS_DEFAULT_REGION");
    if (result.Region.empty()) result.Region = profile.Text("region");
  }

  // Endpoint.
  result.EndPoint = WithoutTrailingSlashes(Request.EndPointURL);
  if (result.EndPoint.empty()) {
    const std::string ignoreVariable = Env("AWS_IGNORE_CONFIGURED_ENDPOINT_URLS");
    const bool ignore = IsTrue(
        ignoreVariable.empty() ? profile.Text("ignore_configured_endpoint_urls") : ignoreVariable);
    if (!ignore) {
      std::vector<std::string> candidates = {Env(AWSServiceEndPointVariable(Request.Service)),
                                             Env("AWS_ENDPOINT_URL")};
      if (const std::string services = profile.Text("services"); !services.empty()) {
        if (const TbrvAWSConfigSection* section = FindPrefixed(config, "services", services)) {
          if (const TbrvAWSConfigValue* value = section->Find(ServiceKey(Request.Service));
              value && value->IsNested) {
            const auto url = value->Nested.find("endpoint_url");
            if (url != value->Nested.end()) candidates.push_back(url->second);
          }
        }
      }
      candidates.push_back(profile.Text("endpoint_url"));
      for (const std::string& candidate : candidates) {
        result.EndPoint = WithoutTrailingSlashes(candidate);
        if (!result.EndPoint.empty()) break;
      }
    }
  }
  if (result.EndPoint.empty()) {
    result.EndPoint =
        "https://" + Request.Service + "." + result.Region + brvAWSRegionalEndpointSuffix;
  }

  result.CABundle = Env("AWS_CA_BUNDLE");
  if (result.CABundle.empty()) result.CABundle = profile.Text("ca_bundle");
  result.Output = Env("AWS_DEFAULT_OUTPUT");
  if (result.Output.empty()) result.Output = profile.Text("output");
  return result;
}

void ApplyAWSConfig(const TbrvAWSConfig& Config, TbrvHTTP_Amazon_AWS_Client& Client) {
  TbrvHTTP_Amazon_AWS_Options& options = Client.AWSOptions();
  options.Region = Config.Region;
  options.AccessKey = Config.Credentials.AccessKey;
  options.SecretKey = Config.Credentials.SecretKey;
  options.SessionToken = Config.Credentials.SessionToken;
  options.EndPointURL = Config.EndPoint;
  if (!Config.CABundle.empty()) Client.GetHTTPClient().TLSOptions().RootCertFile = Config.CABundle;
}

std::string AWSServiceEndPointVariable(const std::string& AService) {
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

}  // namespace brv

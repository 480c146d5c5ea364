// AWS request signing: the signature base with its SHA-256 and HMAC-SHA256 primitives, and
// the Signature Version 4 ("AWS4-HMAC-SHA256") signer.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "aws/brvBase_Classes.h"
#include "aws/brvBase_Helpers.h"
#include "base/Classes.h"
#include "base/brvIdHashHooks.h"

namespace brv {

// Base of the AWS signers: the two hash primitives they are built on. Each takes the crypto
// library behind the hash hooks when it is there and works, and the built-in SHA-256 and HMAC
// otherwise; both roads give the same result, and neither fails.
class TbrvHTTP_Amazon_AWS_Signature : public TbrvComponent_Base {
 public:
  BRV_CLASS_NAME(TbrvHTTP_Amazon_AWS_Signature)
  explicit TbrvHTTP_Amazon_AWS_Signature(TComponent* aOwner = nullptr);

  // The 32 bytes of HMAC-SHA256 of the UTF-8 bytes of AText under AKey.
  virtual TIdBytes GetHMACSHA256(const std::string& AText, const TIdBytes& AKey);
  // The SHA-256 of the UTF-8 bytes of AText as 64 lower-case hexadecimal digits.
  virtual std::string GetSHA256Hex(const std::string& AText);
};

// The signing options: who signs, and for which region and service.
class TbrvHTTP_Amazon_AWS_Signature_V4_Options : public TPersistent {
 public:
  BRV_CLASS_NAME(TbrvHTTP_Amazon_AWS_Signature_V4_Options)
  // Copies Region, Service, AccessKey, SecretKey and SessionToken from another options group;
  // any other source fails with "Cannot assign a %s to a %s".
  void Assign(const TPersistent* Source) override;

  std::string AccessKey;
  std::string Region;
  std::string SecretKey;
  std::string Service;
  // The session token of temporary credentials; when set, the request carries it as
  // "X-Amz-Security-Token" and the signature covers that header. Empty by default.
  std::string SessionToken;
};

// What a signature covers: an HTTP request, or the MQTT connection of the IoT services
// (path "/mqtt", host header only).
enum TbrvHTTP_SignatureV4_Protocol : int { sv4pHTTP, sv4pMQTT };

// Signs requests with AWS Signature Version 4. Each SignGET or SignPOST stamps the request
// date and leaves its results (date, signed headers, hashed canonical request, string to
// sign, signature) in the signer until the next signing; the caller then sends
// "X-Amz-Date:" + RequestDate() and the AuthorizationHeader() line with the request.
//
// With a SessionToken in the options the canonical headers gain "x-amz-security-token" (and
// SignedHeaders names it), so the caller must send the token in an "X-Amz-Security-Token" line.
//
// What is signed is what a server checks: the Host value the HTTP engine sends (with the port
// unless it is the scheme's default), the path as sent encoded once more, and the query in
// its canonical form (every name and value decoded, re-encoded as UTF-8 with only
// A-Z a-z 0-9 - . _ ~ left plain, and sorted), so a URL whose parameters are already encoded
// that way and sorted is signed exactly as written.
class TbrvHTTP_Amazon_AWS_Signature_V4 : public TbrvHTTP_Amazon_AWS_Signature {
 public:
  BRV_CLASS_NAME(TbrvHTTP_Amazon_AWS_Signature_V4)
  // A signer with empty options, signing HTTP requests.
  explicit TbrvHTTP_Amazon_AWS_Signature_V4(TComponent* aOwner = nullptr);
  ~TbrvHTTP_Amazon_AWS_Signature_V4() override;

  // The options; SetSignatureV4Options copies the given group into them.
  TbrvHTTP_Amazon_AWS_Signature_V4_Options& SignatureV4Options() { return *FSignatureV4Options; }
  const TbrvHTTP_Amazon_AWS_Signature_V4_Options& SignatureV4Options() const {
    return *FSignatureV4Options;
  }
  void SetSignatureV4Options(const TbrvHTTP_Amazon_AWS_Signature_V4_Options& Value);

  // Signs a GET of aURL (empty payload) with the options' region and service.
  void SignGET(const std::string& aURL);
  // Signs a POST of aURL carrying aRequestPayload.
  void SignPOST(const std::string& aURL, const std::string& aRequestPayload);

  // The UTC time stamp of the last signing, yyyymmddThhnnssZ; empty before the first.
  const std::string& RequestDate() const { return FRequestDate; }
  // "Authorization: AWS4-HMAC-SHA256 Credential=<key>/<date>/<region>/<service>/aws4_request,
  // SignedHeaders=<names>, Signature=<hex>", with access key, region and service as the
  // options hold them now.
  virtual std::string AuthorizationHeader() const;
  // The last signature, 64 lower-case hexadecimal digits.
  virtual std::string Signature() const { return FSignature; }
  // The ";"-separated names of the headers the last signing covered.
  const std::string& SignedHeaders() const { return FSignedHeaders; }
  // The lower-case hex SHA-256 of the last canonical request.
  const std::string& HashedCanonicalRequest() const { return FHashedCanonicalRequest; }
  // The last string to sign.
  const std::string& StringToSign() const { return FStringToSign; }

  TbrvHTTP_SignatureV4_Protocol Protocol() const { return FProtocol; }
  void SetProtocol(TbrvHTTP_SignatureV4_Protocol Value) { FProtocol = Value; }

  // The instant signing stamps, as a UTC time point. It comes before SetClock's local time; no
  // time-zone rule is consulted, so no hour is ambiguous and the zone of the process does not
  // matter. Unset (and SetClock unset) means the system clock's now.
  using TUTCClock = std::function<std::chrono::system_clock::time_point()>;
  void SetUTCClock(TUTCClock Value) { FUTCClock = std::move(Value); }
  // Where signing takes the local date and time from, converted to UTC through the zone rules
  // in force; answering zero means now. A thin wrapper for callers that reason in local time.
  void SetClock(std::function<TDateTime()> Value) { FClock = std::move(Value); }

 protected:
  // The whole signing: canonical request, string to sign, signature.
  virtual void SignRequest(const std::string& ARegion, const std::string& AService,
                           const std::string& AMethod, const std::string& AURL,
                           const std::string& APayload);

 private:
  void CreateCanonicalRequest(const std::string& AMethod, const std::string& AURL,
                              const std::string& APayload);
  void CreateStringToSign(const std::string& ARegion, const std::string& AService);
  void CalculateSignature();
  std::string HashCanonicalRequest(const std::string& AMethod, const std::string& APath,
                                   const std::string& AQuery, const std::string& AHeaders,
                                   const std::string& ASignedHeaders, const std::string& APayload);

  std::unique_ptr<TbrvHTTP_Amazon_AWS_Signature_V4_Options> FSignatureV4Options;
  std::string FRequestDate;
  std::string FSignedHeaders;
  std::string FHashedCanonicalRequest;
  std::string FStringToSign;
  std::string FSignature;
  TbrvHTTP_SignatureV4_Protocol FProtocol = sv4pHTTP;
  std::function<TDateTime()> FClock;
  TUTCClock FUTCClock;
  // The last derived signing key and the day, region, service and secret key it is for.
  TIdBytes FSigningKey;
  std::string FSigningKeyDay;
  std::string FSigningKeyRegion;
  std::string FSigningKeyService;
  std::string FSigningKeySecret;
};

// The canonical form of a query for Signature Version 4, as a server computes it from the
// query it receives: the "&"-separated parameters (empty ones dropped) are split at their
// first "=", names and values are form-decoded ("%XX" escapes, "+" as a blank; bytes that are
// no UTF-8 read as U+FFFD) and re-encoded (UTF-8 bytes, A-Z a-z 0-9 - . _ ~ kept, every other
// byte "%XX" in upper case), then sorted by name and value and joined as name=value with "&".
std::string AWSCanonicalQuery(const std::string& AQuery);

// The canonical form of a path as it is sent: "." and ".." segments are resolved and empty
// segments dropped, then every byte other than A-Z a-z 0-9 - . _ ~ and "/" is written as
// "%XX" (so an escape already in the path is encoded once more); an empty path is "/".
std::string AWSCanonicalPath(const std::string& APath);

}  // namespace brv

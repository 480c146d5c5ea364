// The signer and the HTTP component of the library behind the AWS client base's seams.
#pragma once

#include <cstdint>
#include <memory>

#include "aws/brvAWSSeams.h"
#include "aws/brvHTTP_Amazon_AWS_Signature.h"
#include "http/brvHTTP_Client.h"

namespace brv {

// The Signature Version 4 signer as the AWS client base uses it.
class TbrvAWSSignerV4 : public IbrvAWSSigner {
 public:
  // Installs the OpenSSL hash hooks, so the signing hashes go through OpenSSL where it loads.
  TbrvAWSSignerV4();
  TSignatureV4Options& SignatureV4Options() override { return FOptions; }
  // Copy the options into the signer, then sign.
  void SignGET(const std::string& aURL) override;
  void SignPOST(const std::string& aURL, const std::string& aPayload) override;
  std::string RequestDate() const override { return FSigner.RequestDate(); }
  std::string AuthorizationHeader() const override { return FSigner.AuthorizationHeader(); }
  void SetSigningTime(std::chrono::system_clock::time_point AUTCTime) override;

  // The signer itself, for callers that need more of it (its clock, its last results).
  TbrvHTTP_Amazon_AWS_Signature_V4& Signer() { return FSigner; }

 private:
  void CopyOptions();

  TSignatureV4Options FOptions;
  TbrvHTTP_Amazon_AWS_Signature_V4 FSigner;
};

// The largest answer body the AWS client accepts: far above any SQS answer, and a bound on
// what a hostile or broken server can make the client hold.
inline constexpr std::int64_t brvAWSDefaultMaxResponseBodySize = 64 << 20;

// The HTTP component TbrvIdHTTP as the AWS client base uses it.
class TbrvAWSHTTPClient : public IbrvAWSHTTPClient {
 public:
  TbrvAWSHTTPClient();
  ~TbrvAWSHTTPClient() override;

  void SetTLSVersion(TwsTLSVersions Version) override;
  TbrvTCPTLS_Options& TLSOptions() override;
  int ConnectTimeout() const override;
  void SetConnectTimeout(int Value) override;
  int ReadTimeout() const override;
  void SetReadTimeout(int Value) override;
  void SetLogFileName(const std::string& FileName) override;
  void SetLog(bool Value) override;
  void ClearCustomHeaders() override;
  void AddCustomHeader(std::string Line) override;
  void SetContentType(const std::string& Value) override;
  void SetAccept(const std::string& Value) override;
  void Get(const std::string& aURL, TStream& aResponseContent) override;
  void Post(const std::string& aURL, const std::string& aBody, TStream& aResponseContent) override;
  void SetDeadline(const TIdDeadline& ADeadline) override;
  void SetProxy(const TbrvAWSProxy& AProxy) override;
  std::string ResponseHeader(const std::string& AName) const override;

  // The component itself, for callers that configure more of it (TLS options, time-outs).
  TbrvIdHTTP& HTTP() { return *FHTTP; }

 private:
  std::unique_ptr<TbrvIdHTTP> FHTTP;
};

}  // namespace brv

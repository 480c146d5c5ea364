// The AWS client base: AWS options, the service endpoint, and one signed GET through the
// client's signer and HTTP component.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "aws/brvAWSSeams.h"
#include "aws/brvBase_Classes.h"
#include "aws/brvTCP_Classes.h"

namespace brv {

// Domain under which AWS serves its regional endpoints; the endpoint is
// "https://" + service + "." + region + this suffix.
inline constexpr const char* brvAWSRegionalEndpointSuffix = ".amazonaws.com";

// The AWS options: credentials, region and service name.
class TbrvHTTP_Amazon_AWS_Options : public TPersistent {
 public:
  BRV_CLASS_NAME(TbrvHTTP_Amazon_AWS_Options)
  // Copies Region, Service, AccessKey and SecretKey from another AWS options group; anything
  // else is refused with "Cannot assign a %s to a %s".
  void Assign(const TPersistent* Source) override;

  std::string AccessKey;
  std::string Region;
  std::string SecretKey;
  // Set by the derived client ("sqs"); not stored with the form.
  std::string Service;
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
class TbrvHTTP_Amazon_AWS_Client : public TbrvHTTP_Amazon_AWS_Base {
 public:
  BRV_CLASS_NAME(TbrvHTTP_Amazon_AWS_Client)
  using TSignerFactory = std::function<std::unique_ptr<IbrvAWSSigner>()>;
  using THTTPClientFactory = std::function<std::unique_ptr<IbrvAWSHTTPClient>()>;

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

  // "https://" + Service + "." + Region + the regional endpoint suffix, computed on each read.
  std::string EndPoint() const;

  // One signed GET of aURL. True with aResponse holding the body when one was obtained; false
  // with aError holding the error answer on an HTTP error status; false with both empty when
  // DoBeforeRequest refused. Every other failure raises.
  bool GetURL(const std::string& aURL, std::string& aResponse, std::string& aError);
  // Not supported: returns false and leaves aResponse and aError as they were.
  bool PostURL(const std::string& aURL, std::string& aResponse, std::string& aError);

  // The HTTP component, made on first call (asking for TLS 1.2).
  IbrvAWSHTTPClient& GetHTTPClient();
  // The signer, made on first call.
  IbrvAWSSigner& GetSigner();

  // Where the signer and the HTTP component come from when they are first needed (tests put
  // recording fakes here). Unset factories leave the choice to CreateSigner and
  // CreateHTTPClient.
  void SetSignerFactory(TSignerFactory Factory) { FSignerFactory = std::move(Factory); }
  void SetHTTPClientFactory(THTTPClientFactory Factory) { FHTTPClientFactory = std::move(Factory); }

 protected:
  // The gate before each GET: may change the URL that will be fetched, or refuse (false).
  virtual bool DoBeforeRequest(std::string& aURL);
  // Readies the HTTP component for a signed GET of aURL: log settings, options into the
  // signer, signing, and the request headers.
  virtual void PrepareGET(const std::string& aURL);
  // As PrepareGET without signing: the headers carry whatever the signer last produced.
  virtual void PreparePOST(const std::string& aBody);

  // Make the signer and the HTTP component: the factory's when one is set, else the
  // library's Signature Version 4 signer and TbrvIdHTTP component.
  virtual std::unique_ptr<IbrvAWSSigner> CreateSigner();
  virtual std::unique_ptr<IbrvAWSHTTPClient> CreateHTTPClient();

 private:
  void CopyLogSettings();
  void CopyOptionsToSigner();
  void SetRequestHeaders();

  std::unique_ptr<IbrvAWSSigner> FSignature;
  std::unique_ptr<IbrvAWSHTTPClient> FHTTPClient;
  std::unique_ptr<TbrvHTTP_Amazon_AWS_Options> FAWSOptions;
  std::unique_ptr<TbrvAWSLogFile> FLogFile;
  TSignerFactory FSignerFactory;
  THTTPClientFactory FHTTPClientFactory;
};

}  // namespace brv

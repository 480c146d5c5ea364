// What the AWS client base needs of its request signer and of its HTTP component, and nothing
// more. The client reaches both only through these two interfaces; the factories of
// TbrvHTTP_Amazon_AWS_Client decide which implementation stands behind them.
#pragma once

#include <chrono>
#include <string>

#include "aws/brvAWSProxy.h"
#include "base/Exception.h"
#include "base/Streams.h"
#include "tls/brvTCP_TLS_Options.h"
#include "tls/brvWebSocket_Types.h"
#include "transport/IdDeadline.h"

namespace brv {

// A signer or HTTP component the client needs is not present in this build, and no factory
// supplies one.
BRV_DECLARE_EXCEPTION(EbrvAWSComponentUnavailable, Exception);

// Signs a request with AWS Signature Version 4.
class IbrvAWSSigner {
 public:
  // The signing options; the client copies its AWS options into them before every signing.
  struct TSignatureV4Options {
    std::string AccessKey;
    std::string Region;
    std::string SecretKey;
    std::string Service;
    // Temporary credentials' token; when set the signature covers "x-amz-security-token".
    std::string SessionToken;
  };

  virtual ~IbrvAWSSigner() = default;

  virtual TSignatureV4Options& SignatureV4Options() = 0;
  // Signs a GET of aURL (its path and query as they stand) with the current options, stamping
  // the request date.
  virtual void SignGET(const std::string& aURL) = 0;
  // Signs a POST of aURL carrying aPayload, stamping the request date.
  virtual void SignPOST(const std::string& aURL, const std::string& aPayload) = 0;
  // The UTC time stamp of the last signing, yyyymmddThhnnssZ.
  virtual std::string RequestDate() const = 0;
  // The complete header line of the last signing, "Authorization: AWS4-HMAC-SHA256 ...".
  virtual std::string AuthorizationHeader() const = 0;
  // The UTC time the next signings stamp, instead of the system clock's (the client's own
  // clock, corrected by the offset a service reported). A signer with a fixed date of its
  // own may ignore it.
  virtual void SetSigningTime(std::chrono::system_clock::time_point /*AUTCTime*/) {}
};

// The HTTP component as the AWS client uses it. Each operation stands for one member of the
// component, named in its comment.
class IbrvAWSHTTPClient {
 public:
  virtual ~IbrvAWSHTTPClient() = default;

  // TLSOptions.Version: the TLS version https connections negotiate.
  virtual void SetTLSVersion(TwsTLSVersions Version) = 0;
  // TLSOptions: engine, version, verification and trust files of https connections. Read when
  // the first https request makes the TLS handler.
  virtual TbrvTCPTLS_Options& TLSOptions() = 0;
  // ConnectTimeout and ReadTimeout, in milliseconds (0 or -1: no limit).
  virtual int ConnectTimeout() const = 0;
  virtual void SetConnectTimeout(int Value) = 0;
  virtual int ReadTimeout() const = 0;
  virtual void SetReadTimeout(int Value) = 0;
  // LogOptions.FileName: the file the raw exchange is logged to.
  virtual void SetLogFileName(const std::string& FileName) = 0;
  // Log: switches the log of the raw exchange on or off.
  virtual void SetLog(bool Value) = 0;
  // Request.CustomHeaders.Clear: drops every extra request header line.
  virtual void ClearCustomHeaders() = 0;
  // Request.CustomHeaders.Add: adds one raw header line ("Name: value").
  virtual void AddCustomHeader(std::string Line) = 0;
  // Request.ContentType.
  virtual void SetContentType(const std::string& Value) = 0;
  // Request.Accept.
  virtual void SetAccept(const std::string& Value) = 0;
  // Get: fetches aURL and writes the response body into aResponseContent. An HTTP error
  // status raises EbrvAWSHTTPError (brvAWSHTTPError.h) carrying the body as ErrorMessage;
  // every other failure raises its own exception.
  virtual void Get(const std::string& aURL, TStream& aResponseContent) = 0;
  // Post: sends aBody to aURL with the request's content type and writes the response body
  // into aResponseContent; errors as for Get.
  virtual void Post(const std::string& aURL, const std::string& aBody,
                    TStream& aResponseContent) = 0;

  // The following have defaults so that a component without them still serves a plain call.

  // Deadline: the time by which the next requests must end, and the cancellation that may
  // end them sooner; every wait of the connection honours it. The default one sets no limit.
  virtual void SetDeadline(const TIdDeadline& /*ADeadline*/) {}
  // ProxyParams: the HTTP proxy the next requests go through (https through a CONNECT
  // tunnel); an empty one means a direct connection.
  virtual void SetProxy(const TbrvAWSProxy& /*AProxy*/) {}
  // Response.RawHeaders.Values: a header of the last answer (also of an HTTP error status),
  // "" when it had none.
  virtual std::string ResponseHeader(const std::string& /*AName*/) const { return {}; }
};

}  // namespace brv

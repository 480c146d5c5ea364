// The HTTP error status as the AWS client base receives it from its HTTP component.
#pragma once

#include <string>

#include "base/Exception.h"

namespace brv {

// Raised by the HTTP component's Get for an HTTP error status: the status code, the status
// line as the message, and the response body as ErrorMessage. The AWS client turns it into
// its error text. (The HTTP layer's protocol exception is the real carrier; its adapter
// raises this one, or this name becomes an alias of that class.)
class EbrvAWSHTTPError : public EIdException {
 public:
  EbrvAWSHTTPError(int anErrCode, const std::string& asReplyMessage,
                   const std::string& asErrorMessage)
      : EIdException(asReplyMessage), FErrorCode(anErrCode), FErrorMessage(asErrorMessage) {}
  const char* ClassName() const noexcept override { return "EbrvAWSHTTPError"; }

  // The HTTP status code.
  int ErrorCode() const { return FErrorCode; }
  // The response body of the error answer.
  const std::string& ErrorMessage() const { return FErrorMessage; }

 private:
  int FErrorCode;
  std::string FErrorMessage;
};

}  // namespace brv

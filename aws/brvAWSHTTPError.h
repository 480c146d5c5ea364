// The HTTP error status as the AWS client base receives it from its HTTP component.
#pragma once

#include "http/IdHTTP.h"

namespace brv {

// Raised by the HTTP component's Get for an HTTP error status: the status code, the status
// line as the message, and the response body as ErrorMessage. The AWS client turns it into
// its error text.
using EbrvAWSHTTPError = EIdHTTPProtocolException;

}  // namespace brv

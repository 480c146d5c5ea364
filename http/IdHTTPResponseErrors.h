// The exceptions that refuse a response whose framing cannot be trusted, each naming the rule
// it breaks.
#pragma once

#include <string>

#include "base/Exception.h"

namespace brv {

// The framing rules of an HTTP/1.x response the client enforces.
enum TIdHTTPFramingRule {
  frNone,
  frBadStatusLine,         // a control character in the status line
  frBadHeaderLine,         // a header line without "name:", or with a control character
  frTooManyHeaderLines,    // more header lines than the client's maximum
  frTooManyTrailerLines,   // more trailer lines than the client's maximum
  frLineTooLong,           // a status, header, chunk-size or trailer line beyond the line limit
  frBadContentLength,      // a Content-Length that is not a decimal number
  frConflictingLengths,    // two different Content-Length values
  frBadChunkSize,          // a chunk-size line that is not hexadecimal
  frChunkSizeTooLarge,     // a chunk of 2^31 bytes or more
  frMissingChunkCRLF,      // chunk data not followed by CR LF
  frBodyTooLarge,          // a body beyond the client's maximum body size
  frTooManyInformational,  // more informational (1xx) answers than allowed for one request
  frTruncatedHead,         // the peer closed inside the status line or the header block
  frTruncatedCountedBody,  // the peer closed before the announced length arrived
  frTruncatedChunkedBody,  // the peer closed before the last chunk and the trailers
};

// The name of a rule, for messages and test reports.
const char* FramingRuleName(TIdHTTPFramingRule ARule);

// A response that breaks the message framing (see TIdHTTPFramingRule). The connection is
// closed.
class EIdHTTPMalformedResponse : public EIdException {
 public:
  explicit EIdHTTPMalformedResponse(const std::string& AMessage, TIdHTTPFramingRule ARule = frNone)
      : EIdException(AMessage), FRule(ARule) {}
  const char* ClassName() const noexcept override { return "EIdHTTPMalformedResponse"; }
  TIdHTTPFramingRule Rule() const noexcept { return FRule; }

 private:
  TIdHTTPFramingRule FRule;
};

// A response body larger than the client's MaxResponseBodySize. The connection is closed.
class EIdHTTPResponseTooLarge : public EIdHTTPMalformedResponse {
 public:
  explicit EIdHTTPResponseTooLarge(const std::string& AMessage)
      : EIdHTTPMalformedResponse(AMessage, frBodyTooLarge) {}
  const char* ClassName() const noexcept override { return "EIdHTTPResponseTooLarge"; }
};

// The peer closed before the response was complete (in the headers, a counted body or a
// chunked body). The connection is closed.
class EIdHTTPTruncatedResponse : public EIdException {
 public:
  explicit EIdHTTPTruncatedResponse(const std::string& AMessage, TIdHTTPFramingRule ARule = frNone)
      : EIdException(AMessage), FRule(ARule) {}
  const char* ClassName() const noexcept override { return "EIdHTTPTruncatedResponse"; }
  TIdHTTPFramingRule Rule() const noexcept { return FRule; }

 private:
  TIdHTTPFramingRule FRule;
};

}  // namespace brv

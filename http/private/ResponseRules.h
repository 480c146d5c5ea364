// What the client does with a response once its head is read: whether the connection stays
// open, whether a body follows and how it is delimited, and what is done to the body once it
// is read. No socket: the engine asks these and acts on the answers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/Streams.h"
#include "http/IdHTTP.h"
#include "http/private/HTTPResponseDecoder.h"

namespace brv::http_detail {

// The status code of a status line: the text after the first space, trimmed, up to the next
// space, cut at a "."; -1 when that is not a number that fits an int.
int ResponseCodeOf(std::string_view AStatusLine);

// A request whose answer has no body: HEAD, or a method override of HEAD.
bool IsHeadRequest(const TIdHTTPRequest& ARequest);

// One of the media types that are HTML (text/html, text/html-sandboxed,
// application/xhtml+xml).
bool IsHtmlMediaType(const std::string& AContentType);

// Whether an open connection stays open after AResponse to ARequest, by their Connection
// fields (and their Proxy-Connection fields with AThroughProxy): with HTTP/1.0 only when the
// answer asks for keep-alive, with 1.1 unless either side says close.
bool KeepAliveByHeaders(const TIdHTTPRequest& ARequest, const TIdHTTPResponse& AResponse,
                        TIdHTTPProtocolVersion AVersion, bool AThroughProxy);
// A request sent to a proxy (forwarded or through its tunnel).
bool ThroughProxy(const TIdHTTPRequest& ARequest);

// Whether a body follows a head.
struct TBodyExpectation {
  bool Expected = false;  // a body may follow
  int WaitFirst = 0;      // > 0: it is read only if data arrives within this many milliseconds
};
// A body the framing announces (chunked or multipart unless the options say not to read
// them, a counted one when not empty, else one delimited by the close) is read at once,
// except after a HEAD, a 1xx, 204 or 304, which have none (with hoWaitForUnexpectedData a
// stray one is read if it comes within 100 ms), and after a 3xx, which is read if it comes
// within 5 s.
TBodyExpectation BodyExpectationOf(const THTTPResponseDecoder::TAnnounced& AAnnounced,
                                   const TIdHTTPRequest& ARequest,
                                   const TIdHTTPResponse& AResponse, TIdHTTPOptions AOptions);

// How the body the head announced is read: chunked, counted, multipart (up to the boundary
// of its Content-Type) or until the close.
struct TBodyStart {
  TBodyFraming Framing = TBodyFraming::UntilClose;
  std::int64_t Length = -1;  // of a counted body
  std::string Boundary;      // of a multipart body
};
TBodyStart BodyStartOf(const THTTPResponseDecoder::TAnnounced& AAnnounced,
                       TIdHTTPResponse& AResponse);

// What is done to a body while and after it is read into a target stream.
struct TBodyTreatment {
  bool ScanHtml = false;    // its meta http-equiv declarations are read (the charset)
  bool ScanXml = false;     // its XML declaration's encoding becomes the charset
  bool Decompress = false;  // deflate or gzip content is decoded with the compressor
  // The body is read into a memory stream of its own first, then copied to ATarget.
  bool Collect(TStream* ATarget) const;
};
TBodyTreatment BodyTreatmentOf(const TIdHTTPResponse& AResponse, bool AHasTarget,
                               bool ACompressorReady, TIdHTTPOptions AOptions);

// Completes a body that was read: decompresses ACollected in place, takes the charset from
// the HTML or XML (in ACollected, or in ATarget from AScanStart), and copies ACollected to
// ATarget. ACollected is nullptr when the body went straight to ATarget.
void FinishBody(const TBodyTreatment& ATreatment, TMemoryStream* ACollected, TStream* ATarget,
                std::int64_t AScanStart, TIdHTTPResponse& AResponse,
                TIdZLibCompressorBase* ACompressor);

}  // namespace brv::http_detail

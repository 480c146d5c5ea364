// A push decoder of one HTTP/1.x response: fed bytes as they arrive, it reports the status
// line, the header lines, the body pieces and the trailers, and refuses a response that breaks
// the framing with an exception naming the rule. It owns no socket and reads no clock, so the
// engine drives it from its I/O handler and tests and fuzzers feed it directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "http/IdHTTPResponseErrors.h"

namespace brv::http_detail {

// How the body of a response is delimited, as the engine decides from the head.
enum class TBodyFraming { None, Counted, Chunked, Multipart, UntilClose };

class THTTPResponseDecoder {
 public:
  // What the decoder reports; every event is optional. Views are valid during the call only.
  class IEvents {
   public:
    virtual ~IEvents() = default;
    // The status line, without its line end.
    virtual void OnStatusLine(std::string_view /*ALine*/) {}
    // One header line as received (a continuation line starts with a space or a tab).
    virtual void OnHeaderLine(std::string_view /*ALine*/) {}
    // The empty line that ends a head; AInformational for a 1xx answer other than 101, after
    // which the next status line follows.
    virtual void OnHeadEnd(bool /*AInformational*/) {}
    // The next bytes of the body.
    virtual void OnBody(const std::uint8_t* /*AData*/, std::size_t /*ASize*/) {}
    // The data of one chunk is complete.
    virtual void OnChunkEnd() {}
    // One trailer line of a chunked body.
    virtual void OnTrailerLine(std::string_view /*ALine*/) {}
  };

  struct TLimits {
    int MaxLineLength = 16384;      // bytes of a line with its CR; <= 0: none
    int MaxHeaderLines = 255;       // per head, and trailer lines; <= 0: none
    std::int64_t MaxBodySize = -1;  // < 0: none
    int MaxInformational = 10;      // 1xx answers before the final one
  };

  // What the head of the final answer announced about its body.
  struct TAnnounced {
    bool Chunked = false;      // Transfer-Encoding names "chunked"
    bool HasLength = false;    // a valid Content-Length is present
    std::int64_t Length = -1;  // its value
  };

  THTTPResponseDecoder() = default;

  void SetEvents(IEvents* AEvents) { FEvents = AEvents != nullptr ? AEvents : &FNoEvents; }
  const TLimits& Limits() const { return FLimits; }
  void SetLimits(const TLimits& ALimits) { FLimits = ALimits; }

  // Starts a new response: the next bytes are its status line. With AEmptyStatusEndsHead an
  // empty status line is a whole head (a proxy that answers CONNECT with an empty line).
  void BeginResponse(bool AEmptyStatusEndsHead = false);
  // Feeds bytes; returns how many were used. The decoder stops after the head of the final
  // answer (HeadDone) and after the body (Done); bytes after that are not used.
  std::size_t Feed(const void* AData, std::size_t ASize);
  // The peer closed. Completes a close-delimited or multipart body; raises
  // EIdHTTPTruncatedResponse where the framing says more must follow.
  void FeedEnd();

  // True while nothing of the current status line has arrived (a close there is not a
  // truncated answer but no answer).
  bool AwaitingStatus() const { return FState == sStatus && FLine.empty(); }
  bool HeadDone() const { return FState == sHeadDone; }
  bool Done() const { return FState == sDone; }
  // The status code of the last head (-1 when the status line carries none).
  int StatusCode() const { return FStatusCode; }

  // The body the final head announced. Raises EIdHTTPMalformedResponse (frBadContentLength)
  // when a Content-Length that decides the framing is not a decimal number.
  TAnnounced Announced() const;

  // Starts reading the body with AFraming. ALength is the Counted length; ABoundary the
  // multipart boundary. A counted length beyond MaxBodySize is refused here.
  void BeginBody(TBodyFraming AFraming, std::int64_t ALength = -1, std::string_view ABoundary = {});

 private:
  enum TState {
    sStatus,
    sHeader,
    sHeadDone,
    sCounted,
    sChunkSize,
    sChunkData,
    sChunkCR,
    sChunkLF,
    sTrailer,
    sMultipart,
    sMultipartLineEnd,
    sUntilClose,
    sDone,
  };

  // Collects a line across feeds; returns true with ALine set once its LF arrived.
  bool TakeLine(const std::uint8_t*& AP, const std::uint8_t* AEnd, std::string_view& ALine);
  void StatusLine(std::string_view ALine);
  void HeaderLine(std::string_view ALine);
  void EndOfHead();
  void ChunkSizeLine(std::string_view ALine);
  void TrailerLine(std::string_view ALine);
  void Deliver(const std::uint8_t* AData, std::size_t ASize);
  void CheckBodySize(std::int64_t AMore) const;
  std::size_t FeedMultipart(const std::uint8_t* AData, std::size_t ASize);

  IEvents FNoEvents;
  IEvents* FEvents = &FNoEvents;
  TLimits FLimits;
  TState FState = sStatus;
  bool FEmptyStatusEndsHead = false;
  std::string FLine;  // the part of a line that arrived in earlier feeds
  int FStatusCode = -1;
  int FLines = 0;
  int FInformational = 0;
  // What the header lines said about the body.
  bool FChunked = false;
  bool FHaveLength = false;
  std::string FLengthText;
  // Body progress.
  std::int64_t FDelivered = 0;
  std::int64_t FRemaining = 0;  // of a counted body or of the current chunk
  std::int64_t FChunkSize = 0;
  std::int64_t FCounted = 0;
  std::string FDelimiter;  // multipart: "--" boundary "--"
  std::string FHeld;       // multipart: bytes that may start the delimiter
};

}  // namespace brv::http_detail

#include "http/private/HTTPResponseDecoder.h"

#include <algorithm>
#include <cstring>

#include "base/AsciiText.h"
#include "http/private/ByteScan.h"

namespace brv {

const char* FramingRuleName(TIdHTTPFramingRule ARule) {
  switch (ARule) {
    case frNone:
      return "none";
    case frBadStatusLine:
      return "bad status line";
    case frBadHeaderLine:
      return "bad header line";
    case frTooManyHeaderLines:
      return "too many header lines";
    case frTooManyTrailerLines:
      return "too many trailer lines";
    case frLineTooLong:
      return "line too long";
    case frBadContentLength:
      return "bad Content-Length";
    case frConflictingLengths:
      return "conflicting Content-Length values";
    case frBadChunkSize:
      return "bad chunk size";
    case frChunkSizeTooLarge:
      return "chunk size too large";
    case frMissingChunkCRLF:
      return "chunk data not followed by CR LF";
    case frBodyTooLarge:
      return "body too large";
    case frTooManyInformational:
      return "too many informational answers";
    case frTruncatedHead:
      return "truncated head";
    case frTruncatedCountedBody:
      return "truncated counted body";
    case frTruncatedChunkedBody:
      return "truncated chunked body";
  }
  return "unknown";
}

namespace http_detail {

namespace {

bool SameAsciiText(std::string_view A, std::string_view ALower) {
  if (A.size() != ALower.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    char c = A[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != ALower[i]) return false;
  }
  return true;
}

bool ContainsAsciiText(std::string_view A, std::string_view ALower) {
  if (ALower.size() > A.size()) return false;
  for (size_t i = 0; i + ALower.size() <= A.size(); ++i)
    if (SameAsciiText(A.substr(i, ALower.size()), ALower)) return true;
  return false;
}

// A decimal number of digits only that fits 63 bits, or -1.
std::int64_t DecimalValue(std::string_view S) {
  if (S.empty()) return -1;
  std::int64_t v = 0;
  for (char c : S) {
    if (c < '0' || c > '9') return -1;
    if (v > (INT64_MAX - (c - '0')) / 10) return -1;
    v = v * 10 + (c - '0');
  }
  return v;
}

// The status code as the response reads it: the text after the first space, up to the next
// space, cut at a ".".
int StatusCodeOf(std::string_view ALine) {
  const size_t space = ALine.find(' ');
  if (space == std::string_view::npos) return -1;
  std::string_view s = TrimView(ALine.substr(space + 1));
  s = s.substr(0, s.find(' '));
  s = s.substr(0, s.find('.'));
  const std::int64_t v = s.size() <= 9 ? DecimalValue(s) : -1;
  return static_cast<int>(v);
}

std::string Quoted(std::string_view S, size_t AMax) {
  return "\"" + std::string(S.substr(0, AMax)) + "\"";
}

}  // namespace

void THTTPResponseDecoder::BeginResponse(bool AEmptyStatusEndsHead) {
  FState = sStatus;
  FEmptyStatusEndsHead = AEmptyStatusEndsHead;
  FLine.clear();
  FStatusCode = -1;
  FInformational = 0;
  FChunked = false;
  FHaveLength = false;
  FLengthText.clear();
}

bool THTTPResponseDecoder::TakeLine(const std::uint8_t*& AP, const std::uint8_t* AEnd,
                                    std::string_view& ALine) {
  const auto* lf = static_cast<const std::uint8_t*>(std::memchr(AP, '\n', AEnd - AP));
  const size_t part = static_cast<size_t>((lf != nullptr ? lf : AEnd) - AP);
  // The limit counts the line with its CR, so a line that can no longer fit is refused at
  // once instead of waiting for its end.
  if (FLimits.MaxLineLength > 0 && FLine.size() + part > static_cast<size_t>(FLimits.MaxLineLength))
    throw EIdHTTPMalformedResponse(
        "The response has a line longer than " + std::to_string(FLimits.MaxLineLength) + " bytes",
        frLineTooLong);
  if (lf == nullptr) {
    FLine.append(reinterpret_cast<const char*>(AP), part);
    AP = AEnd;
    return false;
  }
  if (FLine.empty()) {
    ALine = std::string_view(reinterpret_cast<const char*>(AP), part);
  } else {
    FLine.append(reinterpret_cast<const char*>(AP), part);
    ALine = FLine;
  }
  AP = lf + 1;
  if (!ALine.empty() && ALine.back() == '\r') ALine.remove_suffix(1);
  return true;
}

std::size_t THTTPResponseDecoder::Feed(const void* AData, std::size_t ASize) {
  const auto* const begin = static_cast<const std::uint8_t*>(AData);
  const std::uint8_t* p = begin;
  const std::uint8_t* const end = p + ASize;
  while (p < end) {
    switch (FState) {
      case sHeadDone:
      case sDone:
        return static_cast<size_t>(p - begin);
      case sStatus:
      case sHeader:
      case sChunkSize:
      case sTrailer:
      case sMultipartLineEnd: {
        std::string_view line;
        if (!TakeLine(p, end, line)) break;
        switch (FState) {
          case sStatus:
            StatusLine(line);
            break;
          case sHeader:
            HeaderLine(line);
            break;
          case sChunkSize:
            ChunkSizeLine(line);
            break;
          case sTrailer:
            TrailerLine(line);
            break;
          default:  // the rest of the multipart closing delimiter's line is dropped
            FState = sDone;
            break;
        }
        FLine.clear();
        break;
      }
      case sCounted:
      case sChunkData: {
        const auto take = static_cast<size_t>(
            std::min<std::int64_t>(FRemaining, static_cast<std::int64_t>(end - p)));
        Deliver(p, take);
        p += take;
        FRemaining -= static_cast<std::int64_t>(take);
        if (FRemaining == 0) {
          if (FState == sCounted) {
            FState = sDone;
          } else {
            FEvents->OnChunkEnd();
            FState = sChunkCR;
          }
        }
        break;
      }
      case sChunkCR:
      case sChunkLF:
        // Decided on the first byte that differs, without waiting for a line end.
        if (*p == '\r' && FState == sChunkCR) {
          FState = sChunkLF;
        } else if (*p == '\n') {
          FState = sChunkSize;
        } else {
          throw EIdHTTPMalformedResponse("Chunk data not followed by CR LF", frMissingChunkCRLF);
        }
        ++p;
        break;
      case sMultipart:
        p += FeedMultipart(p, static_cast<size_t>(end - p));
        break;
      case sUntilClose:
        Deliver(p, static_cast<size_t>(end - p));
        p = end;
        break;
    }
  }
  return static_cast<size_t>(p - begin);
}

void THTTPResponseDecoder::FeedEnd() {
  switch (FState) {
    case sStatus:
    case sHeader:
      throw EIdHTTPTruncatedResponse("Connection closed before the end of the response headers",
                                     frTruncatedHead);
    case sCounted:
    case sChunkData: {
      const std::int64_t total = FState == sCounted ? FCounted : FChunkSize;
      throw EIdHTTPTruncatedResponse(
          "Connection closed before the whole body was received (" +
              std::to_string(total - FRemaining) + " of " + std::to_string(total) + " bytes)",
          FState == sCounted ? frTruncatedCountedBody : frTruncatedChunkedBody);
    }
    case sChunkSize:
    case sChunkCR:
    case sChunkLF:
    case sTrailer:
      throw EIdHTTPTruncatedResponse("Connection closed in the middle of a chunked body",
                                     frTruncatedChunkedBody);
    case sMultipart:
      // Without its closing delimiter the body ends with the connection, as it stands.
      if (!FHeld.empty()) {
        const std::string held = std::move(FHeld);
        FHeld.clear();
        Deliver(reinterpret_cast<const std::uint8_t*>(held.data()), held.size());
      }
      FState = sDone;
      break;
    case sMultipartLineEnd:
    case sUntilClose:
      FState = sDone;
      break;
    case sHeadDone:
    case sDone:
      break;
  }
}

void THTTPResponseDecoder::StatusLine(std::string_view ALine) {
  if (HasControl(ALine))
    throw EIdHTTPMalformedResponse("Invalid status line: it holds a control character",
                                   frBadStatusLine);
  FStatusCode = StatusCodeOf(ALine);
  FLines = 0;
  FChunked = false;
  FHaveLength = false;
  FLengthText.clear();
  FEvents->OnStatusLine(ALine);
  if (ALine.empty() && FEmptyStatusEndsHead) {
    FEvents->OnHeadEnd(false);
    FState = sHeadDone;
    return;
  }
  FState = sHeader;
}

void THTTPResponseDecoder::HeaderLine(std::string_view ALine) {
  if (ALine.empty()) {
    EndOfHead();
    return;
  }
  if (FLimits.MaxHeaderLines > 0 && FLines >= FLimits.MaxHeaderLines)
    throw EIdHTTPMalformedResponse(
        "The response has more than " + std::to_string(FLimits.MaxHeaderLines) + " header lines",
        frTooManyHeaderLines);
  ++FLines;
  if (HasControl(ALine))
    throw EIdHTTPMalformedResponse("Invalid header line: it holds a control character",
                                   frBadHeaderLine);
  if (ALine[0] != ' ' && ALine[0] != '\t') {
    const size_t colon = ALine.find(':');
    if (colon == std::string_view::npos || colon == 0)
      throw EIdHTTPMalformedResponse("Invalid header line: " + Quoted(ALine, 64), frBadHeaderLine);
    // Only the two fields that decide the framing are looked at here; the response's header
    // model reads the rest.
    const char first = static_cast<char>(ALine[0] | 0x20);
    if (first == 'c' || first == 't') {
      const std::string_view name = TrimView(ALine.substr(0, colon));
      const std::string_view value = TrimView(ALine.substr(colon + 1));
      if (SameAsciiText(name, "content-length")) {
        if (!FHaveLength) {
          FHaveLength = true;
          FLengthText = value;
        } else if (value != FLengthText &&
                   (DecimalValue(value) < 0 || DecimalValue(value) != DecimalValue(FLengthText))) {
          // Two lengths leave the end of the body to a guess; peers that disagree with each
          // other about it are how responses get smuggled.
          throw EIdHTTPMalformedResponse("Conflicting Content-Length values: " +
                                             Quoted(FLengthText, 32) + " and " + Quoted(value, 32),
                                         frConflictingLengths);
        }
      } else if (SameAsciiText(name, "transfer-encoding") && ContainsAsciiText(value, "chunked")) {
        FChunked = true;
      }
    }
  }
  FEvents->OnHeaderLine(ALine);
}

void THTTPResponseDecoder::EndOfHead() {
  const bool informational = FStatusCode >= 100 && FStatusCode <= 199 && FStatusCode != 101;
  if (!informational) {
    FEvents->OnHeadEnd(false);
    FState = sHeadDone;
    return;
  }
  if (++FInformational > FLimits.MaxInformational)
    throw EIdHTTPMalformedResponse("The response has more than " +
                                       std::to_string(FLimits.MaxInformational) +
                                       " informational (1xx) answers",
                                   frTooManyInformational);
  FEvents->OnHeadEnd(true);
  FState = sStatus;
}

THTTPResponseDecoder::TAnnounced THTTPResponseDecoder::Announced() const {
  TAnnounced a;
  a.Chunked = FChunked;
  if (FHaveLength && !FChunked) {
    // A length the framing cannot trust ends the exchange instead of guessing.
    a.Length = DecimalValue(FLengthText);
    if (a.Length < 0)
      throw EIdHTTPMalformedResponse("Invalid Content-Length: " + Quoted(FLengthText, 64),
                                     frBadContentLength);
    a.HasLength = true;
  }
  return a;
}

void THTTPResponseDecoder::BeginBody(TBodyFraming AFraming, std::int64_t ALength,
                                     std::string_view ABoundary) {
  FDelivered = 0;
  FLine.clear();
  switch (AFraming) {
    case TBodyFraming::None:
      FState = sDone;
      break;
    case TBodyFraming::Counted:
      if (ALength <= 0) {
        FState = sDone;
        break;
      }
      CheckBodySize(ALength);  // refused before a byte of it is read
      FCounted = FRemaining = ALength;
      FState = sCounted;
      break;
    case TBodyFraming::Chunked:
      FLines = 0;
      FState = sChunkSize;
      break;
    case TBodyFraming::Multipart:
      FDelimiter = "--";
      FDelimiter += ABoundary;
      FDelimiter += "--";
      FHeld.clear();
      FState = sMultipart;
      break;
    case TBodyFraming::UntilClose:
      FState = sUntilClose;
      break;
  }
}

void THTTPResponseDecoder::ChunkSizeLine(std::string_view ALine) {
  const std::string_view text = TrimView(ALine.substr(0, ALine.find(';')));
  if (text.empty())
    throw EIdHTTPMalformedResponse("Invalid chunk size line: " + Quoted(ALine, 64), frBadChunkSize);
  std::int64_t value = 0;
  for (char c : text) {
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      throw EIdHTTPMalformedResponse("Invalid chunk size line: " + Quoted(ALine, 64),
                                     frBadChunkSize);
    value = value * 16 + d;
    if (value > 0x7FFFFFFF)
      throw EIdHTTPMalformedResponse("Chunk size too large: " + std::string(text.substr(0, 32)),
                                     frChunkSizeTooLarge);
  }
  if (value == 0) {
    FLines = 0;
    FState = sTrailer;
    return;
  }
  CheckBodySize(value);
  FChunkSize = FRemaining = value;
  FState = sChunkData;
}

void THTTPResponseDecoder::TrailerLine(std::string_view ALine) {
  if (ALine.empty()) {
    FState = sDone;
    return;
  }
  if (FLimits.MaxHeaderLines > 0 && ++FLines > FLimits.MaxHeaderLines)
    throw EIdHTTPMalformedResponse(
        "The response has more than " + std::to_string(FLimits.MaxHeaderLines) + " trailer lines",
        frTooManyTrailerLines);
  if (HasControl(ALine))
    throw EIdHTTPMalformedResponse("Invalid trailer line: it holds a control character",
                                   frBadHeaderLine);
  FEvents->OnTrailerLine(ALine);
}

void THTTPResponseDecoder::CheckBodySize(std::int64_t AMore) const {
  if (FLimits.MaxBodySize >= 0 && AMore > FLimits.MaxBodySize - FDelivered)
    throw EIdHTTPResponseTooLarge("The response body is larger than the limit of " +
                                  std::to_string(FLimits.MaxBodySize) + " bytes");
}

void THTTPResponseDecoder::Deliver(const std::uint8_t* AData, std::size_t ASize) {
  if (ASize == 0) return;
  CheckBodySize(static_cast<std::int64_t>(ASize));
  FDelivered += static_cast<std::int64_t>(ASize);
  FEvents->OnBody(AData, ASize);
}

std::size_t THTTPResponseDecoder::FeedMultipart(const std::uint8_t* AData, std::size_t ASize) {
  // The closing delimiter may straddle two feeds, so its length less one byte is held back.
  std::string window = std::move(FHeld);
  FHeld.clear();
  const size_t held = window.size();
  window.append(reinterpret_cast<const char*>(AData), ASize);
  const size_t found = window.find(FDelimiter);
  if (found != std::string::npos) {
    const size_t upTo = found + FDelimiter.size();
    Deliver(reinterpret_cast<const std::uint8_t*>(window.data()), upTo);
    FState = sMultipartLineEnd;
    return upTo - held;
  }
  const size_t keep = std::min(window.size(), FDelimiter.size() - 1);
  Deliver(reinterpret_cast<const std::uint8_t*>(window.data()), window.size() - keep);
  FHeld = window.substr(window.size() - keep);
  return ASize;
}

}  // namespace http_detail
}  // namespace brv

#include "http/private/HTTPResponseDecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brv::http_detail {
namespace {

using Limits = THTTPResponseDecoder::TLimits;

// What the decoder reported for one response.
struct Report : THTTPResponseDecoder::IEvents {
  std::string status;   // the final status line
  std::string headers;  // header lines of the final head, each followed by "|"
  std::string body;
  std::string trailers;
  int chunks = 0;
  int informational = 0;
  bool doneBeforeEnd = false;  // complete without the peer's close
  std::string error;           // exception class and rule, "" when none

  void OnStatusLine(std::string_view ALine) override {
    status = ALine;
    headers.clear();
  }
  void OnHeaderLine(std::string_view ALine) override { (headers += ALine) += "|"; }
  void OnHeadEnd(bool AInformational) override { informational += AInformational; }
  void OnBody(const std::uint8_t* AData, std::size_t ASize) override {
    body.append(reinterpret_cast<const char*>(AData), ASize);
  }
  void OnChunkEnd() override { ++chunks; }
  void OnTrailerLine(std::string_view ALine) override { (trailers += ALine) += "|"; }
};

std::string ErrorOf(const Exception& e, TIdHTTPFramingRule ARule) {
  return std::string(e.ClassName()) + ": " + FramingRuleName(ARule);
}

// Feeds AMessage in the pieces that the cut offsets make, choosing the framing from the head as
// the engine does (AHead: the request was HEAD, so no body), then ends the input.
Report Decode(const std::string& AMessage, const std::vector<size_t>& ACuts, const Limits& ALimits,
              bool AHead = false) {
  Report r;
  THTTPResponseDecoder d;
  d.SetLimits(ALimits);
  d.SetEvents(&r);
  d.BeginResponse();
  try {
    size_t from = 0;
    std::vector<size_t> ends = ACuts;
    ends.push_back(AMessage.size());
    for (size_t to : ends) {
      while (from < to) {
        from += d.Feed(AMessage.data() + from, to - from);
        if (d.HeadDone()) {
          const auto a = d.Announced();
          if (AHead)
            d.BeginBody(TBodyFraming::None);
          else if (a.Chunked)
            d.BeginBody(TBodyFraming::Chunked);
          else if (a.HasLength)
            d.BeginBody(TBodyFraming::Counted, a.Length);
          else if (r.headers.find("multipart/") != std::string::npos)
            d.BeginBody(TBodyFraming::Multipart, -1, "zz");
          else
            d.BeginBody(TBodyFraming::UntilClose);
        }
        if (d.Done()) break;
      }
      if (d.Done()) break;
    }
    r.doneBeforeEnd = d.Done();
    d.FeedEnd();
  } catch (const EIdHTTPMalformedResponse& e) {
    r.error = ErrorOf(e, e.Rule());
  } catch (const EIdHTTPTruncatedResponse& e) {
    r.error = ErrorOf(e, e.Rule());
  }
  return r;
}

// Every way of cutting AMessage this suite tries: whole, byte at a time, and in two pieces at
// every offset.
std::vector<std::pair<std::string, std::vector<size_t>>> Cuts(const std::string& AMessage) {
  std::vector<std::pair<std::string, std::vector<size_t>>> all{{"whole", {}}};
  std::vector<size_t> bytes;
  for (size_t i = 1; i < AMessage.size(); ++i) bytes.push_back(i);
  all.emplace_back("byte at a time", bytes);
  for (size_t i = 1; i < AMessage.size(); ++i)
    all.emplace_back("split at " + std::to_string(i), std::vector<size_t>{i});
  return all;
}

struct Good {
  const char* name;
  std::string message;
  bool head;
  std::string status, headers, body, trailers;
  int chunks, informational;
  bool needsClose;  // the body ends with the connection
};

const Good kGood[] = {
    {"counted",
     "HTTP/1.1 200 OK\r\nContent-Length: 11\r\nContent-Type: text/plain\r\n\r\nhello world", false,
     "HTTP/1.1 200 OK", "Content-Length: 11|Content-Type: text/plain|", "hello world", "", 0, 0,
     false},
    {"chunked with extensions and trailers",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;a=b\r\nhello\r\n"
     "6 ; c=\"d;e\"\r\n world\r\n0\r\nX-Trailer: done\r\n\r\n",
     false, "HTTP/1.1 200 OK", "Transfer-Encoding: chunked|", "hello world", "X-Trailer: done|", 2,
     0, false},
    {"empty chunked body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n0\r\n\r\n",
     false, "HTTP/1.1 200 OK", "Transfer-Encoding: gzip, Chunked|", "", "", 0, 0, false},
    {"informational answers first",
     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX-A: 1\r\n\r\n"
     "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
     false, "HTTP/1.1 200 OK", "Content-Length: 2|", "ok", "", 0, 2, false},
    {"101 is the final answer", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n", true,
     "HTTP/1.1 101 Switching Protocols", "Upgrade: x|", "", "", 0, 0, false},
    {"folded header and bare LF line ends",
     "HTTP/1.1 200 OK\nX-T: one\n two\nContent-Length: 3\n\nabc", false, "HTTP/1.1 200 OK",
     "X-T: one| two|Content-Length: 3|", "abc", "", 0, 0, false},
    {"identical repeated lengths",
     "HTTP/1.1 200 OK\r\nContent-Length: 2\r\ncontent-length:  2 \r\n\r\nok", false,
     "HTTP/1.1 200 OK", "Content-Length: 2|content-length:  2 |", "ok", "", 0, 0, false},
    {"no body after HEAD", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n", true, "HTTP/1.1 200 OK",
     "Content-Length: 10|", "", "", 0, 0, false},
    {"close-delimited", "HTTP/1.0 200 OK\r\n\r\nuntil the end", false, "HTTP/1.0 200 OK", "",
     "until the end", "", 0, 0, true},
    {"multipart up to the closing delimiter",
     "HTTP/1.1 200 OK\r\nContent-Type: multipart/mixed; boundary=zz\r\n\r\n"
     "--zz\r\n\r\npart\r\n--zz--\r\n",
     false, "HTTP/1.1 200 OK", "Content-Type: multipart/mixed; boundary=zz|",
     "--zz\r\n\r\npart\r\n--zz--", "", 0, 0, false},
};

TEST(ResponseDecoder, GoodMessagesDecodeTheSameHoweverTheyAreCut) {
  for (const Good& g : kGood) {
    for (const auto& [how, cuts] : Cuts(g.message)) {
      const Report r = Decode(g.message, cuts, Limits{}, g.head);
      const std::string where = std::string(g.name) + ", " + how;
      ASSERT_EQ(r.error, "") << where;
      EXPECT_EQ(r.status, g.status) << where;
      EXPECT_EQ(r.headers, g.headers) << where;
      EXPECT_EQ(r.body, g.body) << where;
      EXPECT_EQ(r.trailers, g.trailers) << where;
      EXPECT_EQ(r.chunks, g.chunks) << where;
      EXPECT_EQ(r.informational, g.informational) << where;
      EXPECT_EQ(r.doneBeforeEnd, !g.needsClose) << where;
    }
  }
}

TEST(ResponseDecoder, StopsAtTheEndOfTheHeadAndOfTheBody) {
  // The next response on a kept connection is never taken as part of this one.
  const std::string first = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n";
  const std::string next = "HTTP/1.1 204 No Content\r\n\r\n";
  const std::string bytes = first + "ok" + next;
  THTTPResponseDecoder d;
  d.BeginResponse();
  EXPECT_EQ(d.Feed(bytes.data(), bytes.size()), first.size());
  ASSERT_TRUE(d.HeadDone());
  EXPECT_EQ(d.StatusCode(), 200);
  d.BeginBody(TBodyFraming::Counted, 2);
  EXPECT_EQ(d.Feed(bytes.data() + first.size(), bytes.size() - first.size()), 2u);
  EXPECT_TRUE(d.Done());
}

struct Bad {
  const char* name;
  std::string message;
  TIdHTTPFramingRule rule;
  const char* error;  // exception class
};

std::string Lines(int ACount, const std::string& ALine) {
  std::string s;
  for (int i = 0; i < ACount; ++i) s += ALine;
  return s;
}

const std::string kOk = "HTTP/1.1 200 OK\r\n";
const std::string kChunked = kOk + "Transfer-Encoding: chunked\r\n\r\n";

const Bad kBad[] = {
    {"escape in the status line", "HTTP/1.1 200 \x1b[2JOK\r\n\r\n", frBadStatusLine,
     "EIdHTTPMalformedResponse"},
    {"header line without a colon", kOk + "Content-Length 2\r\n\r\nok", frBadHeaderLine,
     "EIdHTTPMalformedResponse"},
    {"header line with an empty name", kOk + ": x\r\n\r\n", frBadHeaderLine,
     "EIdHTTPMalformedResponse"},
    {"NUL in a header value", kOk + std::string("X-A: a\0b\r\n\r\n", 12), frBadHeaderLine,
     "EIdHTTPMalformedResponse"},
    {"DEL in a header value", kOk + "X-Longer-Name: abc\x7f\r\n\r\n", frBadHeaderLine,
     "EIdHTTPMalformedResponse"},
    {"bare CR in a header value", kOk + "X-A: a\rb\r\n\r\n", frBadHeaderLine,
     "EIdHTTPMalformedResponse"},
    {"more header lines than allowed", kOk + Lines(5, "X-A: 1\r\n") + "\r\n", frTooManyHeaderLines,
     "EIdHTTPMalformedResponse"},
    {"header line beyond the line limit", kOk + "X-A: " + std::string(60, 'a') + "\r\n\r\n",
     frLineTooLong, "EIdHTTPMalformedResponse"},
    {"chunk-size line beyond the line limit", kChunked + "1;" + std::string(70, 'x') + "\r\na\r\n",
     frLineTooLong, "EIdHTTPMalformedResponse"},
    {"non-numeric Content-Length", kOk + "Content-Length: 12abc\r\n\r\nabc", frBadContentLength,
     "EIdHTTPMalformedResponse"},
    {"negative Content-Length", kOk + "Content-Length: -1\r\n\r\nabc", frBadContentLength,
     "EIdHTTPMalformedResponse"},
    {"Content-Length beyond 63 bits", kOk + "Content-Length: 99999999999999999999\r\n\r\n",
     frBadContentLength, "EIdHTTPMalformedResponse"},
    {"two different Content-Length values",
     kOk + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nabc", frConflictingLengths,
     "EIdHTTPMalformedResponse"},
    {"non-hexadecimal chunk size", kChunked + "2\r\nab\r\nzz\r\n0\r\n\r\n", frBadChunkSize,
     "EIdHTTPMalformedResponse"},
    {"empty chunk-size line", kChunked + "2\r\nab\r\n\r\n0\r\n\r\n", frBadChunkSize,
     "EIdHTTPMalformedResponse"},
    {"chunk size of 2^31", kChunked + "80000000\r\nab\r\n", frChunkSizeTooLarge,
     "EIdHTTPMalformedResponse"},
    {"chunk size far beyond 64 bits", kChunked + "ffffffffffffffffffffffff\r\n",
     frChunkSizeTooLarge, "EIdHTTPMalformedResponse"},
    {"chunk data not followed by CR LF", kChunked + "2\r\nabcd\r\n0\r\n\r\n", frMissingChunkCRLF,
     "EIdHTTPMalformedResponse"},
    {"chunk data followed by CR and no LF", kChunked + "2\r\nab\rx0\r\n\r\n", frMissingChunkCRLF,
     "EIdHTTPMalformedResponse"},
    {"more trailer lines than allowed", kChunked + "0\r\n" + Lines(5, "X-T: 1\r\n") + "\r\n",
     frTooManyTrailerLines, "EIdHTTPMalformedResponse"},
    {"counted body over the limit", kOk + "Content-Length: 17\r\n\r\n", frBodyTooLarge,
     "EIdHTTPResponseTooLarge"},
    {"chunked body over the limit", kChunked + "a\r\n0123456789\r\n7\r\n0123456\r\n0\r\n\r\n",
     frBodyTooLarge, "EIdHTTPResponseTooLarge"},
    {"close-delimited body over the limit", kOk + "\r\n" + std::string(17, 'b'), frBodyTooLarge,
     "EIdHTTPResponseTooLarge"},
    {"eleven informational answers",
     Lines(11, "HTTP/1.1 100 Continue\r\n\r\n") + "HTTP/1.1 200 OK\r\n\r\n", frTooManyInformational,
     "EIdHTTPMalformedResponse"},
    {"close in the status line", "HTTP/1.1 20", frTruncatedHead, "EIdHTTPTruncatedResponse"},
    {"close in the headers", kOk + "Content-Type: text/plain\r\n", frTruncatedHead,
     "EIdHTTPTruncatedResponse"},
    {"close in a counted body", kOk + "Content-Length: 10\r\n\r\nabc", frTruncatedCountedBody,
     "EIdHTTPTruncatedResponse"},
    {"close in a chunk", kChunked + "5\r\nab", frTruncatedChunkedBody, "EIdHTTPTruncatedResponse"},
    {"close before the last chunk", kChunked + "2\r\nab\r\n", frTruncatedChunkedBody,
     "EIdHTTPTruncatedResponse"},
    {"close in the trailers", kChunked + "0\r\nX-T: 1\r\n", frTruncatedChunkedBody,
     "EIdHTTPTruncatedResponse"},
};

TEST(ResponseDecoder, BadMessagesBreakTheirRuleHoweverTheyAreCut) {
  Limits small;
  small.MaxLineLength = 64;
  small.MaxHeaderLines = 4;
  small.MaxBodySize = 16;
  for (const Bad& b : kBad) {
    const std::string expected = std::string(b.error) + ": " + FramingRuleName(b.rule);
    for (const auto& [how, cuts] : Cuts(b.message))
      EXPECT_EQ(Decode(b.message, cuts, small).error, expected) << b.name << ", " << how;
  }
}

TEST(ResponseDecoder, NoLimitUnlessOneIsSet) {
  // The default limits of a bare decoder take a large body and many lines.
  const std::string body(1 << 20, 'x');
  const Report r = Decode(kOk + Lines(200, "X-A: 1\r\n") + "\r\n" + body, {}, Limits{});
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.body.size(), body.size());
}

}  // namespace
}  // namespace brv::http_detail

#include "http/IdHTTP.h"

#include <gtest/gtest.h>

#include "tests/transport/support/TestIOHandler.h"

namespace brv {
namespace {

// The test handler with the first read cut after ASplit bytes (0: no cut), so a response
// reaches the engine in two pieces split at any offset.
class SplitHandler : public TIdTestIOHandler {
 public:
  explicit SplitHandler(int ASplit) : split_(ASplit) {}
  int ReadRawData(TIdBytes& VBuffer) override {
    if (split_ > 0) SetMaxReadSize(reads_ == 0 ? split_ : 0);
    ++reads_;
    return TIdTestIOHandler::ReadRawData(VBuffer);
  }

 private:
  int split_;
  int reads_ = 0;
};

struct Outcome {
  std::string body;
  int code = 0;
  std::string trailer;
  std::string error;                 // exception class, or "" on success
  TIdHTTPFramingRule rule = frNone;  // the framing rule the exception names
  std::string sent;
};

// One GET through the engine with AResponse as the peer's bytes.
Outcome Exchange(const std::string& AResponse, int ASplit, int AMaxRead = 0) {
  SplitHandler handler(ASplit);
  handler.SetMaxReadSize(AMaxRead);
  handler.AddInput(AResponse);
  TIdHTTP http;
  http.SetIOHandler(&handler);
  Outcome out;
  TStringStream body;
  try {
    http.Get("http://example.test/x", &body);
    out.code = http.ResponseCode();
    out.trailer = http.Response().RawHeaders().GetValue("X-Trailer");
  } catch (const EIdHTTPMalformedResponse& e) {
    out.error = e.ClassName();
    out.rule = e.Rule();
  } catch (const EIdHTTPTruncatedResponse& e) {
    out.error = e.ClassName();
    out.rule = e.Rule();
  } catch (const EIdException& e) {
    out.error = e.ClassName();
  }
  out.body = body.DataString();
  out.sent = handler.Output();
  http.SetIOHandler(nullptr);
  return out;
}

struct Message {
  const char* name;
  std::string response;
  std::string body;
  std::string trailer;
};

const Message kMessages[] = {
    {"counted",
     "HTTP/1.1 200 OK\r\nContent-Length: 11\r\nContent-Type: text/plain\r\n\r\nhello world",
     "hello world", ""},
    {"chunked with extensions and trailers",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;a=b\r\nhello\r\n"
     "6 ; c=\"d;e\"\r\n world\r\n0\r\nX-Trailer: done\r\n\r\n",
     "hello world", "done"},
    {"interim response first",
     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", "ok", ""},
    {"folded header and bare LF line ends",
     "HTTP/1.1 200 OK\nX-Trailer: one\n two\nContent-Length: 3\n\nabc", "abc", "one two"},
    {"close-delimited", "HTTP/1.0 200 OK\r\n\r\nuntil the end", "until the end", ""},
    {"multipart",
     "HTTP/1.1 200 OK\r\nContent-Type: multipart/mixed; boundary=\"zz\"\r\n\r\n"
     "--zz\r\n\r\npart\r\n--zz--\r\n",
     "--zz\r\n\r\npart\r\n--zz--", ""},
};

TEST(Parser, EveryMessageReadsTheSameByteAtATimeAndSplitAtEveryOffset) {
  for (const Message& m : kMessages) {
    const Outcome whole = Exchange(m.response, 0);
    ASSERT_EQ(whole.error, "") << m.name;
    EXPECT_EQ(whole.body, m.body) << m.name;
    EXPECT_EQ(whole.trailer, m.trailer) << m.name;
    EXPECT_EQ(whole.code, 200) << m.name;
    const Outcome bytewise = Exchange(m.response, 0, 1);
    EXPECT_EQ(bytewise.error, "") << m.name;
    EXPECT_EQ(bytewise.body, m.body) << m.name << " byte at a time";
    EXPECT_EQ(bytewise.trailer, m.trailer) << m.name << " byte at a time";
    for (int split = 1; split < static_cast<int>(m.response.size()); ++split) {
      const Outcome o = Exchange(m.response, split);
      EXPECT_EQ(o.error, "") << m.name << " split at " << split;
      EXPECT_EQ(o.body, m.body) << m.name << " split at " << split;
      EXPECT_EQ(o.trailer, m.trailer) << m.name << " split at " << split;
    }
  }
}

TEST(Parser, TheRequestIsWrittenAsOneBlockInTheDesignedForm) {
  const Outcome o = Exchange("HTTP/1.1 204 No Content\r\n\r\n", 0);
  EXPECT_EQ(o.sent,
            "GET /x HTTP/1.1\r\nHost: example.test\r\n"
            "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Quillon Library)\r\n\r\n");
}

struct Bad {
  const char* name;
  std::string response;
  const char* error;
  TIdHTTPFramingRule rule;
};

TEST(Parser, BadInputsRaiseTheirOwnErrorAtEveryCut) {
  const Bad rows[] = {
      {"chunk size must be hexadecimal",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
       "1g\r\nx\r\n0\r\n\r\n",
       "EIdHTTPMalformedResponse", frBadChunkSize},
      {"chunk data ends with CR LF",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
       "1\r\nxy\r\n0\r\n\r\n",
       "EIdHTTPMalformedResponse", frMissingChunkCRLF},
      {"Content-Length is digits", "HTTP/1.1 200 OK\r\nContent-Length: 0x10\r\n\r\n",
       "EIdHTTPMalformedResponse", frBadContentLength},
      {"Content-Length is not negative", "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n",
       "EIdHTTPMalformedResponse", frBadContentLength},
      {"a counted body arrives whole", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nshort",
       "EIdHTTPTruncatedResponse", frTruncatedCountedBody},
      {"a chunked body ends with the last chunk",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n",
       "EIdHTTPTruncatedResponse", frTruncatedChunkedBody},
      {"the header block ends with an empty line", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n",
       "EIdHTTPTruncatedResponse", frTruncatedHead},
      {"two different lengths",
       "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nabc",
       "EIdHTTPMalformedResponse", frConflictingLengths},
      {"the status line arrives", "", "EIdConnClosedGracefully", frNone},
  };
  for (const Bad& row : rows) {
    const auto check = [&](const Outcome& o, const std::string& how) {
      EXPECT_EQ(o.error, row.error) << row.name << how;
      EXPECT_EQ(o.rule, row.rule) << row.name << how << ": " << FramingRuleName(o.rule);
    };
    check(Exchange(row.response, 0), "");
    check(Exchange(row.response, 0, 1), " byte at a time");
    for (int split = 1; split < static_cast<int>(row.response.size()); ++split)
      check(Exchange(row.response, split), " split at " + std::to_string(split));
  }
}

TEST(Parser, ALineLongerThanTheLimitNeverWaitsForItsEnd) {
  SplitHandler handler(0);
  handler.SetInputEnd(TIdTestIOHandler::ieStall);  // the peer would never send a line feed
  handler.AddInput("HTTP/1.1 200 OK\r\nX-Long: " + std::string(70000, 'a'));
  TIdHTTP http;
  http.SetIOHandler(&handler);
  EXPECT_THROW(http.Get("http://example.test/"), EIdReadLnMaxLineLengthExceeded);
  EXPECT_FALSE(handler.TransportOpen());
  http.SetIOHandler(nullptr);
}

TEST(Parser, AResetDuringTheBodyIsNotASuccess) {
  SplitHandler handler(0);
  handler.AddInput("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc");
  handler.SetFailOnCall(3);  // write, read, then the read that waits for the rest
  TIdHTTP http;
  http.SetIOHandler(&handler);
  EXPECT_THROW(http.Get("http://example.test/"), EIdException);
  http.SetIOHandler(nullptr);
}

}  // namespace
}  // namespace brv

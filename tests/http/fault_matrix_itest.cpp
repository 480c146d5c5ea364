// The fault matrix: the library's HTTP component against a loopback server that fails in one
// way per row. Every row must end in one of the library's exceptions with a message a user can
// read, with the connection closed, and the next request on the same component must work.
// Rows that involve TLS run through each TLS engine.
#include "http/brvHTTP_Client.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/ScriptedServer.h"
#include "tests/support/Certificates.h"
#include "tests/support/Programs.h"
#include "transport/IdException.h"

namespace brv {
namespace {

using test::ScriptedServer;
using test::ServerCertificates;
using S = ScriptedServer;

std::string Ok(const std::string& ABody) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(ABody.size()) + "\r\n\r\n" + ABody;
}

// A good exchange on a new connection, for the request after the fault.
ScriptedServer::Script Good() {
  return {S::Read(), S::Send(Ok("ok"))};
}

struct Outcome {
  std::string error;  // class of the exception, "" when the call returned
  std::string message;
};

Outcome Call(TbrvIdHTTP& AHTTP, const std::string& AURL) {
  try {
    AHTTP.Get(AURL);
  } catch (const Exception& e) {
    return {e.ClassName(), e.Message()};
  } catch (const std::exception& e) {
    return {"not a library exception", e.what()};
  }
  return {};
}

// A component as a caller sets it up; the read time-out keeps a broken row from hanging.
struct Component : TbrvIdHTTP {
  Component() { SetReadTimeout(5000); }
};

// ---- rows on plain HTTP ----

struct Row {
  const char* name;
  ScriptedServer::Script fault;
  const char* error;    // exception class
  const char* message;  // its message
  const char* ending;   // how the server saw the connection end
};

std::string HeaderLines(int ACount) {
  std::string lines;
  for (int i = 0; i < ACount; ++i) lines += "X-Line-" + std::to_string(i) + ": value\r\n";
  return lines;
}

const Row kRows[] = {
    {"CloseBeforeTheStatusLine",
     {S::Read(), S::Close()},
     "EIdConnClosedGracefully",
     "Connection Closed Gracefully.",
     "server closed"},
    {"CloseInTheHeaders",
     {S::Read(), S::Send("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Le"), S::Close()},
     "EIdHTTPTruncatedResponse",
     "Connection closed before the end of the response headers",
     "server closed"},
    {"CloseInACountedBody",
     {S::Read(), S::Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n<ListQueues"), S::Close()},
     "EIdHTTPTruncatedResponse",
     "Connection closed before the whole body was received (11 of 100 bytes)",
     "server closed"},
    {"CloseInAChunkedBody",
     {S::Read(),
      S::Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n10\r\nabc"),
      S::Close()},
     "EIdHTTPTruncatedResponse",
     "Connection closed before the whole body was received (3 of 16 bytes)",
     "server closed"},
    {"ResetInTheBody",
     {S::Read(), S::Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"), S::Reset()},
     "EIdSocketError",
     "Socket Error # 10054\r\nConnection reset by peer.",
     "reset"},
    // Not an HTTP answer: the status line has no code, so the call fails as an error status
    // whose message is the line the server sent.
    {"GarbageStatusLine",
     {S::Read(), S::Send("SSH-2.0-OpenSSH_9.2p1\r\n\r\nProtocol mismatch.\n"), S::Close()},
     "EIdHTTPProtocolException",
     "SSH-2.0-OpenSSH_9.2p1",
     "server closed"},
    {"MoreThan255HeaderLines",
     {S::Read(), S::Send("HTTP/1.1 200 OK\r\n" + HeaderLines(300) + "Content-Length: 2\r\n\r\nok")},
     "EIdHTTPMalformedResponse",
     "The response has more than 255 header lines",
     "client closed"},
    {"ChunkSizeOf2To31",
     {S::Read(), S::Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n80000000\r\nabc")},
     "EIdHTTPMalformedResponse",
     "Chunk size too large: 80000000",
     "client closed"},
    {"HeaderLineOf5MiB",
     {S::Read(), S::Send("HTTP/1.1 200 OK\r\nX-Big: " + std::string(5 << 20, 'a') + "\r\n\r\n")},
     "EIdReadLnMaxLineLengthExceeded",
     "Max line length exceeded.",
     ""},
};

class FaultRow : public ::testing::TestWithParam<Row> {};

TEST_P(FaultRow, EndsInAClearErrorWithTheConnectionClosedAndTheNextRequestWorks) {
  const Row& row = GetParam();
  ScriptedServer server({row.fault, Good()});
  Component http;
  const Outcome o = Call(http, server.Url("/first"));
  EXPECT_EQ(o.error, row.error);
  EXPECT_EQ(o.message, row.message);
  EXPECT_FALSE(http.Connected());
  EXPECT_EQ(http.Get(server.Url("/next")), "ok");
  EXPECT_EQ(server.Connections(), 2);
  http.Disconnect();
  server.Wait();
  const auto endings = server.Endings();
  ASSERT_EQ(endings.size(), 2u);
  // A 5 MiB answer may still be on its way when the client gives up: the server then sees
  // its send fail instead of the close.
  if (*row.ending != '\0') {
    EXPECT_EQ(endings[0], row.ending);
  }
}

INSTANTIATE_TEST_SUITE_P(Plain, FaultRow, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FaultMatrix, AStallAfterTheHeadersEndsInAReadTimeOut) {
  ScriptedServer server(
      {{S::Read(), S::Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n"), S::Hold()}, Good()});
  Component http;
  http.SetReadTimeout(300);
  const Outcome o = Call(http, server.Url("/first"));
  EXPECT_EQ(o.error, "EIdReadTimeout");
  EXPECT_EQ(o.message, "Read timed out.");
  EXPECT_FALSE(http.Connected());
  EXPECT_EQ(http.Get(server.Url("/next")), "ok");
  http.Disconnect();
  server.Wait();
  EXPECT_EQ(server.Endings().at(0), "client closed");
}

TEST(FaultMatrix, ARefusedConnection) {
  ScriptedServer server({Good()});
  Component http;
  const Outcome o = Call(http, "http://127.0.0.1:" + std::to_string(test::ClosedPort()) + "/");
  EXPECT_EQ(o.error, "EIdSocketError");
  EXPECT_EQ(o.message, "Socket Error # 10061\r\nConnection refused.");
  EXPECT_FALSE(http.Connected());
  EXPECT_EQ(http.Get(server.Url("/next")), "ok");
}

TEST(FaultMatrix, ANameThatDoesNotResolve) {
  ScriptedServer server({Good()});
  Component http;
  const Outcome o = Call(http, "http://no-such-host.invalid/");
  EXPECT_EQ(o.error, "EIdSocketError");
  EXPECT_EQ(o.message, "Socket Error # 11001\r\nHost not found.");
  EXPECT_FALSE(http.Connected());
  EXPECT_EQ(http.Get(server.Url("/next")), "ok");
}

// ---- rows on TLS, through each engine ----

// A TLS record: content type, version 3.3, the body.
std::string Record(char AType, const std::string& ABody) {
  return std::string{AType, '\x03', '\x03', static_cast<char>(ABody.size() >> 8),
                     static_cast<char>(ABody.size() & 0xFF)} +
         ABody;
}

class TLSFault : public ::testing::TestWithParam<TwsTLSIOHandler> {
 protected:
  void SetUp() override {
    ASSERT_EQ(ServerCertificates::Get().Error, "");
    http.TLSOptions().IOHandler = GetParam();
    http.TLSOptions().Version = tls1_2;
    http.TLSOptions().VerifyCertificate = true;
    http.TLSOptions().RootCertFile = ServerCertificates::Get().CA;
  }

  // The request after the fault: a good TLS exchange with a certificate for "localhost".
  static ScriptedServer::Script GoodTLS() { return {S::TLS(), S::Read(), S::Send(Ok("ok"))}; }

  // A handshake failure: one of the library's exceptions whose message names the cause, in
  // the engine's own words (OpenSSL's reason, or the security package's status code).
  void ExpectRefused(const Outcome& AOutcome, const char* AOpenSSLReason,
                     const char* ASChannelStatus) {
    if (GetParam() == iohOpenSSL) {
      EXPECT_EQ(AOutcome.error, "EIdOSSLUnderlyingCryptoError");
      EXPECT_EQ(AOutcome.message.rfind("Error connecting with SSL.", 0), 0u) << AOutcome.message;
      EXPECT_NE(AOutcome.message.find(AOpenSSLReason), std::string::npos) << AOutcome.message;
    } else {
      EXPECT_EQ(AOutcome.error, "SChannelError");
      EXPECT_EQ(AOutcome.message.rfind("SChannel initialization error: ", 0), 0u)
          << AOutcome.message;
      EXPECT_NE(AOutcome.message.find(ASChannelStatus), std::string::npos) << AOutcome.message;
    }
  }

  // After the fault the connection must be closed and the next https request on the
  // component must work.
  void ExpectRecovery(ScriptedServer& AServer) {
    EXPECT_FALSE(http.Connected());
    EXPECT_EQ(http.Get(AServer.Url("/next", "https", "localhost")), "ok");
    http.Disconnect();
    AServer.Wait();
  }

  Component http;
};

TEST_P(TLSFault, AnAlertInTheHandshake) {
  // A fatal handshake_failure alert in answer to the client's hello.
  ScriptedServer server(
      {{S::ReadRecord(), S::Send(Record('\x15', "\x02\x28")), S::Close()}, GoodTLS()});
  ExpectRefused(Call(http, server.Url("/first", "https", "localhost")), "alert handshake failure",
                "80090331");
  ExpectRecovery(server);
}

TEST_P(TLSFault, AServerThatSpeaksPlainHTTPOnTheTLSPort) {
  ScriptedServer server(
      {{S::ReadRecord(),
        S::Send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"),
        S::Close()},
       GoodTLS()});
  ExpectRefused(Call(http, server.Url("/first", "https", "localhost")), "wrong version number",
                "80090326");
  ExpectRecovery(server);
}

TEST_P(TLSFault, ACertificateForAnotherName) {
  // The server's side ends in an error either way: the handshake is refused, or the client
  // closes after it without sending the request.
  ScriptedServer server({{S::TLS(true), S::Read()}, GoodTLS()});
  ExpectRefused(Call(http, server.Url("/first", "https", "localhost")), "hostname mismatch",
                "800B010F");
  ExpectRecovery(server);
  EXPECT_EQ(server.Endings().at(0).rfind("error: ", 0), 0u) << server.Endings().at(0);
}

TEST_P(TLSFault, AStallAfterTheHeaders) {
  ScriptedServer server(
      {{S::TLS(), S::Read(), S::Send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n"), S::Hold()},
       GoodTLS()});
  http.SetReadTimeout(300);
  const Outcome o = Call(http, server.Url("/first", "https", "localhost"));
  EXPECT_EQ(o.error, "EIdReadTimeout");
  EXPECT_EQ(o.message, "Read timed out.");
  http.SetReadTimeout(5000);
  ExpectRecovery(server);
  EXPECT_EQ(server.Endings().at(0), "client closed");
}

INSTANTIATE_TEST_SUITE_P(Engines, TLSFault, ::testing::Values(iohOpenSSL, iohSChannel),
                         [](const auto& info) {
                           return std::string(info.param == iohOpenSSL ? "OpenSSL" : "SChannel");
                         });

}  // namespace
}  // namespace brv

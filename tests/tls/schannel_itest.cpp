// The second TLS engine against real TLS servers on loopback: nginx with the test CA (the same
// certificates as the OpenSSL engine's tests), openssl s_server where a test needs a server
// that speaks first or renegotiates, and a relay that watches or reshapes the records.
#include "tls/brvIdSSLIOHandlerSocketSChannel.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/EngineTest.h"
#include "tests/support/TlsTestServer.h"
#include "support/schannel_relay.h"
#include "support/sspi_peer.h"
#include "tls/private/SChannelLink.h"
#include "transport/IdStack.h"
#include "transport/IdTCPClient.h"

namespace brv {
namespace {

namespace fs = std::filesystem;
using schanneltest::Record;
using schanneltest::Relay;
using tlstest::TestCertificates;

constexpr std::uint32_t kNoMatch = 0x800B010F;
constexpr std::uint32_t kExpired = 0x800B0101;
constexpr std::uint32_t kUntrustedRoot = 0x800B0109;
constexpr std::uint32_t kChaining = 0x800B010A;

// One nginx, one set of certificates and two "MY" store directories for the whole program:
// one holding the test client certificate with its key, one empty.
class Env : public tlstest::TestPeers {
 public:
  static Env& Get() {
    static Env env;
    return env;
  }
  std::string ClientStore() const { return Dir().File("store-client"); }
  std::string EmptyStore() const { return Dir().File("store-empty"); }
  std::string LocalhostKey() const { return Dir().File("localhost.key"); }

 private:
  Env() : TestPeers("brv-schannel-certs") {
    fs::create_directories(ClientStore());
    fs::create_directories(EmptyStore());
    fs::copy_file(Certs().Client, ClientStore() + "/client.pem");
    fs::copy_file(Dir().File("client.key"), ClientStore() + "/client.key");
    // Before the first connect of the program opens the store.
    ::setenv("BRV_CERT_STORE_MY", ClientStore().c_str(), 1);
  }
};

class SChannelHandler : public tlstest::EngineTest<TbrvIdSSLIOHandlerSocketSChannel> {
 protected:
  void SetUp() override {
    ASSERT_EQ(Env::Get().Error(), "") << "nginx could not be started";
    EngineTest::SetUp();
    handler_->SetTLSVersion(tls1_2);
    // A broken test fails instead of hanging.
    client_->SetReadTimeout(20000);
  }

  const TestCertificates& Certs() const { return Env::Get().Certs(); }
  const tlstest::NginxPorts& Ports() const { return Env::Get().Ports(); }

  // The message and CertStatus of the SChannelError Connect raises; "" when it connects (a
  // GET then answers 200).
  std::pair<std::string, std::uint32_t> ConnectError(const std::string& AHost, int APort) {
    try {
      Connect(AHost, APort);
      const std::string status = Get("/", AHost).first;
      client_->Disconnect();
      return {status == "HTTP/1.1 200 OK" ? "" : status, 0};
    } catch (const SChannelError& e) {
      return {e.Message(), e.CertStatus()};
    }
  }
};

std::string PolicyMessage(std::uint32_t AStatus) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", AStatus);
  return std::string("SChannel initialization error: CertVerifyCertificateChainPolicy.vStatus = ") +
         hex;
}

TEST_F(SChannelHandler, NegotiatesTheVersionAskedFor) {
  struct Row {
    TwsTLSVersions version;
    std::uint32_t protocols;
    const char* negotiated;
  };
  for (const Row& row : {Row{tls1_2, 0xC00, "TLSv1.2"}, Row{tls1_3, 0x3000, "TLSv1.3"},
                         Row{tlsUndefined, 0, "TLSv1.3"}}) {
    handler_->SetTLSVersion(row.version);
    Connect("localhost", Ports().Main);
    ASSERT_NE(handler_->Link(), nullptr);
    EXPECT_EQ(handler_->Link()->SChannel.grbitEnabledProtocols, row.protocols);
    const auto [status, body] = Get();
    EXPECT_EQ(status, "HTTP/1.1 200 OK");
    EXPECT_NE(body.find(std::string("proto=") + row.negotiated + " "), std::string::npos) << body;
    // Several requests on the connection: TLS 1.3 session tickets arrive on the way.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Get().first, "HTTP/1.1 200 OK");
    client_->Disconnect();
    EXPECT_EQ(handler_->Link(), nullptr);
  }
  // A server that cannot give TLS 1.3: the handshake fails instead of settling for less.
  handler_->SetTLSVersion(tls1_3);
  const auto [message, status] = ConnectError("localhost", Ports().Tls12Only);
  EXPECT_EQ(
      message.rfind("SChannel initialization error: InitializeSecurityContext returns 8009", 0), 0u)
      << message;
  EXPECT_EQ(status, 0u);
}

TEST_F(SChannelHandler, SendsTheHostNameButNoAddressAsServerName) {
  Connect("localhost", Ports().Main);
  EXPECT_NE(Get().second.find("sni=localhost "), std::string::npos);
  client_->Disconnect();
  Connect("127.0.0.1", Ports().Main);
  EXPECT_NE(Get("/", "127.0.0.1").second.find("sni= "), std::string::npos);
}

TEST_F(SChannelHandler, VerificationGivesThePolicyErrorOfEachRefusedCertificate) {
  handler_->SetVerifyCertificate(true);
  handler_->SetRootCertFile(Certs().CA);
  EXPECT_EQ(ConnectError("localhost", Ports().Main).first, "");
  EXPECT_EQ(ConnectError("127.0.0.1", Ports().Main).first, "") << "an address is matched as one";

  for (const auto& [port, expected] : {std::pair{Ports().OtherName, kNoMatch},
                                       {Ports().Expired, kExpired},
                                       {Ports().SelfSigned, kUntrustedRoot}}) {
    const auto [message, status] = ConnectError("localhost", port);
    EXPECT_EQ(message, PolicyMessage(expected));
    EXPECT_EQ(status, expected);
    EXPECT_FALSE(client_->Connected());
  }

  // Without the test CA nothing the system trusts issued the certificate.
  handler_->SetRootCertFile("");
  const auto [message, status] = ConnectError("localhost", Ports().Main);
  EXPECT_EQ(message, PolicyMessage(kChaining));
  EXPECT_EQ(status, kChaining);

  // A root certificates file that cannot be read is named.
  handler_->SetRootCertFile(Certs().Dir + "/no-such-file.pem");
  EXPECT_EQ(ConnectError("localhost", Ports().Main).first,
            "SChannel initialization error: Could not load root certificates from " + Certs().Dir +
                "/no-such-file.pem");

  // Nothing stale stays behind: the same handler verifies again.
  handler_->SetRootCertFile(Certs().CA);
  EXPECT_EQ(ConnectError("localhost", Ports().Main).first, "");
}

TEST_F(SChannelHandler, WithoutVerificationEveryServerIsAccepted) {
  for (int port : {Ports().Main, Ports().OtherName, Ports().Expired, Ports().SelfSigned})
    EXPECT_EQ(ConnectError("localhost", port).first, "") << port;
}

TEST_F(SChannelHandler, PresentsAClientCertificateFromTheStoreDirectory) {
  // The event runs before each handshake chooses credentials; the store is read again after
  // it, so the event can point the store elsewhere.
  std::string store = Env::Get().EmptyStore();
  std::vector<TObject*> senders;
  handler_->OnCredentials = [&](TObject* Sender) {
    senders.push_back(Sender);
    ::setenv("BRV_CERT_STORE_MY", store.c_str(), 1);
  };
  for (auto version : {tls1_2, tls1_3}) {
    handler_->SetTLSVersion(version);
    // An empty store: the handshake goes on without a certificate and nginx refuses the
    // request.
    store = Env::Get().EmptyStore();
    Connect("localhost", Ports().ClientCert);
    EXPECT_EQ(Get().first, "HTTP/1.1 400 Bad Request");
    client_->Disconnect();

    store = Env::Get().ClientStore();
    senders.clear();
    Connect("localhost", Ports().ClientCert);
    const auto [status, body] = Get();
    EXPECT_EQ(status, "HTTP/1.1 200 OK") << version;
    EXPECT_NE(body.find("client=CN=BRV Test Client"), std::string::npos) << body;
    // Once at the start, once when the server asked.
    EXPECT_EQ(senders, (std::vector<TObject*>{handler_.get(), handler_.get()}));
    client_->Disconnect();
  }

  // A store directory that is not there is a failure, and the next connect tries again.
  store = Certs().Dir + "/no-such-store";
  EXPECT_EQ(ConnectError("localhost", Ports().Main).first,
            "SChannel initialization error: CertOpenSystemStore(0, 'MY') returns 0");
  store = Env::Get().ClientStore();
  EXPECT_EQ(ConnectError("localhost", Ports().ClientCert).first, "");
  handler_->OnCredentials = nullptr;
}

TEST_F(SChannelHandler, NegotiatesALPN) {
  Connect("localhost", Ports().Main);
  EXPECT_EQ(handler_->GetALPNProtocol(), "");
  EXPECT_NE(Get().second.find("alpn= "), std::string::npos);
  client_->Disconnect();

  handler_->ALPNProtocols()->Add("h2c-none");
  handler_->ALPNProtocols()->Add("");
  handler_->ALPNProtocols()->Add("http/1.1");
  Connect("localhost", Ports().Main);
  EXPECT_EQ(handler_->GetALPNProtocol(), "http/1.1");
  EXPECT_NE(Get().second.find("alpn=http/1.1 "), std::string::npos);
}

TEST_F(SChannelHandler, CutsAWriteIntoRecordsOfTheMaximumMessageSize) {
  for (auto version : {tls1_2, tls1_3}) {
    Relay relay(Ports().Main, {});
    handler_->SetTLSVersion(version);
    Connect("localhost", relay.Port());
    ASSERT_EQ(handler_->Link()->BuffSizes.cbMaximumMessage, 16384u);
    handler_->Write(
        std::string("POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 40000\r\n\r\n"));
    handler_->Write(std::string(40000, 'x'));
    EXPECT_EQ(ReadResponse().first, "HTTP/1.1 200 OK");
    // nginx may answer before it has read the body: wait (a bounded while) until the relay
    // has passed two full records and a shorter one after them.
    auto complete = [](const std::vector<Record>& r) {
      const std::size_t n = r.size();
      return n >= 3 && r[n - 3].Length >= 16384 && r[n - 2].Length >= 16384 &&
             r[n - 1].Length < 16384;
    };
    std::vector<Record> records = relay.ClientRecords();
    for (int i = 0; i < 1000 && !complete(records); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      records = relay.ClientRecords();
    }
    std::string seen;
    for (const Record& r : records)
      seen += std::to_string(r.Type) + ":" + std::to_string(r.Length) + " ";
    ASSERT_GE(records.size(), 4u) << seen;
    const Record* body = &records[records.size() - 3];
    const int overhead = body[0].Length - 16384;
    EXPECT_GT(overhead, 0) << version << " " << seen;
    EXPECT_LT(overhead, 256) << version;
    EXPECT_EQ(body[1].Length, 16384 + overhead);
    EXPECT_EQ(body[2].Length, 7232 + overhead);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(body[i].Type, 23);
    client_->Disconnect();
  }
}

TEST_F(SChannelHandler, CompletesRecordsSplitAcrossManyReads) {
  // Every record of the server, handshake included, reaches the client a few bytes at a time.
  Relay relay(Ports().Main, {.ServerPiece = 7});
  for (auto version : {tls1_2, tls1_3}) {
    handler_->SetTLSVersion(version);
    handler_->SetVerifyCertificate(true);
    handler_->SetRootCertFile(Certs().CA);
    Connect("localhost", relay.Port());
    for (int i = 0; i < 3; ++i) {
      const auto [status, body] = Get();
      EXPECT_EQ(status, "HTTP/1.1 200 OK");
      EXPECT_EQ(body.rfind("sni=localhost proto=TLSv1.", 0), 0u) << body;
    }
    client_->Disconnect();
  }
}

TEST_F(SChannelHandler, ServesSmallReadsFromTheDecryptedRecord) {
  handler_->SetTLSVersion(tls1_3);
  Connect("localhost", Ports().Main);
  handler_->Write(std::string("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  TSSLInfo* link = handler_->Link();
  char piece[10];
  ASSERT_EQ(SChannelRead(link, piece, 10), 10);
  std::string text(piece, 10);
  const int left = link->DataCount - link->DataStart;
  ASSERT_GT(left, 10) << "the answer came in one record";
  // The rest of the record is handed out without the socket: a receive now would fail.
  const std::int32_t socket = link->Socket;
  link->Socket = -1;
  for (int remaining = left; remaining > 0; remaining -= 10) {
    ASSERT_EQ(SChannelRead(link, piece, 10), std::min(10, remaining));
    text.append(piece, static_cast<std::size_t>(std::min(10, remaining)));
  }
  link->Socket = socket;
  EXPECT_EQ(text.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("sni=localhost"), std::string::npos) << text;
}

TEST_F(SChannelHandler, TakesSessionTicketsWithoutReportingData) {
  handler_->SetTLSVersion(tls1_3);
  Relay relay(Ports().Main, {});
  Connect("localhost", relay.Port());
  // nginx sends its session tickets after the handshake; they are no data to read.
  EXPECT_FALSE(handler_->Readable(300));
  EXPECT_EQ(handler_->Link()->DataCount, 0);
  EXPECT_TRUE(handler_->InputBufferIsEmpty());
  EXPECT_EQ(Get().first, "HTTP/1.1 200 OK");
  EXPECT_EQ(Get().first, "HTTP/1.1 200 OK");
}

TEST_F(SChannelHandler, KeepsRecordsThatCameWithTheLastHandshakeFlight) {
  // A TLS 1.2 server that speaks first: its first data record follows its Finished at once,
  // and the relay hands both to the client in one piece.
  sspitest::TlsPeer server;
  ASSERT_TRUE(
      server.Start({"-cert", Certs().Localhost, "-key", Env::Get().LocalhostKey(), "-tls1_2"}));
  ASSERT_TRUE(server.Input("first line from the server\n"));
  Relay relay(server.Port(), {.HoldFinalFlight = true});
  Connect("localhost", relay.Port());
  EXPECT_GT(handler_->Link()->RecvCount, 0) << "the data record arrived with the handshake";
  EXPECT_EQ(handler_->ReadLn(), "first line from the server");
}

TEST_F(SChannelHandler, FollowsARenegotiationTheServerAsksFor) {
  // openssl s_server: lines typed go to the client, "r" asks for a new handshake.
  sspitest::TlsPeer server;
  ASSERT_TRUE(server.Start(
      {"-cert", Certs().Localhost, "-key", Env::Get().LocalhostKey(), "-tls1_2", "-msg"}));
  Connect("localhost", server.Port());
  ASSERT_TRUE(server.Input("before\n"));
  EXPECT_EQ(handler_->ReadLn(), "before");

  // The read below takes the server's request and runs the new handshake; once the server
  // has sent its second Finished, it sends the next line.
  auto finished = [&] {
    // The server's "-msg" trace: one line per message, ">>> " for those it sent.
    const std::string out = server.Output();
    int n = 0;
    std::size_t start = 0;
    for (std::size_t end = out.find('\n'); end != std::string::npos;
         start = end + 1, end = out.find('\n', start)) {
      const std::string line = out.substr(start, end - start);
      if (line.rfind(">>> ", 0) == 0 && line.size() >= 10 &&
          line.compare(line.size() - 10, 10, ", Finished") == 0)
        ++n;
    }
    return n;
  };
  ASSERT_EQ(finished(), 1) << server.Output();
  ASSERT_TRUE(server.Input("r\n"));
  std::thread typist([&] {
    for (int i = 0; i < 800 && finished() < 2; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    server.Input("after\n");
  });
  std::string line;
  EXPECT_NO_THROW(line = handler_->ReadLn());
  typist.join();
  EXPECT_EQ(line, "after");
  EXPECT_EQ(finished(), 2) << server.Output();
  handler_->Write(std::string("still talking\n"));
  EXPECT_TRUE(server.WaitForOutput("still talking"));
}

TEST_F(SChannelHandler, ReadsAndHandshakesGiveUpAfterTheReadTimeout) {
  client_->SetReadTimeout(300);
  // A server that accepts and never speaks: the handshake gives up.
  tlstest::SilentListener silent;
  try {
    Connect("127.0.0.1", silent.Port());
    FAIL();
  } catch (const SChannelError& e) {
    EXPECT_EQ(e.Message(), "SChannel initialization error: recv returns 0000274C");
  }
  // An answer that never comes: the read times out and the connection stays usable.
  Connect("localhost", Ports().Stall);
  handler_->Write(std::string("GET /stall HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  try {
    handler_->ReadString(10);
    FAIL();
  } catch (const EIdReadTimeout& e) {
    EXPECT_EQ(e.Message(), "Read timed out.");
  }
  EXPECT_EQ(handler_->ReadLn(), "");
  EXPECT_TRUE(handler_->ReadLnTimedout());
  EXPECT_TRUE(client_->Connected());
}

TEST_F(SChannelHandler, ATamperedRecordFailsTheReadAndClosesTheConnection) {
  Relay relay(Ports().Main, {.CorruptServerData = true});
  Connect("localhost", relay.Port());
  handler_->Write(std::string("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  try {
    handler_->ReadLn();
    FAIL() << "a record that fails its integrity check was read";
  } catch (const SChannelError& e) {
    EXPECT_EQ(e.Message(), "DecryptMessage returns 80090330");
    EXPECT_EQ(e.CertStatus(), 0u);
  }
  EXPECT_FALSE(client_->Connected());
  EXPECT_EQ(handler_->Link(), nullptr);
  // The handler connects again as new.
  Connect("localhost", Ports().Main);
  EXPECT_EQ(Get().first, "HTTP/1.1 200 OK");
}

TEST_F(SChannelHandler, ACloseNotificationEndsTheData) {
  for (auto version : {tls1_2, tls1_3}) {
    handler_->SetTLSVersion(version);
    Connect("localhost", Ports().Main);
    handler_->Write(std::string("GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"));
    // Everything up to nginx's close notification, then the end of the data without an error.
    const std::string all = handler_->AllData();
    EXPECT_EQ(all.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << all;
    EXPECT_NE(all.find("sni=localhost"), std::string::npos) << all;
    EXPECT_FALSE(client_->Connected());
    client_->Disconnect();
  }
}

TEST_F(SChannelHandler, NoticesAnIdleConnectionTheServerClosed) {
  Connect("localhost", Ports().Main);
  handler_->Write(std::string("GET / HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n"));
  EXPECT_EQ(ReadResponse().first, "HTTP/1.1 200 OK");
  // nginx closes after the answer; the next check of the connection sees it.
  for (int i = 0; i < 400 && client_->Connected(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(client_->Connected());
}

TEST_F(SChannelHandler, WritesToAClosedPeerRaiseInsteadOfSignalling) {
  Connect("localhost", Ports().Main);
  EXPECT_TRUE(tlstest::WritesToAClosedPeerRaise(*handler_));
}

TEST_F(SChannelHandler, SwitchingPassThroughOffStartsTLSOnAConnectedSocket) {
  handler_->SetPassThrough(true);
  ConnectInClear("localhost", Ports().Main);
  EXPECT_EQ(handler_->Link(), nullptr);
  handler_->SetURIToCheck("https://localhost/");
  handler_->SetPassThrough(false);  // the handshake runs here
  ASSERT_NE(handler_->Link(), nullptr);
  EXPECT_EQ(Get().first, "HTTP/1.1 200 OK");
}

}  // namespace
}  // namespace brv

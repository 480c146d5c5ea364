#include "tls/IdSSLIOHandlerSocketOpenSSL.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/EngineTest.h"
#include "tests/support/Programs.h"
#include "tests/support/TlsTestServer.h"
#include "tls/OpenSSLBinding.h"
#include "transport/IdTCPClient.h"

namespace brv {
namespace {

using tlstest::TempDir;
using tlstest::TestCertificates;

// One nginx and one set of certificates for the whole program.
struct Env {
  static const tlstest::TestPeers& Get() {
    static const tlstest::TestPeers peers("brv-tls-certs");
    return peers;
  }
};

class OpenSSLHandler : public tlstest::EngineTest<TIdSSLIOHandlerSocketOpenSSL> {
 protected:
  void SetUp() override {
    ASSERT_EQ(Env::Get().Error(), "") << "nginx could not be started";
    EngineTest::SetUp();
    Options()->SetMode(sslmClient);
    Options()->SetMethod(sslvTLSv1_2);
  }

  const TestCertificates& Certs() const { return Env::Get().Certs(); }
  const tlstest::NginxPorts& Ports() const { return Env::Get().Ports(); }
  TIdSSLOptions* Options() { return handler_->SSLOptions(); }

  // Verification as the AWS client has it: the test CA as root, peer checked.
  void VerifyWithTestCA() {
    Options()->SetRootCertFile(Certs().CA);
    Options()->SetVerifyMode(SSLVerifyBit(sslvrfPeer));
  }

  // The message of the exception Connect raises, or "" when it connects.
  std::string ConnectError(const std::string& AHost, int APort) {
    try {
      Connect(AHost, APort);
      Get();
      client_->Disconnect();
      return "";
    } catch (const EIdException& e) {
      return e.Message();
    }
  }
};

TEST_F(OpenSSLHandler, NegotiatesTheVersionAskedAndNoOther) {
  for (auto [method, expected] : {std::pair{sslvTLSv1_2, "TLSv1.2"}, {sslvTLSv1_3, "TLSv1.3"}}) {
    Options()->SetMethod(method);
    Connect("localhost", Ports().Main);
    EXPECT_EQ(handler_->GetSSLVersion(), expected);
    const auto [status, body] = Get();
    EXPECT_EQ(status, "HTTP/1.1 200 OK");
    EXPECT_NE(body.find(std::string("proto=") + expected), std::string::npos) << body;
    client_->Disconnect();
  }
  // A server that cannot give TLS 1.3: the connect fails instead of settling for TLS 1.2.
  Options()->SetMethod(sslvTLSv1_3);
  try {
    Connect("localhost", Ports().Tls12Only);
    FAIL() << "connected with " << handler_->GetSSLVersion();
  } catch (const EIdOpenSSLError& e) {
    EXPECT_EQ(e.Message().rfind("Error connecting with SSL.\r\n", 0), 0u) << e.Message();
  }
  // Both allowed: the best the server offers.
  Options()->SetSSLVersions(SSLVersionBit(sslvTLSv1_2) | SSLVersionBit(sslvTLSv1_3));
  EXPECT_EQ(Options()->Method(), sslvSSLv23);
  Connect("localhost", Ports().Tls12Only);
  EXPECT_EQ(handler_->GetSSLVersion(), "TLSv1.2");
}

TEST_F(OpenSSLHandler, SendsTheHostNameButNoAddressAsServerName) {
  Connect("localhost", Ports().Main);
  auto [status, body] = Get();
  EXPECT_NE(body.find("sni=localhost "), std::string::npos) << body;
  ASSERT_NE(handler_->SSLSocket()->PeerCert(), nullptr);
  EXPECT_EQ(handler_->SSLSocket()->PeerCert()->Subject()->OneLine(), "/CN=localhost");
  client_->Disconnect();

  Connect("127.0.0.1", Ports().Main);
  std::tie(status, body) = Get("/", "127.0.0.1");
  EXPECT_NE(body.find("sni= "), std::string::npos) << body;
  EXPECT_EQ(handler_->SSLSocket()->PeerCert()->Subject()->OneLine(), "/CN=127.0.0.1");
}

TEST_F(OpenSSLHandler, OffersALPNSkippingEmptyNames) {
  EXPECT_EQ(handler_->GetALPNProtocol(), "");
  handler_->ALPNProtocols()->Add("h2c-none");
  handler_->ALPNProtocols()->Add("");
  handler_->ALPNProtocols()->Add("http/1.1");
  Connect("localhost", Ports().Main);
  EXPECT_EQ(handler_->GetALPNProtocol(), "http/1.1");
  EXPECT_NE(Get().second.find("alpn=http/1.1 "), std::string::npos);
}

TEST_F(OpenSSLHandler, PresentsAClientCertificateWithAnEncryptedKey) {
  // Without a certificate nginx answers 400 after the handshake.
  Connect("localhost", Ports().ClientCert);
  EXPECT_EQ(Get().first, "HTTP/1.1 400 Bad Request");
  client_->Disconnect();

  std::vector<bool> asked;
  handler_->OnGetPassword = [&](std::string& APassword) {
    asked.push_back(true);
    APassword = Certs().ClientKeyPassword;
  };
  for (const auto& [cert, key] : {std::pair{Certs().Client, Certs().ClientKey},
                                  std::pair{Certs().ClientP12, Certs().ClientP12}}) {
    Options()->SetCertFile(cert);
    Options()->SetKeyFile(key);
    Connect("localhost", Ports().ClientCert);
    const auto [status, body] = Get();
    EXPECT_EQ(status, "HTTP/1.1 200 OK") << cert;
    EXPECT_NE(body.find("client=CN=BRV Test Client"), std::string::npos) << body;
    client_->Disconnect();
  }
  EXPECT_FALSE(asked.empty());

  // A wrong password: the key cannot be loaded, and nothing is sent.
  handler_->OnGetPassword = [](std::string& APassword) { APassword = "wrong"; };
  Options()->SetCertFile(Certs().Client);
  Options()->SetKeyFile(Certs().ClientKey);
  try {
    Connect("localhost", Ports().ClientCert);
    FAIL();
  } catch (const EIdOSSLLoadingKeyError& e) {
    EXPECT_EQ(e.Message().rfind("Could not load key, check password.", 0), 0u) << e.Message();
  }
}

TEST_F(OpenSSLHandler, VerificationAcceptsTheTestCAAndNamesEachRefusal) {
  VerifyWithTestCA();
  EXPECT_EQ(ConnectError("localhost", Ports().Main), "");
  EXPECT_EQ(ConnectError("127.0.0.1", Ports().Main), "") << "an address is matched as an address";

  const std::string wrong_name = ConnectError("localhost", Ports().OtherName);
  const std::string expired = ConnectError("localhost", Ports().Expired);
  const std::string self_signed = ConnectError("localhost", Ports().SelfSigned);
  for (const auto* m : {&wrong_name, &expired, &self_signed})
    EXPECT_EQ(m->rfind("Error connecting with SSL.\r\n", 0), 0u) << *m;
  EXPECT_NE(wrong_name.find("hostname mismatch"), std::string::npos) << wrong_name;
  EXPECT_NE(expired.find("certificate has expired"), std::string::npos) << expired;
  EXPECT_NE(self_signed.find("self"), std::string::npos) << self_signed;
  EXPECT_NE(self_signed.find("signed certificate"), std::string::npos) << self_signed;

  // Without the test CA the system's trust store does not know the issuer.
  Options()->SetRootCertFile("");
  const std::string untrusted = ConnectError("localhost", Ports().Main);
  EXPECT_NE(untrusted.find("unable to get local issuer certificate"), std::string::npos)
      << untrusted;

  // The same handler verifies again once the root is back: nothing stale stays behind.
  Options()->SetRootCertFile(Certs().CA);
  EXPECT_EQ(ConnectError("localhost", Ports().Main), "");
}

TEST_F(OpenSSLHandler, ARootFileTheLibraryRefusesEndsTheConnectAndIsReadAgainNextTime) {
  // The trust store is read while the server answers the hello; a refusal must still end
  // the connect with its own error, and must not leave a store without the root behind.
  TempDir dir("brv-root-file");
  const std::string root = dir.Path() + "/root.pem";
  test::WriteTextFile(root, "not a certificate\n");
  VerifyWithTestCA();
  Options()->SetRootCertFile(root);
  const std::string refused = ConnectError("localhost", Ports().Main);
  EXPECT_EQ(refused.rfind("Could not load root certificate.\r\n", 0), 0u) << refused;
  test::WriteTextFile(root, test::ReadTextFile(Certs().CA) + "\n");
  EXPECT_EQ(ConnectError("localhost", Ports().Main), "");
}

TEST_F(OpenSSLHandler, WithoutVerificationEveryServerIsAccepted) {
  for (int port : {Ports().Main, Ports().OtherName, Ports().Expired, Ports().SelfSigned})
    EXPECT_EQ(ConnectError("localhost", port), "") << port;
}

TEST_F(OpenSSLHandler, VerifyPeerEventSeesTheChainAndDecides) {
  VerifyWithTestCA();
  std::vector<int> depths;
  handler_->OnVerifyPeer = [&](TIdX509* ACert, bool AOk, int ADepth, int) {
    depths.push_back(ADepth);
    EXPECT_NE(ACert->Subject()->OneLine(), "");
    return AOk;
  };
  EXPECT_EQ(ConnectError("localhost", Ports().Main), "");
  EXPECT_EQ(depths, (std::vector<int>{1, 0}));
  // A limit of 0 levels above the server's certificate: the CA at depth 1 reaches the event
  // as not ok, and the event's refusal ends the handshake.
  Options()->SetVerifyDepth(0);
  depths.clear();
  handler_->OnVerifyPeer = [&](TIdX509*, bool AOk, int ADepth, int) {
    depths.push_back(ADepth);
    return ADepth == 0 ? true : AOk;
  };
  EXPECT_EQ(ConnectError("localhost", Ports().Main), "") << "0 means OpenSSL's default";
  Options()->SetVerifyDepth(1);
  EXPECT_EQ(ConnectError("localhost", Ports().Main), "");
  handler_->OnVerifyPeer = [](TIdX509*, bool, int, int) { return false; };
  EXPECT_NE(ConnectError("localhost", Ports().Main), "");
}

TEST_F(OpenSSLHandler, ReportsStatusAndCipher) {
  std::vector<std::string> lines;
  std::vector<std::string> types;
  handler_->OnStatusInfo = [&](const std::string& AMsg) { lines.push_back(AMsg); };
  handler_->OnStatusInfoEx = [&](TObject*, const ossl::SSL*, int, int, const std::string& AType,
                                 const std::string&) { types.push_back(AType); };
  Connect("localhost", Ports().Main);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().rfind("SSL status: \"", 0), 0u) << lines.front();
  EXPECT_EQ(lines.back().rfind("Cipher: name = ", 0), 0u) << lines.back();
  EXPECT_NE(lines.back().find("; version = TLSv1.2; "), std::string::npos) << lines.back();
  EXPECT_NE(std::find(types.begin(), types.end(), "Handshake Done"), types.end());
  TIdSSLCipher* cipher = handler_->SSLSocket()->Cipher();
  EXPECT_GE(cipher->Bits(), 128);
  EXPECT_FALSE(cipher->Name().empty());
  EXPECT_EQ(handler_->SSLSocket()->PeerCert()->Issuer()->OneLine(), "/CN=BRV Test CA");
  EXPECT_EQ(handler_->SSLSocket()->PeerCert()->SHA256Fingerprint().size(), 32u);
  // The close notification reports status too: the events must not outlive the vectors.
  handler_->OnStatusInfo = nullptr;
  handler_->OnStatusInfoEx = nullptr;
}

TEST_F(OpenSSLHandler, KeepsOneConnectionForManyRequests) {
  Connect("localhost", Ports().Main);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Get().first, "HTTP/1.1 200 OK") << i;
  EXPECT_TRUE(client_->Connected());
}

TEST_F(OpenSSLHandler, TimeOutsHoldThroughTLS) {
  // A server that accepts and never speaks: the handshake gives up after ReadTimeout.
  tlstest::SilentListener silent;
  client_->SetReadTimeout(300);
  try {
    Connect("127.0.0.1", silent.Port());
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10060) << e.Message();
  }
  // A response that never comes after the handshake: the read times out, the handler stays.
  Connect("localhost", Ports().Stall);
  handler_->Write(std::string("GET /stall HTTP/1.1\r\nHost: localhost\r\n\r\n"));
  EXPECT_THROW(handler_->ReadString(10), EIdReadTimeout);
  EXPECT_EQ(handler_->ReadLn(), "");
  EXPECT_TRUE(handler_->ReadLnTimedout());
}

TEST_F(OpenSSLHandler, WritesToAClosedPeerRaiseInsteadOfSignalling) {
  Connect("localhost", Ports().Main);
  EXPECT_TRUE(tlstest::WritesToAClosedPeerRaise(*handler_));
}

TEST_F(OpenSSLHandler, SwitchingPassThroughStartsTLSOnAConnectedSocket) {
  handler_->SetPassThrough(true);
  ConnectInClear("localhost", Ports().Main);
  EXPECT_EQ(handler_->SSLSocket(), nullptr);
  handler_->SetURIToCheck("https://localhost/");
  handler_->SetPassThrough(false);  // the handshake runs here
  EXPECT_EQ(handler_->GetSSLVersion(), "TLSv1.2");
  EXPECT_EQ(Get().first, "HTTP/1.1 200 OK");
}

TEST_F(OpenSSLHandler, WithoutOpenSSLOnlyClearConnectionsWork) {
  TempDir empty("brv-no-openssl");
  ReleaseOpenSSL();
  SetOpenSSLLibraryPath(empty.Path());
  tlstest::SilentListener listener;
  try {
    Connect("127.0.0.1", listener.Port());
    FAIL();
  } catch (const EIdOSSLCouldNotLoadSSLLibrary& e) {
    EXPECT_EQ(e.Message(), "Could not load SSL library.");
  }
  EXPECT_FALSE(listener.HasConnection(100)) << "the socket was not even connected";

  // The same handler in clear: plain HTTP works.
  handler_->SetPassThrough(true);
  client_->SetHost("127.0.0.1");
  client_->SetPort(static_cast<std::uint16_t>(Ports().Plain));
  client_->Connect();
  EXPECT_EQ(Get("/", "127.0.0.1").second, "plain\n");
  client_->Disconnect();
  SetOpenSSLLibraryPath("");
  EXPECT_TRUE(EnsureOpenSSLLoaded());
}

}  // namespace
}  // namespace brv

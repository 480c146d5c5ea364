// The second TLS engine without a TLS server: the ALPN offer it builds, the handler's settings
// and how the TLS options make it, and handshakes that fail against peers that are no TLS
// server (a socket pair stands in for the network).
#include "tls/brvIdSSLIOHandlerSocketSChannel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempDir.h"
#include "tls/TLSHandlerFactory.h"
#include "tls/private/SChannelLink.h"

namespace brv {
namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& ABytes, std::size_t AAt) {
  std::uint32_t v;
  std::memcpy(&v, ABytes.data() + AAt, 4);
  return v;
}

// First in this program: the process-wide initialisation has not run yet.
TEST(SChannelInitialization, AFailureIsNotRememberedAndTheNextConnectTriesAgain) {
  const char* configured = std::getenv("BRV_CERT_STORE_MY");
  const std::string saved = configured != nullptr ? configured : "";
  const testing::TTempDir dir("brv-schannel-store");
  const std::string& store = dir.Path();

  ::setenv("BRV_CERT_STORE_MY", (store + "/not-yet").c_str(), 1);
  EXPECT_FALSE(SChannelInitialize());
  EXPECT_EQ(SChannelLastError(), "CertOpenSystemStore(0, 'MY') returns 0");
  EXPECT_EQ(SChannelConnect(-1, "localhost", tls1_2, nullptr, false, nullptr, nullptr), nullptr);
  EXPECT_EQ(SChannelLastError(), "CertOpenSystemStore(0, 'MY') returns 0") << "tried again";

  ::mkdir((store + "/not-yet").c_str(), 0700);
  EXPECT_TRUE(SChannelInitialize());
  EXPECT_TRUE(SChannelInitialize()) << "once done, done";

  if (configured != nullptr)
    ::setenv("BRV_CERT_STORE_MY", saved.c_str(), 1);
  else
    ::unsetenv("BRV_CERT_STORE_MY");
}

TEST(SChannelALPNOffer, LaysOutTheNamesInTheApplicationProtocolsStructure) {
  TStringList names;
  EXPECT_TRUE(SChannelALPNOffer(nullptr).empty());
  EXPECT_TRUE(SChannelALPNOffer(&names).empty()) << "no list, no buffer";
  names.Add("");
  EXPECT_TRUE(SChannelALPNOffer(&names).empty()) << "only empty names";

  names.Clear();
  names.Add("h2");
  names.Add("");
  names.Add("http/1.1");
  const std::vector<std::uint8_t> offer = SChannelALPNOffer(&names);
  ASSERT_EQ(offer.size(), 22u);
  EXPECT_EQ(U32(offer, 0), 18u);  // what follows: list length + 6
  EXPECT_EQ(U32(offer, 4), 2u);   // ALPN
  EXPECT_EQ(offer[8] | (offer[9] << 8), 12);
  const std::string list(offer.begin() + 10, offer.end());
  EXPECT_EQ(list, std::string("\x02h2\x08http/1.1"));
}

TEST(SChannelALPNOffer, CutsAListTheOfferAreaCannotHold) {
  // Eleven bytes per name: ten fit the 118 bytes, the eleventh and all after it are left out.
  TStringList names;
  for (int i = 0; i < 12; ++i) names.Add("proto-" + std::to_string(1000 + i));
  std::vector<std::uint8_t> offer = SChannelALPNOffer(&names);
  ASSERT_EQ(offer.size(), 10u + 110u);
  EXPECT_EQ(U32(offer, 0), 116u);
  EXPECT_EQ(std::string(offer.end() - 10, offer.end()), "proto-1009");

  // A name longer than a length byte can say ends the list there.
  names.Clear();
  names.Add("h2");
  names.Add(std::string(300, 'a'));
  names.Add("http/1.1");
  offer = SChannelALPNOffer(&names);
  EXPECT_EQ(std::string(offer.begin() + 10, offer.end()), std::string("\x02h2"));
}

TEST(SChannelHandlerSettings, DefaultsCloneAndALPNList) {
  TbrvIdSSLIOHandlerSocketSChannel handler;
  EXPECT_TRUE(handler.PassThrough());
  EXPECT_EQ(handler.TLSVersion(), tls1_0);
  EXPECT_FALSE(handler.VerifyCertificate());
  EXPECT_EQ(handler.RootCertFile(), "");
  EXPECT_EQ(handler.Link(), nullptr);
  EXPECT_EQ(handler.GetALPNProtocol(), "");

  // Assigning the list before it was ever read copies nothing; reading it makes it.
  TStringList names;
  names.Add("h2");
  handler.SetALPNProtocols(&names);
  EXPECT_EQ(handler.ALPNProtocols()->Count(), 0);
  handler.SetALPNProtocols(&names);
  EXPECT_EQ(handler.ALPNProtocols()->Text(), "h2\n");

  handler.SetTLSVersion(tls1_3);
  handler.SetVerifyCertificate(true);
  std::unique_ptr<TIdSSLIOHandlerSocketBase> clone = handler.Clone();
  auto* copy = dynamic_cast<TbrvIdSSLIOHandlerSocketSChannel*>(clone.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->TLSVersion(), tls1_0) << "a clone has the default settings";
  EXPECT_FALSE(copy->VerifyCertificate());
  EXPECT_EQ(copy->Owner(), nullptr);
}

TEST(SChannelHandlerSettings, TheTLSOptionsMakeItWithVersionVerificationAndRoots) {
  TbrvTCPTLS_Options options;
  options.IOHandler = iohSChannel;
  options.Version = tls1_2;
  options.VerifyCertificate = true;
  options.RootCertFile = "/etc/brv/roots.pem";
  options.CertFile = "client.pem";
  options.ALPNProtocols()->Add("h2");
  std::unique_ptr<TIdSSLIOHandlerSocketBase> made = MakeTLSHandler(options, nullptr);
  auto* handler = dynamic_cast<TbrvIdSSLIOHandlerSocketSChannel*>(made.get());
  ASSERT_NE(handler, nullptr);
  EXPECT_EQ(handler->TLSVersion(), tls1_2);
  EXPECT_TRUE(handler->VerifyCertificate());
  EXPECT_EQ(handler->RootCertFile(), "/etc/brv/roots.pem");
  EXPECT_EQ(handler->ALPNProtocols()->Count(), 0) << "no ALPN list reaches this engine";
  EXPECT_TRUE(handler->PassThrough()) << "the request engine switches TLS on";
}

// A link over one end of a socket pair whose other end is played by APeer.
struct PairedLink {
  explicit PairedLink(std::function<void(int)> APeer) {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    mine = fds[0];
    peer = std::thread([fd = fds[1], APeer] {
      APeer(fd);
      ::close(fd);
    });
  }
  ~PairedLink() {
    ::shutdown(mine, SHUT_RDWR);
    peer.join();
    ::close(mine);
  }
  int mine = -1;
  std::thread peer;
};

// Reads what the client sends until it stops (the client closed or gave up).
void Drain(int AFd) {
  char buffer[4096];
  while (::recv(AFd, buffer, sizeof buffer, 0) > 0) {
  }
}

TEST(SChannelLinkFailures, APeerThatIsNoTLSServerFailsTheHandshakeWithItsReason) {
  using namespace std::string_literals;
  struct Row {
    std::string peer_sends;
    bool close_after;
    const char* reason;
  };
  const Row rows[] = {
      // A plain HTTP server on the TLS port: its answer is no TLS record.
      {"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n", true,
       "InitializeSecurityContext returns 80090326"},
      // A peer that closes without a word.
      {"", true, "recv returns 00000000"},
      // A record header announcing a record longer than TLS allows.
      {"\x16\x03\x03\xff\xff"s, true, "InitializeSecurityContext returns 80090326"},
      // A record that stops half way, then silence until the time-out.
      {"\x16\x03\x03\x00\x40\x02\x00"s, false, "recv returns 0000274C"},
  };
  for (const Row& row : rows) {
    const std::string& sent = row.peer_sends;
    PairedLink pair([&](int fd) {
      char hello[4096];
      ::recv(fd, hello, sizeof hello, 0);  // the client speaks first
      if (!sent.empty()) ::send(fd, sent.data(), sent.size(), MSG_NOSIGNAL);
      if (row.close_after) return;
      Drain(fd);
    });
    std::unique_ptr<TSSLInfo> link =
        SChannelConnect(pair.mine, "localhost", tls1_2, nullptr, false, nullptr, nullptr, {}, 300);
    EXPECT_EQ(link, nullptr) << row.reason;
    EXPECT_EQ(SChannelLastError(), row.reason);
    EXPECT_EQ(SChannelCertStatus(), 0u);
  }
}

TEST(SChannelLinkFailures, CallsWithoutALinkDoNothing) {
  char buffer[4];
  EXPECT_EQ(SChannelRead(nullptr, buffer, 4), 0);
  EXPECT_EQ(SChannelWrite(nullptr, buffer, 4), 0);
  EXPECT_EQ(SChannelGetALPN(nullptr), "");
  std::unique_ptr<TSSLInfo> none;
  SChannelClose(none);
  SChannelSetCallback(nullptr, nullptr, nullptr);
}

}  // namespace
}  // namespace brv

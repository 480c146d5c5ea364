// The connection's deadline and cancel through both TLS engines, against a GnuTLS server on
// loopback that handshakes and then either answers a line or never reads again.
#include "transport/IdDeadline.h"

#include <gnutls/gnutls.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TlsTestServer.h"
#include "support/sspi_peer.h"
#include "tls/IdSSLIOHandlerSocketOpenSSL.h"
#include "tls/brvIdSSLIOHandlerSocketSChannel.h"
#include "tls/brvSSL_SChannel.h"
#include "tls/private/SChannelLink.h"
#include "transport/IdTCPClient.h"

namespace brv {
namespace {

using namespace std::chrono_literals;
using tlstest::TempDir;
using tlstest::TestCertificates;

constexpr int kSafetyTimeout = 20000;

// Certificates, and an empty client certificate store for the second engine, once per program.
class Env {
 public:
  static Env& Get() {
    static Env env;
    return env;
  }
  const TestCertificates& Certs() const { return certs_; }
  std::string LocalhostKey() const { return dir_.File("localhost.key"); }

 private:
  Env() : dir_("brv-tls-deadline"), certs_(dir_.Path()) {
    std::filesystem::create_directories(dir_.File("store"));
    ::setenv("BRV_CERT_STORE_MY", dir_.File("store").c_str(), 1);
  }
  TempDir dir_;
  TestCertificates certs_;
};

// A GnuTLS server on 127.0.0.1, each connection on a thread of its own: it is handshaken, then
// either one line is echoed or (AStall) nothing is ever read again until the server stops.
class TGnuTlsPeer {
 public:
  explicit TGnuTlsPeer(bool AStall) : stall_(AStall) {
    gnutls_certificate_allocate_credentials(&credentials_);
    ok_ = gnutls_certificate_set_x509_key_file(credentials_, Env::Get().Certs().Localhost.c_str(),
                                               Env::Get().LocalhostKey().c_str(),
                                               GNUTLS_X509_FMT_PEM) >= 0;
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ok_ = ok_ && ::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
          ::listen(listener_, 4) == 0 &&
          ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) == 0 &&
          ::pipe(wake_) == 0;
    port_ = ntohs(addr.sin_port);
    if (ok_) thread_ = std::thread([this] { Run(); });
  }
  ~TGnuTlsPeer() {
    if (thread_.joinable()) {
      [[maybe_unused]] const ssize_t n = ::write(wake_[1], "x", 1);
      thread_.join();
    }
    for (std::thread& t : connections_) t.join();
    for (int fd : {listener_, wake_[0], wake_[1]})
      if (fd >= 0) ::close(fd);
    gnutls_certificate_free_credentials(credentials_);
  }
  bool Ok() const { return ok_; }
  int Port() const { return port_; }

 private:
  // Waits until AFd is readable (true) or the server stops (false).
  bool Wait(int AFd) {
    pollfd fds[2] = {{AFd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    return ::poll(fds, 2, -1) > 0 && fds[1].revents == 0;
  }
  void Run() {
    while (Wait(listener_)) {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd >= 0) connections_.emplace_back([this, fd] { Serve(fd); });
    }
  }
  void Serve(int fd) {
    gnutls_session_t session;
    gnutls_init(&session, GNUTLS_SERVER);
    gnutls_set_default_priority(session);
    gnutls_credentials_set(session, GNUTLS_CRD_CERTIFICATE, credentials_);
    gnutls_transport_set_int(session, fd);
    gnutls_handshake_set_timeout(session, kSafetyTimeout);
    int r;
    do {
      r = gnutls_handshake(session);
    } while (r < 0 && gnutls_error_is_fatal(r) == 0);
    if (r >= 0 && stall_) {
      Wait(wake_[0]);
    } else if (r >= 0) {
      std::string line;
      char c;
      while (line.empty() || line.back() != '\n') {
        if (gnutls_record_recv(session, &c, 1) != 1) break;
        line += c;
      }
      gnutls_record_send(session, line.data(), line.size());
      gnutls_bye(session, GNUTLS_SHUT_WR);
    }
    gnutls_deinit(session);
    ::close(fd);
  }

  bool stall_;
  bool ok_ = false;
  gnutls_certificate_credentials_t credentials_ = nullptr;
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  std::thread thread_;
  std::vector<std::thread> connections_;
};

// A client over one of the two engines, not verifying the peer (the test certificate's trust
// is not what these tests are about).
struct Engine {
  const char* name;
  std::function<std::unique_ptr<TIdIOHandler>()> make;
};

std::unique_ptr<TIdIOHandler> OpenSSLEngine() {
  auto handler = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
  handler->SSLOptions()->SetMode(sslmClient);
  handler->SSLOptions()->SetMethod(sslvTLSv1_2);
  handler->SetPassThrough(false);
  return handler;
}

std::unique_ptr<TIdIOHandler> SecondEngine() {
  auto handler = std::make_unique<TbrvIdSSLIOHandlerSocketSChannel>();
  handler->SetTLSVersion(tls1_2);
  handler->SetPassThrough(false);
  return handler;
}

class TlsDeadline : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    Env::Get();
    // Not managed by the client, so that a failed connect keeps it for the next one.
    handler_ = GetParam().make();
    client_.SetIOHandler(handler_.get());
    client_.SetHost("127.0.0.1");
  }
  TIdIOHandler& Handler() { return *handler_; }
  void Connect(int APort, const TIdDeadline& ADeadline) {
    client_.SetDeadline(ADeadline);
    client_.SetPort(static_cast<std::uint16_t>(APort));
    client_.Connect();
  }
  std::unique_ptr<TIdIOHandler> handler_;
  TIdTCPClient client_;
};

// An upload far larger than the socket buffers of both ends, to a peer that stopped reading
// after the handshake: the write ends by the time-out (ReadTimeout) or by the deadline.
TEST_P(TlsDeadline, EndsAnUploadToAPeerThatNeverReads) {
  TGnuTlsPeer peer(true);
  ASSERT_TRUE(peer.Ok());
  const TIdBytes upload(32 << 20, 'u');
  client_.SetReadTimeout(kSafetyTimeout);
  Connect(peer.Port(), TIdDeadline());
  client_.SetReadTimeout(500);  // after the handshake, which it would bound too
  try {
    Handler().Write(upload);
    FAIL() << "the write finished";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), Id_WSAETIMEDOUT);
  }
  EXPECT_FALSE(client_.Connected());

  client_.SetReadTimeout(kSafetyTimeout);
  Connect(peer.Port(), TIdDeadline::After(1s));
  EXPECT_THROW(Handler().Write(upload), EIdDeadlineExceeded);
  EXPECT_FALSE(client_.Connected());
}

// Cancel from another thread ends a handshake a silent server never answers, then a read a
// handshaken server never answers; each time the same client then serves a request.
TEST_P(TlsDeadline, CancelEndsABlockedHandshakeAndReadAndTheClientServesTheNextRequest) {
  tlstest::SilentListener silent;
  TGnuTlsPeer stalling(true);
  TGnuTlsPeer live(false);
  ASSERT_TRUE(stalling.Ok() && live.Ok());
  client_.SetReadTimeout(kSafetyTimeout);
  auto run_cancelled = [&](const std::function<void()>& AStep) {
    auto cancel = std::make_shared<TIdCancellation>();
    std::thread canceller([cancel] {
      std::this_thread::sleep_for(200ms);
      cancel->Cancel();
    });
    client_.SetDeadline(TIdDeadline::After(-1ms, cancel));
    EXPECT_THROW(AStep(), EIdOperationCancelled);
    canceller.join();
    EXPECT_FALSE(client_.Connected());
  };
  auto request = [&] {
    Connect(live.Port(), TIdDeadline::After(std::chrono::milliseconds(kSafetyTimeout)));
    Handler().WriteLn("hello");
    EXPECT_EQ(Handler().ReadLn(), "hello");
    client_.Disconnect();
  };

  run_cancelled([&] {
    client_.SetPort(static_cast<std::uint16_t>(silent.Port()));
    client_.Connect();
  });
  request();

  Connect(stalling.Port(), TIdDeadline());
  run_cancelled([&] { Handler().ReadLn(); });
  request();
}

INSTANTIATE_TEST_SUITE_P(BothEngines, TlsDeadline,
                         ::testing::Values(Engine{"OpenSSL", OpenSSLEngine},
                                           Engine{"SChannel", SecondEngine}),
                         [](const auto& AInfo) { return std::string(AInfo.param.name); });

TEST(SecondEngineServerName, ANameThatIsNotValidUTF8IsRefused) {
  Env::Get();
  TGnuTlsPeer peer(true);
  ASSERT_TRUE(peer.Ok());
  for (const std::string name :
       {"\xC0\xAElocalhost", "caf\xC3", "\xED\xA0\x80.example", "host\xFF", "a\xE2\x82.example"}) {
    const int fd = sspitest::ConnectLoopback(peer.Port());
    ASSERT_GE(fd, 0);
    std::unique_ptr<TSSLInfo> link =
        SChannelConnect(fd, name, tls1_2, nullptr, false, nullptr, nullptr);
    EXPECT_EQ(link, nullptr);
    EXPECT_EQ(SChannelLastError(), "The server name is not valid UTF-8");
    ::close(fd);
  }
}

}  // namespace
}  // namespace brv

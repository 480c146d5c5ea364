#include "transport/IdTCPClient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/LoopbackServer.h"
#include "transport/IdIOHandlerStack.h"
#include "transport/IdStack.h"

namespace brv {
namespace {

using test::ReceiveAll;
using test::ReceiveLine;
using test::SendAll;
using test::TLoopbackServer;

// Longest any test waits for a peer; only a safety net against a hang, never asserted.
constexpr int kSafetyTimeout = 20000;

void Echo(TLoopbackServer&, int ASocket) {
  char chunk[65536];
  while (true) {
    const ssize_t n = ::recv(ASocket, chunk, sizeof chunk, 0);
    if (n <= 0) return;
    if (!SendAll(ASocket, chunk, static_cast<std::size_t>(n))) return;
  }
}

// A port on the loopback address where nothing listens: the OS picks it, then it is let go.
std::uint16_t UnusedPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ::bind(s, reinterpret_cast<sockaddr*>(&addr), len);
  ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(s);
  return ntohs(addr.sin_port);
}

TEST(TcpClient, EchoesLinesAndReportsEachStep) {
  TLoopbackServer server(Echo);
  TIdTCPClient client;
  std::vector<std::string> status;
  client.OnStatus = [&](TObject*, TIdStatus, const std::string& AText) { status.push_back(AText); };
  client.SetHost(server.Host());
  client.SetPort(server.Port());
  client.SetReadTimeout(kSafetyTimeout);
  client.Connect();
  ASSERT_TRUE(client.Connected());
  EXPECT_TRUE(client.ManagedIOHandler());
  ASSERT_NE(client.Socket(), nullptr);
  EXPECT_EQ(client.Socket()->Binding()->PeerIP(), "127.0.0.1");
  EXPECT_EQ(client.Socket()->Binding()->PeerPort(), server.Port());
  EXPECT_EQ(client.Socket()->Binding()->IP(), "127.0.0.1");
  EXPECT_NE(client.Socket()->Binding()->Port(), 0);

  client.IOHandler()->WriteLn("hello");
  client.IOHandler()->WriteLn("caf\xC3\xA9", IndyTextEncoding_UTF8());
  EXPECT_EQ(client.IOHandler()->ReadLn(), "hello");
  EXPECT_EQ(client.IOHandler()->ReadLn(IndyTextEncoding_UTF8()), "caf\xC3\xA9");
  EXPECT_THROW(client.Connect(), EIdAlreadyConnected);
  EXPECT_TRUE(client.Connected());  // the failed second connect left the first alone

  // The handler's work progress is reported by the connection.
  std::vector<std::string> work;
  client.OnWorkBegin = [&](TObject* ASender, TWorkMode, std::int64_t AMax) {
    work.push_back(std::string(ASender == &client ? "client" : "other") + " begin " +
                   std::to_string(AMax));
  };
  client.OnWorkEnd = [&](TObject*, TWorkMode) { work.push_back("end"); };
  client.IOHandler()->WriteLn("0123456789");
  TMemoryStream echoed;
  client.IOHandler()->ReadStream(&echoed, 12);
  EXPECT_EQ(work, (std::vector<std::string>{"client begin 12", "end"}));

  client.Disconnect();
  EXPECT_FALSE(client.Connected());
  const std::size_t reported = status.size();
  client.Disconnect();  // a second disconnect does nothing and reports nothing
  EXPECT_EQ(status.size(), reported);
  // A dotted address is used as written: no resolving step.
  EXPECT_EQ(status, (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected.",
                                              "Disconnecting.", "Disconnected."}));

  // The managed handler stays for the next connect, which opens a fresh socket.
  client.Connect();
  client.IOHandler()->WriteLn("again");
  EXPECT_EQ(client.IOHandler()->ReadLn(), "again");
}

TEST(TcpClient, ResolvesNamesAndSpeaksIPv6) {
  TLoopbackServer server(Echo);
  TIdTCPClient client;
  std::vector<std::string> status;
  client.OnStatus = [&](TObject*, TIdStatus, const std::string& AText) { status.push_back(AText); };
  client.SetReadTimeout(kSafetyTimeout);
  client.Connect("localhost", server.Port());
  EXPECT_EQ(status[0], "Resolving hostname localhost.");
  EXPECT_EQ(status[1], "Connecting to 127.0.0.1.");
  client.Disconnect();

  TLoopbackServer server6(Echo, true);
  TIdTCPClient client6;
  client6.SetIPVersion(Id_IPv6);
  client6.SetReadTimeout(kSafetyTimeout);
  client6.Connect("::1", server6.Port());
  EXPECT_EQ(client6.Socket()->Binding()->PeerIP(), "0:0:0:0:0:0:0:1");
  EXPECT_EQ(client6.Socket()->Binding()->IPVersion(), Id_IPv6);
  client6.IOHandler()->WriteLn("over six");
  EXPECT_EQ(client6.IOHandler()->ReadLn(), "over six");
}

TEST(TcpClient, RefusedPortAndUnknownNameRaiseTheStacksErrors) {
  const std::uint16_t port = UnusedPort();
  for (int connect_timeout : {0, -1, 5000}) {
    TIdTCPClient client;
    client.SetConnectTimeout(connect_timeout);
    try {
      client.Connect("127.0.0.1", port);
      FAIL() << "nothing listens there";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), 10061);
      EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
    }
    // The handler the connect made for itself is gone again.
    EXPECT_EQ(client.IOHandler(), nullptr);
    EXPECT_FALSE(client.Connected());
  }

  // A handler the caller assigned survives the failure, closed.
  TIdTCPClient client;
  TIdIOHandlerStack own;
  client.SetIOHandler(&own);
  try {
    client.Connect("no-such-host.invalid", 80);
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 11001);
    EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
  }
  EXPECT_EQ(client.IOHandler(), &own);
  EXPECT_FALSE(own.BindingAllocated());
  EXPECT_FALSE(client.ManagedIOHandler());

  TIdTCPClient no_host;
  EXPECT_THROW(no_host.Connect(), EIdHostRequired);
  no_host.SetHost("127.0.0.1");
  EXPECT_THROW(no_host.Connect(), EIdPortRequired);
}

TEST(TcpClient, ConnectTimeoutAgainstAPeerThatNeverAnswers) {
  // A listener with a backlog of 0 whose one queue place is taken: the kernel drops further
  // connection requests, so a connect is never answered.
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), len), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
  const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&addr), len), 0);
  pollfd queued{listener, POLLIN, 0};
  ASSERT_EQ(::poll(&queued, 1, kSafetyTimeout), 1);  // the filler sits in the accept queue

  TIdTCPClient client;
  client.SetConnectTimeout(300);
  try {
    client.Connect("127.0.0.1", ntohs(addr.sin_port));
    FAIL() << "the connect must time out";
  } catch (const EIdConnectTimeout& e) {
    EXPECT_EQ(e.Message(), "Connect timed out.");
  }
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(client.IOHandler(), nullptr);

  // The same with a handler the caller keeps: its socket is closed afterwards.
  TIdIOHandlerStack own;
  client.SetIOHandler(&own);
  EXPECT_THROW(client.Connect(), EIdConnectTimeout);
  EXPECT_FALSE(own.BindingAllocated());

  // Without a connect time-out the deadline ends the connect, and so does a cancel.
  client.SetConnectTimeout(0);
  client.SetDeadline(TIdDeadline::After(std::chrono::milliseconds(300)));
  EXPECT_THROW(client.Connect(), EIdDeadlineExceeded);
  EXPECT_FALSE(own.BindingAllocated());
  auto cancel = std::make_shared<TIdCancellation>();
  client.SetDeadline(TIdDeadline::After(std::chrono::milliseconds(-1), cancel));
  std::thread canceller([cancel] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    cancel->Cancel();
  });
  EXPECT_THROW(client.Connect(), EIdOperationCancelled);
  canceller.join();
  EXPECT_FALSE(own.BindingAllocated());
  ::close(filler);
  ::close(listener);
}

TEST(TcpClient, LineSentInOneBytePieces) {
  const std::string line = "HTTP/1.1 200 OK\r\n";
  TLoopbackServer server([&](TLoopbackServer&, int s) {
    const int one = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (char c : line + "Server: drip\n") {
      SendAll(s, &c, 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ReceiveAll(s);
  });
  TIdTCPClient client;
  client.SetReadTimeout(kSafetyTimeout);
  client.Connect(server.Host(), server.Port());
  EXPECT_EQ(client.IOHandler()->ReadLn(), "HTTP/1.1 200 OK");
  EXPECT_EQ(client.IOHandler()->ReadLn(), "Server: drip");
}

TEST(TcpClient, PeerThatClosesIsAGracefulClose) {
  TLoopbackServer server([](TLoopbackServer&, int s) { SendAll(s, "bye\r\nleft"); });
  TIdTCPClient client;
  client.SetReadTimeout(kSafetyTimeout);
  client.Connect(server.Host(), server.Port());
  EXPECT_EQ(client.IOHandler()->ReadLn(), "bye");
  EXPECT_EQ(client.IOHandler()->ReadString(2), "le");
  TIdBytes rest;
  try {
    client.IOHandler()->ReadBytes(rest, 10);
    FAIL();
  } catch (const EIdConnClosedGracefully& e) {
    EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
  }
  // Unread bytes keep the connection counted as connected until they are read.
  EXPECT_TRUE(client.Connected());
  EXPECT_EQ(client.IOHandler()->InputBufferAsString(), "ft");
  EXPECT_FALSE(client.Connected());
  EXPECT_FALSE(client.Socket()->BindingAllocated());  // noticing the close released the socket
  EXPECT_THROW(client.CheckForGracefulDisconnect(true), EIdConnClosedGracefully);
  client.CheckForGracefulDisconnect(false);

  TLoopbackServer all([](TLoopbackServer&, int s) { SendAll(s, "everything\r\nuntil the end"); });
  TIdTCPClient getter;
  getter.SetHost(all.Host());
  getter.SetPort(all.Port());
  EXPECT_EQ(getter.ConnectAndGetAll(), "everything\r\nuntil the end");
  EXPECT_FALSE(getter.Connected());
}

TEST(TcpClient, PeerThatStallsTimesOut) {
  TLoopbackServer server([](TLoopbackServer& AServer, int s) {
    SendAll(s, "half a li");
    AServer.WaitForStop();
  });
  TIdTCPClient client;
  client.SetReadTimeout(150);
  client.Connect(server.Host(), server.Port());
  EXPECT_EQ(client.IOHandler()->ReadLn(), "");
  EXPECT_TRUE(client.IOHandler()->ReadLnTimedout());
  TIdBytes bytes;
  try {
    client.IOHandler()->ReadBytes(bytes, 100);
    FAIL();
  } catch (const EIdReadTimeout& e) {
    EXPECT_EQ(e.Message(), "Read timed out.");
  }
  // A time-out leaves the connection usable.
  EXPECT_TRUE(client.Connected());
  EXPECT_EQ(client.IOHandler()->InputBufferAsString(), "half a li");
}

TEST(TcpClient, PeerThatResetsEndsInAClearErrorWithoutASignal) {
  TLoopbackServer server([](TLoopbackServer& AServer, int s) {
    // Closing with unread bytes makes the kernel send a reset.
    AServer.WaitReadable(s);
    test::SetLingerZero(s);
  });
  TIdTCPClient client;
  client.SetReadTimeout(kSafetyTimeout);
  client.Connect(server.Host(), server.Port());
  client.IOHandler()->WriteLn("never read by the peer");
  try {
    client.IOHandler()->ReadLn();
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
    EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
  }
  EXPECT_FALSE(client.Connected());
  // Writing to the dead connection raises; no SIGPIPE ends the process.
  EXPECT_THROW(
      {
        for (int i = 0; i < 10; ++i) client.IOHandler()->Write(std::string(100000, 'x'));
      },
      EIdException);

  // The same on a socket that is still open: the peer resets while the client writes.
  TLoopbackServer resetter([](TLoopbackServer&, int s) { test::SetLingerZero(s); });
  TIdTCPClient writer;
  writer.SetReadTimeout(kSafetyTimeout);
  writer.Connect(resetter.Host(), resetter.Port());
  try {
    for (int i = 0; i < 1000; ++i) writer.IOHandler()->Write(std::string(65536, 'y'));
    FAIL() << "the writes must fail";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10054);
  }
  EXPECT_FALSE(writer.Connected());

  // A peer that resets at once, again and again: the reset is reported as one, by the first
  // read after a connect that succeeded (also when the reset beats the reading of the peer's
  // address), or by the connect itself when it arrives before the connect's outcome is read
  // (the kernel then hands the reset over as that outcome, and only once).
  for (int i = 0; i < 100; ++i) {
    TIdTCPClient quick;
    quick.SetReadTimeout(kSafetyTimeout);
    try {
      quick.Connect(resetter.Host(), resetter.Port());
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), 10054) << "attempt " << i;
      EXPECT_FALSE(quick.Connected());
      continue;
    }
    EXPECT_EQ(quick.Socket()->Binding()->PeerPort(), resetter.Port());
    EXPECT_THROW(quick.IOHandler()->ReadLn(), EIdException);
  }
}

// Bytes with a pattern that shows any loss, duplication or reordering.
std::uint8_t PatternByte(std::size_t AIndex) {
  return static_cast<std::uint8_t>((AIndex * 2654435761u) >> 13);
}

TEST(TcpClient, SixtyFourMebibytesThroughWriteBuffering) {
  constexpr std::size_t kSize = 64u << 20;
  TLoopbackServer server([](TLoopbackServer&, int s) {
    // Check what arrives, answer with the verdict, then send the same amount back.
    std::size_t received = 0;
    std::size_t mismatches = 0;
    std::vector<char> chunk(1 << 16);
    while (received < kSize) {
      const ssize_t n = ::recv(s, chunk.data(), chunk.size(), 0);
      if (n <= 0) break;
      for (ssize_t i = 0; i < n; ++i) {
        if (static_cast<std::uint8_t>(chunk[static_cast<std::size_t>(i)]) !=
            PatternByte(received + static_cast<std::size_t>(i)))
          ++mismatches;
      }
      received += static_cast<std::size_t>(n);
    }
    SendAll(s, std::to_string(received) + " " + std::to_string(mismatches) + "\r\n");
    std::vector<char> out(1 << 20);
    for (std::size_t sent = 0; sent < kSize; sent += out.size()) {
      for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(PatternByte(sent + i));
      if (!SendAll(s, out.data(), out.size())) return;
    }
    ReceiveAll(s);
  });
  TIdTCPClient client;
  client.SetReadTimeout(kSafetyTimeout);
  client.Connect(server.Host(), server.Port());
  TIdIOHandler* io = client.IOHandler();
  io->WriteBufferOpen(100000);
  TIdBytes piece;
  for (std::size_t offset = 0; offset < kSize;) {
    const std::size_t count = std::min<std::size_t>(kSize - offset, 4093);  // odd pieces
    piece.resize(count);
    for (std::size_t i = 0; i < count; ++i) piece[i] = PatternByte(offset + i);
    io->Write(piece);
    offset += count;
  }
  io->WriteBufferClose();
  EXPECT_EQ(io->ReadLn(), std::to_string(kSize) + " 0");
  TMemoryStream stream;
  io->ReadStream(&stream, static_cast<std::int64_t>(kSize));
  ASSERT_EQ(stream.Size(), static_cast<std::int64_t>(kSize));
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < kSize; ++i) mismatches += stream.Bytes()[i] != PatternByte(i);
  EXPECT_EQ(mismatches, 0u);
}

TEST(TcpClient, NagleOptionAndBindingEvents) {
  TLoopbackServer server(Echo);
  for (bool nagle : {true, false}) {
    TIdTCPClient client;
    std::vector<std::string> events;
    client.OnBeforeBind = [&](TObject*) { events.push_back("before bind"); };
    client.OnSocketAllocated = [&](TObject*) { events.push_back("allocated"); };
    client.OnAfterBind = [&](TObject*) { events.push_back("after bind"); };
    client.SetUseNagle(nagle);
    client.Connect(server.Host(), server.Port());
    int no_delay = -1;
    client.Socket()->Binding()->GetSockOpt(IPPROTO_TCP, TCP_NODELAY, no_delay);
    EXPECT_EQ(no_delay, nagle ? 0 : 1);
    EXPECT_EQ(client.UseNagle(), nagle);
    EXPECT_EQ(events, (std::vector<std::string>{"before bind", "allocated", "after bind"}));
  }
}

TEST(TcpClient, SettingsReachTheHandler) {
  TIdTCPClient client;
  client.SetReadTimeout(1234);
  client.SetHost("example.invalid");
  client.SetPort(8080);
  TIdIOHandlerStack handler;
  client.SetIOHandler(&handler);
  EXPECT_EQ(handler.ReadTimeout(), 1234);
  EXPECT_EQ(handler.Host(), "example.invalid");
  EXPECT_EQ(handler.Port(), 8080);
  client.SetReadTimeout(99);
  EXPECT_EQ(handler.ReadTimeout(), 99);
  handler.SetReadTimeout(7);
  EXPECT_EQ(client.ReadTimeout(), 7);  // read back from the handler
  handler.SetDefaultPort(80);
  handler.SetDestination("other.invalid:81");
  EXPECT_EQ(handler.Host(), "other.invalid");
  EXPECT_EQ(handler.Port(), 81);
  EXPECT_EQ(handler.Destination(), "other.invalid:81");
  handler.SetDestination("third.invalid:none");
  EXPECT_EQ(handler.Port(), 80);
  EXPECT_EQ(handler.Destination(), "third.invalid");
  {
    TIdIOHandlerStack short_lived;
    client.SetIOHandler(&short_lived);
  }
  EXPECT_EQ(client.IOHandler(), nullptr);  // a freed handler is forgotten

  TIdTCPClient fresh;
  fresh.SetPort(25);
  fresh.CreateIOHandler();
  EXPECT_TRUE(fresh.ManagedIOHandler());
  EXPECT_STREQ(fresh.IOHandler()->ClassName(), "TIdIOHandlerStack");
  EXPECT_EQ(fresh.IOHandler()->Port(), 25);

  TIdConnectionIntercept mine, theirs;
  handler.SetIntercept(&theirs);
  client.SetIntercept(&mine);
  try {
    client.SetIOHandler(&handler);
    FAIL();
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), "The IOHandler already has a different Intercept assigned");
  }
}

TEST(TcpClient, InterceptSeesTheConnectionAndItsBytes) {
  TLoopbackServer server(Echo);
  TIdTCPClient client;
  TIdConnectionIntercept log;
  std::vector<std::string> seen;
  log.OnConnect = [&](TIdConnectionIntercept*) { seen.push_back("connect"); };
  log.OnSend = [&](TIdConnectionIntercept*, TIdBytes& b) {
    seen.push_back("send " + BytesToStringRaw(b));
  };
  log.OnReceive = [&](TIdConnectionIntercept*, TIdBytes& b) {
    seen.push_back("recv " + BytesToStringRaw(b));
  };
  log.OnDisconnect = [&](TIdConnectionIntercept*) { seen.push_back("disconnect"); };
  client.SetIntercept(&log);
  client.SetReadTimeout(kSafetyTimeout);
  client.Connect(server.Host(), server.Port());
  client.IOHandler()->WriteLn("ping");
  EXPECT_EQ(client.IOHandler()->ReadLn(), "ping");
  client.Disconnect();
  EXPECT_EQ(seen,
            (std::vector<std::string>{"connect", "send ping\r\n", "recv ping\r\n", "disconnect"}));
}

void IgnoreSignal(int) {}

TEST(TcpClient, WaitsSurviveSignals) {
  // A handler without SA_RESTART makes every wait return EINTR when the signal arrives.
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;
  sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);

  std::atomic<bool> go{false};
  TLoopbackServer server([&](TLoopbackServer& AServer, int s) {
    while (!go.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    SendAll(s, "after the signals\r\n");
    AServer.WaitForStop();
  });
  TIdTCPClient client;
  client.SetReadTimeout(kSafetyTimeout);
  client.Connect(server.Host(), server.Port());
  const pthread_t reader = ::pthread_self();
  std::thread signaller([&] {
    for (int i = 0; i < 50; ++i) {
      ::pthread_kill(reader, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    go = true;
  });
  std::string line;
  EXPECT_NO_THROW(line = client.IOHandler()->ReadLn());
  signaller.join();
  EXPECT_EQ(line, "after the signals");
  ::sigaction(SIGUSR1, &previous, nullptr);
}

TEST(TcpClient, SocketsAboveTheSelectLimitWork) {
  // Push the next descriptor past 1024, where an fd_set would overflow.
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_max < 1100) GTEST_SKIP() << "the descriptor limit is below 1100";
  const rlimit saved = limit;
  limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 2048);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
  std::vector<int> fillers;
  while (true) {
    const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    fillers.push_back(fd);
    if (fd >= 1030) break;
  }
  {
    TLoopbackServer server(Echo);
    TIdTCPClient client;
    client.SetReadTimeout(kSafetyTimeout);
    client.Connect(server.Host(), server.Port());
    EXPECT_GE(client.Socket()->Binding()->Handle(), 1024);
    client.IOHandler()->WriteLn("high");
    EXPECT_EQ(client.IOHandler()->ReadLn(), "high");
  }
  for (int fd : fillers) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &saved);
}

}  // namespace
}  // namespace brv

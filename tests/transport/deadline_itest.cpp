// The connection's deadline and cancel against real peers on loopback: a peer that trickles, a
// peer that never reads, a peer that never answers.
#include "transport/IdTCPClient.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "support/LoopbackServer.h"
#include "transport/IdDeadline.h"

namespace brv {
namespace {

using namespace std::chrono_literals;
using test::ReceiveLine;
using test::SendAll;
using test::TLoopbackServer;

// Longest a test waits for a peer without a deadline; a safety net against a hang only.
constexpr int kSafetyTimeout = 20000;

void Stall(TLoopbackServer& AServer, int) {
  AServer.WaitForStop();
}

void EchoLine(TLoopbackServer&, int ASocket) {
  SendAll(ASocket, ReceiveLine(ASocket));
}

std::unique_ptr<TIdTCPClient> Client(const TLoopbackServer& AServer) {
  auto client = std::make_unique<TIdTCPClient>();
  client->SetHost(AServer.Host());
  client->SetPort(AServer.Port());
  return client;
}

// A line read and a read of everything until the peer closes (which otherwise takes whatever
// ended the connection as the end of the answer) both end with the deadline.
TEST(ConnectionDeadline, EndsAPeerThatTricklesOneByteASecond) {
  std::atomic<bool> stop{false};
  TLoopbackServer server([&](TLoopbackServer&, int ASocket) {
    // Never a line end, and never a gap as long as the per-read time-out.
    for (int i = 0; i < 60 && !stop; ++i) {
      if (!SendAll(ASocket, "x")) return;
      for (int k = 0; k < 10 && !stop; ++k) std::this_thread::sleep_for(100ms);
    }
  });
  for (bool whole : {false, true}) {
    auto client = Client(server);
    client->SetReadTimeout(5000);
    client->SetDeadline(TIdDeadline::After(2500ms));
    if (whole) {
      EXPECT_THROW(client->ConnectAndGetAll(), EIdDeadlineExceeded);
    } else {
      client->Connect();
      EXPECT_THROW(client->IOHandler()->ReadLn(), EIdDeadlineExceeded);
      // Closed (the bytes that came stay readable).
      EXPECT_FALSE(client->IOHandler()->Opened());
    }
  }
  stop = true;
}

// An upload far larger than the socket buffers of both ends, to a peer that never reads:
// the write ends by the write time-out (ReadTimeout) or by the deadline, and the connection is
// closed since part of the upload may have gone.
TEST(ConnectionDeadline, EndsAnUploadToAPeerThatNeverReads) {
  TLoopbackServer server(Stall);
  const TIdBytes upload(32 << 20, 'u');
  {
    auto client = Client(server);
    client->SetReadTimeout(500);
    client->Connect();
    try {
      client->IOHandler()->Write(upload);
      FAIL() << "the write finished";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), Id_WSAETIMEDOUT);
    }
    EXPECT_FALSE(client->Connected());
  }
  {
    auto client = Client(server);
    client->SetDeadline(TIdDeadline::After(1s));
    client->Connect();
    EXPECT_THROW(client->IOHandler()->Write(upload), EIdDeadlineExceeded);
    EXPECT_FALSE(client->Connected());
  }
}

TEST(ConnectionDeadline, CancelEndsABlockedReadAndTheClientServesTheNextRequest) {
  TLoopbackServer silent(Stall);
  auto client = Client(silent);
  auto cancel = std::make_shared<TIdCancellation>();
  client->SetDeadline(TIdDeadline::After(-1ms, cancel));
  client->Connect();
  std::thread canceller([&] {
    std::this_thread::sleep_for(200ms);
    cancel->Cancel();
  });
  EXPECT_THROW(client->IOHandler()->ReadLn(), EIdOperationCancelled);
  canceller.join();
  EXPECT_FALSE(client->Connected());

  TLoopbackServer live(EchoLine);
  client->SetHost(live.Host());
  client->SetPort(live.Port());
  client->SetReadTimeout(kSafetyTimeout);
  client->SetDeadline(TIdDeadline::After(std::chrono::milliseconds(kSafetyTimeout)));
  client->Connect();
  client->IOHandler()->WriteLn("hello");
  EXPECT_EQ(client->IOHandler()->ReadLn(), "hello");
}

}  // namespace
}  // namespace brv

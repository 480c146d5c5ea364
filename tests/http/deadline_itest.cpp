// The HTTP engine under the connection's deadline, against a scripted server on loopback.
#include "http/IdHTTP.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/ScriptedServer.h"
#include "transport/IdDeadline.h"

namespace brv {
namespace {

using namespace std::chrono_literals;
using test::ScriptedServer;
using S = ScriptedServer;

// A body of 20 bytes, one every 300 ms: no single read waits as long as the read time-out, so
// only the deadline can end it. The same component then serves the next request.
TEST(EngineDeadline, EndsABodyThatTricklesAndServesTheNextRequest) {
  S::Script trickle = {S::Read(), S::Send("HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n")};
  for (int i = 0; i < 20; ++i) {
    trickle.push_back(S::Send("x"));
    trickle.push_back(S::Sleep(300));
  }
  ScriptedServer server({trickle, S::Exchange({"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"})});
  TIdHTTP http;
  http.SetReadTimeout(5000);
  http.SetDeadline(TIdDeadline::After(1s));
  EXPECT_THROW(http.Get(server.Url("/slow")), EIdDeadlineExceeded);
  http.SetDeadline(TIdDeadline::After(20s));
  EXPECT_EQ(http.Get(server.Url("/fast")), "ok");
  EXPECT_EQ(server.Connections(), 2);
}

}  // namespace
}  // namespace brv

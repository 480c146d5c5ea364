#include "http/IdHTTP.h"

#include <gtest/gtest.h>

#include "support/ScriptedServer.h"

namespace brv {
namespace {

using test::ScriptedServer;
using S = ScriptedServer;

std::string Ok(const std::string& ABody, const std::string& AExtra = "") {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(ABody.size()) + "\r\n" + AExtra +
         "\r\n" + ABody;
}

TEST(Engine, GetSendsTheDesignedRequestAndReusesTheConnection) {
  ScriptedServer server({S::Exchange({Ok("hello"), Ok("again")})});
  TIdHTTP http;
  EXPECT_EQ(http.Get(server.Url("/p?q=1")), "hello");
  EXPECT_EQ(http.Get(server.Url("/dir/x")), "again");
  EXPECT_EQ(server.Connections(), 1);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string host = "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n";
  EXPECT_EQ(requests[0],
            "GET /p?q=1 HTTP/1.1\r\n" + host +
                "Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r\n"
                "User-Agent: Mozilla/3.0 (compatible; Quillon Library)\r\n\r\n");
  EXPECT_EQ(requests[1].substr(0, 21), "GET /dir/x HTTP/1.1\r\n");
  EXPECT_EQ(http.ResponseCode(), 200);
}

}  // namespace
}  // namespace brv

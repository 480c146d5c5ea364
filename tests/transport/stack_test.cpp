#include "transport/IdStack.h"

#include <gtest/gtest.h>

#include <netdb.h>

#include <cerrno>
#include <string>

#include "transport/IdComponent.h"
#include "transport/IdSocketHandle.h"
#include "transport/IdStackUnix.h"

namespace brv {
namespace {

// Holds a use of the shared stack for a test.
class StackTest : public ::testing::Test {
 protected:
  TIdComponent FUser;
};

TEST_F(StackTest, IsIPAcceptsOnlyFourDecimalBytes) {
  for (const char* good : {"10.0.0.1", "255.255.255.255", "0.0.0.0", " 10 . 1 . 2 . 3 "}) {
    EXPECT_TRUE(GStack->IsIP(good)) << good;
  }
  for (const char* bad : {"10.0.0", "10.0.0.1.5", "256.1.1.1", "a.b.c.d", "10.1.2.300", "",
                          "1..2.3", "-1.2.3.4", "0x1.2.3.4"}) {
    EXPECT_FALSE(GStack->IsIP(bad)) << bad;
  }
}

TEST_F(StackTest, CanonicalIPv6TextAcceptsExactlyEightGroups) {
  struct Case {
    const char* text;
    const char* canonical;  // "" = not an IPv6 address
    const char* rule;
  };
  const Case cases[] = {
      {"::1", "0:0:0:0:0:0:0:1", "loopback"},
      {"::", "0:0:0:0:0:0:0:0", "all zero"},
      {"fe80::1:2", "FE80:0:0:0:0:0:1:2", "upper case, no leading zeros"},
      {"2001:db8:0:0:0:0:2:1", "2001:DB8:0:0:0:0:2:1", "eight groups"},
      {"::FFFF:192.168.0.1", "0:0:0:0:0:FFFF:C0A8:1", "IPv4 tail is two groups"},
      {"1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:102:304", "six groups and a tail"},
      {"1::", "1:0:0:0:0:0:0:0", "trailing elision"},
      {"::2:3:4:5:6:7:8", "0:2:3:4:5:6:7:8", "elision of one group"},
      {":1:2:3:4:5:6:7", "0:1:2:3:4:5:6:7", "a lone leading colon stands for 0"},
      {"0001:02:3:4:5:6:7:0FFFF", "1:2:3:4:5:6:7:FFFF", "leading zeros"},
      {"1:2:3:4:5:6:7:8:9", "", "nine groups"},
      {"1:2:3:4:5:6:7:8::", "", "eight groups and an elision"},
      {"1:2:3:4:5:6:7::8", "", "elision standing for no group"},
      {"1:2:3:4:5:6:7:1.2.3.4", "", "tail makes nine groups"},
      {"::1.2.3.4:5", "", "tail not at the end"},
      {"1.2.3.4::", "", "tail before an elision"},
      {"1:2:3:4:5:6:7", "", "seven groups"},
      {"1::2::3", "", "two elisions"},
      {":::1", "", "three colons"},
      {"10000::1", "", "group above FFFF"},
      {"::1.2.3.256", "", "tail byte above 255"},
      {"::1.2.3", "", "tail of three bytes"},
      {"::1.2.3.4a", "", "letter after a dot"},
      {"g::1", "", "not a hex digit"},
      {"1.2.3.4", "", "plain IPv4"},
      {"", "", "empty"},
      {"0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0:0", "",
       "far too many"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TIdStack::CanonicalIPv6Text(c.text), c.canonical) << c.rule << ": " << c.text;
  }
}

TEST_F(StackTest, AddressTextConversions) {
  auto* bsd = dynamic_cast<TIdStackBSDBase*>(GStack);
  ASSERT_NE(bsd, nullptr);
  std::uint8_t v6[16];
  bsd->TranslateStringToTInAddr("::1", v6, Id_IPv6);
  EXPECT_EQ(bsd->TranslateTInAddrToString(v6, Id_IPv6), "0:0:0:0:0:0:0:1");
  std::uint8_t v4[4];
  bsd->TranslateStringToTInAddr("192.168.0.10", v4, Id_IPv4);
  EXPECT_EQ(bsd->TranslateTInAddrToString(v4, Id_IPv4), "192.168.0.10");
  try {
    bsd->TranslateStringToTInAddr("1:2", v6, Id_IPv6);
    FAIL();
  } catch (const EIdInvalidIPv6Address& e) {
    EXPECT_EQ(e.Message(), "1:2 is not a valid IPv6 address");
  }
  EXPECT_THROW(bsd->TranslateStringToTInAddr("1.2.x.4", v4, Id_IPv4), EConvertError);
  // A field above 255 is refused instead of being cut to a byte.
  EXPECT_THROW(bsd->TranslateStringToTInAddr("1.2.3.260", v4, Id_IPv4), EConvertError);
  EXPECT_THROW(GStack->ResolveHost("x", static_cast<TIdIPVersion>(7)), EIdIPVersionUnsupported);
}

TEST_F(StackTest, ResolveHostShortcuts) {
  EXPECT_EQ(GStack->ResolveHost("LocalHost", Id_IPv4), "127.0.0.1");
  EXPECT_EQ(GStack->ResolveHost("LOCALHOST", Id_IPv6), "::1");
  EXPECT_EQ(GStack->ResolveHost("10.1.2.3", Id_IPv4), "10.1.2.3");
  EXPECT_EQ(GStack->ResolveHost("fe80::1", Id_IPv6), "FE80:0:0:0:0:0:0:1");
  // A name under the reserved domain "invalid" never resolves.
  for (const char* name : {"no-such-host.invalid", "x.INVALID.", "invalid"}) {
    try {
      GStack->ResolveHost(name, Id_IPv4);
      FAIL() << name;
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), 11001) << name;
      EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.") << name;
    }
  }
}

TEST_F(StackTest, ErrorNumbersAndMessages) {
  struct Case {
    int err;
    int number;
    const char* text;
  };
  const Case cases[] = {
      {ECONNREFUSED, 10061, "Connection refused."},
      {ECONNRESET, 10054, "Connection reset by peer."},
      {EPIPE, 10054, "Connection reset by peer."},
      {ETIMEDOUT, 10060, "Connection timed out."},
      {EHOSTUNREACH, 10065, "No route to host."},
      {ENETUNREACH, 10051, "Network is unreachable."},
      {EADDRINUSE, 10048, "Address already in use."},
      {EWOULDBLOCK, 10035, "Operation would block."},
      {ENOTSOCK, 10038, "Socket operation on non-socket."},
  };
  for (const Case& c : cases) {
    const int number = TIdStackUnix::TranslateErrno(c.err);
    EXPECT_EQ(number, c.number) << c.text;
    try {
      GStack->RaiseSocketError(number);
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), c.number);
      EXPECT_EQ(e.Message(),
                std::string("Socket Error # ") + std::to_string(c.number) + "\r\n" + c.text);
    }
  }
  EXPECT_THROW(GStack->RaiseSocketError(10038), EIdNotASocket);
  // A number outside the table leaves the text empty.
  try {
    GStack->RaiseSocketError(10101);
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.Message(), "Socket Error # 10101\r\n");
  }
  EXPECT_EQ(TIdStackUnix::TranslateAddrInfoError(EAI_NONAME, 0), 11001);
  EXPECT_EQ(TIdStackUnix::TranslateAddrInfoError(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(TIdStackUnix::TranslateAddrInfoError(EAI_FAIL, 0), 11003);
  EXPECT_EQ(TIdStackUnix::TranslateAddrInfoError(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST_F(StackTest, CheckForSocketErrorIgnoresListedNumbers) {
  errno = ECONNRESET;
  EXPECT_EQ(GStack->CheckForSocketError(-1, {10054, 10053}), 10054);
  errno = ECONNREFUSED;
  EXPECT_THROW(GStack->CheckForSocketError(-1, {10054}), EIdSocketError);
  EXPECT_EQ(GStack->CheckForSocketError(5), 5);
}

TEST_F(StackTest, SharedInstanceLivesWhileUsed) {
  TIdStack* first = GStack;
  {
    TIdComponent second_user;
    EXPECT_EQ(GStack, first);
  }
  EXPECT_EQ(GStack, first);  // the fixture's component still uses it
}

TEST(StackLifetime, LastUserFreesAndNextUserRecreates) {
  {
    TIdComponent user;
    EXPECT_NE(GStack, nullptr);
  }
  EXPECT_EQ(GStack, nullptr);
  TIdComponent again;
  EXPECT_NE(GStack, nullptr);
}

TEST_F(StackTest, SocketHandleEdges) {
  TIdSocketHandle handle;
  handle.CloseSocket();  // never allocated: nothing happens
  handle.AllocateSocket();
  EXPECT_TRUE(handle.HandleAllocated());
  EXPECT_EQ(handle.SocketType(), 1);
  EXPECT_TRUE(handle.UseNagle());
  EXPECT_THROW(handle.SetIPVersion(Id_IPv6), EIdCannotSetIPVersionWhenConnected);
  handle.SetClientPortMin(5000);
  handle.SetClientPortMax(4000);
  try {
    handle.Bind();
    FAIL();
  } catch (const EIdInvalidPortRange& e) {
    EXPECT_EQ(e.Message(), "Invalid Port Range (5000 - 4000)");
  }
  handle.CloseSocket();
  handle.CloseSocket();  // twice: nothing happens
  EXPECT_FALSE(handle.HandleAllocated());
  EXPECT_EQ(handle.SocketType(), 0);
  EXPECT_THROW(handle.Readable(0), EIdConnClosedGracefully);

  // With Port set, the range is ignored; the system picks nothing, the bound port is ours.
  handle.AllocateSocket();
  handle.SetIP("127.0.0.1");
  handle.SetPort(0);
  handle.SetClientPortMin(0);
  handle.SetClientPortMax(0);
  handle.Bind();
  EXPECT_EQ(handle.IP(), "127.0.0.1");
  EXPECT_NE(handle.Port(), 0);
  handle.SetUseNagle(false);
  int no_delay = 0;
  handle.GetSockOpt(6, 1, no_delay);  // IPPROTO_TCP, TCP_NODELAY
  EXPECT_EQ(no_delay, 1);
}

}  // namespace
}  // namespace brv

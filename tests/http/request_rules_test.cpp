#include "http/private/RequestRules.h"

#include <gtest/gtest.h>

#include <string>

#include "http/private/ByteScan.h"

namespace brv::http_detail {
namespace {

TEST(RequestRules, ARedirectLeavesTheOriginOnlyForAnotherSchemeHostOrPort) {
  TIdURI current("http://Example.com/a/b");
  current.SetPort("80");
  const struct {
    const char* location;
    bool leaves;
  } rows[] = {
      {"/elsewhere", false},                     // relative: same origin
      {"other/doc", false},                      //
      {"http://example.COM/x", false},           // host case does not matter
      {"http://example.com:80/x", false},        // the default port spelt out
      {"https://example.com/x", true},           // another scheme
      {"http://example.com:8080/x", true},       // another port
      {"http://example.org/x", true},            // another host
      {"http://example.com.evil.test/x", true},  //
  };
  for (const auto& row : rows)
    EXPECT_EQ(LeavesOrigin(current, row.location), row.leaves) << row.location;
}

TEST(RequestRules, HostHeaderBracketsIPv6AndOmitsOnlyTheDefaultPort) {
  const struct {
    const char* url;
    const char* host;
  } rows[] = {
      {"http://example.com/", "example.com"},
      {"http://example.com:80/", "example.com"},
      {"https://example.com:443/", "example.com"},
      {"https://example.com:80/", "example.com:80"},
      {"http://example.com:8080/", "example.com:8080"},
      {"http://[::1]:8080/", "[::1]:8080"},
      {"http://[::1]/", "[::1]"},
  };
  for (const auto& row : rows) {
    TIdURI kept;
    MergeRequestURI(kept, TIdURI(row.url));
    kept.SetIPVersion(TIdURI(row.url).IPVersion());
    EXPECT_EQ(HostHeaderOf(kept), row.host) << row.url;
  }
}

TEST(RequestRules, AURLWithoutAPortOrAKnownProtocolIsRefusedUnlessOneIsKept) {
  TIdURI kept;
  EXPECT_THROW(MergeRequestURI(kept, TIdURI("ftp://example.com/x")), EIdUnknownProtocol);
  MergeRequestURI(kept, TIdURI("http://example.com/dir/doc"));
  MergeRequestURI(kept, TIdURI("next?q=1"));  // relative: host, protocol and port stay
  EXPECT_EQ(kept.Host(), "example.com");
  EXPECT_EQ(kept.Port(), "80");
  EXPECT_EQ(RequestTargetOf(kept, false), "/dir/next?q=1");
}

TEST(RequestRules, AcceptEncodingAddsWhatTheCompressorReadsAndIdentity) {
  EXPECT_EQ(AcceptEncodingOf("", false), "");
  EXPECT_EQ(AcceptEncodingOf("", true), "deflate, gzip, identity");
  EXPECT_EQ(AcceptEncodingOf("gzip", true), "gzip, deflate, identity");
  EXPECT_EQ(AcceptEncodingOf("br", false), "br, identity");
  EXPECT_EQ(AcceptEncodingOf("identity", false), "identity");
}

// The scans test eight bytes at a time: each forbidden byte must be found at every place of
// texts around that width, and no allowed byte may be taken for one.
TEST(ByteScan, EveryForbiddenByteIsFoundAtEveryPlaceAndNoOtherIs) {
  const struct {
    bool (*scan)(std::string_view);
    std::string forbidden;
    std::string allowed;
  } rows[] = {
      {HasControl, std::string("\x01\x1f\x7f\r\n", 5) + '\0', std::string("\t ~\x80\xff")},
      {HasLineBreakOrNul, std::string("\r\n", 2) + '\0', std::string("\t\x0b\x0c\x0e\x7f \xff")},
      {HasBreakNulOrSpace, std::string("\r\n ", 3) + '\0', std::string("\t\x0c!\x7f\xff")},
  };
  for (const auto& row : rows) {
    for (size_t length = 1; length <= 19; ++length) {
      for (char allowed : row.allowed)
        EXPECT_FALSE(row.scan(std::string(length, allowed))) << int(allowed) << " " << length;
      for (size_t at = 0; at < length; ++at)
        for (char bad : row.forbidden) {
          std::string text(length, 'a');
          text[at] = bad;
          EXPECT_TRUE(row.scan(text)) << int(bad) << " at " << at << " of " << length;
        }
    }
  }
}

}  // namespace
}  // namespace brv::http_detail

#include "base/IdURI.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brv {
namespace {

struct SplitCase {
  const char* input;
  const char* protocol;
  const char* user;
  const char* password;
  const char* host;
  const char* port;
  const char* path;
  const char* document;
  const char* params;
  const char* bookmark;
  TIdIPVersion ipVersion;
};

TEST(IdURITest, SplitsUrlsIntoTheirParts) {
  const std::vector<SplitCase> cases = {
      {"https://host/123456789012/MyQueue?Action=SendMessage&X=1", "https", "", "", "host", "",
       "/123456789012/", "MyQueue", "Action=SendMessage&X=1", "", Id_IPv4},
      {"https://host?Action=ListQueues", "https", "", "", "host", "", "/", "", "Action=ListQueues",
       "", Id_IPv4},
      {"http://user@[::1]:8080/a/b/c.txt?x=1#frag", "http", "user", "", "::1", "8080", "/a/b/",
       "c.txt", "x=1", "frag", Id_IPv6},
      {"http://u:p:q@host:81/", "http", "u", "p:q", "host", "81", "/", "", "", "", Id_IPv4},
      // the last "@" separates the user information from the host
      {"http://a@b@host/", "http", "a@b", "", "host", "", "/", "", "", "", Id_IPv4},
      // no user name means no password either
      {"http://:secret@host/", "http", "", "", "host", "", "/", "", "", "", Id_IPv4},
      // a "#" ends the query; a "?" after the "#" stays in the bookmark
      {"http://h/p?a=1#b?c", "http", "", "", "h", "", "/", "p", "a=1", "b?c", Id_IPv4},
      {"http://h/p#b?c", "http", "", "", "h", "", "/", "p", "", "b?c", Id_IPv4},
      {"http://[fe80::1]/x", "http", "", "", "fe80::1", "", "/", "x", "", "", Id_IPv6},
      {"http://", "http", "", "", "", "", "/", "", "", "", Id_IPv4},
      {"dir/sub/file.txt?q", "", "", "", "", "", "dir/sub/", "file.txt", "q", "", Id_IPv4},
      {"file.txt", "", "", "", "", "", "", "file.txt", "", "", Id_IPv4},
  };
  const auto check = [](const TIdURI& uri, const SplitCase& c) {
    EXPECT_EQ(uri.Protocol(), c.protocol);
    EXPECT_EQ(uri.Username(), c.user);
    EXPECT_EQ(uri.Password(), c.password);
    EXPECT_EQ(uri.Host(), c.host);
    EXPECT_EQ(uri.Port(), c.port);
    EXPECT_EQ(uri.Path(), c.path);
    EXPECT_EQ(uri.Document(), c.document);
    EXPECT_EQ(uri.Params(), c.params);
    EXPECT_EQ(uri.Bookmark(), c.bookmark);
    EXPECT_EQ(uri.IPVersion(), c.ipVersion);
  };
  // The thread's kept parse must read as a new one, whatever URL it held before: each case
  // follows the one before it, and is read a second time from the kept copy.
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input);
    check(TIdURI(c.input), c);
    check(ParsedURIOf(c.input), c);
    check(ParsedURIOf(c.input), c);
  }
  EXPECT_EQ(ParsedURIOf("").GetPathAndParams(), TIdURI("").GetPathAndParams());
}

TEST(IdURITest, RewritingClearsThePartsOfTheLastUrl) {
  TIdURI uri("http://u:p@[::1]:9/a/b?q#f");
  uri.SetURI("https://other");
  EXPECT_EQ(uri.GetFullURI(), "https://other/");
  EXPECT_EQ(uri.IPVersion(), Id_IPv4);
}

TEST(IdURITest, RebuildsWithAndWithoutOptionalFields) {
  TIdURI uri("http://user@[::1]:8080/a/b/c.txt?x=1#frag");
  EXPECT_EQ(uri.GetFullURI(ofAuthInfo | ofBookmark), "http://user@[::1]:8080/a/b/c.txt?x=1#frag");
  EXPECT_EQ(uri.URI(), "http://[::1]:8080/a/b/c.txt?x=1");
  EXPECT_EQ(uri.GetFullURI(ofBookmark), "http://[::1]:8080/a/b/c.txt?x=1#frag");

  uri.SetURI("http://u:p:q@host/");
  EXPECT_EQ(uri.GetFullURI(ofAuthInfo), "http://u:p:q@host/");
  EXPECT_EQ(uri.GetPathAndParams(), "/");
}

TEST(IdURITest, LeavesOutOnlyTheProtocolsOwnDefaultPort) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"https://host:443/x", "https://host/x"},   {"HTTP://host:80/", "HTTP://host/"},
      {"ftp://host:21/", "ftp://host/"},          {"https://host:80/", "https://host:80/"},
      {"ws://host:80/", "ws://host:80/"},         {"http://host:0080/", "http://host:0080/"},
      {"https://host:8443/q?a", "https://host:8443/q?a"},
  };
  for (const auto& [in, out] : cases) {
    TIdURI uri(in);
    EXPECT_EQ(uri.URI(), out) << in;
  }
}

TEST(IdURITest, RebuildingWithoutProtocolOrHostFails) {
  TIdURI relative("dir/file");
  try {
    (void)relative.URI();
    FAIL() << "no exception";
  } catch (const EIdURIException& e) {
    EXPECT_EQ(e.Message(), "Protocol field is empty");
  }
  TIdURI noHost("http:///path");
  try {
    (void)noHost.GetFullURI();
    FAIL() << "no exception";
  } catch (const EIdURIException& e) {
    EXPECT_EQ(e.Message(), "Host field is empty");
  }
  EXPECT_THROW(TIdURI::URLEncode("no/protocol"), EIdURIException);
  // the failed rebuild changed nothing
  EXPECT_EQ(noHost.Path(), "/");
  EXPECT_EQ(noHost.Document(), "path");
}

TEST(IdURITest, NormalizesBackSlashesOnlyInThePath) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"http://host\\dir\\file?q=a\\b", "http://host/dir/file?q=a\\b"},
      {"http:\\\\host\\dir", "http:\\\\host/dir"},
      {"a\\b:c\\d#e\\f", "a\\b:c/d#e\\f"},
      {"no\\colon", "no/colon"},
  };
  for (const auto& [in, out] : cases) {
    std::string s = in;
    TIdURI::NormalizePath(s);
    EXPECT_EQ(s, out) << in;
  }
  TIdURI uri("http://host\\dir\\file?q=a\\b");
  EXPECT_EQ(uri.Path(), "/dir/");
  EXPECT_EQ(uri.Document(), "file");
  EXPECT_EQ(uri.Params(), "q=a\\b");
}

TEST(IdURITest, PercentEncodesQueriesAndPaths) {
  EXPECT_EQ(TIdURI::ParamsEncode("a b&c=d+e%41%zz"), "a%20b&c=d+e%41%25zz");
  EXPECT_EQ(TIdURI::PathEncode("a b&c=d+e%41%zz"), "a%20b&c=d%2Be%41%25zz");
  EXPECT_EQ(TIdURI::ParamsEncode(""), "");
  EXPECT_EQ(TIdURI::PathEncode("\xC3\xA9"), "%C3%A9");                 // é
  EXPECT_EQ(TIdURI::PathEncode("\xF0\x9F\x98\x80"), "%F0%9F%98%80");   // U+1F600
  EXPECT_EQ(TIdURI::ParamsEncode("*<>#%\"{}|\\^[]`"),
            "%2A%3C%3E%23%25%22%7B%7D%7C%5C%5E%5B%5D%60");
  EXPECT_EQ(TIdURI::ParamsEncode("&=/?:@$,;!'()~\x7F"), "&=/?:@$,;!'()~\x7F");
  EXPECT_EQ(TIdURI::ParamsEncode(std::string("\t\r\n\0", 4)), "%09%0D%0A%00");
  // an escape at the very end, and a "%" two characters before the end
  EXPECT_EQ(TIdURI::ParamsEncode("x%2F"), "x%2F");
  EXPECT_EQ(TIdURI::ParamsEncode("x%2"), "x%252");
  // a byte that starts no UTF-8 character is kept as its own escape, not dropped
  EXPECT_EQ(TIdURI::PathEncode("a\xFF" "b"), "a%FFb");
}

TEST(IdURITest, EncodingAnUnpairedSurrogateFails) {
  // U+D800 and U+DC00 written the way a converted UTF-16 text would carry them
  try {
    (void)TIdURI::PathEncode("ab\xED\xA0\x80" "c");
    FAIL() << "no exception";
  } catch (const EArgumentException& e) {
    EXPECT_EQ(e.Message(),
              "High surrogate char without a following low surrogate char at index: 3. Check "
              "that the string is encoded properly");
  }
  try {
    (void)TIdURI::ParamsEncode("\xED\xB0\x80");
    FAIL() << "no exception";
  } catch (const EArgumentException& e) {
    EXPECT_EQ(e.Message(),
              "Low surrogate char without a preceding high surrogate char at index: 1. Check "
              "that the string is encoded properly");
  }
  // a pair written as two surrogates is one character of two units
  const std::string pair = "\xED\xA0\xBD\xED\xB8\x80";
  EXPECT_EQ(Utf16CharUnits(pair, 1), 2);
  EXPECT_EQ(Utf16CodePointAt(pair, 1), U'\U0001F600');
  EXPECT_EQ(TIdURI::PathEncode(pair), "%F0%9F%98%80");
  EXPECT_EQ(Utf16CharUnits("\xC3\xA9", 1), 1);
  EXPECT_THROW((void)Utf16CharUnits("ab", 3), EArgumentException);
  EXPECT_THROW((void)Utf16CodePointAt("ab", 0), EArgumentException);
}

TEST(IdURITest, EncodesWholeUrls) {
  EXPECT_EQ(TIdURI::URLEncode("http://u:p@host:8080/a b/c+d.txt?x=a b+c#frag"),
            "http://host:8080/a%20b/c%2Bd.txt?x=a%20b+c");
}

TEST(IdURITest, DecodesEscapes) {
  EXPECT_EQ(TIdURI::URLDecode("%41%u00E9%zz"), "A\xC3\xA9");
  EXPECT_EQ(TIdURI::URLDecode("x%4"), std::string("x\x04"));
  EXPECT_EQ(TIdURI::URLDecode("x%"), "x");
  EXPECT_EQ(TIdURI::URLDecode("%C3%A9%20%2b"), "\xC3\xA9 +");
  EXPECT_EQ(TIdURI::URLDecode("%u20AC%U20ac"), "\xE2\x82\xAC\xE2\x82\xAC");
  EXPECT_EQ(TIdURI::URLDecode("%uD83D%uDE00"), "\xF0\x9F\x98\x80");
  // escapes of bytes that are no UTF-8 become the replacement character
  EXPECT_EQ(TIdURI::URLDecode("a%FFb"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(TIdURI::URLDecode("%uD800x"), "\xEF\xBF\xBDx");
  // characters outside ASCII that are not escaped come through intact
  EXPECT_EQ(TIdURI::URLDecode("\xC3\xA9+"), "\xC3\xA9+");
  // blanks around the digits are trimmed
  EXPECT_EQ(TIdURI::URLDecode("% 9"), "\t");
}

TEST(IdURITest, EncodingThenDecodingGivesTheTextBack) {
  const std::vector<std::string> texts = {
      "plain", "a b&c=d+e", "100% sure", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", "*<>#\"{}|\\^[]`",
      "tab\there"};
  for (const auto& t : texts) {
    // a text without ready-made escapes survives both encoders
    EXPECT_EQ(TIdURI::URLDecode(TIdURI::PathEncode(t)), t) << t;
    EXPECT_EQ(TIdURI::URLDecode(TIdURI::ParamsEncode(t)), t) << t;
  }
}

TEST(IdURITest, PercentEscapeNeedsTwoHexDigits) {
  EXPECT_TRUE(HasPercentEscape("%2f", 1));
  EXPECT_TRUE(HasPercentEscape("x%AF", 2));
  EXPECT_FALSE(HasPercentEscape("%2", 1));
  EXPECT_FALSE(HasPercentEscape("%g0", 1));
  EXPECT_FALSE(HasPercentEscape("a2f", 1));
  EXPECT_FALSE(HasPercentEscape("%2f", 0));
  EXPECT_TRUE(IsCharOfSet("*<>", '<'));
  EXPECT_FALSE(IsCharOfSet("*<>", 'a'));
}

}  // namespace
}  // namespace brv

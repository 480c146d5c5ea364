#include "base/UTF8.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

namespace brv {
namespace {

// Every code point the encoding can hold, through glibc's iconv as an independent encoder.
std::string IconvUTF8(const std::u32string& Text) {
  iconv_t cd = iconv_open("UTF-8", "UTF-32LE");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string in(reinterpret_cast<const char*>(Text.data()), Text.size() * 4);
  std::string out(Text.size() * 4, '\0');
  char* src = in.data();
  char* dst = out.data();
  size_t src_left = in.size(), dst_left = out.size();
  EXPECT_NE(iconv(cd, &src, &src_left, &dst, &dst_left), static_cast<size_t>(-1));
  iconv_close(cd);
  out.resize(out.size() - dst_left);
  return out;
}

TEST(UTF8, EveryScalarValueIsWrittenAsIconvWritesItAndReadsBack) {
  std::u32string all;
  for (char32_t c = 0; c <= 0x10FFFF; ++c)
    if (c < 0xD800 || c > 0xDFFF) all += c;
  std::string ours;
  for (char32_t c : all) AppendUTF8(ours, c);
  ASSERT_EQ(ours, IconvUTF8(all));

  std::size_t pos = 0, index = 0;
  char32_t code = 0;
  while (pos < ours.size()) {
    ASSERT_TRUE(NextUTF8CodePoint(ours, pos, code)) << "at byte " << pos;
    ASSERT_EQ(code, all[index++]);
  }
  EXPECT_EQ(index, all.size());
}

// Reads Bytes to the end; U+FFFD for every failed read.
std::u32string ReadAll(const std::string& Bytes) {
  std::u32string out;
  std::size_t pos = 0;
  while (pos < Bytes.size()) {
    char32_t code = 0;
    out += NextUTF8CodePoint(Bytes, pos, code) ? code : kUTF8ReplacementCharacter;
  }
  return out;
}

TEST(UTF8, IllFormedInputCountsEachBadSpotOnce) {
  constexpr char32_t R = kUTF8ReplacementCharacter;
  struct Case {
    std::string bytes;
    std::u32string text;
  } cases[] = {
      // The Unicode standard's own example: a truncated 4-byte and 3-byte sequence, a stray
      // continuation byte, two stray continuation bytes.
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       {U'a', R, R, R, U'b', R, U'c', R, R, U'd'}},
      {"\xC0\xAF", {R, R}},                // over-long "/"
      {"\xE0\x80\xAF", {R, R, R}},         // over-long, three bytes
      {"\xED\xA0\x80", {R, R, R}},         // a surrogate
      {"\xF4\x90\x80\x80", {R, R, R, R}},  // above U+10FFFF
      {"\xF5\x80", {R, R}},                // a lead byte that never starts a sequence
      {"\xFF", {R}},
      {"\xE2\x82", {R}},  // cut short at the end
      {"\xF0\x9F\x98", {R}},
      {"A\xE2\x82\xAC", {U'A', 0x20AC}},
      {std::string("\0x", 2), {0, U'x'}},  // NUL is a character like any other
  };
  for (const Case& c : cases) EXPECT_EQ(ReadAll(c.bytes), c.text) << c.bytes;
}

TEST(UTF8, AcceptingSurrogatesReadsThemAndRefusesAllElseAsBefore) {
  struct Case {
    std::string bytes;
    bool read;
    char32_t code;
    std::size_t length;
  } cases[] = {
      {"\xED\xA0\x80", true, 0xD800, 3},  // a lone high surrogate, as UTF-16 text may carry
      {"\xED\xBF\xBF", true, 0xDFFF, 3}, {"\xED\x9F\xBF", true, 0xD7FF, 3},
      {"\xE0\x80\xAF", false, 0, 1},                                 // over-long stays refused
      {"\xF4\x90\x80\x80", false, 0, 1}, {"\xED\xA0", false, 0, 2},  // cut short
  };
  for (const Case& c : cases) {
    std::size_t pos = 0;
    char32_t code = 0;
    EXPECT_EQ(NextUTF8CodePoint(c.bytes, pos, code, true), c.read) << c.bytes;
    EXPECT_EQ(pos, c.length) << c.bytes;
    if (c.read) {
      EXPECT_EQ(code, c.code) << c.bytes;
    }
  }
}

// UTF-16 as iconv writes it (little-endian, no byte-order mark) for the whole scalar range, and
// the one thing the two forms differ in: what becomes of ill-formed input.
TEST(UTF8, UTF16FormMatchesIconvAndRepairsOrRefusesIllFormedInput) {
  std::u32string all;
  for (char32_t c = 1; c <= 0x10FFFF; c += (c < 0x800 ? 1 : 97)) {
    if (c < 0xD800 || c > 0xDFFF) all += c;
  }
  std::string utf8;
  for (char32_t c : all) AppendUTF8(utf8, c);
  iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string expected(utf8.size() * 4, '\0');
  char* in = utf8.data();
  char* out = expected.data();
  std::size_t inLeft = utf8.size(), outLeft = expected.size();
  ASSERT_NE(iconv(cd, &in, &inLeft, &out, &outLeft), static_cast<std::size_t>(-1));
  iconv_close(cd);
  expected.resize(expected.size() - outLeft);
  const std::u16string ours = UTF8ToUTF16(utf8);
  ASSERT_EQ(std::string(reinterpret_cast<const char*>(ours.data()), ours.size() * 2), expected);

  std::u16string strict = u"left over";
  EXPECT_TRUE(StrictUTF8ToUTF16("a\xF0\x9F\x98\x80", strict));
  EXPECT_EQ(strict, u"a\U0001F600");
  EXPECT_EQ(UTF8ToUTF16("a\xC0\xAF"
                        "b\xED\xA0\x80"),
            u"a\uFFFD\uFFFDb\uFFFD\uFFFD\uFFFD");
  EXPECT_FALSE(
      StrictUTF8ToUTF16("a\xC0\xAF"
                        "b",
                        strict));
  EXPECT_EQ(strict, u"");
}

}  // namespace
}  // namespace brv

#include "transport/IdTextEncoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/UTF8.h"
#include "transport/IdException.h"

namespace brv {
namespace {

std::string Utf8(char32_t cp) {
  std::string out;
  AppendUTF8(out, cp);
  return out;
}

bool IsScalar(char32_t cp) {
  return cp < 0xD800 || (cp > 0xDFFF && cp <= 0x10FFFF);
}

// Every Unicode scalar value in [AFrom, ATo), as one text.
std::string AllScalars(char32_t AFrom, char32_t ATo) {
  std::string text;
  for (char32_t cp = AFrom; cp < ATo; ++cp) {
    if (IsScalar(cp)) text += Utf8(cp);
  }
  return text;
}

const std::string kReplacement = "\xEF\xBF\xBD";

struct FullUnicodeCase {
  const char* name;
  const IIdTextEncoding* (*encoding)();
};

class FullUnicodeEncodings : public ::testing::TestWithParam<FullUnicodeCase> {};

// The UTF encodings carry every scalar value there and back, and report nothing lost.
TEST_P(FullUnicodeEncodings, RoundTripEveryCodePoint) {
  const IIdTextEncoding* encoding = GetParam().encoding();
  for (char32_t from = 0; from < 0x110000; from += 0x10000) {
    const std::string text = AllScalars(from, from + 0x10000);
    TIdBytes bytes;
    ASSERT_EQ(encoding->Encode(text, bytes), 0u) << "plane at " << static_cast<unsigned>(from);
    std::string back;
    ASSERT_EQ(encoding->Decode(bytes.data(), bytes.size(), back), 0u)
        << "plane at " << static_cast<unsigned>(from);
    ASSERT_TRUE(back == text) << "plane at " << static_cast<unsigned>(from);
  }
}

INSTANTIATE_TEST_SUITE_P(Utf, FullUnicodeEncodings,
                         ::testing::Values(FullUnicodeCase{"UTF8", &IndyTextEncoding_UTF8},
                                           FullUnicodeCase{"UTF7", &IndyTextEncoding_UTF7},
                                           FullUnicodeCase{"UTF16LE", &IndyTextEncoding_UTF16LE},
                                           FullUnicodeCase{"UTF16BE", &IndyTextEncoding_UTF16BE}),
                         [](const auto& info) { return std::string(info.param.name); });

// The byte encodings carry what they can and report one loss per character they cannot; a
// character outside the BMP is two UTF-16 units and so becomes two "?".
TEST(ByteEncodings, RoundTripWhatTheyCanAndCountTheRest) {
  struct Case {
    const IIdTextEncoding* encoding;
    char32_t limit;
  };
  for (const Case& c :
       {Case{IndyTextEncoding_ASCII(), 0x80}, Case{IndyTextEncoding_8Bit(), 0x100}}) {
    for (char32_t cp = 0; cp < 0x110000; cp += (cp < 0x1000 ? 1 : 0x101)) {
      if (!IsScalar(cp)) continue;
      TIdBytes bytes;
      const std::size_t lost = c.encoding->Encode(Utf8(cp), bytes);
      if (cp < c.limit) {
        ASSERT_EQ(lost, 0u) << static_cast<unsigned>(cp);
        ASSERT_EQ(c.encoding->GetString(bytes), Utf8(cp)) << static_cast<unsigned>(cp);
      } else {
        ASSERT_EQ(lost, 1u) << static_cast<unsigned>(cp);
        ASSERT_EQ(bytes, TIdBytes(cp > 0xFFFF ? 2 : 1, '?')) << static_cast<unsigned>(cp);
        ASSERT_FALSE(c.encoding->CanEncode(Utf8(cp)));
      }
    }
  }
  // ASCII reads a byte above 127 as U+FFFD and says so; 8-bit maps every byte to its character.
  const TIdBytes high = {0x41, 0xE9, 0x42};
  std::string text;
  EXPECT_EQ(IndyTextEncoding_ASCII()->Decode(high.data(), high.size(), text), 1u);
  EXPECT_EQ(text, "A" + kReplacement + "B");
  EXPECT_EQ(IndyTextEncoding_8Bit()->GetString(high),
            "A\xC3\xA9"
            "B");
  EXPECT_EQ(IndyTextEncoding_ASCII()->GetBytes("caf\xC3\xA9"), RawToBytes("caf?"));
}

// ASCII text is taken in runs of eight bytes at a time: a character outside ASCII at any
// place in or after such a run, and a short tail, give what the character by character
// conversion gives.
TEST(ByteEncodings, AsciiRunsAroundEveryOtherCharacter) {
  const std::string other = "\xC3\xA9";  // é: two bytes of UTF-8, one byte in 8-bit
  for (std::size_t before = 0; before < 20; ++before) {
    for (std::size_t after = 0; after < 10; ++after) {
      const std::string head(before, 'h'), tail(after, 't');
      const std::string text = head + other + tail;
      EXPECT_EQ(IndyTextEncoding_ASCII()->GetBytes(text), RawToBytes(head + "?" + tail));
      EXPECT_EQ(IndyTextEncoding_8Bit()->GetBytes(text), RawToBytes(head + "\xE9" + tail));
      EXPECT_EQ(IndyTextEncoding_UTF8()->GetBytes(text), RawToBytes(text));

      std::string decoded;
      const TIdBytes latin = RawToBytes(head + "\xE9" + tail);
      EXPECT_EQ(IndyTextEncoding_ASCII()->Decode(latin.data(), latin.size(), decoded), 1u);
      EXPECT_EQ(decoded, head + kReplacement + tail);
      EXPECT_EQ(IndyTextEncoding_8Bit()->GetString(latin), text);
      decoded.clear();
      EXPECT_EQ(IndyTextEncoding_UTF8()->Decode(latin.data(), latin.size(), decoded), 1u);
      EXPECT_EQ(decoded, head + kReplacement + tail) << before << " " << after;
      EXPECT_EQ(IndyTextEncoding_UTF8()->GetString(RawToBytes(text)), text);
    }
  }
}

TEST(Utf8Encoding, ReplacesEachIllFormedSequenceOnce) {
  const IIdTextEncoding* utf8 = IndyTextEncoding_UTF8();
  struct Case {
    std::string bytes;
    std::string text;
    std::size_t lost;
  };
  const std::vector<Case> cases = {
      {"\x80", kReplacement, 1},                     // lone continuation byte
      {"\xC0\xAF", kReplacement + kReplacement, 2},  // overlong form of "/"
      {"\xE2\x82", kReplacement, 1},                 // truncated at the end
      {"\xE2\x82"
       "A",
       kReplacement + "A", 1},                                          // truncated before ASCII
      {"\xED\xA0\x80", kReplacement + kReplacement + kReplacement, 3},  // encoded surrogate
      {"\xF4\x90\x80\x80", kReplacement + kReplacement + kReplacement + kReplacement,
       4},  // > U+10FFFF
      {"\xFF", kReplacement, 1},
  };
  for (const Case& c : cases) {
    std::string text;
    const TIdBytes bytes = RawToBytes(c.bytes);
    EXPECT_EQ(utf8->Decode(bytes.data(), bytes.size(), text), c.lost)
        << testing::PrintToString(c.bytes);
    EXPECT_EQ(text, c.text);
  }
  EXPECT_EQ(utf8->GetPreamble(), (TIdBytes{0xEF, 0xBB, 0xBF}));
}

TEST(Utf16Encoding, ByteOrderSurrogatesAndBrokenInput) {
  const std::string clef = Utf8(0x1D11E);  // a character outside the BMP
  EXPECT_EQ(IndyTextEncoding_UTF16LE()->GetBytes("A" + clef),
            (TIdBytes{0x41, 0, 0x34, 0xD8, 0x1E, 0xDD}));
  EXPECT_EQ(IndyTextEncoding_UTF16BE()->GetBytes("A" + clef),
            (TIdBytes{0, 0x41, 0xD8, 0x34, 0xDD, 0x1E}));
  // A lone surrogate and an odd trailing byte cannot become text.
  const TIdBytes broken = {0x00, 0xD8, 0x41, 0x00, 0x42};
  std::string text;
  EXPECT_EQ(IndyTextEncoding_UTF16LE()->Decode(broken.data(), broken.size(), text), 2u);
  EXPECT_EQ(text, kReplacement + "A" + kReplacement);
}

TEST(Utf7Encoding, MatchesTheRfcExamples) {
  const IIdTextEncoding* utf7 = IndyTextEncoding_UTF7();
  // RFC 2152: "Hi Mom -<WHITE SMILING FACE>-!" and the Japanese "nihongo".
  EXPECT_EQ(utf7->GetString(RawToBytes("Hi Mom -+Jjo--!")), "Hi Mom -\xE2\x98\xBA-!");
  EXPECT_EQ(utf7->GetString(RawToBytes("+ZeVnLIqe-")), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");
  EXPECT_EQ(utf7->GetString(RawToBytes("A+ImIDkQ.")), "A\xE2\x89\xA2\xCE\x91.");
  EXPECT_EQ(utf7->GetString(RawToBytes("1 +- 1")), "1 + 1");
  EXPECT_EQ(utf7->GetBytes("1 + 1"), RawToBytes("1 +- 1"));
  // A byte above 127 is not UTF-7.
  std::string text;
  const TIdBytes high = {'a', 0xC3, 'b'};
  EXPECT_EQ(utf7->Decode(high.data(), high.size(), text), 1u);
}

// Encodes every scalar value in [AFrom, ATo) and checks that each one the encoding reports as
// represented comes back unchanged and each other one became "?". Returns how many were not
// represented. Works in chunks, going down to single characters only where a chunk lost some.
std::size_t CheckCodePage(const IIdTextEncoding* AEncoding, char32_t AFrom, char32_t ATo) {
  std::size_t unrepresented = 0;
  for (char32_t chunk = AFrom; chunk < ATo; chunk += 0x400) {
    const char32_t chunk_end = std::min<char32_t>(ATo, chunk + 0x400);
    const std::string text = AllScalars(chunk, chunk_end);
    TIdBytes bytes;
    if (AEncoding->Encode(text, bytes) == 0) {
      EXPECT_TRUE(AEncoding->GetString(bytes) == text) << std::hex << static_cast<unsigned>(chunk);
      continue;
    }
    for (char32_t cp = chunk; cp < chunk_end; ++cp) {
      if (!IsScalar(cp)) continue;
      TIdBytes one;
      if (AEncoding->Encode(Utf8(cp), one) == 0) {
        EXPECT_EQ(AEncoding->GetString(one), Utf8(cp)) << std::hex << static_cast<unsigned>(cp);
      } else {
        ++unrepresented;
        EXPECT_EQ(one, TIdBytes{'?'}) << std::hex << static_cast<unsigned>(cp);
        EXPECT_FALSE(AEncoding->CanEncode(Utf8(cp)));
      }
    }
  }
  return unrepresented;
}

TEST(CodePageEncodings, RoundTripWhatTheCodePageHoldsAndReportTheRest) {
  const IIdTextEncoding* cp1252 = IndyTextEncoding(1252);
  EXPECT_EQ(cp1252->GetBytes("\xE2\x82\xAC"), (TIdBytes{0x80}));  // the euro sign
  EXPECT_EQ(cp1252->GetString(TIdBytes{0x80, 0xE9}), "\xE2\x82\xAC\xC3\xA9");
  // A single-byte page holds at most 256 of the BMP's characters.
  EXPECT_GE(CheckCodePage(cp1252, 0, 0x10000), 0x10000u - 0x800u - 256u);
  // GB 18030 covers Unicode but for a few private-use characters that the C library's table
  // leaves out; those are reported, not mangled.
  EXPECT_LT(CheckCodePage(IndyTextEncoding(54936), 0, 0x110000), 100u);
  // Bytes that are not valid in the page decode to U+FFFD and are counted.
  std::string text;
  const TIdBytes bad = {0x81, 0x30, 0x41};
  EXPECT_GE(IndyTextEncoding(54936)->Decode(bad.data(), bad.size(), text), 1u);
}

TEST(EncodingLookup, CodePagesKindsAndFailures) {
  EXPECT_EQ(IndyTextEncoding(1200), IndyTextEncoding_UTF16LE());
  EXPECT_EQ(IndyTextEncoding(1201), IndyTextEncoding_UTF16BE());
  EXPECT_EQ(IndyTextEncoding(20127), IndyTextEncoding_ASCII());
  EXPECT_EQ(IndyTextEncoding(65000), IndyTextEncoding_UTF7());
  EXPECT_EQ(IndyTextEncoding(65001), IndyTextEncoding_UTF8());
  EXPECT_EQ(IndyTextEncoding(1252), IndyTextEncoding(1252));  // one shared instance
  try {
    IndyTextEncoding(4711);
    FAIL() << "an unknown code page must be refused";
  } catch (const EIdException& e) {
    EXPECT_EQ(e.Message(), "Invalid codepage (4711)");
  }
  // The default kind starts as ASCII and follows the process-wide setting.
  EXPECT_EQ(GIdDefaultTextEncoding(), encASCII);
  EXPECT_EQ(IndyTextEncoding(encIndyDefault), IndyTextEncoding_ASCII());
  SetGIdDefaultTextEncoding(encUTF8);
  EXPECT_EQ(IndyTextEncoding_Default(), IndyTextEncoding_UTF8());
  SetGIdDefaultTextEncoding(encASCII);
  EXPECT_EQ(UTF16Length("a\xC3\xA9" + Utf8(0x1D11E)), 4u);
}

}  // namespace
}  // namespace brv

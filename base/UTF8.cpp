#include "base/UTF8.h"

namespace brv {

void AppendUTF8(std::string& Out, char32_t Code) {
  if (Code < 0x80) {
    Out += static_cast<char>(Code);
  } else if (Code < 0x800) {
    Out += static_cast<char>(0xC0 | (Code >> 6));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else if (Code < 0x10000) {
    Out += static_cast<char>(0xE0 | (Code >> 12));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (Code >> 18));
    Out += static_cast<char>(0x80 | ((Code >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((Code >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Code & 0x3F));
  }
}

bool NextUTF8CodePoint(const std::uint8_t* Data, std::size_t Size, std::size_t& Pos, char32_t& Code,
                       bool AAcceptSurrogates) {
  const std::uint8_t lead = Data[Pos];
  if (lead < 0x80) {
    Code = lead;
    ++Pos;
    return true;
  }
  int length = 0;
  std::uint8_t low = 0x80, high = 0xBF;  // the range of the first continuation byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    Code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    Code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;                         // no over-long forms
    if (lead == 0xED && !AAcceptSurrogates) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    Code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    ++Pos;
    return false;
  }
  std::size_t i = Pos + 1;
  for (int k = 1; k < length; ++k, ++i) {
    const std::uint8_t lo = k == 1 ? low : 0x80, hi = k == 1 ? high : 0xBF;
    if (i >= Size || Data[i] < lo || Data[i] > hi) {
      Pos = i;
      return false;
    }
    Code = (Code << 6) | (Data[i] & 0x3F);
  }
  Pos = i;
  return true;
}

namespace {

// Writes Text as UTF-16 into Out; an ill-formed sequence becomes U+FFFD, or ends the
// conversion with false when AStrict.
bool WriteUTF16(std::string_view Text, std::u16string& Out, bool AStrict) {
  Out.clear();
  Out.reserve(Text.size());
  std::size_t pos = 0;
  while (pos < Text.size()) {
    char32_t code = 0;
    if (!NextUTF8CodePoint(Text, pos, code)) {
      if (AStrict) {
        Out.clear();
        return false;
      }
      code = kUTF8ReplacementCharacter;
    }
    if (code >= 0x10000) {
      Out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      Out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      Out += static_cast<char16_t>(code);
    }
  }
  return true;
}

}  // namespace

std::u16string UTF8ToUTF16(std::string_view Text) {
  std::u16string out;
  WriteUTF16(Text, out, false);
  return out;
}

bool StrictUTF8ToUTF16(std::string_view Text, std::u16string& Out) {
  return WriteUTF16(Text, Out, true);
}

}  // namespace brv

// Random texts for round trips through the local SQS service.
#pragma once

#include <random>
#include <string>

#include "base/UTF8.h"

namespace brv::testing {

// Texts of characters SQS accepts in a message (tab, LF, CR, U+0020..U+D7FF, U+E000..U+FFFD,
// U+10000..U+10FFFF), drawn from every plane, mixed with the characters a query, a form or a
// command line gives a meaning to. The service writes bodies back with only '"' escaped, so no
// '&' stands before a letter or '#': it would come back as a reference.
class TServiceTextGenerator {
 public:
  explicit TServiceTextGenerator(unsigned Seed) : rng_(Seed) {}

  std::string Text(int MinLength, int MaxLength) {
    std::string out;
    const int length = Int(MinLength, MaxLength);
    for (int i = 0; i < length; ++i) {
      char32_t code;
      switch (Int(0, 5)) {
        case 0: {
          static const char specials[] = "&=+%# \r\n\t\"'<>;/?~*-";
          code = static_cast<unsigned char>(specials[Int(0, sizeof specials - 2)]);
          break;
        }
        case 1:
          code = static_cast<char32_t>(Int(0x20, 0x7E));
          break;
        case 2:
          code = static_cast<char32_t>(Int(0x80, 0x7FF));
          break;
        case 3:
          code = static_cast<char32_t>(Int(0x800, 0xFFFD));
          break;
        default:
          code = static_cast<char32_t>(Int(0x10000, 0x10FFFF));
          break;
      }
      if (code >= 0xD800 && code <= 0xDFFF) code = 0xE000 + (code - 0xD800);
      if (!out.empty() && out.back() == '&' &&
          ((code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z') || code == '#'))
        out += ' ';
      AppendUTF8(out, code);
    }
    return out;
  }

 private:
  int Int(int Low, int High) { return std::uniform_int_distribution<int>(Low, High)(rng_); }
  std::mt19937 rng_;
};

}  // namespace brv::testing

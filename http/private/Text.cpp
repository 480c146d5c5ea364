#include "http/private/Text.h"

#include <limits>

#include "base/UTF8.h"

namespace brv::http_detail {

namespace {

// Decodes one UTF-8 character at S[I]; invalid bytes come back one by one as themselves.
char32_t DecodeAt(std::string_view S, size_t& I) {
  const size_t start = I;
  char32_t cp = 0;
  if (NextUTF8CodePoint(S, I, cp)) return cp;
  I = start + 1;
  return static_cast<unsigned char>(S[start]);
}

// Simple lower-case mapping for the scripts a header or a user name is likely to use.
char32_t FoldCase(char32_t C) {
  if (C >= 'A' && C <= 'Z') return C + 32;
  if ((C >= 0xC0 && C <= 0xDE && C != 0xD7)) return C + 32;
  if (C >= 0x100 && C <= 0x17F && C != 0x130 && C != 0x131 && C != 0x138 && C != 0x149 &&
      C != 0x17F) {
    // Latin Extended-A pairs: even/odd, except the stretch 0x139..0x148 and 0x179..0x17E
    // which pair odd/even.
    if ((C >= 0x139 && C <= 0x148) || (C >= 0x179 && C <= 0x17E)) return (C % 2 == 1) ? C + 1 : C;
    return (C % 2 == 0) ? C + 1 : C;
  }
  if (C >= 0x391 && C <= 0x3AB && C != 0x3A2) return C + 32;  // Greek
  if (C >= 0x410 && C <= 0x42F) return C + 32;                // Cyrillic
  if (C >= 0x400 && C <= 0x40F) return C + 80;
  return C;
}

char LowerChar(char C) {
  return (C >= 'A' && C <= 'Z') ? static_cast<char>(C + 32) : C;
}

}  // namespace










bool TextIsSame(std::string_view A, std::string_view B) {
  size_t i = 0;
  size_t j = 0;
  while (i < A.size() && j < B.size()) {
    if (static_cast<unsigned char>(A[i]) < 0x80 && static_cast<unsigned char>(B[j]) < 0x80) {
      if (LowerChar(A[i]) != LowerChar(B[j])) return false;
      ++i;
      ++j;
      continue;
    }
    if (FoldCase(DecodeAt(A, i)) != FoldCase(DecodeAt(B, j))) return false;
  }
  return i == A.size() && j == B.size();
}

bool TextStartsWith(std::string_view S, std::string_view Prefix) {
  if (Prefix.size() > S.size()) return false;
  for (size_t i = 0; i < Prefix.size(); ++i)
    if (LowerChar(S[i]) != LowerChar(Prefix[i])) return false;
  return true;
}

bool TextEndsWith(std::string_view S, std::string_view Suffix) {
  if (Suffix.size() > S.size()) return false;
  return TextStartsWith(S.substr(S.size() - Suffix.size()), Suffix);
}

size_t TextPos(std::string_view Sub, std::string_view S) {
  if (Sub.empty()) return 0;
  if (Sub.size() > S.size()) return std::string_view::npos;
  for (size_t i = 0; i + Sub.size() <= S.size(); ++i)
    if (TextStartsWith(S.substr(i), Sub)) return i;
  return std::string_view::npos;
}

std::string Fetch(std::string& S, std::string_view Delim) {
  const size_t p = S.find(Delim);
  if (p == std::string::npos) {
    std::string r = std::move(S);
    S.clear();
    return r;
  }
  std::string r = S.substr(0, p);
  S.erase(0, p + Delim.size());
  return r;
}

std::optional<std::int64_t> ParseInt64(std::string_view Text) {
  const std::string_view s = TrimView(Text);
  if (s.empty()) return std::nullopt;
  size_t i = 0;
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    i = 1;
  }
  if (i == s.size()) return std::nullopt;
  std::uint64_t value = 0;
  const std::uint64_t limit =
      negative ? std::uint64_t{1} << 63 : std::uint64_t(std::numeric_limits<std::int64_t>::max());
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return std::nullopt;
    const unsigned d = static_cast<unsigned>(s[i] - '0');
    if (value > (limit - d) / 10) return std::nullopt;
    value = value * 10 + d;
  }
  if (negative)
    return value == (std::uint64_t{1} << 63) ? std::numeric_limits<std::int64_t>::min()
                                             : -static_cast<std::int64_t>(value);
  return static_cast<std::int64_t>(value);
}

}  // namespace brv::http_detail

// Text helpers shared by the HTTP units; not part of the layer's public interface.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brv::http_detail {

// Removes leading and trailing characters with codes 0 to 32.
std::string Trim(std::string_view S);
std::string TrimLeft(std::string_view S);
std::string TrimRight(std::string_view S);
// Lower-cases ASCII letters only.
std::string LowerAscii(std::string_view S);
std::string UpperAscii(std::string_view S);
// Trim, TrimLeft and TrimRight as views of S, without a copy.
std::string_view TrimView(std::string_view S);
std::string_view TrimLeftView(std::string_view S);
std::string_view TrimRightView(std::string_view S);
// True when every byte of S is below 128.
bool IsAscii(std::string_view S);
// TextIsSame for a B that is known to be ASCII: a byte of 128 or more in A never folds to an
// ASCII letter, so the texts must then have the same length and match ignoring ASCII case.
// Inline: header lookups call it for every line and name.
inline bool AsciiTextIsSame(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i) {
    const char a = A[i], b = B[i];
    if (a != b && ((a | 0x20) != (b | 0x20) || (a | 0x20) < 'a' || (a | 0x20) > 'z')) return false;
  }
  return true;
}
// Case-insensitive equality of two UTF-8 texts (simple case folding of Latin, Greek and
// Cyrillic letters; other characters compare exactly).
bool TextIsSame(std::string_view A, std::string_view B);
// Case-insensitive test for a prefix (ASCII letters fold).
bool TextStartsWith(std::string_view S, std::string_view Prefix);
bool TextEndsWith(std::string_view S, std::string_view Suffix);
// Case-insensitive substring position of Sub in S (ASCII letters fold), or npos.
size_t TextPos(std::string_view Sub, std::string_view S);
// Removes and returns the text before the first Delim (all of S when Delim is absent, and
// S becomes empty); the delimiter itself is removed too.
std::string Fetch(std::string& S, std::string_view Delim);
// A signed decimal number (optional sign, digits only, surrounding blanks trimmed) that fits
// 64 bits, or nothing.
std::optional<std::int64_t> ParseInt64(std::string_view S);

}  // namespace brv::http_detail

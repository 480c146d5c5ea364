// Text helpers shared by the HTTP units; not part of the layer's public interface.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/AsciiText.h"

namespace brv::http_detail {

using brv::IsAscii;
using brv::LowerAscii;
using brv::Trim;
using brv::TrimLeft;
using brv::TrimLeftView;
using brv::TrimRight;
using brv::TrimRightView;
using brv::TrimView;
using brv::UpperAscii;

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

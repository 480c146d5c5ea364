// Scans of text for the bytes that may not appear in a line of an HTTP message. Header-only
// and free of I/O, so the response decoder and the request checks share one scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace brv::http_detail {

// True when AMatch accepts a byte of S. AMatch accepts only bytes below ALimit (at most 128)
// and, with AWithDel, also DEL (0x7F). Eight bytes at a time are first tested for any such
// byte: the texts scanned are mostly long runs of printable characters.
template <unsigned ALimit, bool AWithDel = false, class TMatch>
bool AnyByteOf(std::string_view S, TMatch AMatch) {
  static_assert(ALimit <= 128);
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  const char* p = S.data();
  const std::size_t n = S.size();
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, p + i, 8);
    std::uint64_t candidates = (word - kOnes * ALimit) & ~word;
    if constexpr (AWithDel) {
      const std::uint64_t del = word ^ (kOnes * 0x7F);
      candidates |= (del - kOnes) & ~del;
    }
    if ((candidates & kHighs) == 0) continue;
    for (std::size_t k = i; k < i + 8; ++k)
      if (AMatch(p[k])) return true;
  }
  for (; i < n; ++i)
    if (AMatch(p[i])) return true;
  return false;
}

// A control character other than a tab, or DEL: no status or field line may carry one.
inline bool HasControl(std::string_view S) {
  return AnyByteOf<0x20, true>(S, [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b < 0x20 && b != '\t') || b == 0x7F;
  });
}

// A CR, LF or NUL: a request header value with one would end the head early or start a
// header of its own.
inline bool HasLineBreakOrNul(std::string_view S) {
  return AnyByteOf<'\r' + 1>(S, [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

// A CR, LF, NUL or space: the separators of the request line.
inline bool HasBreakNulOrSpace(std::string_view S) {
  return AnyByteOf<' ' + 1>(
      S, [](char c) { return c == '\r' || c == '\n' || c == '\0' || c == ' '; });
}

}  // namespace brv::http_detail

// Bytes as hexadecimal digits, and the percent escapes of URIs and signed queries.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brv {

// The hexadecimal digits, by value.
inline constexpr char kHexDigitsUpper[] = "0123456789ABCDEF";
inline constexpr char kHexDigitsLower[] = "0123456789abcdef";

// Appends the two hexadecimal digits of AByte.
inline void AppendHexByte(std::string& AOut, std::uint8_t AByte, bool AUpperCase) {
  const char* digits = AUpperCase ? kHexDigitsUpper : kHexDigitsLower;
  AOut += digits[AByte >> 4];
  AOut += digits[AByte & 0x0F];
}

// Bytes as hexadecimal text, two digits per byte.
std::string ToHex(std::string_view ABytes, bool AUpperCase);
std::string ToHex(const std::vector<std::uint8_t>& ABytes, bool AUpperCase);

// The characters a URI never escapes, by byte value: letters, digits and - . _ ~.
inline constexpr std::array<bool, 256> kURIUnreserved = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c)
    table[c] = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.' || c == '_' || c == '~';
  return table;
}();

// One look-up per byte: signing and encoding test every byte of every request.
constexpr bool IsURIUnreserved(std::uint8_t C) {
  return kURIUnreserved[C];
}

// Appends AByte as a percent escape with upper-case digits (%2F).
inline void AppendPercentEscape(std::string& AOut, std::uint8_t AByte) {
  AOut += '%';
  AppendHexByte(AOut, AByte, true);
}

}  // namespace brv

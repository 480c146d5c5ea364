// Bytes as hexadecimal digits, and the percent escapes of URIs and signed queries.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brv {

// Appends the two hexadecimal digits of AByte.
inline void AppendHexByte(std::string& AOut, std::uint8_t AByte, bool AUpperCase) {
  const char* digits = AUpperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  AOut += digits[AByte >> 4];
  AOut += digits[AByte & 0x0F];
}

// Bytes as hexadecimal text, two digits per byte.
std::string ToHex(std::string_view ABytes, bool AUpperCase);
std::string ToHex(const std::vector<std::uint8_t>& ABytes, bool AUpperCase);

// The characters a URI never escapes: letters, digits and - . _ ~.
constexpr bool IsURIUnreserved(std::uint8_t C) {
  return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-' ||
         C == '.' || C == '_' || C == '~';
}

// Appends AByte as a percent escape with upper-case digits (%2F).
inline void AppendPercentEscape(std::string& AOut, std::uint8_t AByte) {
  AOut += '%';
  AppendHexByte(AOut, AByte, true);
}

}  // namespace brv

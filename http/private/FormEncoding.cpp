#include "http/private/FormEncoding.h"

#include <algorithm>
#include <cstdint>

#include "http/private/Text.h"

namespace brv::http_detail {

std::string FormEncodeValue(const std::string& AValue, const IIdTextEncoding* AByteEncoding) {
  const IIdTextEncoding* enc = AByteEncoding != nullptr ? AByteEncoding : IndyTextEncoding_UTF8();
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (size_t i = 0; i < AValue.size();) {
    const auto c = static_cast<unsigned char>(AValue[i]);
    if (c == ' ') {
      out += '+';
      ++i;
      continue;
    }
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' ||
        c == '-' || c == '.' || c == '_') {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    // One whole UTF-8 character.
    size_t len = 1;
    if (c >= 0xF0 && c <= 0xF4)
      len = 4;
    else if (c >= 0xE0)
      len = 3;
    else if (c >= 0xC2 && c < 0xE0)
      len = 2;
    len = std::min(len, AValue.size() - i);
    const std::string ch = AValue.substr(i, len);
    TIdBytes bytes;
    if (enc->Encode(ch, bytes) > 0) {
      // The encoding cannot hold it: the code point as a numeric character reference.
      char32_t cp = c;
      if (len > 1) {
        cp = c & (0xFF >> (len + 1));
        for (size_t k = 1; k < len; ++k)
          cp = (cp << 6) | (static_cast<unsigned char>(ch[k]) & 0x3F);
      }
      out += "&#" + std::to_string(static_cast<unsigned long>(cp)) + ";";
    } else {
      for (std::uint8_t b : bytes) {
        out += '%';
        out += kHex[b >> 4];
        out += kHex[b & 15];
      }
    }
    i += len;
  }
  return out;
}

std::string EncodeFormFields(const TStringList& ASource, const IIdTextEncoding* AByteEncoding,
                             bool AEncode) {
  std::string result;
  for (int i = 0; i < ASource.Count(); ++i) {
    const std::string& line = ASource[i];
    if (i > 0) result += "&";
    if (!AEncode) {
      result += line;
      continue;
    }
    const size_t sep = line.find(ASource.NameValueSeparator());
    if (sep != std::string::npos)
      result += FormEncodeValue(line.substr(0, sep), AByteEncoding) + "=" +
                FormEncodeValue(line.substr(sep + 1), AByteEncoding);
    else
      result += FormEncodeValue(line, AByteEncoding);
  }
  if (ASource.Count() == 1) result = Trim(result);
  return result;
}

}  // namespace brv::http_detail

// The text decoders of the transport on any bytes: UTF-8, UTF-7, UTF-16 in both byte orders,
// ASCII and 8-bit. Every decoder must give valid UTF-8 (the library's text), and text it
// gave must come back unchanged through its own encoder and decoder.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "transport/IdTextEncoding.h"

namespace {

// True when AText is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsUTF8(const std::string& AText) {
  std::size_t i = 0;
  const std::size_t n = AText.size();
  while (i < n) {
    const auto c = static_cast<unsigned char>(AText[i]);
    std::size_t len;
    char32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (std::size_t k = 1; k < len; ++k) {
      const auto cc = static_cast<unsigned char>(AText[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

[[noreturn]] void Fail(const brv::IIdTextEncoding* AEncoding, const char* AWhat) {
  std::fprintf(stderr, "%s: %s\n", AEncoding->CharSetName().c_str(), AWhat);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brv;
  const IIdTextEncoding* encodings[] = {IndyTextEncoding_UTF8(),    IndyTextEncoding_UTF7(),
                                        IndyTextEncoding_UTF16LE(), IndyTextEncoding_UTF16BE(),
                                        IndyTextEncoding_ASCII(),   IndyTextEncoding_8Bit()};
  for (const IIdTextEncoding* encoding : encodings) {
    std::string text;
    (void)encoding->Decode(data, size, text);
    if (!IsUTF8(text)) Fail(encoding, "decoded text is not valid UTF-8");
    (void)UTF16Length(text);
    (void)encoding->GetByteCount(text);
    TIdBytes bytes;
    const std::size_t replaced = encoding->Encode(text, bytes);
    std::string again;
    (void)encoding->Decode(bytes.data(), bytes.size(), again);
    if (replaced == 0 && again != text)
      Fail(encoding, "decoded text does not survive a round trip");
  }
  // The library's own text is UTF-8 from anywhere: each encoder must take it as it comes.
  const std::string raw(reinterpret_cast<const char*>(data), size);
  for (const IIdTextEncoding* encoding : encodings) {
    TIdBytes bytes;
    (void)encoding->Encode(raw, bytes);
    (void)encoding->CanEncode(raw);
  }
  return 0;
}

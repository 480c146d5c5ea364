// TIdURI on any text: splitting into its parts, rebuilding, the request target, and the
// percent-encoding and decoding functions; plus the UTF-16 helpers at every position. Only
// the library's exceptions may refuse a text (rebuilding a URL without protocol or host, an
// encoded surrogate, which UTF-16 text could only hold unpaired).
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/IdURI.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brv;
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    TIdURI uri(text);
    (void)uri.GetFullURI();
    (void)uri.GetFullURI(0);
    (void)uri.GetPathAndParams();
    // A rebuilt URL is split and rebuilt again.
    if (!uri.Protocol().empty() && !uri.Host().empty()) {
      TIdURI again(uri.GetFullURI());
      (void)again.GetFullURI();
    }
    (void)uri.URI();
  } catch (const Exception&) {
  }
  for (auto encode :
       {&TIdURI::URLEncode, &TIdURI::ParamsEncode, &TIdURI::PathEncode, &TIdURI::URLDecode}) {
    try {
      (void)encode(text);
    } catch (const Exception&) {
    }
  }
  std::string path = text;
  TIdURI::NormalizePath(path);
  for (int pos = 1; pos <= static_cast<int>(text.size()) && pos <= 64; ++pos) {
    (void)HasPercentEscape(text, pos);
    try {
      (void)Utf16CharUnits(text, pos);
      (void)Utf16CodePointAt(text, pos);
    } catch (const Exception&) {
    }
  }
  (void)HasPercentEscape(text, 0);
  (void)HasPercentEscape(text, static_cast<int>(text.size()) + 1);
  return 0;
}

// Header value functions on a received value: the main item, the parameters under each quoting
// family, one parameter's value, replacing and removing a parameter, quoting, and the media
// type tests. The input up to the first NUL is the header value; what follows names the
// parameter to look up (default "charset").
#include <cstddef>
#include <cstdint>
#include <string>

#include "http/IdHeaderValues.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brv;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string value = input.substr(0, nul);
  std::string param = nul == std::string::npos ? "charset" : input.substr(nul + 1);
  if (param.empty()) param = "charset";

  (void)HeaderMainItem(value);
  (void)MediaTypeIs(value, "text/xml");
  (void)MediaTypeIs(value, "multipart");
  (void)MediaSubType(value);
  for (TIdHeaderQuotingType quoting : {QuotePlain, QuoteRFC822, QuoteMIME, QuoteHTTP}) {
    TIdHeaderParams params;
    SplitHeaderParams(value, params, quoting);
    (void)HeaderSubItem(value, param, quoting);
    std::string old;
    (void)ReplaceHeaderParam(value, param, "utf-8", old, quoting);
    (void)ReplaceHeaderParam(value, param, value, old, quoting);
    (void)RemoveHeaderParam(value, param, old, quoting);
    (void)QuoteHeaderValue(value, false, quoting);
    (void)QuoteHeaderValue(param, true, quoting);
  }
  return 0;
}

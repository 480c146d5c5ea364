// HTTP dates as servers send them (Date, Expires, Last-Modified): RFC 1123, RFC 850 and
// asctime forms with a zone or an offset. A date that was read is written back and read again;
// the second reading must give the same moment to the second. The run keeps UTC as its zone,
// since writing shifts by today's offset and reading by the offset at the date.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "http/IdHeaderValues.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brv;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const TDateTime read = ParseHttpDate(text);
  // Years the written form can hold (0001 to 9999), as days since 30 December 1899.
  if (read == 0 || read < -693593.0 || read > 2958465.0) return 0;
  const std::string written = FormatHttpDate(read);
  const TDateTime again = ParseHttpDate(written);
  if (std::fabs(again - read) * 86400.0 > 1.0) {
    std::fprintf(stderr, "\"%s\" read as %.9f, written as \"%s\", read back as %.9f\n",
                 text.c_str(), read, written.c_str(), again);
    std::abort();
  }
  return 0;
}

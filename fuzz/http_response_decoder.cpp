// The response decoder alone, with no I/O handler: status line, header block, informational
// answers and each body framing, fed in pieces.
//
// The first byte shapes the run: its low four bits are the size of each piece fed (0: all at
// once), 0x10 reads the answer as one to a HEAD request (no body), 0x20 sets small limits
// (64-byte lines, 8 header lines, a 256-byte body), 0x40 reads a body without a length as
// multipart with the boundary "b" instead of until the close.
//
// Whatever the input, the decoder never uses more bytes than it was given, never delivers more
// body than the limit allows, and a counted body that completes holds exactly its length.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "http/private/HTTPResponseDecoder.h"

namespace {

using brv::http_detail::TBodyFraming;
using brv::http_detail::THTTPResponseDecoder;

struct Counter : THTTPResponseDecoder::IEvents {
  std::int64_t body = 0;
  void OnBody(const std::uint8_t*, std::size_t ASize) override {
    body += static_cast<std::int64_t>(ASize);
  }
};

[[noreturn]] void Fail(const char* AWhat) {
  std::fprintf(stderr, "%s\n", AWhat);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t shape = data[0];
  const std::size_t piece = shape & 0x0F;
  ++data;
  --size;
  THTTPResponseDecoder d;
  THTTPResponseDecoder::TLimits limits;
  if ((shape & 0x20) != 0) {
    limits.MaxLineLength = 64;
    limits.MaxHeaderLines = 8;
    limits.MaxBodySize = 256;
  }
  d.SetLimits(limits);
  Counter events;
  d.SetEvents(&events);
  d.BeginResponse();
  std::int64_t counted = -1;
  try {
    std::size_t at = 0;
    while (at < size && !d.Done()) {
      const std::size_t n = piece == 0 ? size - at : std::min(piece, size - at);
      const std::size_t used = d.Feed(data + at, n);
      if (used > n) Fail("used more bytes than it was given");
      at += used;
      if (d.HeadDone()) {
        const auto a = d.Announced();
        if ((shape & 0x10) != 0) {
          d.BeginBody(TBodyFraming::None);
        } else if (a.Chunked) {
          d.BeginBody(TBodyFraming::Chunked);
        } else if (a.HasLength) {
          counted = a.Length;
          d.BeginBody(TBodyFraming::Counted, a.Length);
        } else {
          d.BeginBody((shape & 0x40) != 0 ? TBodyFraming::Multipart : TBodyFraming::UntilClose, -1,
                      "b");
        }
      } else if (used == 0 && !d.Done()) {
        Fail("stopped in the middle of an answer");
      }
    }
    if (d.Done() && counted >= 0 && events.body != counted) Fail("counted body of another length");
    d.FeedEnd();
  } catch (const brv::EIdHTTPMalformedResponse&) {
  } catch (const brv::EIdHTTPTruncatedResponse&) {
  }
  if (limits.MaxBodySize >= 0 && events.body > limits.MaxBodySize) Fail("body beyond the limit");
  return 0;
}

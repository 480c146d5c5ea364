// The HTTP engine reading a server's answer: status line, header block and the body by each
// framing (counted, chunked, close-delimited, multipart), through the transport's test I/O
// handler. The bytes after the first are the peer's; they serve two GETs in a row on the same
// client, so what is left of one answer meets the next request as it would on a kept
// connection.
//
// The first byte shapes the exchange: its low four bits are the most a read hands out (0: no
// limit), 0x10 asks with HEAD (no body may follow), 0x20 speaks HTTP/1.0, 0x40 lets the peer
// stall instead of closing once its bytes are used up (reads then time out).
//
// A GET that succeeds with a 2xx status and a counted body must have delivered exactly the
// bytes its Content-Length announced: a short body is never a success.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/Streams.h"
#include "http/IdHTTP.h"
#include "tests/transport/support/TestIOHandler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brv;
  if (size == 0) return 0;
  const std::uint8_t shape = data[0];
  TIdTestIOHandler handler;
  handler.SetMaxReadSize(shape & 0x0F);
  if ((shape & 0x40) != 0) handler.SetInputEnd(TIdTestIOHandler::ieStall);
  handler.AddInput(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  TIdHTTP http;
  http.SetIOHandler(&handler);
  if ((shape & 0x20) != 0) http.SetProtocolVersion(pv1_0);
  for (int request = 0; request < 2; ++request) {
    TStringStream body;
    try {
      if ((shape & 0x10) != 0)
        http.Head("http://example.test/x");
      else
        http.Get("http://example.test/x", &body);
      // What a caller reads of a successful answer.
      const int code = http.ResponseCode();
      TIdHTTPResponse& response = http.Response();
      std::string coding = response.TransferEncoding();
      for (char& c : coding) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const bool chunked = coding.find("chunked") != std::string::npos;
      if ((shape & 0x10) == 0 && code / 100 == 2 && code != 204 && !chunked &&
          response.ContentLength() > 0 &&
          static_cast<std::int64_t>(body.DataString().size()) != response.ContentLength()) {
        std::fprintf(stderr, "status %d, Content-Length %lld, body of %zu bytes\n", code,
                     static_cast<long long>(response.ContentLength()), body.DataString().size());
        std::abort();
      }
      (void)response.ContentType();
      (void)http.Response().CharSet();
      (void)http.Response().KeepAlive();
    } catch (const Exception&) {
      // Every refusal of a bad answer is one of the library's exceptions; anything else
      // escapes and stops the run.
    }
  }
  http.SetIOHandler(nullptr);
  return 0;
}

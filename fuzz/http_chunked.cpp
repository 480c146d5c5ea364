// The chunked body framing: chunk-size lines with extensions, chunk data and its CR LF, the
// last chunk and the trailer block. The input is the body of an answer whose head says
// "Transfer-Encoding: chunked", read through the transport's test I/O handler; the first byte's
// low four bits are the most a read hands out (0: no limit).
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Streams.h"
#include "http/IdHTTP.h"
#include "tests/transport/support/TestIOHandler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brv;
  if (size == 0) return 0;
  TIdTestIOHandler handler;
  handler.SetMaxReadSize(data[0] & 0x0F);
  handler.AddInput("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
  handler.AddInput(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  TIdHTTP http;
  http.SetIOHandler(&handler);
  int chunks = 0;
  http.OnChunkReceived = [&chunks](TObject*, TIdBytes&) { ++chunks; };
  TStringStream body;
  try {
    http.Get("http://example.test/x", &body);
  } catch (const Exception&) {
    // A broken framing is refused with one of the library's exceptions.
  }
  http.SetIOHandler(nullptr);
  return 0;
}

// Hands what the response decoder reports to a response object: the status and header lines
// decoded as text, the body to a target stream (dropped without one), and each whole chunk of
// a chunked body through a hook first when one is set. No socket: fed by whatever feeds the
// decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "http/IdHTTP.h"
#include "http/private/HTTPResponseDecoder.h"

namespace brv::http_detail {

class TResponseSink : public THTTPResponseDecoder::IEvents {
 public:
  // Receives ADecoder's events until destroyed; lines are decoded with ALineEncoding.
  TResponseSink(THTTPResponseDecoder& ADecoder, TIdHTTPResponse& AResponse,
                const IIdTextEncoding* ALineEncoding);
  ~TResponseSink() override;
  TResponseSink(const TResponseSink&) = delete;
  TResponseSink& operator=(const TResponseSink&) = delete;

  // Called once each head's lines are parsed into the response.
  std::function<void()> OnHeadParsed;
  // Where the body goes (not owned); nullptr drops it.
  TStream* Target = nullptr;
  // With a target: each whole chunk passes through this before it is written.
  std::function<void(TIdBytes&)> OnChunk;

  void OnStatusLine(std::string_view ALine) override;
  void OnHeaderLine(std::string_view ALine) override;
  void OnTrailerLine(std::string_view ALine) override;
  void OnHeadEnd(bool AInformational) override;
  void OnBody(const std::uint8_t* AData, std::size_t ASize) override;
  void OnChunkEnd() override;

 private:
  std::string Text(std::string_view ALine) const;

  THTTPResponseDecoder& FDecoder;
  TIdHTTPResponse& FResponse;
  const IIdTextEncoding* FEncoding;
  TIdBytes FChunk;
};

}  // namespace brv::http_detail

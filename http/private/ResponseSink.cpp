#include "http/private/ResponseSink.h"

namespace brv::http_detail {

TResponseSink::TResponseSink(THTTPResponseDecoder& ADecoder, TIdHTTPResponse& AResponse,
                             const IIdTextEncoding* ALineEncoding)
    : FDecoder(ADecoder), FResponse(AResponse), FEncoding(ALineEncoding) {
  FDecoder.SetEvents(this);
}

TResponseSink::~TResponseSink() {
  FDecoder.SetEvents(nullptr);
}

std::string TResponseSink::Text(std::string_view ALine) const {
  return FEncoding->GetString(reinterpret_cast<const std::uint8_t*>(ALine.data()), ALine.size());
}

void TResponseSink::OnStatusLine(std::string_view ALine) {
  FResponse.Clear();
  FResponse.SetResponseText(Text(ALine));
}

void TResponseSink::OnHeaderLine(std::string_view ALine) {
  FResponse.RawHeaders().Add(Text(ALine));
}

void TResponseSink::OnTrailerLine(std::string_view ALine) {
  OnHeaderLine(ALine);
}

void TResponseSink::OnHeadEnd(bool) {
  FResponse.ParseRawHeaders();
  if (OnHeadParsed) OnHeadParsed();
}

void TResponseSink::OnBody(const std::uint8_t* AData, std::size_t ASize) {
  if (OnChunk && Target != nullptr)
    FChunk.insert(FChunk.end(), AData, AData + ASize);
  else if (Target != nullptr)
    Target->WriteBuffer(AData, static_cast<std::int64_t>(ASize));
}

void TResponseSink::OnChunkEnd() {
  if (!OnChunk || Target == nullptr) return;
  OnChunk(FChunk);
  if (!FChunk.empty()) Target->WriteBuffer(FChunk.data(), static_cast<std::int64_t>(FChunk.size()));
  FChunk.clear();
}

}  // namespace brv::http_detail

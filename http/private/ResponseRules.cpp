#include "http/private/ResponseRules.h"

#include <cstdint>

#include "http/IdCharsets.h"
#include "http/IdHeaderValues.h"
#include "http/private/Text.h"

namespace brv::http_detail {

namespace {

bool Says(const std::string& AValue, std::string_view AWord) {
  return AsciiTextIsSame(TrimView(AValue), AWord);
}

bool IsDeflate(const TIdHTTPResponse& AResponse) {
  return AsciiTextIsSame(AResponse.ContentEncoding(), "deflate");
}

}  // namespace

int ResponseCodeOf(std::string_view AStatusLine) {
  std::string_view s = AStatusLine;
  const size_t space = s.find(' ');
  s = space == std::string_view::npos ? std::string_view() : TrimView(s.substr(space + 1));
  std::string_view code = s.substr(0, s.find(' '));
  code = code.substr(0, code.find('.'));
  const auto v = ParseInt64(code);
  return (v && *v >= INT32_MIN && *v <= INT32_MAX) ? static_cast<int>(*v) : -1;
}

bool IsHeadRequest(const TIdHTTPRequest& ARequest) {
  return AsciiTextIsSame(ARequest.Method(), "HEAD") ||
         AsciiTextIsSame(ARequest.MethodOverride(), "HEAD");
}

bool IsHtmlMediaType(const std::string& AContentType) {
  return MediaTypeIs(AContentType, "text/html") ||
         MediaTypeIs(AContentType, "text/html-sandboxed") ||
         MediaTypeIs(AContentType, "application/xhtml+xml");
}

bool ThroughProxy(const TIdHTTPRequest& ARequest) {
  return ARequest.UseProxy() == ctProxy || ARequest.UseProxy() == ctSSLProxy;
}

bool KeepAliveByHeaders(const TIdHTTPRequest& ARequest, const TIdHTTPResponse& AResponse,
                        TIdHTTPProtocolVersion AVersion, bool AThroughProxy) {
  if (Says(ARequest.Connection(), "close")) return false;
  if (AThroughProxy && Says(ARequest.ProxyConnection(), "close")) return false;
  if (AVersion == pv1_0)
    return Says(AResponse.Connection(), "keep-alive") &&
           (!AThroughProxy || Says(AResponse.ProxyConnection(), "keep-alive"));
  return !Says(AResponse.Connection(), "close") &&
         (!AThroughProxy || !Says(AResponse.ProxyConnection(), "close"));
}

TBodyExpectation BodyExpectationOf(const THTTPResponseDecoder::TAnnounced& AAnnounced,
                                   const TIdHTTPRequest& ARequest,
                                   const TIdHTTPResponse& AResponse, TIdHTTPOptions AOptions) {
  bool body = true;
  if (AAnnounced.Chunked)
    body = !(AOptions & hoNoReadChunked);
  else if (AAnnounced.HasLength)
    body = AAnnounced.Length > 0;
  else if (MediaTypeIs(AResponse.ContentType(), "multipart"))
    body = !(AOptions & hoNoReadMultipartMIME);
  if (!body) return {};
  const int code = AResponse.ResponseCode();
  if (IsHeadRequest(ARequest) || code / 100 == 1 || code == 204 || code == 304)
    return (AOptions & hoWaitForUnexpectedData) ? TBodyExpectation{true, 100} : TBodyExpectation{};
  if (code / 100 == 3) return {true, 5000};
  return {true, 0};
}

TBodyStart BodyStartOf(const THTTPResponseDecoder::TAnnounced& AAnnounced,
                       TIdHTTPResponse& AResponse) {
  if (AAnnounced.Chunked) return {TBodyFraming::Chunked, -1, {}};
  if (AAnnounced.HasLength) return {TBodyFraming::Counted, AAnnounced.Length, {}};
  if (MediaTypeIs(AResponse.ContentType(), "multipart"))
    return {TBodyFraming::Multipart, -1,
            HeaderSubItem(AResponse.RawHeaders().GetValue("Content-Type"), "boundary",
                          QuoteHTTP)};
  return {};
}

bool TBodyTreatment::Collect(TStream* ATarget) const {
  return Decompress || ((ScanHtml || ScanXml) && dynamic_cast<TMemoryStream*>(ATarget) == nullptr);
}

TBodyTreatment BodyTreatmentOf(const TIdHTTPResponse& AResponse, bool AHasTarget,
                               bool ACompressorReady, TIdHTTPOptions AOptions) {
  TBodyTreatment t;
  if (!AHasTarget) return t;
  const std::string& type = AResponse.ContentType();
  const bool xml = MediaTypeIs(type, "application/xml") ||
                   MediaTypeIs(type, "application/xml-external-parsed-entity") ||
                   MediaTypeIs(type, "application/xml-dtd") ||
                   (!MediaTypeIs(type, "text") &&
                    TextEndsWith(LowerAscii(MediaSubType(type)), "+xml"));
  t.ScanHtml = IsHtmlMediaType(type) && !(AOptions & hoNoParseMetaHTTPEquiv);
  t.ScanXml = xml && !(AOptions & hoNoParseXmlCharset);
  t.Decompress = ACompressorReady &&
                 (IsDeflate(AResponse) || AsciiTextIsSame(AResponse.ContentEncoding(), "gzip"));
  return t;
}

void FinishBody(const TBodyTreatment& ATreatment, TMemoryStream* ACollected, TStream* ATarget,
                std::int64_t AScanStart, TIdHTTPResponse& AResponse,
                TIdZLibCompressorBase* ACompressor) {
  if (ATreatment.Decompress) {
    ACollected->SetPosition(0);
    TMemoryStream decoded;
    if (IsDeflate(AResponse))
      ACompressor->DecompressDeflateStream(*ACollected, decoded);
    else
      ACompressor->DecompressGZipStream(*ACollected, decoded);
    ACollected->Clear();
    decoded.SetPosition(0);
    if (decoded.Size() > 0) ACollected->CopyFrom(decoded, 0);
  }
  TStream* scanned = ACollected != nullptr ? static_cast<TStream*>(ACollected) : ATarget;
  if (ATreatment.ScanHtml && scanned != nullptr) {
    TIdMetaHTTPEquiv& meta = AResponse.MetaHTTPEquiv();
    meta.ProcessMetaHTTPEquiv(*scanned);
    if (!meta.CharSet().empty()) AResponse.SetCharSet(meta.CharSet());
  }
  if (ATreatment.ScanXml && scanned != nullptr) {
    const std::int64_t pos = scanned->Position();
    scanned->SetPosition(ACollected != nullptr ? 0 : AScanStart);
    AResponse.SetCharSet(DetectXmlCharset(*scanned));
    scanned->SetPosition(pos);
  }
  if (ACollected != nullptr && ATarget != nullptr && ACollected->Size() > 0)
    ATarget->CopyFrom(*ACollected, 0);
}

}  // namespace brv::http_detail

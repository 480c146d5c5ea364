#include "http/private/RequestChecks.h"

#include <utility>

#include "http/private/ByteScan.h"

namespace brv::http_detail {

void CheckRequestLine(const std::string& AMethod, const std::string& AURL,
                      const std::string& AHost) {
  if (HasBreakNulOrSpace(AMethod) || AMethod.empty())
    throw EIdHTTPInvalidRequestValue("Invalid request method: \"" + AMethod + "\"");
  if (HasBreakNulOrSpace(AURL))
    throw EIdHTTPInvalidRequestValue("Invalid request target: it holds a CR, LF, NUL or space");
  if (HasBreakNulOrSpace(AHost))
    throw EIdHTTPInvalidRequestValue("Invalid host: it holds a CR, LF, NUL or space");
}

void CheckRequestValues(const TIdHTTPRequest& ARequest) {
  const TIdHTTPRequest& req = ARequest;
  CheckRequestLine(req.Method(), req.URL(), req.Host());
  for (int i = 0; i < req.CustomHeaders().Count(); ++i)
    if (HasLineBreakOrNul(req.CustomHeaders()[i]))
      throw EIdHTTPInvalidRequestValue("Invalid header \"" + req.CustomHeaders().GetName(i) +
                                       "\": it holds a CR, LF or NUL");
  const std::pair<const char*, const std::string*> fields[] = {
      {"Connection", &req.Connection()},
      {"Content-Version", &req.ContentVersion()},
      {"Content-Disposition", &req.ContentDisposition()},
      {"Content-Encoding", &req.ContentEncoding()},
      {"Content-Language", &req.ContentLanguage()},
      {"Content-Type", &req.ContentType()},
      {"Content-Type", &req.CharSet()},
      {"Cache-control", &req.CacheControl()},
      {"ETag", &req.ETag()},
      {"Pragma", &req.Pragma()},
      {"Transfer-Encoding", &req.TransferEncoding()},
      {"Proxy-Connection", &req.ProxyConnection()},
      {"Accept", &req.Accept()},
      {"Accept-Charset", &req.AcceptCharSet()},
      {"Accept-Encoding", &req.AcceptEncoding()},
      {"Accept-Language", &req.AcceptLanguage()},
      {"From", &req.From()},
      {"Referer", &req.Referer()},
      {"User-Agent", &req.UserAgent()},
      {"X-HTTP-Method-Override", &req.MethodOverride()},
  };
  for (const auto& f : fields)
    if (HasLineBreakOrNul(*f.second))
      throw EIdHTTPInvalidRequestValue(std::string("Invalid header \"") + f.first +
                                       "\": it holds a CR, LF or NUL");
}

void CheckHeaderLines(const std::vector<std::string>& ALines) {
  for (const std::string& line : ALines)
    if (HasLineBreakOrNul(line))
      throw EIdHTTPInvalidRequestValue("Invalid header line: it holds a CR, LF or NUL");
}

}  // namespace brv::http_detail

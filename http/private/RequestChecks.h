// Checks of the values a request is written from. A CR, LF or NUL in a header value would end
// the head early or start a header of its own; a space or line break in the method, target or
// host would change the request line. A request that fails is not sent.
#pragma once

#include <string>
#include <vector>

#include "http/IdHTTP.h"

namespace brv::http_detail {

// Refuses an empty method, or a method, request target or host holding a CR, LF, NUL or
// space, with EIdHTTPInvalidRequestValue.
void CheckRequestLine(const std::string& AMethod, const std::string& AURL,
                      const std::string& AHost);

// The request line's values, the custom headers and every header field of ARequest, before
// its header lines are composed; raises EIdHTTPInvalidRequestValue naming the field.
void CheckRequestValues(const TIdHTTPRequest& ARequest);

// Header lines as composed, with what scheme objects and the cookie manager added.
void CheckHeaderLines(const std::vector<std::string>& ALines);

}  // namespace brv::http_detail

// Encoding of form fields for an application/x-www-form-urlencoded body.
#pragma once

#include <string>

#include "base/StringList.h"
#include "transport/IdTextEncoding.h"

namespace brv::http_detail {

// One value: space as "+", letters, digits and "*-._" as they are, every other byte of the
// character in AByteEncoding (UTF-8 when nullptr) as %XX, and a character that encoding
// cannot hold as "&#<code point>;".
std::string FormEncodeValue(const std::string& AValue, const IIdTextEncoding* AByteEncoding);

// The lines of ASource joined with "&"; with AEncode each name and value is encoded as above
// (a line without the separator as one value). A single field is trimmed.
std::string EncodeFormFields(const TStringList& ASource, const IIdTextEncoding* AByteEncoding,
                             bool AEncode);

}  // namespace brv::http_detail

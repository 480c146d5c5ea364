// Character-set names of HTTP messages (IANA names and aliases) mapped to text encodings.
#pragma once

#include <string>

#include "transport/IdTextEncoding.h"

namespace brv {

// The code page of an IANA character-set name or alias (ignoring case), or 0 when the name
// is empty or unknown.
int CharsetToCodePage(const std::string& ACharSet);
// The encoding for a character-set name: the code page's encoding, or the 8-bit encoding (one
// character per byte) for an empty, unknown or unsupported name.
const IIdTextEncoding* CharsetToEncoding(const std::string& ACharSet);

}  // namespace brv

// Character-set names of HTTP messages (IANA names and aliases) mapped to text encodings, and
// the character set an XML document names.
#pragma once

#include <string>

#include "base/Streams.h"
#include "transport/IdTextEncoding.h"

namespace brv {

// The code page of an IANA character-set name or alias (ignoring case), or 0 when the name
// is empty or unknown.
int CharsetToCodePage(const std::string& ACharSet);
// The encoding for a character-set name: the code page's encoding, or the 8-bit encoding (one
// character per byte) for an empty, unknown or unsupported name.
const IIdTextEncoding* CharsetToEncoding(const std::string& ACharSet);

// Detects the character set of an XML document (byte-order mark or declaration) in AStream
// from its start; the position is put back (past a byte-order mark when one was found).
std::string DetectXmlCharset(TStream& AStream);

}  // namespace brv

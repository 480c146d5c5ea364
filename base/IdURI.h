// URL splitting, rebuilding and percent-encoding.
#pragma once

#include <cstdint>
#include <string>

#include "base/Classes.h"
#include "base/Exception.h"
#include "base/IdIPVersion.h"

namespace brv {

// A URL could not be rebuilt from its parts (no protocol or no host).
BRV_DECLARE_EXCEPTION(EIdURIException, EIdException);

// Parts of a URL that GetFullURI writes only when asked for.
enum TIdURIOptionalFields : unsigned { ofAuthInfo = 1, ofBookmark = 2 };
// A set of TIdURIOptionalFields, or-ed together.
using TIdURIOptionalFieldsSet = unsigned;

// Splits a URL into its parts, rebuilds it from them, and percent-encodes and decodes URL
// text. Splitting is a plain string scan, not a validating parser: every input yields some
// split, and only rebuilding can fail. Text is UTF-8; escapes carry UTF-8 bytes.
class TIdURI : public TObject {
 public:
  BRV_CLASS_NAME(TIdURI)
  // An empty URI; a non-empty AURI is parsed as if written to URI.
  explicit TIdURI(const std::string& AURI = {});

  // The URL without user information and bookmark. Reading also remembers the full URL
  // (with both) as the last URL; raises EIdURIException when protocol or host is empty.
  std::string URI();
  // Parses AURI into the parts (back-slashes in the path become slashes first).
  void SetURI(const std::string& AURI);

  // Rebuilds the URL; AOptionalFields says whether user information and bookmark go in.
  // A port that is the protocol's default (http 80, https 443, ftp 21) is left out.
  std::string GetFullURI(TIdURIOptionalFieldsSet AOptionalFields = ofAuthInfo | ofBookmark) const;
  // Path + Document, and "?" + Params when there are parameters: the request target.
  std::string GetPathAndParams() const;

  // Turns back-slashes into slashes after the scheme, up to the query or the bookmark.
  static void NormalizePath(std::string& APath);
  // Encodes the path, document and parameters of an absolute URL; drops user
  // information and bookmark; raises EIdURIException without protocol or host.
  static std::string URLEncode(const std::string& ASrc);
  // Percent-encodes a query: existing escapes stay, printable ASCII outside the unsafe
  // set stays, everything else becomes "%XX" per UTF-8 byte.
  static std::string ParamsEncode(const std::string& ASrc);
  // As ParamsEncode, with "+" encoded too.
  static std::string PathEncode(const std::string& ASrc);
  // Decodes "%XX" and "%uXXXX" escapes; malformed escapes add nothing.
  static std::string URLDecode(const std::string& ASrc);

  const std::string& Bookmark() const { return FBookmark; }
  void SetBookmark(const std::string& Value) { FBookmark = Value; }
  const std::string& Document() const { return FDocument; }
  void SetDocument(const std::string& Value) { FDocument = Value; }
  const std::string& Host() const { return FHost; }
  void SetHost(const std::string& Value) { FHost = Value; }
  const std::string& Password() const { return FPassword; }
  void SetPassword(const std::string& Value) { FPassword = Value; }
  const std::string& Path() const { return Fpath; }
  void SetPath(const std::string& Value) { Fpath = Value; }
  const std::string& Params() const { return FParams; }
  void SetParams(const std::string& Value) { FParams = Value; }
  const std::string& Port() const { return FPort; }
  void SetPort(const std::string& Value) { FPort = Value; }
  const std::string& Protocol() const { return FProtocol; }
  void SetProtocol(const std::string& Value) { FProtocol = Value; }
  const std::string& Username() const { return FUserName; }
  void SetUsername(const std::string& Value) { FUserName = Value; }
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion Value) { FIPVersion = Value; }

 private:
  std::string FDocument;
  std::string FProtocol;
  std::string FURI;
  std::string FPort;
  std::string Fpath;
  std::string FHost;
  std::string FBookmark;
  std::string FUserName;
  std::string FPassword;
  std::string FParams;
  TIdIPVersion FIPVersion = Id_IPv4;
};

// The parts of AURI exactly as TIdURI(AURI) has them, from this thread's copy of the last URL
// read this way, parsed again only when the text differs: a request's URL is read by its
// signer and then by the HTTP engine. The reference is valid until the thread's next call.
const TIdURI& ParsedURIOf(const std::string& AURI);

// True when AStr holds "%" and two hexadecimal digits at the 1-based byte position APos.
bool HasPercentEscape(const std::string& AStr, int APos);
// Number of UTF-16 units (1 or 2) of the character that starts at the 1-based byte
// position; raises EArgumentException for an encoded surrogate, which UTF-16 text could
// only hold unpaired.
int Utf16CharUnits(const std::string& AStr, int APos);
// The code point of the character that starts at the 1-based byte position, with the
// errors of Utf16CharUnits. A byte that starts no valid UTF-8 sequence is returned as is.
// Both raise EArgumentException for a position outside the text.
char32_t Utf16CodePointAt(const std::string& AStr, int APos);
// True when the unit AChar occurs in ASet.
bool IsCharOfSet(const std::string& ASet, char AChar);

}  // namespace brv

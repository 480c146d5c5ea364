#include "base/IdURI.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "base/Hex.h"
#include "base/UTF8.h"

namespace brv {

namespace {


// The unsafe sets of ParamsEncode and PathEncode, in their documented order.
constexpr char kParamsUnsafe[] = "*<>#%\"{}|\\^[]`";
constexpr char kPathUnsafe[] = "*<>#%\"{}|\\^[]`+";

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return c - 'a' + 10;
}

// One character of UTF-8 text: its code point, its length in bytes and its length in
// UTF-16 units. A byte that starts no well-formed sequence stands for itself (one byte,
// one unit) so that no input is ever lost.
struct TUtf8Char {
  char32_t CodePoint = 0;
  std::size_t Bytes = 1;
  int Units = 1;
  bool Valid = false;
};

bool IsContinuation(const std::string& s, std::size_t i) {
  return i < s.size() && (static_cast<std::uint8_t>(s[i]) & 0xC0) == 0x80;
}

// Decodes the sequence at the 0-based byte index i with base's reader. Surrogate code points (which
// UTF-8 forbids but which a text converted from UTF-16 may carry) are returned as such.
TUtf8Char DecodeRaw(const std::string& s, std::size_t i) {
  TUtf8Char ch;
  ch.CodePoint = static_cast<std::uint8_t>(s[i]);
  std::size_t next = i;
  char32_t cp = 0;
  if (!NextUTF8CodePoint(s, next, cp, true)) return ch;
  ch.CodePoint = cp;
  ch.Bytes = next - i;
  ch.Units = cp >= 0x10000 ? 2 : 1;
  ch.Valid = true;
  return ch;
}

bool IsHighSurrogate(char32_t cp) {
  return cp >= 0xD800 && cp <= 0xDBFF;
}
bool IsLowSurrogate(char32_t cp) {
  return cp >= 0xDC00 && cp <= 0xDFFF;
}

// The character at the 0-based index i, with a surrogate pair written as two encoded
// surrogates joined into one character. An unpaired surrogate raises the out-of-range
// error with the 1-based position.
TUtf8Char CharAt(const std::string& s, std::size_t i) {
  TUtf8Char ch = DecodeRaw(s, i);
  if (!ch.Valid) return ch;
  if (IsHighSurrogate(ch.CodePoint)) {
    if (i + ch.Bytes < s.size()) {
      const TUtf8Char low = DecodeRaw(s, i + ch.Bytes);
      if (low.Valid && IsLowSurrogate(low.CodePoint)) {
        ch.CodePoint = 0x10000 + ((ch.CodePoint - 0xD800) << 10) + (low.CodePoint - 0xDC00);
        ch.Bytes += low.Bytes;
        ch.Units = 2;
        return ch;
      }
    }
    throw EArgumentException(Format(
        "High surrogate char without a following low surrogate char at index: %d. Check that "
        "the string is encoded properly",
        static_cast<int>(i + 1)));
  }
  if (IsLowSurrogate(ch.CodePoint)) {
    throw EArgumentException(Format(
        "Low surrogate char without a preceding high surrogate char at index: %d. Check that "
        "the string is encoded properly",
        static_cast<int>(i + 1)));
  }
  return ch;
}

// Decodes bytes as UTF-8 text: every ill-formed sequence and every surrogate becomes U+FFFD.
std::string SanitizeUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const TUtf8Char ch = DecodeRaw(bytes, i);
    if (!ch.Valid) {
      AppendUTF8(out, 0xFFFD);
      i += 1;
      while (ch.CodePoint >= 0xC0 && i < bytes.size() && IsContinuation(bytes, i)) {
        ++i;  // the rest of a broken sequence is part of the same bad character
      }
      continue;
    }
    if (IsHighSurrogate(ch.CodePoint) || IsLowSurrogate(ch.CodePoint)) {
      AppendUTF8(out, 0xFFFD);
      i += ch.Bytes;
      continue;
    }
    out.append(bytes, i, ch.Bytes);
    i += ch.Bytes;
  }
  return out;
}

std::string Encode(const std::string& src, const char* unsafe) {
  std::string out;
  if (src.empty()) return out;
  out.reserve(src.size() * 3);
  const std::string unsafeSet(unsafe);
  std::size_t i = 0;
  while (i < src.size()) {
    const char c = src[i];
    if (HasPercentEscape(src, static_cast<int>(i + 1))) {
      out.append(src, i, 3);
      i += 3;
      continue;
    }
    const auto u = static_cast<std::uint8_t>(c);
    if (u >= 0x21 && u <= 0x7F && !IsCharOfSet(unsafeSet, c)) {
      out += c;
      ++i;
      continue;
    }
    const TUtf8Char ch = CharAt(src, i);
    std::string bytes;
    if (ch.Valid) {
      AppendUTF8(bytes, ch.CodePoint);
    } else {
      bytes = src.substr(i, 1);
    }
    for (char b : bytes) AppendPercentEscape(out, static_cast<std::uint8_t>(b));
    i += ch.Bytes;
  }
  return out;
}

// The part of s before the first ADelim, taken off s with the delimiter; all of s (leaving it
// empty) when there is none.
std::string_view FetchView(std::string_view& s, char ADelim) {
  const std::size_t p = s.find(ADelim);
  if (p == std::string_view::npos) {
    const std::string_view all = s;
    s = {};
    return all;
  }
  const std::string_view head = s.substr(0, p);
  s.remove_prefix(p + 1);
  return head;
}

bool SameText(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// Takes the next n UTF-16 units of text from position i (a character that needs two
// units is taken whole), moving i past them.
std::string TakeUnits(const std::string& s, std::size_t& i, int n) {
  const std::size_t start = i;
  int units = 0;
  while (units < n && i < s.size()) {
    const TUtf8Char ch = DecodeRaw(s, i);
    units += ch.Units;
    i += ch.Bytes;
  }
  return s.substr(start, i - start);
}

// Reads hexadecimal text with surrounding blanks trimmed; -1 when it is not a number.
long ReadHex(const std::string& text) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && static_cast<std::uint8_t>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<std::uint8_t>(text[e - 1]) <= ' ') --e;
  if (b == e) return -1;
  long value = 0;
  for (std::size_t k = b; k < e; ++k) {
    if (!IsHexDigit(text[k])) return -1;
    value = value * 16 + HexValue(text[k]);
  }
  return value;
}

}  // namespace

bool HasPercentEscape(const std::string& AStr, int APos) {
  if (APos < 1) return false;
  const auto i = static_cast<std::size_t>(APos - 1);
  return i + 2 < AStr.size() && AStr[i] == '%' && IsHexDigit(AStr[i + 1]) &&
         IsHexDigit(AStr[i + 2]);
}

namespace {

std::size_t CheckedIndex(const std::string& AStr, int APos) {
  if (APos < 1 || static_cast<std::size_t>(APos) > AStr.size()) {
    throw EArgumentException(Format("Index out of bounds (%d)", APos));
  }
  return static_cast<std::size_t>(APos - 1);
}

}  // namespace

int Utf16CharUnits(const std::string& AStr, int APos) {
  return CharAt(AStr, CheckedIndex(AStr, APos)).Units;
}

char32_t Utf16CodePointAt(const std::string& AStr, int APos) {
  return CharAt(AStr, CheckedIndex(AStr, APos)).CodePoint;
}

bool IsCharOfSet(const std::string& ASet, char AChar) {
  return ASet.find(AChar) != std::string::npos;
}

TIdURI::TIdURI(const std::string& AURI) {
  if (!AURI.empty()) SetURI(AURI);
}

const TIdURI& ParsedURIOf(const std::string& AURI) {
  // An empty text leaves a URI empty (the constructor does not parse it).
  static const TIdURI kEmpty;
  if (AURI.empty()) return kEmpty;
  struct LastParsed {
    std::string text;
    TIdURI uri;
    bool valid = false;
  };
  thread_local LastParsed last;
  if (!last.valid || last.text != AURI) {
    // SetURI sets every part, so the kept object reads as a new one would.
    last.valid = false;
    last.uri.SetURI(AURI);
    last.text = AURI;
    last.valid = true;
  }
  return last.uri;
}

void TIdURI::NormalizePath(std::string& APath) {
  std::size_t start = 0;
  const std::size_t colon = APath.find(':');
  if (colon != std::string::npos) {
    start = colon + 1;
    auto isSlash = [&](std::size_t k) {
      return k < APath.size() && (APath[k] == '/' || APath[k] == '\\');
    };
    if (isSlash(start) && isSlash(start + 1)) start += 2;
  }
  // Through a pointer, so the length is not read again after each byte written.
  char* p = APath.data() + std::min(start, APath.size());
  char* const end = APath.data() + APath.size();
  for (; p != end && *p != '?' && *p != '#'; ++p)
    if (*p == '\\') *p = '/';
}

void TIdURI::SetURI(const std::string& AURI) {
  FURI = AURI;
  NormalizePath(FURI);
  // The parts are cut from views of the normalised text; each is copied once, into its field.
  std::string_view L = FURI;

  FDocument.clear();
  FProtocol.clear();
  FPort.clear();
  Fpath.clear();
  FHost.clear();
  FBookmark.clear();
  FUserName.clear();
  FPassword.clear();
  FParams.clear();
  FIPVersion = Id_IPv4;

  // Query and bookmark: a "#" after the "?" ends the query, a "?" after the "#" stays in
  // the bookmark (so a "?" only opens a query when no "#" comes before it).
  auto splitQueryAndBookmark = [&]() {
    const std::size_t q = L.find('?');
    const std::size_t h = L.find('#');
    if (q != std::string_view::npos && q < h) {
      std::string_view params = L.substr(q + 1);
      if (h != std::string_view::npos) {
        FBookmark = params.substr(h - q);
        params = params.substr(0, h - q - 1);
      }
      FParams = params;
      L = L.substr(0, q);
    } else if (h != std::string_view::npos) {
      FBookmark = L.substr(h + 1);
      L = L.substr(0, h);
    }
  };

  const std::size_t p = L.find("://");
  if (p != std::string_view::npos) {
    FProtocol = L.substr(0, p);
    L.remove_prefix(p + 3);
    splitQueryAndBookmark();

    std::string_view A = FetchView(L, '/');
    const std::size_t at = A.rfind('@');
    if (at != std::string_view::npos) {
      std::string_view U = A.substr(0, at);
      A.remove_prefix(at + 1);
      FUserName = FetchView(U, ':');
      if (!FUserName.empty()) FPassword = U;
    }

    const std::size_t open = A.find('[');
    const std::size_t close = A.find(']');
    if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
      std::string_view host = FetchView(A, ']');
      host.remove_prefix(host.find('[') + 1);
      FHost = host;
      const std::size_t colon = A.find(':');
      A = colon == std::string_view::npos ? std::string_view() : A.substr(colon + 1);
      FIPVersion = Id_IPv6;
    } else {
      FHost = FetchView(A, ':');
    }
    FPort = A;

    const std::size_t slash = L.rfind('/');
    Fpath.assign(1, '/');
    if (slash != std::string_view::npos) {
      Fpath.append(L.substr(0, slash + 1));
      L.remove_prefix(slash + 1);
    }
  } else {
    splitQueryAndBookmark();
    const std::size_t slash = L.rfind('/');
    if (slash != std::string_view::npos) {
      Fpath = L.substr(0, slash + 1);
      L.remove_prefix(slash + 1);
    }
  }
  FDocument = L;
}

std::string TIdURI::URI() {
  std::string full = GetFullURI(ofAuthInfo | ofBookmark);
  std::string plain = GetFullURI(0);
  FURI = std::move(full);
  return plain;
}

std::string TIdURI::GetFullURI(TIdURIOptionalFieldsSet AOptionalFields) const {
  if (FProtocol.empty()) throw EIdURIException("Protocol field is empty");
  if (FHost.empty()) throw EIdURIException("Host field is empty");

  std::string result = FProtocol + "://";
  if (!FUserName.empty() && (AOptionalFields & ofAuthInfo) != 0) {
    result += FUserName;
    if (!FPassword.empty()) result += ":" + FPassword;
    result += "@";
  }
  result += FIPVersion == Id_IPv6 ? "[" + FHost + "]" : FHost;
  if (!FPort.empty()) {
    const bool isDefault = (SameText(FProtocol, "HTTP") && FPort == "80") ||
                           (SameText(FProtocol, "HTTPS") && FPort == "443") ||
                           (SameText(FProtocol, "FTP") && FPort == "21");
    if (!isDefault) result += ":" + FPort;
  }
  result += GetPathAndParams();
  if (!FBookmark.empty() && (AOptionalFields & ofBookmark) != 0) result += "#" + FBookmark;
  return result;
}

std::string TIdURI::GetPathAndParams() const {
  // Made in one piece: the query is most of a request's target.
  std::string result;
  result.reserve(Fpath.size() + FDocument.size() + 1 + FParams.size());
  result += Fpath;
  result += FDocument;
  if (!FParams.empty()) {
    result += '?';
    result += FParams;
  }
  return result;
}

std::string TIdURI::ParamsEncode(const std::string& ASrc) {
  return Encode(ASrc, kParamsUnsafe);
}

std::string TIdURI::PathEncode(const std::string& ASrc) {
  return Encode(ASrc, kPathUnsafe);
}

std::string TIdURI::URLEncode(const std::string& ASrc) {
  TIdURI uri(ASrc);
  uri.SetPath(PathEncode(uri.Path()));
  uri.SetDocument(PathEncode(uri.Document()));
  uri.SetParams(ParamsEncode(uri.Params()));
  return uri.URI();
}

std::string TIdURI::URLDecode(const std::string& ASrc) {
  std::string bytes;
  bytes.reserve(ASrc.size());
  char32_t pendingHigh = 0;  // a "%u" high surrogate waiting for its low half
  auto flushHigh = [&]() {
    if (pendingHigh != 0) AppendUTF8(bytes, 0xFFFD);
    pendingHigh = 0;
  };

  std::size_t i = 0;
  while (i < ASrc.size()) {
    if (ASrc[i] != '%') {
      flushHigh();
      bytes += ASrc[i];
      ++i;
      continue;
    }
    ++i;
    if (i < ASrc.size() && (ASrc[i] == 'u' || ASrc[i] == 'U')) {
      ++i;
      const long unit = ReadHex(TakeUnits(ASrc, i, 4));
      if (unit < 0) continue;
      const auto cp = static_cast<char32_t>(unit);
      if (pendingHigh != 0 && IsLowSurrogate(cp)) {
        AppendUTF8(bytes, 0x10000 + ((pendingHigh - 0xD800) << 10) + (cp - 0xDC00));
        pendingHigh = 0;
        continue;
      }
      flushHigh();
      if (IsHighSurrogate(cp)) {
        pendingHigh = cp;
      } else {
        AppendUTF8(bytes, IsLowSurrogate(cp) ? 0xFFFD : cp);
      }
      continue;
    }
    flushHigh();
    const long value = ReadHex(TakeUnits(ASrc, i, 2));
    if (value >= 0) bytes += static_cast<char>(value);
  }
  flushHigh();
  return SanitizeUtf8(bytes);
}

}  // namespace brv

#include "http/IdCharsets.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "base/Exception.h"
#include "http/private/Text.h"

namespace brv {

namespace {

struct TCharsetEntry {
  const char* Name;
  int CodePage;
};

// The names and aliases of the IANA character-set registry that HTTP peers use.
const TCharsetEntry kCharsets[] = {
    {"utf-8", 65001},        {"utf8", 65001},           {"unicode-1-1-utf-8", 65001},
    {"utf-7", 65000},        {"unicode-1-1-utf-7", 65000}, {"csunicode11utf7", 65000},
    {"utf-16", 1200},        {"utf-16le", 1200},        {"unicode", 1200},
    {"utf-16be", 1201},      {"unicodefffe", 1201},
    {"us-ascii", 20127},     {"ascii", 20127},          {"ansi_x3.4-1968", 20127},
    {"ansi_x3.4-1986", 20127}, {"iso-ir-6", 20127},     {"iso_646.irv:1991", 20127},
    {"iso646-us", 20127},    {"us", 20127},             {"ibm367", 20127},
    {"cp367", 20127},        {"csascii", 20127},
    {"iso-8859-1", 28591},   {"iso_8859-1", 28591},     {"iso_8859-1:1987", 28591},
    {"latin1", 28591},       {"l1", 28591},             {"iso-ir-100", 28591},
    {"ibm819", 28591},       {"cp819", 28591},          {"csisolatin1", 28591},
    {"iso-8859-2", 28592},   {"iso_8859-2", 28592},     {"latin2", 28592},
    {"l2", 28592},           {"csisolatin2", 28592},
    {"iso-8859-3", 28593},   {"iso_8859-3", 28593},     {"latin3", 28593},
    {"iso-8859-4", 28594},   {"iso_8859-4", 28594},     {"latin4", 28594},
    {"iso-8859-5", 28595},   {"iso_8859-5", 28595},     {"cyrillic", 28595},
    {"iso-8859-6", 28596},   {"iso_8859-6", 28596},     {"arabic", 28596},
    {"iso-8859-7", 28597},   {"iso_8859-7", 28597},     {"greek", 28597},
    {"iso-8859-8", 28598},   {"iso_8859-8", 28598},     {"hebrew", 28598},
    {"iso-8859-9", 28599},   {"iso_8859-9", 28599},     {"latin5", 28599},
    {"iso-8859-13", 28603},  {"iso-8859-15", 28605},    {"iso_8859-15", 28605},
    {"latin-9", 28605},      {"latin9", 28605},
    {"windows-1250", 1250},  {"cp1250", 1250},          {"windows-1251", 1251},
    {"cp1251", 1251},        {"windows-1252", 1252},    {"cp1252", 1252},
    {"windows-1253", 1253},  {"cp1253", 1253},          {"windows-1254", 1254},
    {"cp1254", 1254},        {"windows-1255", 1255},    {"cp1255", 1255},
    {"windows-1256", 1256},  {"cp1256", 1256},          {"windows-1257", 1257},
    {"cp1257", 1257},        {"windows-1258", 1258},    {"cp1258", 1258},
    {"windows-874", 874},    {"tis-620", 874},
    {"koi8-r", 20866},       {"cskoi8r", 20866},        {"koi8-u", 21866},
    {"shift_jis", 932},      {"shift-jis", 932},        {"sjis", 932},
    {"ms_kanji", 932},       {"csshiftjis", 932},       {"windows-31j", 932},
    {"euc-jp", 51932},       {"cseucpkdfmtjapanese", 51932}, {"iso-2022-jp", 50220},
    {"gb2312", 936},         {"gbk", 936},              {"cp936", 936},
    {"windows-936", 936},    {"csgb2312", 936},         {"gb18030", 54936},
    {"big5", 950},           {"csbig5", 950},           {"euc-kr", 51949},
    {"cseuckr", 51949},      {"ks_c_5601-1987", 949},   {"iso-2022-kr", 50225},
    {"ibm437", 437},         {"cp437", 437},            {"ibm850", 850},
    {"cp850", 850},          {"ibm866", 866},           {"cp866", 866},
    {"macintosh", 10000},    {"mac", 10000},            {"csmacintosh", 10000},
};

}  // namespace

int CharsetToCodePage(const std::string& ACharSet) {
  const std::string name = http_detail::Trim(ACharSet);
  if (name.empty()) return 0;
  for (const auto& e : kCharsets)
    if (http_detail::TextIsSame(name, e.Name)) return e.CodePage;
  return 0;
}

const IIdTextEncoding* CharsetToEncoding(const std::string& ACharSet) {
  const int cp = CharsetToCodePage(ACharSet);
  if (cp == 0) return IndyTextEncoding_8Bit();
  if (cp == 28591) return IndyTextEncoding_8Bit();
  try {
    return IndyTextEncoding(cp);
  } catch (const EIdException&) {
    // A code page the platform cannot convert reads as bytes, like an unknown name.
    return IndyTextEncoding_8Bit();
  }
}

// ---- the character set of an XML document ----

namespace {

// EBCDIC (code page 37) to ASCII for the characters an XML declaration uses.
char EbcdicToAscii(std::uint8_t b) {
  static const struct {
    std::uint8_t e;
    char a;
  } map[] = {{0x40, ' '},  {0x4B, '.'},  {0x4C, '<'},  {0x6F, '?'}, {0x6E, '>'},
             {0x7E, '='},  {0x7F, '"'},  {0x7D, '\''}, {0x60, '-'}, {0x6D, '_'},
             {0x05, '\t'}, {0x25, '\n'}, {0x0D, '\r'}, {0x61, '/'}, {0x7A, ':'}};
  for (const auto& m : map)
    if (m.e == b) return m.a;
  if (b >= 0x81 && b <= 0x89) return static_cast<char>('a' + (b - 0x81));
  if (b >= 0x91 && b <= 0x99) return static_cast<char>('j' + (b - 0x91));
  if (b >= 0xA2 && b <= 0xA9) return static_cast<char>('s' + (b - 0xA2));
  if (b >= 0xC1 && b <= 0xC9) return static_cast<char>('A' + (b - 0xC1));
  if (b >= 0xD1 && b <= 0xD9) return static_cast<char>('J' + (b - 0xD1));
  if (b >= 0xE2 && b <= 0xE9) return static_cast<char>('S' + (b - 0xE2));
  if (b >= 0xF0 && b <= 0xF9) return static_cast<char>('0' + (b - 0xF0));
  return '?';
}

std::string EncodingFromDeclaration(const std::string& ADecl) {
  size_t p = ADecl.find("encoding");
  if (p == std::string::npos) return {};
  p += 8;
  while (p < ADecl.size() &&
         (ADecl[p] == ' ' || ADecl[p] == '\t' || ADecl[p] == '\r' || ADecl[p] == '\n'))
    ++p;
  if (p >= ADecl.size() || ADecl[p] != '=') return {};
  ++p;
  while (p < ADecl.size() && (ADecl[p] == ' ' || ADecl[p] == '\t')) ++p;
  if (p >= ADecl.size() || (ADecl[p] != '"' && ADecl[p] != '\'')) return {};
  const char q = ADecl[p];
  const size_t end = ADecl.find(q, p + 1);
  if (end == std::string::npos) return {};
  return http_detail::Trim(ADecl.substr(p + 1, end - p - 1));
}

}  // namespace

std::string DetectXmlCharset(TStream& AStream) {
  std::string charset = "UTF-8";
  const std::int64_t start = AStream.Position();
  std::uint8_t b[4] = {0, 0, 0, 0};
  AStream.SetPosition(0);
  const std::int64_t got = AStream.Read(b, 4);
  auto is = [&](std::initializer_list<int> bytes) {
    size_t i = 0;
    for (int v : bytes) {
      if (static_cast<std::int64_t>(i) >= got || b[i] != v) return false;
      ++i;
    }
    return true;
  };
  int bom = 0;
  if (is({0x00, 0x00, 0xFE, 0xFF})) {
    charset = "UCS-4BE";
    bom = 4;
  } else if (is({0x00, 0x00, 0xFF, 0xFE})) {
    charset.clear();
    bom = 4;
  } else if (is({0xFF, 0xFE, 0x00, 0x00})) {
    charset = "UCS-4LE";
    bom = 4;
  } else if (is({0xFE, 0xFF, 0x00, 0x00})) {
    charset.clear();
    bom = 4;
  } else if (is({0xFE, 0xFF})) {
    charset = "UTF-16BE";
    bom = 2;
  } else if (is({0xFF, 0xFE})) {
    charset = "UTF-16LE";
    bom = 2;
  } else if (is({0xEF, 0xBB, 0xBF})) {
    charset = "UTF-8";
    bom = 3;
  }
  if (bom == 0) {
    // The declaration's first characters in each form: unit size and the index of the
    // significant byte in a unit (-1 for EBCDIC).
    int unit = 0, index = 0;
    bool ebcdic = false;
    if (is({0x00, 0x00, 0x00, 0x3C})) {
      unit = 4, index = 3;
    } else if (is({0x3C, 0x00, 0x00, 0x00})) {
      unit = 4, index = 0;
    } else if (is({0x00, 0x00, 0x3C, 0x00})) {
      unit = 4, index = 2;
    } else if (is({0x00, 0x3C, 0x00, 0x00})) {
      unit = 4, index = 1;
    } else if (is({0x00, 0x3C, 0x00, 0x3F})) {
      unit = 2, index = 1;
    } else if (is({0x3C, 0x00, 0x3F, 0x00})) {
      unit = 2, index = 0;
    } else if (is({0x3C, 0x3F, 0x78, 0x6D})) {
      unit = 1, index = 0;
    } else if (is({0x4C, 0x6F, 0xA7, 0x94})) {
      unit = 1, index = 0, ebcdic = true;
    }
    if (unit > 0) {
      AStream.SetPosition(0);
      std::string decl;
      std::vector<std::uint8_t> u(static_cast<size_t>(unit));
      // A declaration is short; a document without ">" in its first 1024 units has none.
      while (decl.size() < 1024 && AStream.Read(u.data(), unit) == unit) {
        const std::uint8_t v = u[static_cast<size_t>(index)];
        const char c = ebcdic ? EbcdicToAscii(v) : static_cast<char>(v);
        decl += c;
        if (c == '>') break;
      }
      const std::string enc = EncodingFromDeclaration(decl);
      if (!enc.empty()) charset = enc;
    }
  }
  AStream.SetPosition(bom > 0 ? start + bom : start);
  return charset;
}

}  // namespace brv

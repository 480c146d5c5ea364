#include "http/IdCharsets.h"

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

}  // namespace brv

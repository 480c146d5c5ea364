#include "transport/IdTextEncoding.h"

#include <iconv.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>

#include "base/AsciiText.h"
#include "base/UTF8.h"
#include "transport/IdException.h"

namespace brv {

namespace {

constexpr char32_t kReplacement = kUTF8ReplacementCharacter;

// The number of bytes below 128 from the start of S (n bytes long), eight at a time.
std::size_t AsciiPrefix(const std::uint8_t* s, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, s + i, 8);
    if ((word & 0x8080808080808080ULL) != 0) break;
  }
  while (i < n && s[i] < 0x80) ++i;
  return i;
}

// Substitutes "?" per UTF-16 unit the character occupies, as the byte encodings do.
void AppendQuestionMarks(TIdBytes& out, char32_t cp) {
  out.push_back('?');
  if (cp > 0xFFFF) out.push_back('?');
}

bool IsBase64Char(std::uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

int Base64Value(std::uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  return 63;
}

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Characters UTF-7 writes as themselves: RFC 2152's set D, space, tab, CR and LF.
bool IsUTF7Direct(char32_t cp) {
  if ((cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z') || (cp >= '0' && cp <= '9')) return true;
  switch (cp) {
    case '\'':
    case '(':
    case ')':
    case ',':
    case '-':
    case '.':
    case '/':
    case ':':
    case '?':
    case ' ':
    case '\t':
    case '\r':
    case '\n':
      return true;
    default:
      return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// IIdTextEncoding

TIdBytes IIdTextEncoding::GetBytes(const std::string& AChars) const {
  TIdBytes result;
  Encode(AChars, result);
  return result;
}

std::string IIdTextEncoding::GetString(const TIdBytes& ABytes) const {
  return GetString(ABytes.data(), ABytes.size());
}

std::string IIdTextEncoding::GetString(const TIdBytes& ABytes, int AByteIndex,
                                       int AByteCount) const {
  const std::size_t size = ABytes.size();
  const std::size_t start =
      std::min<std::size_t>(size, static_cast<std::size_t>(std::max(0, AByteIndex)));
  std::size_t count = size - start;
  if (AByteCount >= 0) count = std::min<std::size_t>(count, static_cast<std::size_t>(AByteCount));
  return GetString(ABytes.data() + start, count);
}

std::string IIdTextEncoding::GetString(const std::uint8_t* ABytes, std::size_t ACount) const {
  std::string result;
  if (ACount > 0) Decode(ABytes, ACount, result);
  return result;
}

int IIdTextEncoding::GetByteCount(const std::string& AChars) const {
  return static_cast<int>(GetBytes(AChars).size());
}

bool IIdTextEncoding::CanEncode(const std::string& AChars) const {
  TIdBytes scratch;
  return Encode(AChars, scratch) == 0;
}

// ---------------------------------------------------------------------------------------------
// ASCII and 8-bit

namespace {

// Appends the one-byte form of each code point of AChars below ALimit (its value) and question
// marks for the others; returns how many were lost.
std::size_t EncodeBelow(const std::string& AChars, TIdBytes& VBytes, char32_t ALimit) {
  std::size_t lost = 0;
  VBytes.reserve(VBytes.size() + AChars.size());
  const auto* s = reinterpret_cast<const std::uint8_t*>(AChars.data());
  for (std::size_t i = 0; i < AChars.size();) {
    // A run of ASCII is its own bytes.
    const std::size_t run = AsciiPrefix(s + i, AChars.size() - i);
    VBytes.insert(VBytes.end(), s + i, s + i + run);
    i += run;
    if (i == AChars.size()) break;
    char32_t cp = 0;
    if (NextUTF8CodePoint(AChars, i, cp) && cp < ALimit) {
      VBytes.push_back(static_cast<std::uint8_t>(cp));
    } else {
      AppendQuestionMarks(VBytes, cp);
      ++lost;
    }
  }
  return lost;
}

}  // namespace

std::size_t TIdASCIIEncoding::Encode(const std::string& AChars, TIdBytes& VBytes) const {
  return EncodeBelow(AChars, VBytes, 0x80);
}

std::size_t TIdASCIIEncoding::Decode(const std::uint8_t* ABytes, std::size_t ACount,
                                     std::string& VChars) const {
  std::size_t lost = 0;
  VChars.reserve(VChars.size() + ACount);
  for (std::size_t i = 0; i < ACount; ++i) {
    // A run of ASCII is its own text; each byte after it is one that ASCII lacks.
    const std::size_t run = AsciiPrefix(ABytes + i, ACount - i);
    VChars.append(reinterpret_cast<const char*>(ABytes + i), run);
    i += run;
    if (i == ACount) break;
    AppendUTF8(VChars, kReplacement);
    ++lost;
  }
  return lost;
}

std::size_t TId8BitEncoding::Encode(const std::string& AChars, TIdBytes& VBytes) const {
  return EncodeBelow(AChars, VBytes, 0x100);
}

std::size_t TId8BitEncoding::Decode(const std::uint8_t* ABytes, std::size_t ACount,
                                    std::string& VChars) const {
  VChars.reserve(VChars.size() + ACount);
  for (std::size_t i = 0; i < ACount; ++i) AppendUTF8(VChars, ABytes[i]);
  return 0;
}

// ---------------------------------------------------------------------------------------------
// UTF-8

std::size_t TIdUTF8Encoding::Encode(const std::string& AChars, TIdBytes& VBytes) const {
  std::size_t lost = 0;
  VBytes.reserve(VBytes.size() + AChars.size());
  const auto* s = reinterpret_cast<const std::uint8_t*>(AChars.data());
  for (std::size_t i = 0; i < AChars.size();) {
    const std::size_t run = AsciiPrefix(s + i, AChars.size() - i);
    VBytes.insert(VBytes.end(), s + i, s + i + run);
    i += run;
    if (i == AChars.size()) break;
    const std::size_t start = i;
    char32_t cp = 0;
    if (NextUTF8CodePoint(s, AChars.size(), i, cp)) {
      VBytes.insert(VBytes.end(), s + start, s + i);
    } else {
      VBytes.insert(VBytes.end(), {0xEF, 0xBF, 0xBD});
      ++lost;
    }
  }
  return lost;
}

std::size_t TIdUTF8Encoding::Decode(const std::uint8_t* ABytes, std::size_t ACount,
                                    std::string& VChars) const {
  std::size_t lost = 0;
  VChars.reserve(VChars.size() + ACount);
  for (std::size_t i = 0; i < ACount;) {
    const std::size_t run = AsciiPrefix(ABytes + i, ACount - i);
    VChars.append(reinterpret_cast<const char*>(ABytes + i), run);
    i += run;
    if (i == ACount) break;
    const std::size_t start = i;
    char32_t cp = 0;
    if (NextUTF8CodePoint(ABytes, ACount, i, cp)) {
      VChars.append(reinterpret_cast<const char*>(ABytes + start), i - start);
    } else {
      AppendUTF8(VChars, kReplacement);
      ++lost;
    }
  }
  return lost;
}

// ---------------------------------------------------------------------------------------------
// UTF-16

std::size_t TIdUTF16LittleEndianEncoding::Encode(const std::string& AChars,
                                                 TIdBytes& VBytes) const {
  std::size_t lost = 0;
  const bool big = BigEndian();
  auto put = [&](char32_t unit) {
    const auto hi = static_cast<std::uint8_t>(unit >> 8);
    const auto lo = static_cast<std::uint8_t>(unit & 0xFF);
    VBytes.push_back(big ? hi : lo);
    VBytes.push_back(big ? lo : hi);
  };
  VBytes.reserve(VBytes.size() + AChars.size() * 2);
  for (std::size_t i = 0; i < AChars.size();) {
    char32_t cp = 0;
    if (!NextUTF8CodePoint(AChars, i, cp)) {
      cp = kReplacement;
      ++lost;
    }
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
  }
  return lost;
}

std::size_t TIdUTF16LittleEndianEncoding::Decode(const std::uint8_t* ABytes, std::size_t ACount,
                                                 std::string& VChars) const {
  std::size_t lost = 0;
  const bool big = BigEndian();
  auto unit_at = [&](std::size_t i) -> char32_t {
    return big ? static_cast<char32_t>((ABytes[i] << 8) | ABytes[i + 1])
               : static_cast<char32_t>((ABytes[i + 1] << 8) | ABytes[i]);
  };
  VChars.reserve(VChars.size() + ACount);
  std::size_t i = 0;
  for (; i + 1 < ACount; i += 2) {
    const char32_t u = unit_at(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < ACount) {
      const char32_t u2 = unit_at(i + 2);
      if (u2 >= 0xDC00 && u2 <= 0xDFFF) {
        AppendUTF8(VChars, 0x10000 + ((u - 0xD800) << 10) + (u2 - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (u >= 0xD800 && u <= 0xDFFF) {
      // A lone surrogate has no place in UTF-8 text.
      AppendUTF8(VChars, kReplacement);
      ++lost;
    } else {
      AppendUTF8(VChars, u);
    }
  }
  if (i < ACount) {
    AppendUTF8(VChars, kReplacement);  // an odd last byte
    ++lost;
  }
  return lost;
}

// ---------------------------------------------------------------------------------------------
// UTF-7 (RFC 2152)

std::size_t TIdUTF7Encoding::Encode(const std::string& AChars, TIdBytes& VBytes) const {
  std::size_t lost = 0;
  bool in_base64 = false;
  std::uint32_t bits = 0;
  int bit_count = 0;
  auto flush_bits = [&](bool close) {
    while (bit_count >= 6) {
      bit_count -= 6;
      VBytes.push_back(static_cast<std::uint8_t>(kBase64[(bits >> bit_count) & 0x3F]));
    }
    if (close) {
      if (bit_count > 0) {
        VBytes.push_back(static_cast<std::uint8_t>(kBase64[(bits << (6 - bit_count)) & 0x3F]));
      }
      bit_count = 0;
      bits = 0;
    }
  };
  auto add_unit = [&](char32_t unit) {
    bits = (bits << 16) | unit;
    bit_count += 16;
    flush_bits(false);
  };
  for (std::size_t i = 0; i < AChars.size();) {
    char32_t cp = 0;
    if (!NextUTF8CodePoint(AChars, i, cp)) {
      cp = kReplacement;
      ++lost;
    }
    if (IsUTF7Direct(cp) || cp == '+') {
      if (in_base64) {
        flush_bits(true);
        // The explicit end mark keeps a following base64 letter or "-" out of the run.
        VBytes.push_back('-');
        in_base64 = false;
      }
      VBytes.push_back(static_cast<std::uint8_t>(cp));
      if (cp == '+') VBytes.push_back('-');
      continue;
    }
    if (!in_base64) {
      VBytes.push_back('+');
      in_base64 = true;
    }
    if (cp >= 0x10000) {
      add_unit(0xD800 + ((cp - 0x10000) >> 10));
      add_unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      add_unit(cp);
    }
  }
  if (in_base64) {
    flush_bits(true);
    VBytes.push_back('-');
  }
  return lost;
}

std::size_t TIdUTF7Encoding::Decode(const std::uint8_t* ABytes, std::size_t ACount,
                                    std::string& VChars) const {
  std::size_t lost = 0;
  char32_t pending_high = 0;
  auto put_unit = [&](char32_t u) {
    if (pending_high != 0) {
      if (u >= 0xDC00 && u <= 0xDFFF) {
        AppendUTF8(VChars, 0x10000 + ((pending_high - 0xD800) << 10) + (u - 0xDC00));
        pending_high = 0;
        return;
      }
      AppendUTF8(VChars, kReplacement);
      ++lost;
      pending_high = 0;
    }
    if (u >= 0xD800 && u <= 0xDBFF) {
      pending_high = u;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      AppendUTF8(VChars, kReplacement);
      ++lost;
    } else {
      AppendUTF8(VChars, u);
    }
  };
  auto end_run = [&]() {
    if (pending_high != 0) {
      AppendUTF8(VChars, kReplacement);
      ++lost;
      pending_high = 0;
    }
  };
  std::size_t i = 0;
  while (i < ACount) {
    const std::uint8_t c = ABytes[i];
    if (c != '+') {
      if (c < 0x80) {
        VChars += static_cast<char>(c);
      } else {
        AppendUTF8(VChars, kReplacement);
        ++lost;
      }
      ++i;
      continue;
    }
    ++i;
    if (i < ACount && ABytes[i] == '-') {
      VChars += '+';
      ++i;
      continue;
    }
    std::uint32_t bits = 0;
    int bit_count = 0;
    while (i < ACount && IsBase64Char(ABytes[i])) {
      bits = (bits << 6) | static_cast<std::uint32_t>(Base64Value(ABytes[i]));
      bit_count += 6;
      if (bit_count >= 16) {
        bit_count -= 16;
        put_unit((bits >> bit_count) & 0xFFFF);
      }
      ++i;
    }
    end_run();
    if (i < ACount && ABytes[i] == '-') ++i;  // the run's end mark is absorbed
  }
  return lost;
}

// ---------------------------------------------------------------------------------------------
// Code pages through iconv

namespace {

// iconv names of the code-page numbers that are not simply "CP<number>".
const char* KnownCodePageName(int ACodePage) {
  switch (ACodePage) {
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 28591:
      return "ISO-8859-1";
    case 28592:
      return "ISO-8859-2";
    case 28593:
      return "ISO-8859-3";
    case 28594:
      return "ISO-8859-4";
    case 28595:
      return "ISO-8859-5";
    case 28596:
      return "ISO-8859-6";
    case 28597:
      return "ISO-8859-7";
    case 28598:
      return "ISO-8859-8";
    case 28599:
      return "ISO-8859-9";
    case 28603:
      return "ISO-8859-13";
    case 28605:
      return "ISO-8859-15";
    case 20932:
    case 51932:
      return "EUC-JP";
    case 50220:
    case 50221:
    case 50222:
      return "ISO-2022-JP";
    case 51936:
      return "EUC-CN";
    case 51949:
      return "EUC-KR";
    case 52936:
      return "HZ";
    case 54936:
      return "GB18030";
    case 10000:
      return "MACINTOSH";
    case 12000:
      return "UTF-32LE";
    case 12001:
      return "UTF-32BE";
    case 20127:
      return "US-ASCII";
    case 1200:
      return "UTF-16LE";
    case 1201:
      return "UTF-16BE";
    case 65000:
      return "UTF-7";
    case 65001:
      return "UTF-8";
    default:
      return nullptr;
  }
}

std::string CodePageName(int ACodePage) {
  if (const char* known = KnownCodePageName(ACodePage)) return known;
  return "CP" + std::to_string(ACodePage);
}

}  // namespace

// One direction of an iconv conversion. iconv descriptors keep state, so each use is
// serialised.
struct TIdMBCSEncoding::TConverter {
  iconv_t cd = reinterpret_cast<iconv_t>(-1);
  std::mutex lock;
  ~TConverter() {
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
  }
};

TIdMBCSEncoding::TIdMBCSEncoding() : TIdMBCSEncoding(65001, "UTF-8") {}

TIdMBCSEncoding::TIdMBCSEncoding(int ACodePage)
    : TIdMBCSEncoding(ACodePage, CodePageName(ACodePage)) {}

TIdMBCSEncoding::TIdMBCSEncoding(int ACodePage, const std::string& ACharSetName)
    : FCodePage(ACodePage),
      FCharSetName(ACharSetName),
      FToBytes(std::make_unique<TConverter>()),
      FToText(std::make_unique<TConverter>()) {
  FToBytes->cd = iconv_open(FCharSetName.c_str(), "UTF-8");
  FToText->cd = iconv_open("UTF-8", FCharSetName.c_str());
  if (FToBytes->cd == reinterpret_cast<iconv_t>(-1) ||
      FToText->cd == reinterpret_cast<iconv_t>(-1)) {
    throw EIdException(Format("Invalid codepage (%d)", ACodePage));
  }
}

TIdMBCSEncoding::~TIdMBCSEncoding() = default;

namespace {

// Runs iconv over the whole input. On a sequence it cannot convert, AOnBad is told and
// returns how many input bytes to skip. Output is appended to VOut.
template <class TOut, class TOnBad>
void RunIconv(iconv_t cd, const std::uint8_t* AIn, std::size_t ACount, TOut& VOut, TOnBad AOnBad) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // initial state
  char* in = const_cast<char*>(reinterpret_cast<const char*>(AIn));
  std::size_t in_left = ACount;
  char chunk[4096];
  auto drain = [&](char* end) { VOut.insert(VOut.end(), chunk, end); };
  while (true) {
    char* out = chunk;
    std::size_t out_left = sizeof(chunk);
    const std::size_t r = in_left > 0 ? iconv(cd, &in, &in_left, &out, &out_left)
                                      : iconv(cd, nullptr, nullptr, &out, &out_left);
    const int err = r == static_cast<std::size_t>(-1) ? errno : 0;
    drain(out);
    if (err == E2BIG) continue;
    if (err == EILSEQ || err == EINVAL) {
      const std::size_t skip =
          std::min(in_left, AOnBad(reinterpret_cast<const std::uint8_t*>(in), in_left));
      in += skip;
      in_left -= skip;
      continue;
    }
    if (in_left == 0 && err == 0 && r != static_cast<std::size_t>(-1)) {
      // Input done: one more call with no input writes the closing shift sequence.
      char* out2 = chunk;
      std::size_t out_left2 = sizeof(chunk);
      iconv(cd, nullptr, nullptr, &out2, &out_left2);
      drain(out2);
      return;
    }
  }
}

}  // namespace

std::size_t TIdMBCSEncoding::Encode(const std::string& AChars, TIdBytes& VBytes) const {
  std::lock_guard<std::mutex> guard(FToBytes->lock);
  std::size_t lost = 0;
  iconv_t cd = FToBytes->cd;
  RunIconv(cd, reinterpret_cast<const std::uint8_t*>(AChars.data()), AChars.size(), VBytes,
           [&](const std::uint8_t* at, std::size_t left) -> std::size_t {
             // The character has no representation (or is not valid UTF-8): "?" instead,
             // converted through the same descriptor so a shift state stays right.
             ++lost;
             char q[] = "?";
             char* qin = q;
             std::size_t qleft = 1;
             char buf[16];
             char* qout = buf;
             std::size_t qout_left = sizeof(buf);
             iconv(cd, &qin, &qleft, &qout, &qout_left);
             VBytes.insert(VBytes.end(), buf, qout);
             std::size_t i = 0;
             char32_t cp = 0;
             NextUTF8CodePoint(at, left, i, cp);
             return std::max<std::size_t>(1, i);
           });
  return lost;
}

std::size_t TIdMBCSEncoding::Decode(const std::uint8_t* ABytes, std::size_t ACount,
                                    std::string& VChars) const {
  std::lock_guard<std::mutex> guard(FToText->lock);
  std::size_t lost = 0;
  RunIconv(FToText->cd, ABytes, ACount, VChars,
           [&](const std::uint8_t*, std::size_t) -> std::size_t {
             AppendUTF8(VChars, kReplacement);
             ++lost;
             return 1;
           });
  return lost;
}

// ---------------------------------------------------------------------------------------------
// Shared instances

namespace {

std::atomic<TIdTextEncodingType> g_default_kind{encASCII};

std::mutex& CacheLock() {
  static std::mutex lock;
  return lock;
}

std::map<int, std::unique_ptr<TIdMBCSEncoding>>& CodePageCache() {
  static std::map<int, std::unique_ptr<TIdMBCSEncoding>> cache;
  return cache;
}

std::map<std::string, std::unique_ptr<TIdMBCSEncoding>>& NameCache() {
  static std::map<std::string, std::unique_ptr<TIdMBCSEncoding>> cache;
  return cache;
}

// The one instance of encoding class T that every caller shares.
template <class T>
const IIdTextEncoding* SharedInstance() {
  static const T instance;
  return &instance;
}

}  // namespace

TIdTextEncodingType GIdDefaultTextEncoding() {
  return g_default_kind.load();
}

void SetGIdDefaultTextEncoding(TIdTextEncodingType AValue) {
  g_default_kind.store(AValue == encIndyDefault ? encASCII : AValue);
}

const IIdTextEncoding* IndyTextEncoding_8Bit() {
  return SharedInstance<TId8BitEncoding>();
}
const IIdTextEncoding* IndyTextEncoding_ASCII() {
  return SharedInstance<TIdASCIIEncoding>();
}
const IIdTextEncoding* IndyTextEncoding_UTF16BE() {
  return SharedInstance<TIdUTF16BigEndianEncoding>();
}
const IIdTextEncoding* IndyTextEncoding_UTF16LE() {
  return SharedInstance<TIdUTF16LittleEndianEncoding>();
}
const IIdTextEncoding* IndyTextEncoding_UTF7() {
  return SharedInstance<TIdUTF7Encoding>();
}
const IIdTextEncoding* IndyTextEncoding_UTF8() {
  return SharedInstance<TIdUTF8Encoding>();
}
// The system code page of this platform is UTF-8.
const IIdTextEncoding* IndyTextEncoding_OSDefault() {
  return IndyTextEncoding_UTF8();
}
const IIdTextEncoding* IndyTextEncoding_Default() {
  return IndyTextEncoding(GIdDefaultTextEncoding());
}

const IIdTextEncoding* IndyTextEncoding(TIdTextEncodingType AType) {
  switch (AType) {
    case encIndyDefault:
      return IndyTextEncoding_Default();
    case encOSDefault:
      return IndyTextEncoding_OSDefault();
    case enc8Bit:
      return IndyTextEncoding_8Bit();
    case encASCII:
      return IndyTextEncoding_ASCII();
    case encUTF16BE:
      return IndyTextEncoding_UTF16BE();
    case encUTF16LE:
      return IndyTextEncoding_UTF16LE();
    case encUTF7:
      return IndyTextEncoding_UTF7();
    case encUTF8:
      return IndyTextEncoding_UTF8();
  }
  return IndyTextEncoding_ASCII();
}

const IIdTextEncoding* IndyTextEncoding(int ACodepage) {
  switch (ACodepage) {
    case 1200:
      return IndyTextEncoding_UTF16LE();
    case 1201:
      return IndyTextEncoding_UTF16BE();
    case 20127:
      return IndyTextEncoding_ASCII();
    case 65000:
      return IndyTextEncoding_UTF7();
    case 65001:
      return IndyTextEncoding_UTF8();
    default:
      break;
  }
  std::lock_guard<std::mutex> guard(CacheLock());
  auto& cache = CodePageCache();
  auto it = cache.find(ACodepage);
  if (it == cache.end()) {
    it = cache.emplace(ACodepage, std::make_unique<TIdMBCSEncoding>(ACodepage)).first;
  }
  return it->second.get();
}

const IIdTextEncoding* IndyTextEncoding(const std::string& ACharSetName) {
  const std::string name = UpperAscii(TrimText(ACharSetName));
  if (name == "UTF-8" || name == "UTF8") return IndyTextEncoding_UTF8();
  if (name == "UTF-16LE") return IndyTextEncoding_UTF16LE();
  if (name == "UTF-16BE" || name == "UTF-16") return IndyTextEncoding_UTF16BE();
  if (name == "US-ASCII" || name == "ASCII") return IndyTextEncoding_ASCII();
  if (name == "UTF-7") return IndyTextEncoding_UTF7();
  std::lock_guard<std::mutex> guard(CacheLock());
  auto& cache = NameCache();
  auto it = cache.find(name);
  if (it == cache.end()) {
    it = cache.emplace(name, std::make_unique<TIdMBCSEncoding>(0, name)).first;
  }
  return it->second.get();
}

const IIdTextEncoding* EnsureEncoding(const IIdTextEncoding* AEncoding) {
  return AEncoding != nullptr ? AEncoding : IndyTextEncoding_Default();
}

TIdBytes ToBytes(const std::string& AText, const IIdTextEncoding* AByteEncoding) {
  return EnsureEncoding(AByteEncoding)->GetBytes(AText);
}

std::string BytesToString(const TIdBytes& ABytes, const IIdTextEncoding* AByteEncoding) {
  return EnsureEncoding(AByteEncoding)->GetString(ABytes);
}

std::string BytesToString(const TIdBytes& ABytes, int AStartIndex, int ALength,
                          const IIdTextEncoding* AByteEncoding) {
  return EnsureEncoding(AByteEncoding)->GetString(ABytes, AStartIndex, ALength);
}

std::size_t UTF16Length(const std::string& AText) {
  std::size_t units = 0;
  for (std::size_t i = 0; i < AText.size();) {
    char32_t cp = 0;
    const bool ok = NextUTF8CodePoint(AText, i, cp);
    units += ok && cp >= 0x10000 ? 2 : 1;
  }
  return units;
}

}  // namespace brv

#include "sqs/brvHTTP_Amazon_SQS.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <unistd.h>

#include "base/UTF8.h"
#include "tests/support/TempDir.h"

namespace brv {
namespace {

std::string UTF8(char32_t Code) {
  std::string out;
  AppendUTF8(out, Code);
  return out;
}

// Random texts drawn from all of Unicode (every scalar value, ASCII and the specials of a
// query string favoured), as (text, its code points).
class TTextSource {
 public:
  explicit TTextSource(unsigned Seed) : random_(Seed) {}

  std::vector<char32_t> Next() {
    std::vector<char32_t> codes(std::uniform_int_distribution<int>(0, 40)(random_));
    for (char32_t& code : codes) code = NextCode();
    return codes;
  }

 private:
  char32_t NextCode() {
    static const char32_t kSpecials[] = {'&',  '=', '+', '%', '#', ' ', '\r',
                                         '\n', ';', '<', '>', '"', '\''};
    switch (std::uniform_int_distribution<int>(0, 3)(random_)) {
      case 0:
        return kSpecials[std::uniform_int_distribution<size_t>(0,
                                                               std::size(kSpecials) - 1)(random_)];
      case 1:
        return std::uniform_int_distribution<char32_t>(0, 0x7F)(random_);
      default: {
        char32_t code;
        do {
          code = std::uniform_int_distribution<char32_t>(0x80, 0x10FFFF)(random_);
        } while (code >= 0xD800 && code <= 0xDFFF);  // surrogates are no characters
        return code;
      }
    }
  }

  std::mt19937 random_;
};

std::string Join(const std::vector<char32_t>& Codes) {
  std::string text;
  for (char32_t code : Codes) text += UTF8(code);
  return text;
}

// A plain application/x-www-form-urlencoded decoder, as any server runs it on a query.
std::map<std::string, std::string> DecodeQuery(const std::string& Query) {
  const auto unescape = [](const std::string& part) {
    std::string out;
    for (size_t i = 0; i < part.size(); ++i) {
      if (part[i] == '+') {
        out += ' ';
      } else if (part[i] == '%' && i + 2 < part.size() && std::isxdigit(part[i + 1]) &&
                 std::isxdigit(part[i + 2])) {
        out += static_cast<char>(std::stoi(part.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        out += part[i];
      }
    }
    return out;
  };
  std::map<std::string, std::string> result;
  size_t start = 0;
  while (start <= Query.size()) {
    size_t end = Query.find('&', start);
    if (end == std::string::npos) end = Query.size();
    const std::string pair = Query.substr(start, end - start);
    const size_t eq = pair.find('=');
    result[unescape(pair.substr(0, eq))] =
        eq == std::string::npos ? "" : unescape(pair.substr(eq + 1));
    start = end + 1;
  }
  return result;
}

bool IsCanonical(const std::string& Encoded) {
  for (size_t i = 0; i < Encoded.size(); ++i) {
    const char c = Encoded[i];
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == '~')
      continue;
    if (c != '%' || i + 2 >= Encoded.size()) return false;
    for (int k = 1; k <= 2; ++k) {
      const char h = Encoded[i + k];
      if (!((h >= '0' && h <= '9') || (h >= 'A' && h <= 'F'))) return false;
    }
    i += 2;
  }
  return true;
}

TEST(SQSEncodingProperty, EncodedValuesDecodeToTheSameUTF8Bytes) {
  TTextSource source(20240305);
  for (int round = 0; round < 2000; ++round) {
    const std::string name = Join(source.Next()), value = Join(source.Next());
    const std::string encoded_name = EncodeURLValue(name), encoded_value = EncodeURLValue(value);
    ASSERT_TRUE(IsCanonical(encoded_value)) << encoded_value;
    ASSERT_TRUE(IsCanonical(encoded_name)) << encoded_name;
    const auto decoded = DecodeQuery("Action=SendMessage&" + encoded_name + "=" + encoded_value);
    const auto it = decoded.find(name);
    ASSERT_NE(it, decoded.end()) << encoded_name;
    ASSERT_EQ(it->second, value) << encoded_value;
  }
}

std::string Hex(const std::string& Bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : Bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

// Python's urllib gives the reference: quote() with only "-_.~" safe is the canonical query
// encoding, and parse_qsl() is a standard query-string decoder.
TEST(SQSEncodingProperty, PythonAgreesOnEncodingAndDecoding) {
  if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
  const testing::TTempDir scratch("sqs-encoding");
  const std::string file = scratch.File("rows.txt");
  {
    std::ofstream out(file);
    TTextSource source(777);
    for (int round = 0; round < 500; ++round) {
      const std::string text = Join(source.Next());
      out << Hex(text) << ' ' << EncodeURLValue(text) << '\n';
    }
  }
  const std::string script =
      "import sys, urllib.parse\n"
      "bad = 0\n"
      "for line in open(sys.argv[1]):\n"
      "    raw_hex, _, enc = line.rstrip('\\n').partition(' ')\n"
      "    raw = bytes.fromhex(raw_hex)\n"
      "    ok = urllib.parse.quote(raw, safe='-_.~') == enc\n"
      "    pairs = urllib.parse.parse_qsl('Action=X&v=' + enc, keep_blank_values=True,\n"
      "                                   encoding='utf-8', errors='surrogateescape')\n"
      "    ok = ok and pairs[1][1].encode('utf-8', 'surrogateescape') == raw\n"
      "    if not ok:\n"
      "        bad += 1\n"
      "        print('mismatch:', raw_hex, enc)\n"
      "print('checked')\n"
      "sys.exit(1 if bad else 0)\n";
  const std::string command =
      "/usr/bin/python3 -c \"$(cat <<'PYEOF'\n" + script + "PYEOF\n)\" " + file;
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = pclose(pipe);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("checked"), std::string::npos) << output;
}

bool IsXMLChar(char32_t Code) {
  return Code == 0x9 || Code == 0xA || Code == 0xD || (Code >= 0x20 && Code <= 0xD7FF) ||
         (Code >= 0xE000 && Code <= 0xFFFD) || (Code >= 0x10000 && Code <= 0x10FFFF);
}

TEST(SQSEncodingProperty, EntityDecodingInvertsEscapesAndNumericReferences) {
  TTextSource source(4242);
  std::mt19937 random(99);
  const auto chance = [&](int percent) {
    return std::uniform_int_distribution<int>(0, 99)(random) < percent;
  };
  for (int round = 0; round < 2000; ++round) {
    const std::vector<char32_t> codes = source.Next();
    std::string escaped;
    for (char32_t code : codes) {
      if (IsXMLChar(code) && chance(30)) {
        char reference[32];
        const char* zeros = chance(20) ? "00" : "";
        if (chance(50))
          std::snprintf(reference, sizeof reference, "&#%s%u;", zeros, static_cast<unsigned>(code));
        else
          std::snprintf(reference, sizeof reference, chance(50) ? "&#x%s%X;" : "&#x%s%x;", zeros,
                        static_cast<unsigned>(code));
        escaped += reference;
        continue;
      }
      switch (code) {
        case '&':
          escaped += "&amp;";
          break;
        case '<':
          escaped += "&lt;";
          break;
        case '>':
          escaped += "&gt;";
          break;
        case '"':
          escaped += "&quot;";
          break;
        case '\'':
          escaped += "&apos;";
          break;
        default:
          escaped += UTF8(code);
      }
    }
    ASSERT_EQ(DecodeXMLEntities(escaped), Join(codes)) << escaped;
  }
}

}  // namespace
}  // namespace brv

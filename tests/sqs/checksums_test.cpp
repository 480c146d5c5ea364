// The message digests against an independent computation: a few lines of Python that follow
// AWS's published description of MD5OfMessageAttributes, run on the same attributes.
#include "sqs/brvSQSChecksums.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/IdAuthentication.h"

namespace brv {
namespace {

struct TAttribute {
  std::string Name, Type, Value;  // a Binary value as base64 text
};

// Each argument: attributes joined by ",", each as hex(name).hex(type).hex(value); prints the
// MD5 of each argument's attributes, or of the body when the argument starts with "body.".
constexpr const char* kReference = R"PY(
import base64, hashlib, struct, sys
def field(b): return struct.pack('>I', len(b)) + b
for arg in sys.argv[1:]:
    if arg.startswith('body.'):
        print(hashlib.md5(bytes.fromhex(arg[5:])).hexdigest()); continue
    attrs = [tuple(bytes.fromhex(p) for p in a.split('.')) for a in arg.split(',')]
    data = b''
    for name, dtype, value in sorted(attrs):
        binary = dtype.split(b'.')[0] == b'Binary'
        data += field(name) + field(dtype) + (b'\x02' if binary else b'\x01')
        data += field(base64.b64decode(value) if binary else value)
    print(hashlib.md5(data).hexdigest())
)PY";

std::string Hex(const std::string& Bytes) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (const unsigned char c : Bytes) {
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}

std::vector<std::string> Reference(const std::vector<std::string>& Arguments) {
  std::string command = "/usr/bin/python3 -c \"$BRV_PY\"";
  for (const std::string& argument : Arguments) command += " " + argument;
  setenv("BRV_PY", kReference, 1);
  std::vector<std::string> lines;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return lines;
  char line[128];
  while (std::fgets(line, sizeof line, pipe) != nullptr) lines.emplace_back(line, 32);
  pclose(pipe);
  return lines;
}

TEST(SQSChecksums, AttributeAndBodyDigestsMatchAnIndependentComputation) {
  const std::vector<std::vector<TAttribute>> sets = {
      {{"colour", "String", "blue green"}},
      {{"count", "Number", "42"}},
      {{"picture", "Binary", "AAEC/w=="}},  // 00 01 02 ff
      // Custom suffixes keep their type's transport byte; names are sorted.
      {{"zeta", "Number.float", "3.25"},
       {"alpha", "String.custom", "x"},
       {"Mid", "Binary.gif", "R0lGODlh"},
       {"beta", "String", "gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80"}},
  };
  const std::vector<std::string> bodies = {"", "order 1 & 2", "gr\xC3\xBC\xC3\x9F\r\n\t<>"};
  std::vector<std::string> arguments;
  std::vector<std::string> ours;
  for (const auto& set : sets) {
    std::string argument;
    TbrvSQSMessageAttributes attributes;
    for (const TAttribute& a : set) {
      if (!argument.empty()) argument += ",";
      argument += Hex(a.Name) + "." + Hex(a.Type) + "." + Hex(a.Value);
      attributes.AddSQSAttribute(a.Name, a.Type, a.Value);
    }
    arguments.push_back(argument);
    ours.push_back(SQSMessageAttributesMD5(attributes));
  }
  for (const std::string& body : bodies) {
    arguments.push_back("body." + Hex(body));
    ours.push_back(SQSMD5Hex(body));
  }
  const std::vector<std::string> reference = Reference(arguments);
  ASSERT_EQ(reference.size(), arguments.size()) << "python3 did not answer every row";
  for (size_t i = 0; i < ours.size(); ++i) EXPECT_EQ(ours[i], reference[i]) << "row " << i;
  EXPECT_EQ(SQSMessageAttributesMD5(TbrvSQSMessageAttributes()), "");
}

// A Binary value is digested as the bytes its base64 text decodes to; text that does not
// decode is digested as it stands (the same as the value that encodes that text exactly).
TEST(SQSChecksums, BinaryValuesDecodeByTheirLongStandingRules) {
  struct Row {
    std::string value;
    std::string same_as;  // a plain encoding of the bytes digested; empty: the text itself
  };
  const Row rows[] = {
      {"Zm 9v\r\nYm\tFy\v\f", "Zm9vYmFy"},  // white space anywhere is skipped
      {"Zg=\n=", "Zg=="},
      {"Zm9v-----END", "Zm9v"},  // a '-' ends the text
      {"Zm9vA===", "Zm9v"},      // a last group of "A===" adds nothing
      {"Zg", ""},                // padding missing
      {"Zg=", ""},
      {"Zg===", ""},  // padding beyond the group
      {"Zm9v=", ""},
      {"Zh==", ""},  // bits left over
      {"Zm9=", ""},
      {"A===", ""},      // no bytes at all
      {"Zg==Zg==", ""},  // data after the padding
      {"Zm9_", ""},      // not of the alphabet
      {std::string("Zm9v\0", 5), ""},
      {"-Zm9v", ""},
      {" \n", ""},
  };
  for (const Row& row : rows) {
    TbrvSQSMessageAttributes quirky, plain;
    quirky.AddSQSAttribute("a", "Binary", row.value);
    plain.AddSQSAttribute("a", "Binary",
                          row.same_as.empty() ? EncodeBase64(row.value) : row.same_as);
    EXPECT_EQ(SQSMessageAttributesMD5(quirky), SQSMessageAttributesMD5(plain)) << row.value;
  }
}

TEST(SQSChecksums, ADigestMatchesOnlyTheSameHexDigits) {
  const std::string md5 = SQSMD5Hex("x");
  std::string upper = md5;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_TRUE(SQSDigestMatches(upper, md5));
  EXPECT_FALSE(SQSDigestMatches("", SQSMD5Hex("")));
  EXPECT_FALSE(SQSDigestMatches(md5.substr(1), md5));
  EXPECT_FALSE(SQSDigestMatches(SQSMD5Hex("y"), md5));
}

}  // namespace
}  // namespace brv

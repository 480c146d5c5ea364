#include "aws/brvAWSConfigFile.h"

#include <gtest/gtest.h>

#include "support/TempHome.h"

namespace {

using brv::EbrvAWSConfigError;
using brv::TbrvAWSConfigFile;

// "section.key=value" for every plain setting and "section.key.sub=value" for every nested
// one, in order, so that one string shows what a file holds.
std::string Dump(const TbrvAWSConfigFile& File) {
  std::string out;
  for (const auto& section : File.Sections()) {
    out += "[" + section.Name + "]";
    for (const auto& [key, value] : section.Values) {
      if (value.IsNested) {
        for (const auto& [sub, text] : value.Nested) out += " " + key + "." + sub + "=" + text;
      } else {
        out += " " + key + "=" + value.Text;
      }
    }
  }
  return out;
}

struct TFormatRow {
  const char* Rule;
  const char* Text;
  const char* Expected;
};

class FormatRule : public ::testing::TestWithParam<TFormatRow> {};

TEST_P(FormatRule, ReadsAsAWSToolsDo) {
  EXPECT_EQ(Dump(TbrvAWSConfigFile::Parse(GetParam().Text, "f")), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FormatRule,
    ::testing::Values(
        TFormatRow{"empty", "", ""},
        TFormatRow{"whitespace trimmed around names, keys and values",
                   "  [ default ]  \n  region   =   eu-west-1   \n", "[default] region=eu-west-1"},
        TFormatRow{"full-line comments with # and ;, indented too",
                   "# top\n[a]\n; note\n   # indented\nx = 1\n", "[a] x=1"},
        TFormatRow{"# and ; inside a value belong to it", "[a]\nx = p#q ; r\ny=#z\n",
                   "[a] x=p#q ; r y=#z"},
        TFormatRow{"text after the header's last ] is ignored", "[a] ; comment\nx=1\n", "[a] x=1"},
        TFormatRow{"colon separates too; the first separator counts",
                   "[a]\nx: http://h:1/p=q\ny = a:b\n", "[a] x=http://h:1/p=q y=a:b"},
        TFormatRow{"keys are lower-cased", "[a]\nAWS_Access_Key_ID = K\n",
                   "[a] aws_access_key_id=K"},
        TFormatRow{"empty value", "[a]\nx =\n", "[a] x="},
        TFormatRow{"CR LF line ends and a byte-order mark", "\xEF\xBB\xBF[a]\r\nx = 1\r\n",
                   "[a] x=1"},
        TFormatRow{"indented lines under an empty value form a sub-section",
                   "[services s]\nsqs =\n  endpoint_url = http://h\n\n  # c\n  other=2\nx=3\n",
                   "[services s] sqs.endpoint_url=http://h sqs.other=2 x=3"},
        TFormatRow{"indented lines under a value continue it", "[a]\nx = one\n  two\ny=1\n",
                   "[a] x=one\ntwo y=1"},
        TFormatRow{"an indented setting that follows a header is an ordinary one",
                   "[a]\n   x = 1\n   y = 2\n", "[a] x=1 y=2"},
        TFormatRow{"several sections keep their order", "[b]\nx=1\n[a]\nx=2\n", "[b] x=1[a] x=2"}),
    [](const auto& Info) { return "Row" + std::to_string(Info.index); });

struct TErrorRow {
  const char* Rule;
  const char* Text;
  int Line;
  const char* Reason;
};

class FormatError : public ::testing::TestWithParam<TErrorRow> {};

// Each malformed file is refused with the file and the line named, and without the line's
// text: a broken line may well hold a secret key.
TEST_P(FormatError, NamesFileAndLineButNeverTheLinesText) {
  try {
    TbrvAWSConfigFile::Parse(GetParam().Text, "/home/u/.aws/credentials");
    FAIL() << GetParam().Rule << ": accepted";
  } catch (const EbrvAWSConfigError& e) {
    const std::string expected = "Unable to parse config file: /home/u/.aws/credentials, line " +
                                 std::to_string(GetParam().Line) + ": ";
    EXPECT_EQ(e.Message().substr(0, expected.size()), expected) << e.Message();
    EXPECT_NE(e.Message().find(GetParam().Reason), std::string::npos) << e.Message();
    EXPECT_EQ(e.Message().find("SECRET"), std::string::npos) << e.Message();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FormatError,
    ::testing::Values(
        TErrorRow{"setting before any section", "# c\naws_secret_access_key = SECRET\n", 2,
                  "before the first [section]"},
        TErrorRow{"a line without separator", "[a]\naws_secret_access_key SECRET\n", 2,
                  "neither a [section] header"},
        TErrorRow{"a setting without a name", "[a]\n= SECRET\n", 2, "without a name"},
        TErrorRow{"an empty header is no header", "[a]\n[]\n", 2, "neither a [section] header"},
        TErrorRow{"a section twice", "[a]\nx=1\n[a]\n", 3,
                  "section [a] already appeared on line 1"},
        TErrorRow{"a setting twice, whatever its case", "[a]\nx=1\nX=SECRET\n", 3,
                  "setting x already appeared in section [a] on line 2"},
        TErrorRow{"a sub-setting without =", "[s]\nsqs =\n  endpoint_url = h\n  SECRET\n", 4,
                  "a sub-setting without"}),
    [](const auto& Info) { return "Row" + std::to_string(Info.index); });

TEST(ConfigFileLoad, AMissingFileIsEmptyAndAnUnreadableOneAnError) {
  brv::testing::TTempHome home;
  EXPECT_TRUE(TbrvAWSConfigFile::Load(home.Path() + "/none/config").Sections().empty());
  const auto file = TbrvAWSConfigFile::Load(home.Write("config", "[default]\nregion=x\n"));
  ASSERT_NE(file.Section("default"), nullptr);
  EXPECT_EQ(file.Section("default")->Text("region"), "x");
  EXPECT_THROW(TbrvAWSConfigFile::Load(home.Path()), EbrvAWSConfigError);  // a directory
}

}  // namespace

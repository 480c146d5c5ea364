// The command's JSON text: what a terminal must not act on is escaped, ill-formed UTF-8 is
// replaced, and the text reads back to the same values.
#include "cli/SQSJsonOutput.h"

#include <gtest/gtest.h>

#include <sstream>

namespace brv {
namespace {

TEST(SQSJsonOutput, EscapesControlsAndReplacesIllFormedText) {
  struct TCase {
    std::string Value, Written;
  };
  const std::vector<TCase> cases = {
      {"plain \xC3\xA9 \xE2\x82\xAC", "plain \xC3\xA9 \xE2\x82\xAC"},
      {"a\"b\\c", "a\\\"b\\\\c"},
      {std::string("\x01\n\x1b[2J\x7f", 7), "\\u0001\\n\\u001b[2J\\u007f"},
      {"\xC2\x85\xC2\x9B", "\\u0085\\u009b"},  // C1
      {"\xE2\x80\xAE"
       "abc\xE2\x81\xA6",
       "\\u202eabc\\u2066"},             // bidirectional controls
      {"\xE2\x80\xAF", "\xE2\x80\xAF"},  // the next one is kept
      {"a\xFF"
       "b\xC3",
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"},  // ill-formed: U+FFFD
  };
  for (const TCase& c : cases) {
    // Every row's text is valid JSON that reads back as its written form says.
    const std::string text = SQSJsonText(TSQSJson{{"Body", c.Value}});
    EXPECT_EQ(text, "{\n    \"Body\": \"" + c.Written + "\"\n}") << c.Written;
    EXPECT_EQ(nlohmann::json::parse(text)["Body"], nlohmann::json::parse("\"" + c.Written + "\""));
  }
}

TEST(SQSJsonOutput, EmptyAnswersPrintNothing) {
  std::ostringstream out;
  WriteSQSJson(out, SQSQueueUrlsJson("QueueUrls", TStringList()));
  WriteSQSJson(out, SQSMessagesJson(TbrvSQSReceiveMessageResponses()));
  WriteSQSJson(out, SQSTagsJson(TbrvSQSTags()));
  EXPECT_EQ(out.str(), "");
  TStringList urls;
  urls.Add("http://h/1/q");
  WriteSQSJson(out, SQSQueueUrlsJson("QueueUrls", urls));
  EXPECT_EQ(out.str(), "{\n    \"QueueUrls\": [\n        \"http://h/1/q\"\n    ]\n}\n");
}

}  // namespace
}  // namespace brv

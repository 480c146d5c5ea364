// The command's JSON text: what a terminal must not act on is escaped, ill-formed UTF-8 is
// replaced, and the text reads back to the same values.
#include "cli/SQSJsonOutput.h"

#include <gtest/gtest.h>

#include <memory>
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
    // The one-line form of a stream escapes the same, line breaks included.
    std::ostringstream line;
    WriteSQSJsonLine(line, TSQSJson{{"Body", c.Value}});
    EXPECT_EQ(line.str(), "{\"Body\":\"" + c.Written + "\"}\n");
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

// A finished task has no handle, and what the service did not say is left out, not printed
// as a zero or -1.
TEST(SQSJsonOutput, MoveTasksListOnlyWhatIsKnown) {
  TbrvSQSMessageMoveTasks tasks;
  EXPECT_EQ(SQSMessageMoveTasksJson(tasks), (TSQSJson{{"Results", TSQSJson::array()}}));
  auto done = std::make_unique<TbrvSQSMessageMoveTask>();
  done->Status = "COMPLETED";
  done->SourceArn = "arn:dlq";
  done->ApproximateNumberOfMessagesMoved = 12;
  tasks.AdoptItem(std::move(done));
  auto running = std::make_unique<TbrvSQSMessageMoveTask>();
  running->SetTaskHandle("h");
  running->Status = "RUNNING";
  running->SourceArn = "arn:dlq";
  running->DestinationArn = "arn:q";
  running->MaxNumberOfMessagesPerSecond = 5;
  running->ApproximateNumberOfMessagesToMove = 0;
  running->StartedTimestamp = 1700000000000;
  tasks.AdoptItem(std::move(running));
  EXPECT_EQ(SQSMessageMoveTasksJson(tasks).dump(),
            R"({"Results":[{"Status":"COMPLETED","SourceArn":"arn:dlq",)"
            R"("ApproximateNumberOfMessagesMoved":12},{"TaskHandle":"h","Status":"RUNNING",)"
            R"("SourceArn":"arn:dlq","DestinationArn":"arn:q","MaxNumberOfMessagesPerSecond":5,)"
            R"("ApproximateNumberOfMessagesMoved":0,"ApproximateNumberOfMessagesToMove":0,)"
            R"("StartedTimestamp":1700000000000}]})");
}

}  // namespace
}  // namespace brv

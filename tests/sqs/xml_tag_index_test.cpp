#include "sqs/private/XMLTagIndex.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/StringList.h"
#include "sqs/brvHTTP_Amazon_SQS.h"

namespace brv {
namespace {

using sqs_detail::TXMLTagIndex;

// The index must find, in every part of a text, exactly what the plain text search finds in
// that part on its own: the receive path reads its elements through the index, the other
// answers through the text search.
TEST(SQSXMLTagIndex, FindsWhatTheTextSearchFindsInEveryPart) {
  const std::vector<std::string> texts = {
      "<a><b>1</b><b>2</b></a>",
      "<a></b>x<b>y</b></a>",         // closing tag first
      "<b attr=\"1\">x</b><b>y</b>",  // a tag with attributes is no match
      "<v><v>in</v></v>",             // nested, same name
      "<<b>>x</b>>",                  // stray brackets around the tags
      "<b>x</b",                      // unterminated closing tag
      "<b></b><b>x</b>",              // empty element first
      "<a>b>x</a>b>",                 // a name holding '>'
      "<Message><MessageId>1</MessageId><Body>&lt;x&gt;</Body></Message><Message>2</Message>",
      "no tags at all",
      "",
  };
  const std::vector<std::string> tags = {"a", "b", "v", "", "a>b", "Message", "MessageId", "Body"};
  for (const std::string& text : texts) {
    const TXMLTagIndex index(text);
    for (const std::string& tag : tags) {
      for (size_t from = 0; from <= text.size(); ++from) {
        for (size_t to = from; to <= text.size(); ++to) {
          const std::string part = text.substr(from, to - from);
          ASSERT_EQ(index.Value(tag, from, to), GetXMLTagValue(part, tag))
              << "tag \"" << tag << "\" in \"" << part << "\"";
        }
      }
      TStringList expected;
      GetXMLTagValues(text, tag, expected);
      std::vector<std::string> found;
      for (const std::string_view value : index.Values(tag, text)) found.emplace_back(value);
      EXPECT_EQ(found, expected.Lines()) << "tag \"" << tag << "\" in \"" << text << "\"";
    }
  }
}

}  // namespace
}  // namespace brv

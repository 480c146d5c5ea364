// Cutting values out of the service's XML answers by text search, and decoding the character
// references of element text. The first byte's low four bits are the length of the element
// name that follows it; the rest is the answer. Every answer is also searched for the names
// the SQS client reads. Any text escaped the way the service escapes element text comes back
// unchanged from its element. The tag index the receive path reads through finds what the text
// search finds.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "base/StringList.h"
#include "sqs/brvHTTP_Amazon_SQS.h"
#include "sqs/private/XMLTagIndex.h"

namespace {

void Search(const std::string& AText, const std::string& ATag) {
  using namespace brv;
  (void)GetXMLTagValue(AText, ATag);
  const std::string decoded = GetXMLTagText(AText, ATag);
  TStringList list;
  GetXMLTagValues(AText, ATag, list);
  if (list.Count() > static_cast<int>(AText.size())) std::abort();
  (void)decoded;
  const sqs_detail::TXMLTagIndex index(AText);
  const std::vector<std::string_view> values = index.Values(ATag, AText);
  bool same = index.Value(ATag, 0, AText.size()) == GetXMLTagValue(AText, ATag) &&
              values.size() == list.Lines().size();
  for (std::size_t i = 0; same && i < values.size(); ++i) same = values[i] == list.Lines()[i];
  if (!same) {
    std::fprintf(stderr, "the tag index and the text search disagree\n");
    std::abort();
  }
}

// Element text as a service writes it: "&", "<" and ">" as references.
std::string Escape(const std::string& AText) {
  std::string out;
  for (char c : AText) {
    if (c == '&')
      out += "&amp;";
    else if (c == '<')
      out += "&lt;";
    else if (c == '>')
      out += "&gt;";
    else
      out += c;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace brv;
  if (size == 0) return 0;
  const std::size_t tag_size = data[0] & 0x0F;
  if (size < 1 + tag_size) return 0;
  const std::string tag(reinterpret_cast<const char*>(data + 1), tag_size);
  const std::string text(reinterpret_cast<const char*>(data + 1 + tag_size), size - 1 - tag_size);
  Search(text, tag);
  for (const char* name : {"QueueUrl", "Code", "Message", "Body", "Value", "Name", "Id"})
    Search(text, name);
  // A reference is never longer than the character it stands for, so decoding never grows
  // the text.
  const std::string decoded = DecodeXMLEntities(text);
  if (decoded.size() > text.size()) {
    std::fprintf(stderr, "decoding grew %zu bytes to %zu\n", text.size(), decoded.size());
    std::abort();
  }
  const std::string document = "<Message><Body>" + Escape(text) + "</Body></Message>";
  if (GetXMLTagText(document, "Body") != text) {
    std::fprintf(stderr, "an escaped body did not come back from its element\n");
    std::abort();
  }
  return 0;
}

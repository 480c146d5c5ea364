// Where the tags of an XML answer are, so that the many elements the SQS client reads from one
// answer are found without searching the whole text again for each.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brv::sqs_detail {

// The tag runs of one text, found in one pass. Value gives what TagValue gives for the part
// [AFrom, ATo) of the text: the text between the first "<Tag>" and the first "</Tag>" in that
// part, or nothing when either is missing or the closing tag comes first.
class TXMLTagIndex {
 public:
  explicit TXMLTagIndex(std::string_view AText) : FText(AText) {
    // An answer has a tag about every twenty bytes: room made once, without counting first.
    FTags.reserve(AText.size() / 16 + 4);
    size_t next_gt = 0;  // the first '>' at or after the last '<' seen
    for (size_t lt = AText.find('<'); lt != std::string_view::npos; lt = AText.find('<', lt + 1)) {
      if (next_gt != std::string_view::npos && next_gt <= lt) next_gt = AText.find('>', lt + 1);
      FTags.push_back({lt, next_gt});
    }
  }

  // Sets AClose to where the closing tag starts (npos when there is none).
  std::string_view Value(std::string_view ATag, size_t AFrom, size_t ATo, size_t& AClose) const {
    AClose = std::string_view::npos;
    if (ATag.find('>') != std::string_view::npos) {
      // A name holding '>' is not one tag run: looked for as plain text.
      const std::string open = "<" + std::string(ATag) + ">";
      const std::string close = "</" + std::string(ATag) + ">";
      const std::string_view part = FText.substr(AFrom, ATo - AFrom);
      const size_t first_open = part.find(open);
      if (first_open == std::string_view::npos) return {};
      const size_t first_close = part.find(close);
      if (first_close != std::string_view::npos) AClose = AFrom + first_close;
      const size_t start = first_open + open.size();
      if (first_close == std::string_view::npos || first_close < start) return {};
      return part.substr(start, first_close - start);
    }
    size_t open, close;
    Find(ATag, AFrom, ATo, open, close);
    if (open == std::string_view::npos) return {};
    AClose = close;
    const size_t start = open + ATag.size() + 2;
    if (close == std::string_view::npos || close < start) return {};
    return FText.substr(start, close - start);
  }

  std::string_view Value(std::string_view ATag, size_t AFrom, size_t ATo) const {
    size_t close;
    return Value(ATag, AFrom, ATo, close);
  }

  // The raw contents of each <ATag> element in APart (a view into the text), as
  // GetXMLTagValues reads them: each search goes on from inside the closing tag just found, and
  // an empty element ends the list.
  std::vector<std::string_view> Values(std::string_view ATag, std::string_view APart) const {
    std::vector<std::string_view> values;
    auto [from, to] = RangeOf(APart);
    for (;;) {
      size_t close;
      const std::string_view value = Value(ATag, from, to, close);
      if (value.empty()) break;
      values.push_back(value);
      from = close + ATag.size();
    }
    return values;
  }

  // The part [AFrom, ATo) of the text from a view into it.
  std::pair<size_t, size_t> RangeOf(std::string_view APart) const {
    const auto from = static_cast<size_t>(APart.data() - FText.data());
    return {from, from + APart.size()};
  }

 private:
  struct TTag {
    size_t Open;  // the '<'
    size_t End;   // the first '>' after it, or npos
  };

  // Where the first "<Tag>" and the first "</Tag>" lie wholly inside [AFrom, ATo), each npos
  // when missing; both are looked for in one pass.
  void Find(std::string_view ATag, size_t AFrom, size_t ATo, size_t& AOpen, size_t& AClose) const {
    constexpr size_t npos = std::string_view::npos;
    AOpen = AClose = npos;
    auto it = std::lower_bound(FTags.begin(), FTags.end(), AFrom,
                               [](const TTag& t, size_t pos) { return t.Open < pos; });
    for (; it != FTags.end() && it->Open < ATo; ++it) {
      // The '>' after a later '<' is never before this one's: once past the part, all are.
      if (it->End == npos || it->End >= ATo) break;
      const size_t length = it->End - it->Open - 1;
      const char* name = FText.data() + it->Open + 1;
      if (length == ATag.size()) {
        if (AOpen == npos && std::string_view(name, length) == ATag) AOpen = it->Open;
      } else if (length == ATag.size() + 1 && *name == '/') {
        if (AClose == npos && std::string_view(name + 1, ATag.size()) == ATag) AClose = it->Open;
      } else {
        continue;
      }
      if (AOpen != npos && AClose != npos) break;
    }
  }

  std::string_view FText;
  std::vector<TTag> FTags;
};

}  // namespace brv::sqs_detail

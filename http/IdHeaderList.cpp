#include "http/IdHeaderList.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "http/private/Text.h"

namespace brv {

using namespace http_detail;

TIdHeaderList::TIdHeaderList(TIdHeaderQuotingType AQuoteType)
    : FFoldLinesLength(AQuoteType == QuoteHTTP ? INT_MAX : 78), FQuoteType(AQuoteType) {}

bool TIdHeaderList::IsContinuation(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) return false;
  const std::string& line = Strings(AIndex);
  return !line.empty() && (line[0] == ' ' || line[0] == '\t');
}

void TIdHeaderList::SetNameValueSeparator(const std::string& Value) {
  FNameValueSeparator = Value;
  FNameEnd = TrimRight(Value);
}

std::string_view TIdHeaderList::NameAt(int Index) const {
  const std::string& line = Strings(Index);
  if (FNameEnd.empty()) return {};
  const size_t p = FNameEnd.size() == 1 ? line.find(FNameEnd[0]) : line.find(FNameEnd);
  return p == std::string::npos ? std::string_view() : std::string_view(line).substr(0, p);
}

std::string TIdHeaderList::GetName(int Index) const {
  return std::string(NameAt(Index));
}

int TIdHeaderList::FindName(std::string_view AName, int AStart) const {
  // Lookups run many times per message: an ASCII name (every name the engine asks for) needs
  // no case folding beyond ASCII, and a name of another length cannot match.
  const bool ascii = IsAscii(AName);
  // With a one-character separator that is no letter and does not occur in the name, a line
  // holds the name exactly when it starts with it and the separator follows: its first
  // separator cannot come earlier. No search for the separator in every line then.
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (ascii && AStart >= 0 && FNameEnd.size() == 1 && !letter(FNameEnd[0]) &&
      AName.find(FNameEnd[0]) == std::string_view::npos) {
    const char end = FNameEnd[0];
    const std::size_t n = AName.size();
    const auto& lines = Lines();
    for (int i = AStart; i < Count(); ++i) {
      const std::string& line = lines[static_cast<std::size_t>(i)];
      if (line.size() > n && line[n] == end &&
          AsciiTextIsSame(std::string_view(line.data(), n), AName))
        return i;
    }
    return -1;
  }
  for (int i = AStart; i < Count(); ++i) {
    const std::string_view name = NameAt(i);
    if (ascii ? AsciiTextIsSame(name, AName) : TextIsSame(name, AName)) return i;
  }
  return -1;
}

int TIdHeaderList::IndexOfName(const std::string& AName) const {
  return FindName(AName, 0);
}

void TIdHeaderList::IndexOfNames(const std::string_view* ANames, int ACount, int* VIndexes) const {
  int missing = ACount;
  for (int k = 0; k < ACount; ++k) VIndexes[k] = -1;
  // The names chained by length, so that a line is compared only with names as long as its
  // own: a head is parsed for a dozen names, and most lines match none of them.
  constexpr int kMaxChained = 64;
  constexpr std::size_t kLengths = 48;
  int first[kLengths];
  int next[kMaxChained];
  bool chained = ACount <= kMaxChained;
  if (chained) {
    std::fill(std::begin(first), std::end(first), -1);
    for (int k = ACount - 1; k >= 0 && chained; --k) {
      const std::size_t length = ANames[k].size();
      if (length >= kLengths) {
        chained = false;
      } else {
        next[k] = first[length];
        first[length] = k;
      }
    }
  }
  for (int i = 0; i < Count() && missing > 0; ++i) {
    const std::string_view name = NameAt(i);
    if (chained) {
      if (name.size() >= kLengths) continue;
      for (int k = first[name.size()]; k >= 0; k = next[k]) {
        if (VIndexes[k] < 0 && AsciiTextIsSame(name, ANames[k])) {
          VIndexes[k] = i;
          --missing;
        }
      }
      continue;
    }
    for (int k = 0; k < ACount; ++k) {
      if (VIndexes[k] < 0 && AsciiTextIsSame(name, ANames[k])) {
        VIndexes[k] = i;
        --missing;
      }
    }
  }
}

std::string TIdHeaderList::ReadValueAt(int& VIndex) const {
  if (VIndex < 0 || VIndex >= Count()) return {};
  const std::string& line = Strings(VIndex);
  const size_t p = FNameEnd.empty() ? std::string::npos : line.find(FNameEnd);
  const std::string_view first = p == std::string::npos
                                     ? std::string_view()
                                     : std::string_view(line).substr(p + FNameEnd.size());
  ++VIndex;
  if (!FUnfoldLines || !IsContinuation(VIndex)) return std::string(TrimView(first));
  // The value so far and each continuation line, both trimmed, joined by one space.
  std::string value(TrimView(first));
  while (IsContinuation(VIndex)) {
    value = std::string(TrimView(value));
    value += ' ';
    value.append(TrimView(Strings(VIndex)));
    ++VIndex;
  }
  return Trim(value);
}

void TIdHeaderList::SkipValueAt(int& VIndex) const {
  if (VIndex < 0 || VIndex >= Count()) return;
  ++VIndex;
  if (FUnfoldLines)
    while (IsContinuation(VIndex)) ++VIndex;
}

std::string TIdHeaderList::GetValue(const std::string& AName) const {
  int i = IndexOfName(AName);
  return ReadValueAt(i);
}

void TIdHeaderList::DeleteContinuationLines(int AIndex) {
  while (IsContinuation(AIndex + 1)) Delete(AIndex + 1);
}

void TIdHeaderList::InsertFolded(int AIndex, const std::string& AName, const std::string& AValue) {
  std::string line;
  line.reserve(AName.size() + FNameValueSeparator.size() + AValue.size());
  line += AName;
  line += FNameValueSeparator;
  line += AValue;
  // A line within the fold length and without CR LF folds to itself, trailing blanks removed.
  if ((FFoldLinesLength <= 0 || line.size() <= static_cast<size_t>(FFoldLinesLength)) &&
      line.find("\r\n") == std::string::npos) {
    line.resize(TrimRightView(line).size());
    Put(AIndex, std::move(line));
    return;
  }
  TStringList lines;
  FoldValueLine(line, FFoldLinesLength, lines);
  Delete(AIndex);
  for (int i = 0; i < lines.Count(); ++i) Insert(AIndex + i, lines[i]);
}

void TIdHeaderList::SetValue(const std::string& AName, const std::string& AValue) {
  int i = IndexOfName(AName);
  if (!AValue.empty()) {
    if (i < 0) i = Add(std::string());
    if (FFoldLines) {
      DeleteContinuationLines(i);
      InsertFolded(i, AName, AValue);
    } else {
      Put(i, AName + FNameValueSeparator + AValue);
    }
  } else if (i >= 0) {
    if (FFoldLines) DeleteContinuationLines(i);
    Delete(i);
  }
}

void TIdHeaderList::AddValue(const std::string& AName, const std::string& AValue) {
  if (AName.empty() || AValue.empty()) return;
  if (FFoldLines) {
    const int i = Add(std::string());
    InsertFolded(i, AName, AValue);
  } else {
    Add(AName + FNameValueSeparator + AValue);
  }
}

void TIdHeaderList::Extract(const std::string& AName, TStringList* ADest) const {
  if (ADest == nullptr) return;
  const bool ascii = IsAscii(AName);
  int i = 0;
  while (i < Count()) {
    const std::string_view name = NameAt(i);
    if (ascii ? AsciiTextIsSame(name, AName) : TextIsSame(name, AName))
      ADest->Add(ReadValueAt(i));
    else
      SkipValueAt(i);
  }
}

TIdHeaderQuotingType TIdHeaderList::QuoteTypeFor(const std::string& AName) const {
  if (FQuoteType == QuoteRFC822) {
    if (TextIsSame(AName, "Content-Type") || TextIsSame(AName, "Content-Disposition"))
      return QuoteMIME;
  } else if (FQuoteType == QuoteMIME) {
    if (!TextIsSame(AName, "Content-Type") && !TextIsSame(AName, "Content-Disposition"))
      return QuoteRFC822;
  }
  return FQuoteType;
}

std::string TIdHeaderList::GetParam(const std::string& AName, const std::string& AParam) const {
  if (IndexOfName(AName) < 0) return {};
  return HeaderSubItem(GetValue(AName), AParam, QuoteTypeFor(AName));
}

void TIdHeaderList::SetParam(const std::string& AName, const std::string& AParam,
                             const std::string& AValue) {
  std::string old;
  SetValue(AName, ReplaceHeaderParam(GetValue(AName), AParam, AValue, old, QuoteTypeFor(AName)));
}

void TIdHeaderList::SetValueAndParam(const std::string& AName, const std::string& AValue,
                                     const std::string& AParam, const std::string& AParamValue) {
  // A new line "name: value" reads back as the value itself when the value has no blanks at
  // either end and no line break, the name no colon, and the line is not folded. The parameter
  // is then set on the value directly and the line written once, instead of written, read back
  // and written again.
  const bool readsBack =
      !AValue.empty() && FNameValueSeparator == ": " && AName.find(':') == std::string::npos &&
      TrimView(AValue).size() == AValue.size() &&
      std::none_of(AValue.begin(), AValue.end(), [](char c) { return c == '\r' || c == '\n'; }) &&
      (!FFoldLines || FFoldLinesLength <= 0 ||
       AName.size() + 2 + AValue.size() <= static_cast<std::size_t>(FFoldLinesLength)) &&
      IndexOfName(AName) < 0;
  if (!readsBack) {
    SetValue(AName, AValue);
    SetParam(AName, AParam, AParamValue);
    return;
  }
  std::string old;
  SetValue(AName, ReplaceHeaderParam(AValue, AParam, AParamValue, old, QuoteTypeFor(AName)));
}

std::string TIdHeaderList::GetAllParams(const std::string& AName) const {
  if (IndexOfName(AName) < 0) return {};
  const std::string value = GetValue(AName);
  const size_t p = value.find(';');
  return p == std::string::npos ? std::string() : Trim(value.substr(p + 1));
}

void TIdHeaderList::SetAllParams(const std::string& AName, const std::string& AValue) {
  if (IndexOfName(AName) < 0) return;
  std::string value = HeaderMainItem(GetValue(AName));
  if (!AValue.empty()) value += "; " + AValue;
  SetValue(AName, value);
}

void TIdHeaderList::AddStrings(const TStringList& AStrings) {
  if (dynamic_cast<const TIdHeaderList*>(&AStrings) != nullptr) {
    TStringList::AddStrings(AStrings);
    return;
  }
  AddStdValues(AStrings);
}

void TIdHeaderList::AddStdValues(const TStringList& ASrc) {
  for (int i = 0; i < ASrc.Count(); ++i) AddValue(ASrc.Names(i), ASrc.ValueFromIndex(i));
}

void TIdHeaderList::ConvertToStdValues(TStringList* ADest) const {
  if (ADest == nullptr) return;
  int i = 0;
  while (i < Count()) {
    const std::string name = GetName(i);
    const std::string value = ReadValueAt(i);
    ADest->Add(name + ADest->NameValueSeparator() + value);
  }
}

void TIdHeaderList::Assign(const TPersistent* Source) {
  if (auto* other = dynamic_cast<const TIdHeaderList*>(Source)) {
    if (other == this) return;
    Clear();
    TStringList::AddStrings(*other);
    return;
  }
  if (auto* plain = dynamic_cast<const TStringList*>(Source)) {
    Clear();
    AddStdValues(*plain);
    return;
  }
  TStringList::Assign(Source);
}

void FoldValueLine(const std::string& ALine, int ALength, TStringList& ALines) {
  std::string wrapped;
  if (ALength <= 0 || ALine.size() <= static_cast<size_t>(ALength)) {
    wrapped = ALine;
  } else {
    // Word-wrap: remember the last break candidate on the current line and break there once
    // the line passes the limit.
    const auto limit = static_cast<size_t>(ALength);
    size_t lineStart = 0;
    size_t lastBreak = std::string::npos;  // index in `wrapped` just after a break character
    bool inQuotes = false;
    for (size_t i = 0; i < ALine.size(); ++i) {
      const char c = ALine[i];
      if (c == '\r' && i + 2 < ALine.size() && ALine[i + 1] == '\n' && ALine[i + 2] == ' ') {
        wrapped += "\r\n ";
        i += 2;
        lineStart = wrapped.size() - 1;
        lastBreak = std::string::npos;
        continue;
      }
      wrapped += c;
      if (c == '"') inQuotes = !inQuotes;
      if (!inQuotes && (c == ' ' || c == '\t' || c == ',')) lastBreak = wrapped.size();
      if (wrapped.size() - lineStart > limit && lastBreak != std::string::npos &&
          lastBreak > lineStart + 1 && lastBreak < wrapped.size()) {
        wrapped.insert(lastBreak, "\r\n ");
        lineStart = lastBreak + 2;
        lastBreak = std::string::npos;
      }
    }
  }
  std::string rest = wrapped;
  for (;;) {
    const size_t p = rest.find("\r\n");
    if (p == std::string::npos) {
      ALines.Add(TrimRight(rest));
      break;
    }
    ALines.Add(TrimRight(rest.substr(0, p)));
    rest.erase(0, p + 2);
  }
}

}  // namespace brv

#include "http/IdHeaderList.h"

#include <climits>

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

std::string TIdHeaderList::GetName(int Index) const {
  const std::string& line = Strings(Index);
  const std::string sep = TrimRight(FNameValueSeparator);
  if (sep.empty()) return {};
  const size_t p = line.find(sep);
  return p == std::string::npos ? std::string() : line.substr(0, p);
}

int TIdHeaderList::IndexOfName(const std::string& AName) const {
  for (int i = 0; i < Count(); ++i)
    if (TextIsSame(GetName(i), AName)) return i;
  return -1;
}

std::string TIdHeaderList::ReadValueAt(int& VIndex) const {
  if (VIndex < 0 || VIndex >= Count()) return {};
  const std::string& line = Strings(VIndex);
  const std::string sep = TrimRight(FNameValueSeparator);
  const size_t p = sep.empty() ? std::string::npos : line.find(sep);
  std::string value =
      p == std::string::npos ? std::string() : TrimLeft(line.substr(p + sep.size()));
  ++VIndex;
  if (FUnfoldLines) {
    while (IsContinuation(VIndex)) {
      value = Trim(value) + " " + Trim(Strings(VIndex));
      ++VIndex;
    }
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
  TStringList lines;
  FoldValueLine(AName + FNameValueSeparator + AValue, FFoldLinesLength, lines);
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
  int i = 0;
  while (i < Count()) {
    if (TextIsSame(GetName(i), AName))
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

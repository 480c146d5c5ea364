#include "base/StringList.h"

#include <algorithm>
#include <numeric>
#include <utility>
#include <strings.h>

namespace brv {

void TStringList::CheckIndex(int Index, int Limit) const {
  if (Index < 0 || Index >= Limit) throw EListError(Format("List index out of bounds (%d)", Index));
}

const std::string& TStringList::Strings(int Index) const {
  CheckIndex(Index, Count());
  return items_[static_cast<size_t>(Index)];
}

void TStringList::Put(int Index, const std::string& S) {
  CheckIndex(Index, Count());
  items_[static_cast<size_t>(Index)] = S;
}

void TStringList::Put(int Index, std::string&& S) {
  CheckIndex(Index, Count());
  items_[static_cast<size_t>(Index)] = std::move(S);
}

int TStringList::CompareStrings(const std::string& A, const std::string& B) const {
  if (case_sensitive_) return A.compare(B) < 0 ? -1 : (A == B ? 0 : 1);
  return strcasecmp(A.c_str(), B.c_str());
}

int TStringList::Add(const std::string& S) {
  return AddText(S);
}

int TStringList::Add(std::string&& S) {
  return AddText(std::move(S));
}

template <class TText>
int TStringList::AddText(TText&& S) {
  if (!sorted_) {
    items_.push_back(std::forward<TText>(S));
    return Count() - 1;
  }
  auto it = std::lower_bound(
      items_.begin(), items_.end(), S,
      [this](const std::string& a, const std::string& b) { return CompareStrings(a, b) < 0; });
  if (it != items_.end() && CompareStrings(*it, S) == 0) {
    if (duplicates_ == TDuplicates::dupIgnore) return static_cast<int>(it - items_.begin());
    if (duplicates_ == TDuplicates::dupError)
      throw EListError("String list does not allow duplicates");
  }
  it = items_.insert(it, std::forward<TText>(S));
  return static_cast<int>(it - items_.begin());
}

void TStringList::Insert(int Index, const std::string& S) {
  CheckIndex(Index, Count() + 1);
  items_.insert(items_.begin() + Index, S);
}

void TStringList::Insert(int Index, std::string&& S) {
  CheckIndex(Index, Count() + 1);
  items_.insert(items_.begin() + Index, std::move(S));
}

void TStringList::Delete(int Index) {
  CheckIndex(Index, Count());
  items_.erase(items_.begin() + Index);
}

void TStringList::Clear() {
  items_.clear();
}

void TStringList::AddStrings(const TStringList& Other) {
  const std::vector<std::string> copy = Other.items_;  // Other may be this list
  for (const auto& s : copy) Add(s);
}

void TStringList::Assign(const TPersistent* Source) {
  if (auto* other = dynamic_cast<const TStringList*>(Source)) {
    if (other == this) return;
    Clear();
    AddStrings(*other);
    return;
  }
  TPersistent::Assign(Source);
}

int TStringList::IndexOf(const std::string& S) const {
  for (int i = 0; i < Count(); ++i)
    if (CompareStrings(items_[static_cast<size_t>(i)], S) == 0) return i;
  return -1;
}

int TStringList::IndexOfName(const std::string& Name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& line = items_[static_cast<size_t>(i)];
    const size_t p = line.find(name_value_separator_);
    if (p != std::string::npos && CompareStrings(line.substr(0, p), Name) == 0) return i;
  }
  return -1;
}

std::string TStringList::Names(int Index) const {
  const std::string& line = Strings(Index);
  const size_t p = line.find(name_value_separator_);
  return p == std::string::npos ? std::string() : line.substr(0, p);
}

std::string TStringList::ValueFromIndex(int Index) const {
  const std::string& line = Strings(Index);
  const size_t p = line.find(name_value_separator_);
  return p == std::string::npos ? std::string() : line.substr(p + 1);
}

std::string TStringList::Values(const std::string& Name) const {
  const int i = IndexOfName(Name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValues(const std::string& Name, const std::string& Value) {
  const int i = IndexOfName(Name);
  if (Value.empty()) {
    if (i >= 0) Delete(i);
  } else if (i >= 0) {
    Put(i, Name + name_value_separator_ + Value);
  } else {
    Add(Name + name_value_separator_ + Value);
  }
}

std::string TStringList::Text() const {
  std::string result;
  for (const auto& s : items_) {
    result += s;
    result += sLineBreak;
  }
  return result;
}

void TStringList::SetText(const std::string& Value) {
  Clear();
  size_t start = 0;
  const size_t n = Value.size();
  while (start < n) {
    size_t end = start;
    while (end < n && Value[end] != '\n' && Value[end] != '\r') ++end;
    Add(Value.substr(start, end - start));
    if (end < n && Value[end] == '\r') ++end;
    if (end < n && Value[end] == '\n') ++end;
    start = end;
  }
}

std::string TStringList::DelimitedText() const {
  std::string result;
  for (size_t i = 0; i < items_.size(); ++i) {
    const std::string& s = items_[i];
    if (i > 0) result += delimiter_;
    const bool quote =
        s.find_first_of(std::string{delimiter_, ' ', quote_char_}) != std::string::npos;
    if (!quote) {
      result += s;
      continue;
    }
    result += quote_char_;
    for (char c : s) {
      if (c == quote_char_) result += quote_char_;
      result += c;
    }
    result += quote_char_;
  }
  return result;
}

void TStringList::Sort() {
  std::stable_sort(
      items_.begin(), items_.end(),
      [this](const std::string& a, const std::string& b) { return CompareStrings(a, b) < 0; });
}

void TStringList::CustomSort(const std::function<int(const TStringList&, int, int)>& Compare) {
  // Sort positions with the caller's comparison, then reorder the lines once.
  std::vector<int> order(items_.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return Compare(*this, a, b) < 0; });
  std::vector<std::string> sorted;
  sorted.reserve(items_.size());
  for (int i : order) sorted.push_back(items_[static_cast<size_t>(i)]);
  items_ = std::move(sorted);
}

void TStringList::SetSorted(bool Value) {
  if (Value && !sorted_) Sort();
  sorted_ = Value;
}

}  // namespace brv

// TStringList: an ordered list of text lines with name=value access.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "base/Classes.h"

namespace brv {

// Line break used by Text: the platform's.
inline constexpr const char* sLineBreak = "\n";

enum class TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TPersistent {
 public:
  BRV_CLASS_NAME(TStringList)
  TStringList() = default;
  ~TStringList() override = default;

  int Count() const { return static_cast<int>(items_.size()); }
  // The line at Index; raises EListError "List index out of bounds (%d)" outside the range.
  const std::string& Strings(int Index) const;
  const std::string& operator[](int Index) const { return Strings(Index); }
  virtual void Put(int Index, const std::string& S);
  // Put that takes over S's text instead of copying it.
  virtual void Put(int Index, std::string&& S);

  // Appends a line (or inserts it at its sorted place when Sorted); returns its index.
  virtual int Add(const std::string& S);
  // Add and Insert that take over S's text instead of copying it.
  virtual int Add(std::string&& S);
  virtual void Insert(int Index, const std::string& S);
  virtual void Insert(int Index, std::string&& S);
  virtual void Delete(int Index);
  virtual void Clear();
  void AddStrings(const TStringList& Other);
  void Assign(const TPersistent* Source) override;

  // First index of S (exact, or ignoring ASCII case when CaseSensitive is false), or -1.
  int IndexOf(const std::string& S) const;
  // First index of a line whose name (the text before the first NameValueSeparator) is Name.
  int IndexOfName(const std::string& Name) const;
  std::string Names(int Index) const;
  std::string ValueFromIndex(int Index) const;
  // The value of the first line named Name, or empty.
  std::string Values(const std::string& Name) const;
  // Sets the value of Name (appending "Name=Value" when absent; deleting it when Value is empty).
  void SetValues(const std::string& Name, const std::string& Value);

  // Every line followed by sLineBreak.
  std::string Text() const;
  // Replaces the lines with those of the text (split at LF, CR LF or CR).
  void SetText(const std::string& Value);
  // The lines joined with Delimiter, each quoted with QuoteChar when it holds a delimiter,
  // blank or quote.
  std::string DelimitedText() const;

  void Sort();
  void CustomSort(const std::function<int(const TStringList&, int, int)>& Compare);

  bool Sorted() const { return sorted_; }
  void SetSorted(bool Value);
  bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool Value) { case_sensitive_ = Value; }
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates Value) { duplicates_ = Value; }
  char NameValueSeparator() const { return name_value_separator_; }
  void SetNameValueSeparator(char Value) { name_value_separator_ = Value; }
  char Delimiter() const { return delimiter_; }
  void SetDelimiter(char Value) { delimiter_ = Value; }
  char QuoteChar() const { return quote_char_; }
  void SetQuoteChar(char Value) { quote_char_ = Value; }

  // Direct access to the lines.
  const std::vector<std::string>& Lines() const { return items_; }

 protected:
  int CompareStrings(const std::string& A, const std::string& B) const;
  void CheckIndex(int Index, int Limit) const;

 private:
  template <class TText>
  int AddText(TText&& S);

  std::vector<std::string> items_;
  bool sorted_ = false;
  bool case_sensitive_ = false;
  TDuplicates duplicates_ = TDuplicates::dupIgnore;
  char name_value_separator_ = '=';
  char delimiter_ = ',';
  char quote_char_ = '"';
};

}  // namespace brv

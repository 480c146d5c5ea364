// TIdHeaderList: the raw header lines of an HTTP message.
#pragma once

#include <string>
#include <string_view>

#include "base/StringList.h"
#include "http/IdHeaderValues.h"

namespace brv {

// An ordered list of header lines ("Name: value"), looked up by name without regard to case.
// A line that begins with a space or a tab continues the header above it; reading a value
// joins those lines (UnfoldLines) and writing one wraps it (FoldLines at FoldLength).
class TIdHeaderList : public TStringList {
 public:
  BRV_CLASS_NAME(TIdHeaderList)
  explicit TIdHeaderList(TIdHeaderQuotingType AQuoteType = QuoteHTTP);

  // Index of the first line whose name equals AName (ignoring case), or -1.
  int IndexOfName(const std::string& AName) const;
  // IndexOfName for ACount names at once, in one pass over the lines: VIndexes[k] becomes the
  // index of the first line named ANames[k], or -1. The names must be ASCII.
  void IndexOfNames(const std::string_view* ANames, int ACount, int* VIndexes) const;
  // The name of line Index: the text before its first ":", exactly as written.
  std::string GetName(int Index) const;
  std::string Names(int Index) const { return GetName(Index); }
  // The unfolded value of the first header AName, or "".
  std::string GetValue(const std::string& AName) const;
  std::string Values(const std::string& AName) const { return GetValue(AName); }
  // The unfolded value of the header at line Index (as read after IndexOfName), or "" when
  // Index is outside the list.
  std::string ValueAt(int Index) const { return ReadValueAt(Index); }
  // Replaces the first header AName in place (or appends it); an empty value deletes it.
  void SetValue(const std::string& AName, const std::string& AValue);
  void SetValues(const std::string& AName, const std::string& AValue) { SetValue(AName, AValue); }
  // Appends a header line even when the name exists; nothing for an empty name or value.
  void AddValue(const std::string& AName, const std::string& AValue);
  // Appends the unfolded value of every header AName to ADest, in order.
  void Extract(const std::string& AName, TStringList* ADest) const;

  // One parameter of a header's value; setting "" removes it (and the header when nothing is
  // left of it).
  std::string GetParam(const std::string& AName, const std::string& AParam) const;
  void SetParam(const std::string& AName, const std::string& AParam, const std::string& AValue);
  // SetValue(AName, AValue) followed by SetParam(AName, AParam, AParamValue), with the same
  // lines as the result.
  void SetValueAndParam(const std::string& AName, const std::string& AValue,
                        const std::string& AParam, const std::string& AParamValue);
  std::string Params(const std::string& AName, const std::string& AParam) const {
    return GetParam(AName, AParam);
  }
  // The text after the first ";" of a header's value.
  std::string GetAllParams(const std::string& AName) const;
  void SetAllParams(const std::string& AName, const std::string& AValue);
  std::string AllParams(const std::string& AName) const { return GetAllParams(AName); }

  // From another header list: the lines unchanged. From any other string list (name=value
  // lines): each entry through AddValue.
  void AddStrings(const TStringList& AStrings);
  // Adds name=value lines of ASrc as headers.
  void AddStdValues(const TStringList& ASrc);
  // Appends name=value pairs, one per header, values unfolded.
  void ConvertToStdValues(TStringList* ADest) const;
  void Assign(const TPersistent* Source) override;

  const std::string& NameValueSeparator() const { return FNameValueSeparator; }
  void SetNameValueSeparator(const std::string& Value);
  bool UnfoldLines() const { return FUnfoldLines; }
  void SetUnfoldLines(bool Value) { FUnfoldLines = Value; }
  bool FoldLines() const { return FFoldLines; }
  void SetFoldLines(bool Value) { FFoldLines = Value; }
  int FoldLength() const { return FFoldLinesLength; }
  void SetFoldLength(int Value) { FFoldLinesLength = Value; }
  TIdHeaderQuotingType QuoteType() const { return FQuoteType; }

 protected:
  // The value at line VIndex (and its continuation lines); VIndex moves past them.
  std::string ReadValueAt(int& VIndex) const;
  void SkipValueAt(int& VIndex) const;
  void DeleteContinuationLines(int AIndex);
  // Replaces line AIndex by the folded lines of "name: value".
  void InsertFolded(int AIndex, const std::string& AName, const std::string& AValue);
  bool IsContinuation(int AIndex) const;

 private:
  TIdHeaderQuotingType QuoteTypeFor(const std::string& AName) const;
  // The name of line Index as a view into the line.
  std::string_view NameAt(int Index) const;
  // The position of the first line from AStart named AName, or -1.
  int FindName(std::string_view AName, int AStart) const;

  std::string FNameValueSeparator = ": ";
  // FNameValueSeparator without its trailing blanks: what a name ends at.
  std::string FNameEnd = ":";
  bool FUnfoldLines = true;
  bool FFoldLines = true;
  int FFoldLinesLength;
  TIdHeaderQuotingType FQuoteType;
};

// The line wrapped at ALength (breaks after a blank or comma outside double quotes, each
// continuation beginning with a space), cut at every CR LF, trailing blanks removed.
void FoldValueLine(const std::string& ALine, int ALength, TStringList& ALines);

}  // namespace brv

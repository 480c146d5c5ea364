// Header value functions: parameters with the quoting rules of each header family, media
// types, and the HTTP date text.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brv {

// A date and time: days since 30 December 1899, the fraction being the time of day; 0 means
// not set.
using TDateTime = double;

// How parameters are quoted, and where a long line is folded.
enum TIdHeaderQuotingType { QuotePlain, QuoteRFC822, QuoteMIME, QuoteHTTP };

// One parameter of a header value (name=value after a ";").
struct TIdHeaderParam {
  std::string Name;
  std::string Value;
  bool Quoted = false;  // the value was written in double quotes
};
using TIdHeaderParams = std::vector<TIdHeaderParam>;

// The text before the first ";", trimmed.
std::string HeaderMainItem(const std::string& AValue);
// The parameters after the main item, in order, each marked with whether it was quoted.
void SplitHeaderParams(const std::string& AValue, TIdHeaderParams& AParams,
                       TIdHeaderQuotingType AQuoteType);
// The value of parameter AParam (name compared without regard to case), or "".
std::string HeaderSubItem(const std::string& AValue, const std::string& AParam,
                          TIdHeaderQuotingType AQuoteType);
// AValue with parameter AParam set to ANewValue (appended when absent; removed when
// ANewValue is empty). The parameter's old value is returned in VOld. The result is "" when
// the main item is empty.
std::string ReplaceHeaderParam(const std::string& AValue, const std::string& AParam,
                               const std::string& ANewValue, std::string& VOld,
                               TIdHeaderQuotingType AQuoteType);
// ReplaceHeaderParam with an empty new value.
std::string RemoveHeaderParam(const std::string& AValue, const std::string& AParam,
                              std::string& VOld, TIdHeaderQuotingType AQuoteType);
// The text as a parameter value: escaped and put in double quotes when it holds blanks,
// controls or special characters of the kind (or when AForceQuotes is set).
std::string QuoteHeaderValue(const std::string& AText, bool AForceQuotes,
                             TIdHeaderQuotingType AQuoteType);

// True when the main item of AValue is AMediaType ("type/subtype"), or has the top-level type
// AMediaType when that holds no "/". Ignores case.
bool MediaTypeIs(const std::string& AValue, std::string_view AMediaType);
// The text after the first "/" of the main item, or "".
std::string MediaSubType(const std::string& AValue);

// Local time now.
TDateTime Now();
// "Sun, 06 Nov 1994 08:49:37 GMT" for a local time, shifted by the machine's current offset
// from UTC.
std::string FormatHttpDate(TDateTime ALocalDateTime);
// Reads RFC 1123, RFC 850 and asctime dates with their zone or offset and returns local
// time; 0 for text it cannot read.
TDateTime ParseHttpDate(const std::string& AText);

}  // namespace brv

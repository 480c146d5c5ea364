// AWS's shared configuration and credentials files (~/.aws/config, ~/.aws/credentials), read
// the way AWS's own tools read them.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/Exception.h"

namespace brv {

// A configuration problem: a file that cannot be read or parsed, a profile that does not
// exist, a setting this program cannot honour, or a credential process that failed. The
// message never holds a secret (no key, no token, nothing a credential process printed on its
// standard output).
BRV_DECLARE_EXCEPTION(EbrvAWSConfigError, Exception);

// One setting of a section: a plain value, or a sub-section written as indented "key = value"
// lines under a setting with an empty value ("sqs =" followed by "  endpoint_url = ...").
struct TbrvAWSConfigValue {
  std::string Text;
  std::map<std::string, std::string> Nested;
  bool IsNested = false;
  int Line = 0;  // where the setting starts, counted from 1
};

// One "[name]" section with its settings. Setting names are lower case; the section name is
// the header's text with surrounding blanks removed.
struct TbrvAWSConfigSection {
  std::string Name;
  int Line = 0;
  std::map<std::string, TbrvAWSConfigValue> Values;

  // The setting, or null.
  const TbrvAWSConfigValue* Find(const std::string& Key) const;
  // The plain value of a setting; empty when it is missing or a sub-section.
  std::string Text(const std::string& Key) const;
};

// A parsed file. The dialect: lines whose first non-blank character is "#" or ";" are
// comments (elsewhere those characters are part of the value); "[name]" starts a section;
// "key = value" or "key: value" sets a value, both sides trimmed; a line indented deeper than
// the setting before it continues that setting's value, and a value that starts on such a line
// is a sub-section of "key = value" lines. A setting before the first section, a line that is
// none of these, a setting without a name, and a section or setting given twice are errors
// that name the file and the line (never the line's text, which may hold a secret).
class TbrvAWSConfigFile {
 public:
  TbrvAWSConfigFile() = default;
  // Parses Text; FileName names the file in error messages.
  static TbrvAWSConfigFile Parse(std::string_view Text, const std::string& FileName);
  // Reads and parses a file. A file that does not exist is an empty one; one that exists but
  // cannot be read is an error.
  static TbrvAWSConfigFile Load(const std::string& FileName);

  const std::string& FileName() const { return FFileName; }
  const std::vector<TbrvAWSConfigSection>& Sections() const { return FSections; }
  // The section of that name, or null.
  const TbrvAWSConfigSection* Section(const std::string& Name) const;

 private:
  std::string FFileName;
  std::vector<TbrvAWSConfigSection> FSections;
};

}  // namespace brv

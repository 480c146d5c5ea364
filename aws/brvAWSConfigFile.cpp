#include "aws/brvAWSConfigFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/AsciiText.h"

namespace brv {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

[[noreturn]] void Fail(const std::string& FileName, int Line, const std::string& Reason) {
  throw EbrvAWSConfigError("Unable to parse config file: " + FileName + ", line " +
                           std::to_string(Line) + ": " + Reason);
}

// A setting being read: its first line's value and the continuation lines after it.
struct TPendingValue {
  std::string Key;
  int Line = 0;
  std::string First;
  std::vector<std::pair<int, std::string>> More;  // line number, trimmed text ("" for blank)
};

}  // namespace

const TbrvAWSConfigValue* TbrvAWSConfigSection::Find(const std::string& Key) const {
  const auto it = Values.find(Key);
  return it == Values.end() ? nullptr : &it->second;
}

std::string TbrvAWSConfigSection::Text(const std::string& Key) const {
  const TbrvAWSConfigValue* value = Find(Key);
  return value && !value->IsNested ? value->Text : std::string();
}

const TbrvAWSConfigSection* TbrvAWSConfigFile::Section(const std::string& Name) const {
  for (const TbrvAWSConfigSection& section : FSections) {
    if (section.Name == Name) return &section;
  }
  return nullptr;
}

TbrvAWSConfigFile TbrvAWSConfigFile::Parse(std::string_view Text, const std::string& FileName) {
  TbrvAWSConfigFile file;
  file.FFileName = FileName;
  if (Text.substr(0, 3) == "\xEF\xBB\xBF") Text.remove_prefix(3);  // a byte-order mark

  TbrvAWSConfigSection* section = nullptr;
  TPendingValue pending;
  bool reading = false;    // a setting is open and may be continued
  std::size_t indent = 0;  // indentation of the line that opened the setting or section

  // Stores the open setting: a plain value joined over its lines, or, when its first line
  // was empty and indented lines follow, the sub-section those lines form.
  auto finish = [&] {
    if (!reading) return;
    reading = false;
    TbrvAWSConfigValue value;
    value.Line = pending.Line;
    bool hasMore = false;
    for (const auto& [line, text] : pending.More) hasMore = hasMore || !text.empty();
    if (pending.First.empty() && hasMore) {
      value.IsNested = true;
      for (const auto& [line, text] : pending.More) {
        if (text.empty()) continue;
        const std::size_t eq = text.find('=');
        if (eq == std::string::npos) Fail(FileName, line, "a sub-setting without \"=\"");
        value.Nested[std::string(Trimmed(std::string_view(text).substr(0, eq)))] =
            std::string(Trimmed(std::string_view(text).substr(eq + 1)));
      }
    } else {
      value.Text = pending.First;
      for (const auto& [line, text] : pending.More) value.Text += "\n" + text;
      value.Text = std::string(Trimmed(value.Text));
    }
    section->Values[pending.Key] = std::move(value);
  };

  int lineNo = 0;
  std::size_t start = 0;
  while (start <= Text.size()) {
    std::size_t end = Text.find('\n', start);
    if (end == std::string_view::npos) end = Text.size();
    const std::string_view raw = Text.substr(start, end - start);
    start = end + 1;
    ++lineNo;

    const std::string_view line = Trimmed(raw);
    if (line.empty()) {
      if (reading) pending.More.emplace_back(lineNo, std::string());
      continue;
    }
    // Comments are whole lines; they neither end nor continue a value.
    if (line.front() == '#' || line.front() == ';') continue;

    std::size_t lineIndent = 0;
    while (lineIndent < raw.size() && IsBlank(raw[lineIndent])) ++lineIndent;
    if (reading && lineIndent > indent) {
      pending.More.emplace_back(lineNo, std::string(line));
      continue;
    }
    finish();
    indent = lineIndent;

    // "[name]", with anything after the last "]" ignored (such as a trailing comment).
    const std::size_t close = line.rfind(']');
    if (line.front() == '[' && close != std::string_view::npos && close >= 2) {
      const std::string name(Trimmed(line.substr(1, close - 1)));
      for (const TbrvAWSConfigSection& other : file.FSections) {
        if (other.Name == name) {
          Fail(FileName, lineNo,
               "section [" + name + "] already appeared on line " + std::to_string(other.Line));
        }
      }
      file.FSections.push_back(TbrvAWSConfigSection{name, lineNo, {}});
      section = &file.FSections.back();
      continue;
    }
    if (section == nullptr) Fail(FileName, lineNo, "a setting before the first [section] header");

    const std::size_t mark = line.find_first_of("=:");
    if (mark == std::string_view::npos) {
      Fail(FileName, lineNo,
           "neither a [section] header, a \"name = value\" setting nor a comment");
    }
    const std::string key = LowerAscii(Trimmed(line.substr(0, mark)));
    if (key.empty()) Fail(FileName, lineNo, "a setting without a name");
    if (const TbrvAWSConfigValue* earlier = section->Find(key)) {
      Fail(FileName, lineNo,
           "setting " + key + " already appeared in section [" + section->Name + "] on line " +
               std::to_string(earlier->Line));
    }
    pending = TPendingValue{key, lineNo, std::string(Trimmed(line.substr(mark + 1))), {}};
    reading = true;
    // Claim the name now, so that a repeat is noticed even before this value is complete.
    section->Values[key].Line = lineNo;
  }
  finish();
  return file;
}

TbrvAWSConfigFile TbrvAWSConfigFile::Load(const std::string& FileName) {
  struct stat info {};
  if (stat(FileName.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      TbrvAWSConfigFile none;
      none.FFileName = FileName;
      return none;
    }
    throw EbrvAWSConfigError("Unable to read config file: " + FileName + ": " +
                             std::strerror(errno));
  }
  if (!S_ISREG(info.st_mode)) {
    throw EbrvAWSConfigError("Unable to read config file: " + FileName + ": not a regular file");
  }
  std::ifstream in(FileName, std::ios::binary);
  std::ostringstream text;
  if (!in || !(text << in.rdbuf())) {
    // An empty file leaves the stream copy "failed" without an error of its own.
    if (in && info.st_size == 0) return Parse("", FileName);
    throw EbrvAWSConfigError("Unable to read config file: " + FileName + ": " +
                             std::strerror(errno));
  }
  return Parse(text.str(), FileName);
}

}  // namespace brv

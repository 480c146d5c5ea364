// ASCII text helpers: trimming blanks and control characters, and changing the case of ASCII
// letters only (bytes of 128 and more, the parts of UTF-8 sequences, pass unchanged).
#pragma once

#include <string>
#include <string_view>

namespace brv {

// S without leading and/or trailing bytes of 0 to 32 (blanks and control characters).
std::string_view TrimView(std::string_view S);
std::string_view TrimLeftView(std::string_view S);
std::string_view TrimRightView(std::string_view S);
std::string Trim(std::string_view S);
std::string TrimLeft(std::string_view S);
std::string TrimRight(std::string_view S);

// S with ASCII letters lower- or upper-cased.
std::string LowerAscii(std::string_view S);
std::string UpperAscii(std::string_view S);

// True when every byte of S is below 128.
bool IsAscii(std::string_view S);

}  // namespace brv

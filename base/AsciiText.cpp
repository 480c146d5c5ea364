#include "base/AsciiText.h"

namespace brv {

namespace {

bool IsBlank(char C) {
  return static_cast<unsigned char>(C) <= 32;
}

}  // namespace

std::string_view TrimLeftView(std::string_view S) {
  size_t b = 0;
  while (b < S.size() && IsBlank(S[b])) ++b;
  return S.substr(b);
}

std::string_view TrimRightView(std::string_view S) {
  size_t e = S.size();
  while (e > 0 && IsBlank(S[e - 1])) --e;
  return S.substr(0, e);
}

std::string_view TrimView(std::string_view S) {
  return TrimRightView(TrimLeftView(S));
}

std::string TrimLeft(std::string_view S) {
  return std::string(TrimLeftView(S));
}

std::string TrimRight(std::string_view S) {
  return std::string(TrimRightView(S));
}

std::string Trim(std::string_view S) {
  return std::string(TrimView(S));
}

std::string LowerAscii(std::string_view S) {
  std::string r(S);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return r;
}

std::string UpperAscii(std::string_view S) {
  std::string r(S);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return r;
}

bool IsAscii(std::string_view S) {
  for (char c : S)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

}  // namespace brv

// UTF-8, the text encoding of every string in this library: writing a code point and reading
// one back with the Unicode standard's treatment of ill-formed input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace brv {

// U+FFFD, which stands for every character that could not be read.
constexpr char32_t kUTF8ReplacementCharacter = 0xFFFD;

// Appends the UTF-8 form of Code (at most U+10FFFF; surrogates are written as they come).
void AppendUTF8(std::string& Out, char32_t Code);

// Reads the code point at Pos of Size bytes at Data into Code and moves Pos past it. An
// ill-formed sequence (a stray continuation byte, an over-long form, a surrogate, a value
// above U+10FFFF, a sequence cut short) yields false and moves Pos past its longest valid
// prefix, at least one byte, so that each bad spot counts once, as the Unicode standard
// recommends. Pos must be below Size. With AAcceptSurrogates an encoded surrogate (U+D800 to
// U+DFFF, which UTF-8 forbids but text converted from UTF-16 unit by unit carries) is read as
// a code point of its own instead.
bool NextUTF8CodePoint(const std::uint8_t* Data, std::size_t Size, std::size_t& Pos, char32_t& Code,
                       bool AAcceptSurrogates = false);

inline bool NextUTF8CodePoint(std::string_view Text, std::size_t& Pos, char32_t& Code,
                              bool AAcceptSurrogates = false) {
  return NextUTF8CodePoint(reinterpret_cast<const std::uint8_t*>(Text.data()), Text.size(), Pos,
                           Code, AAcceptSurrogates);
}

// The UTF-16 form of UTF-8 Text (code points above U+FFFF as surrogate pairs), with each
// ill-formed sequence read as U+FFFD.
std::u16string UTF8ToUTF16(std::string_view Text);

// The UTF-16 form of UTF-8 Text into Out; false, and Out empty, when Text is not well-formed
// UTF-8 (for names, where a repaired name would be another name).
bool StrictUTF8ToUTF16(std::string_view Text, std::u16string& Out);

}  // namespace brv

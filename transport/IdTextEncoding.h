// Text encodings: conversion between the library's text (UTF-8 in std::string) and the bytes of
// a character set on the wire.
//
// Encodings are shared process-wide objects: the functions below hand out pointers to instances
// that live until the process ends, so a `const IIdTextEncoding*` may be kept freely. Where an
// operation takes an optional encoding, nullptr means "the owner's choice".
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "transport/IdGlobal.h"

namespace brv {

// Kinds of shared encodings.
enum TIdTextEncodingType {
  encIndyDefault,  // the process-wide default kind (GIdDefaultTextEncoding)
  encOSDefault,    // the system code page (UTF-8 on this platform)
  enc8Bit,
  encASCII,
  encUTF16BE,
  encUTF16LE,
  encUTF7,
  encUTF8
};

// Converts text to bytes and back and says what it cannot convert.
//
// Text is UTF-8. Where the library counts characters it counts UTF-16 code units, so a
// character outside the Basic Multilingual Plane counts as two.
class IIdTextEncoding {
 public:
  virtual ~IIdTextEncoding() = default;

  // Appends the bytes of AChars to VBytes. A character the encoding cannot represent becomes
  // its replacement ("?" for the byte encodings); the result is the number of characters
  // (code points) that were replaced, so 0 means the text travelled intact.
  virtual std::size_t Encode(const std::string& AChars, TIdBytes& VBytes) const = 0;
  // Appends the text of ACount bytes at ABytes to VChars. A byte sequence the encoding cannot
  // decode becomes U+FFFD; the result is the number of such sequences.
  virtual std::size_t Decode(const std::uint8_t* ABytes, std::size_t ACount,
                             std::string& VChars) const = 0;

  // The bytes of AChars (unrepresentable characters replaced).
  TIdBytes GetBytes(const std::string& AChars) const;
  // The text of bytes (undecodable sequences replaced by U+FFFD).
  std::string GetString(const TIdBytes& ABytes) const;
  std::string GetString(const TIdBytes& ABytes, int AByteIndex, int AByteCount) const;
  std::string GetString(const std::uint8_t* ABytes, std::size_t ACount) const;
  // Number of bytes AChars encodes to.
  int GetByteCount(const std::string& AChars) const;
  // True when every character of AChars has a representation in this encoding.
  bool CanEncode(const std::string& AChars) const;

  // Upper bound of the bytes for ACharCount characters (UTF-16 units).
  virtual int GetMaxByteCount(int ACharCount) const = 0;
  // Upper bound of the characters (UTF-16 units) for AByteCount bytes.
  virtual int GetMaxCharCount(int AByteCount) const = 0;
  // The byte-order mark of the encoding (empty when it has none).
  virtual TIdBytes GetPreamble() const { return {}; }
  // The code-page number of the encoding.
  virtual int CodePage() const = 0;
  // The character-set name used on the wire.
  virtual std::string CharSetName() const = 0;
};

// Common base of the encodings.
class TIdTextEncodingBase : public IIdTextEncoding {};

// 7-bit ASCII: a character above 127 becomes "?", a byte above 127 becomes U+FFFD.
class TIdASCIIEncoding : public TIdTextEncodingBase {
 public:
  std::size_t Encode(const std::string& AChars, TIdBytes& VBytes) const override;
  std::size_t Decode(const std::uint8_t* ABytes, std::size_t ACount,
                     std::string& VChars) const override;
  int GetMaxByteCount(int ACharCount) const override { return ACharCount; }
  int GetMaxCharCount(int AByteCount) const override { return AByteCount; }
  int CodePage() const override { return 20127; }
  std::string CharSetName() const override { return "US-ASCII"; }
};

// 8-bit: byte b is the character U+00bb; a character above 255 becomes "?".
class TId8BitEncoding : public TIdTextEncodingBase {
 public:
  std::size_t Encode(const std::string& AChars, TIdBytes& VBytes) const override;
  std::size_t Decode(const std::uint8_t* ABytes, std::size_t ACount,
                     std::string& VChars) const override;
  int GetMaxByteCount(int ACharCount) const override { return ACharCount; }
  int GetMaxCharCount(int AByteCount) const override { return AByteCount; }
  int CodePage() const override { return 28591; }
  std::string CharSetName() const override { return "ISO-8859-1"; }
};

// UTF-8 (code page 65001): invalid sequences decode to U+FFFD.
class TIdUTF8Encoding : public TIdTextEncodingBase {
 public:
  std::size_t Encode(const std::string& AChars, TIdBytes& VBytes) const override;
  std::size_t Decode(const std::uint8_t* ABytes, std::size_t ACount,
                     std::string& VChars) const override;
  int GetMaxByteCount(int ACharCount) const override { return (ACharCount + 1) * 3; }
  int GetMaxCharCount(int AByteCount) const override { return AByteCount + 1; }
  TIdBytes GetPreamble() const override { return {0xEF, 0xBB, 0xBF}; }
  int CodePage() const override { return 65001; }
  std::string CharSetName() const override { return "UTF-8"; }
};

// UTF-7 (code page 65000, RFC 2152).
class TIdUTF7Encoding : public TIdTextEncodingBase {
 public:
  std::size_t Encode(const std::string& AChars, TIdBytes& VBytes) const override;
  std::size_t Decode(const std::uint8_t* ABytes, std::size_t ACount,
                     std::string& VChars) const override;
  int GetMaxByteCount(int ACharCount) const override { return ACharCount * 3 + 2; }
  int GetMaxCharCount(int AByteCount) const override { return AByteCount; }
  int CodePage() const override { return 65000; }
  std::string CharSetName() const override { return "UTF-7"; }
};

// UTF-16 little-endian (code page 1200).
class TIdUTF16LittleEndianEncoding : public TIdTextEncodingBase {
 public:
  std::size_t Encode(const std::string& AChars, TIdBytes& VBytes) const override;
  std::size_t Decode(const std::uint8_t* ABytes, std::size_t ACount,
                     std::string& VChars) const override;
  int GetMaxByteCount(int ACharCount) const override { return (ACharCount + 1) * 2; }
  int GetMaxCharCount(int AByteCount) const override { return AByteCount / 2 + AByteCount % 2 + 1; }
  TIdBytes GetPreamble() const override { return {0xFF, 0xFE}; }
  int CodePage() const override { return 1200; }
  std::string CharSetName() const override { return "UTF-16LE"; }

 protected:
  virtual bool BigEndian() const { return false; }
};

// UTF-16 big-endian (code page 1201).
class TIdUTF16BigEndianEncoding : public TIdUTF16LittleEndianEncoding {
 public:
  TIdBytes GetPreamble() const override { return {0xFE, 0xFF}; }
  int CodePage() const override { return 1201; }
  std::string CharSetName() const override { return "UTF-16BE"; }

 protected:
  bool BigEndian() const override { return true; }
};

// Any other code page, converted by the C library's iconv. Raises EIdException
// "Invalid codepage (%d)" when the platform does not know the code page.
class TIdMBCSEncoding : public TIdTextEncodingBase {
 public:
  // The system's legacy code page (UTF-8 on this platform).
  TIdMBCSEncoding();
  explicit TIdMBCSEncoding(int ACodePage);
  // A code page named the way iconv names it (for example "CP1252" or "GB18030").
  TIdMBCSEncoding(int ACodePage, const std::string& ACharSetName);
  ~TIdMBCSEncoding() override;

  std::size_t Encode(const std::string& AChars, TIdBytes& VBytes) const override;
  std::size_t Decode(const std::uint8_t* ABytes, std::size_t ACount,
                     std::string& VChars) const override;
  int GetMaxByteCount(int ACharCount) const override { return (ACharCount + 1) * 4; }
  int GetMaxCharCount(int AByteCount) const override { return AByteCount + 1; }
  int CodePage() const override { return FCodePage; }
  std::string CharSetName() const override { return FCharSetName; }

 private:
  struct TConverter;
  int FCodePage;
  std::string FCharSetName;
  std::unique_ptr<TConverter> FToBytes;
  std::unique_ptr<TConverter> FToText;
};

// The shared instance of a kind; encIndyDefault resolves to the process-wide default kind.
const IIdTextEncoding* IndyTextEncoding(TIdTextEncodingType AType);
// The shared encoding of a code page: 1200 UTF-16LE, 1201 UTF-16BE, 20127 ASCII, 65000 UTF-7,
// 65001 UTF-8, anything else a code-page encoding (EIdException "Invalid codepage (%d)" when
// the platform does not know it).
const IIdTextEncoding* IndyTextEncoding(int ACodepage);
// The shared encoding of a character-set name as iconv knows it (for example "windows-1252");
// raises EIdException "Invalid codepage (%d)" with 0 when unknown.
const IIdTextEncoding* IndyTextEncoding(const std::string& ACharSetName);

const IIdTextEncoding* IndyTextEncoding_Default();
const IIdTextEncoding* IndyTextEncoding_OSDefault();
const IIdTextEncoding* IndyTextEncoding_8Bit();
const IIdTextEncoding* IndyTextEncoding_ASCII();
const IIdTextEncoding* IndyTextEncoding_UTF16BE();
const IIdTextEncoding* IndyTextEncoding_UTF16LE();
const IIdTextEncoding* IndyTextEncoding_UTF7();
const IIdTextEncoding* IndyTextEncoding_UTF8();

// The process-wide default kind (starts as encASCII); encIndyDefault itself is not a valid value.
TIdTextEncodingType GIdDefaultTextEncoding();
void SetGIdDefaultTextEncoding(TIdTextEncodingType AValue);

// Returns AEncoding, or the default kind's instance when it is nullptr.
const IIdTextEncoding* EnsureEncoding(const IIdTextEncoding* AEncoding);

// Text helpers with an optional encoding (nullptr: the default kind).
TIdBytes ToBytes(const std::string& AText, const IIdTextEncoding* AByteEncoding = nullptr);
std::string BytesToString(const TIdBytes& ABytes, const IIdTextEncoding* AByteEncoding = nullptr);
std::string BytesToString(const TIdBytes& ABytes, int AStartIndex, int ALength,
                          const IIdTextEncoding* AByteEncoding = nullptr);

// Number of UTF-16 code units of a UTF-8 text (a non-BMP character counts as two; an invalid
// byte counts as one unit, the U+FFFD it stands for).
std::size_t UTF16Length(const std::string& AText);

}  // namespace brv

// Byte streams: the abstract stream, a memory stream and a string stream over it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Classes.h"

namespace brv {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A sequence of bytes with a position.
class TStream : public TObject {
 public:
  BRV_CLASS_NAME(TStream)
  // Reads up to Count bytes into Buffer; returns how many were read (0 at the end).
  virtual std::int64_t Read(void* Buffer, std::int64_t Count) = 0;
  // Writes Count bytes from Buffer; returns how many were written.
  virtual std::int64_t Write(const void* Buffer, std::int64_t Count) = 0;
  // Moves the position; returns the new position.
  virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;
  virtual void SetSize(std::int64_t NewSize) = 0;

  std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(std::int64_t Value) { Seek(Value, TSeekOrigin::soBeginning); }
  virtual std::int64_t Size();

  // Read or write exactly Count bytes, or raise EStreamError.
  void ReadBuffer(void* Buffer, std::int64_t Count);
  void WriteBuffer(const void* Buffer, std::int64_t Count);
  // Copies Count bytes from Source (all of it from position 0 when Count is 0); returns the count.
  std::int64_t CopyFrom(TStream& Source, std::int64_t Count);
};

// A stream held in memory; grows as it is written.
class TMemoryStream : public TStream {
 public:
  BRV_CLASS_NAME(TMemoryStream)
  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(std::int64_t NewSize) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }
  void Clear();

  // The stream's bytes.
  const std::vector<std::uint8_t>& Bytes() const { return data_; }
  const std::uint8_t* Memory() const { return data_.data(); }

 protected:
  std::vector<std::uint8_t> data_;
  std::int64_t position_ = 0;
};

// A memory stream whose bytes are read and written as text. Text is UTF-8 throughout the
// library, so the bytes and the text are the same.
class TStringStream : public TMemoryStream {
 public:
  BRV_CLASS_NAME(TStringStream)
  explicit TStringStream(const std::string& AString = {});
  // The whole content as text, whatever the position.
  std::string DataString() const { return std::string(data_.begin(), data_.end()); }
  // Writes the text at the current position.
  void WriteString(const std::string& AString);
  // Reads up to Count bytes from the current position as text.
  std::string ReadString(std::int64_t Count);
};

// A memory stream kept in blocks of a fixed size instead of one growing array: growing never
// copies what was written, so a large answer costs its own size and one block, not the
// twice its size that a doubling array reaches while it moves. TakeText hands the content
// over as one string, freeing each block as soon as it has been copied.
class TBlockMemoryStream : public TStream {
 public:
  BRV_CLASS_NAME(TBlockMemoryStream)
  static constexpr std::int64_t kBlockSize = 1 << 20;

  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  void SetSize(std::int64_t NewSize) override;
  std::int64_t Size() override { return size_; }
  // The whole content as text; the stream is empty afterwards.
  std::string TakeText();

 private:
  std::vector<std::vector<std::uint8_t>> blocks_;
  std::int64_t size_ = 0;
  std::int64_t position_ = 0;
};

}  // namespace brv

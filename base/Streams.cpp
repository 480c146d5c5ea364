#include "base/Streams.h"

#include <algorithm>
#include <cstring>

namespace brv {

std::int64_t TStream::Size() {
  const std::int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  const std::int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return end;
}

void TStream::ReadBuffer(void* Buffer, std::int64_t Count) {
  auto* out = static_cast<std::uint8_t*>(Buffer);
  std::int64_t done = 0;
  while (done < Count) {
    const std::int64_t n = Read(out + done, Count - done);
    if (n <= 0) throw EStreamError("Stream read error");
    done += n;
  }
}

void TStream::WriteBuffer(const void* Buffer, std::int64_t Count) {
  if (Count > 0 && Write(Buffer, Count) != Count) throw EStreamError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& Source, std::int64_t Count) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  std::vector<std::uint8_t> buffer(static_cast<size_t>(std::min<std::int64_t>(Count, 65536)) + 1);
  std::int64_t left = Count;
  while (left > 0) {
    const std::int64_t chunk =
        std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size()));
    Source.ReadBuffer(buffer.data(), chunk);
    WriteBuffer(buffer.data(), chunk);
    left -= chunk;
  }
  return Count;
}

std::int64_t TMemoryStream::Read(void* Buffer, std::int64_t Count) {
  const std::int64_t available = static_cast<std::int64_t>(data_.size()) - position_;
  const std::int64_t n = std::max<std::int64_t>(0, std::min(Count, available));
  if (n > 0) std::memcpy(Buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  const std::int64_t end = position_ + Count;
  if (end > static_cast<std::int64_t>(data_.size())) data_.resize(static_cast<size_t>(end));
  std::memcpy(data_.data() + position_, Buffer, static_cast<size_t>(Count));
  position_ = end;
  return Count;
}

std::int64_t TMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  std::int64_t base = 0;
  if (Origin == TSeekOrigin::soCurrent) base = position_;
  if (Origin == TSeekOrigin::soEnd) base = static_cast<std::int64_t>(data_.size());
  position_ = std::max<std::int64_t>(0, base + Offset);
  return position_;
}

void TMemoryStream::SetSize(std::int64_t NewSize) {
  data_.resize(static_cast<size_t>(std::max<std::int64_t>(0, NewSize)));
  position_ = std::min(position_, static_cast<std::int64_t>(data_.size()));
}

void TMemoryStream::Clear() {
  data_.clear();
  position_ = 0;
}

TStringStream::TStringStream(const std::string& AString) {
  data_.assign(AString.begin(), AString.end());
}

void TStringStream::WriteString(const std::string& AString) {
  Write(AString.data(), static_cast<std::int64_t>(AString.size()));
}

std::string TStringStream::ReadString(std::int64_t Count) {
  std::string result(static_cast<size_t>(std::max<std::int64_t>(0, Count)), '\0');
  result.resize(static_cast<size_t>(Read(result.data(), Count)));
  return result;
}

// --- TBlockMemoryStream ---

std::int64_t TBlockMemoryStream::Read(void* Buffer, std::int64_t Count) {
  auto* out = static_cast<std::uint8_t*>(Buffer);
  std::int64_t done = 0;
  while (done < Count && position_ < size_) {
    const auto& block = blocks_[static_cast<size_t>(position_ / kBlockSize)];
    const std::int64_t offset = position_ % kBlockSize;
    const std::int64_t n = std::min<std::int64_t>(
        {Count - done, static_cast<std::int64_t>(block.size()) - offset, size_ - position_});
    std::memcpy(out + done, block.data() + offset, static_cast<size_t>(n));
    done += n;
    position_ += n;
  }
  return done;
}

std::int64_t TBlockMemoryStream::Write(const void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  if (position_ + Count > size_) SetSize(position_ + Count);
  const auto* in = static_cast<const std::uint8_t*>(Buffer);
  std::int64_t done = 0;
  while (done < Count) {
    auto& block = blocks_[static_cast<size_t>(position_ / kBlockSize)];
    const std::int64_t offset = position_ % kBlockSize;
    const std::int64_t n =
        std::min<std::int64_t>(Count - done, static_cast<std::int64_t>(block.size()) - offset);
    std::memcpy(block.data() + offset, in + done, static_cast<size_t>(n));
    done += n;
    position_ += n;
  }
  return done;
}

std::int64_t TBlockMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  std::int64_t base = 0;
  if (Origin == TSeekOrigin::soCurrent) base = position_;
  if (Origin == TSeekOrigin::soEnd) base = size_;
  position_ = std::max<std::int64_t>(0, base + Offset);
  return position_;
}

void TBlockMemoryStream::SetSize(std::int64_t NewSize) {
  NewSize = std::max<std::int64_t>(0, NewSize);
  const auto count = static_cast<size_t>((NewSize + kBlockSize - 1) / kBlockSize);
  const size_t kept = std::min(count, blocks_.size());
  blocks_.resize(count);
  // Blocks before the last one kept are full already.
  for (size_t i = kept == 0 ? 0 : kept - 1; i < count; ++i) {
    const std::int64_t want =
        std::min<std::int64_t>(kBlockSize, NewSize - static_cast<std::int64_t>(i) * kBlockSize);
    // Only the last block can be short; a block keeps the bytes it already holds.
    if (static_cast<std::int64_t>(blocks_[i].size()) != want)
      blocks_[i].resize(static_cast<size_t>(want));
  }
  size_ = NewSize;
  if (position_ > size_) position_ = size_;
}

std::string TBlockMemoryStream::TakeText() {
  std::string text;
  text.reserve(static_cast<size_t>(size_));
  for (auto& block : blocks_) {
    text.append(reinterpret_cast<const char*>(block.data()), block.size());
    std::vector<std::uint8_t>().swap(block);
  }
  blocks_.clear();
  size_ = 0;
  position_ = 0;
  return text;
}

}  // namespace brv

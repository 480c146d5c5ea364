#include "transport/IdBuffer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "transport/IdException.h"

namespace brv {

namespace {
constexpr std::int64_t kMaxBufferSize = std::numeric_limits<std::int32_t>::max();
// Largest storage Clear keeps aside for reuse (two default receive blocks).
constexpr std::size_t kSpareLimit = 65536;
}  // namespace

TIdBuffer::TIdBuffer() = default;

TIdBuffer::TIdBuffer(int AGrowthFactor) : FGrowthFactor(AGrowthFactor) {}

TIdBuffer::TIdBuffer(TIdBufferBytesRemoved AOnBytesRemoved)
    : FOnBytesRemoved(std::move(AOnBytesRemoved)) {}

TIdBuffer::TIdBuffer(const TIdBytes& ABytes, int ALength) {
  const std::size_t count =
      ALength < 0 ? ABytes.size()
                  : std::min<std::size_t>(ABytes.size(), static_cast<std::size_t>(ALength));
  FBytes.assign(ABytes.begin(), ABytes.begin() + static_cast<std::ptrdiff_t>(count));
  FSize = static_cast<int>(count);
}

void TIdBuffer::SetCapacity(int AValue) {
  if (AValue < FSize) throw EIdException("Capacity cannot be smaller than Size");
  CompactHead(false);
  FBytes.resize(static_cast<std::size_t>(AValue));
}

std::string TIdBuffer::AsString() const {
  return EnsureEncoding(FByteEncoding)->GetString(Peek(), static_cast<std::size_t>(FSize));
}

// Sizes are summed in 64 bits, so no count can wrap the check.
void TIdBuffer::CheckAdd(std::int64_t AByteCount) {
  if (AByteCount > kMaxBufferSize - FSize) throw EIdTooMuchDataInBuffer();
}

void TIdBuffer::AppendRaw(const std::uint8_t* AData, int ACount) {
  if (ACount <= 0) return;
  CheckAdd(ACount);
  if (FSize == 0) {
    // Storage that Clear put aside serves again when it is large enough.
    if (FBytes.capacity() < static_cast<std::size_t>(ACount) &&
        FSpare.capacity() >= static_cast<std::size_t>(ACount))
      FBytes.swap(FSpare);
    FBytes.assign(AData, AData + ACount);
    FHeadIndex = 0;
    FSize = ACount;
    return;
  }
  CompactHead(false);
  const std::int64_t spare = static_cast<std::int64_t>(FBytes.size()) - FSize;
  if (spare < ACount) {
    // Grow to Size + count + GrowthFactor. The new bytes are appended rather than written over
    // zero-filled room, so growing costs no extra pass over the block.
    const std::int64_t wanted = std::min(
        static_cast<std::int64_t>(FSize) + ACount + std::max(0, FGrowthFactor), kMaxBufferSize);
    FBytes.resize(static_cast<std::size_t>(FSize));
    FBytes.reserve(static_cast<std::size_t>(wanted));
    FBytes.insert(FBytes.end(), AData, AData + ACount);
    FBytes.resize(static_cast<std::size_t>(wanted));
  } else {
    std::memcpy(FBytes.data() + FSize, AData, static_cast<std::size_t>(ACount));
  }
  FSize += ACount;
}

void TIdBuffer::Write(const TIdBytes& ABytes, int ALength, int AOffset) {
  const std::int64_t size = static_cast<std::int64_t>(ABytes.size());
  const std::int64_t offset = std::clamp<std::int64_t>(AOffset, 0, size);
  std::int64_t count = size - offset;
  if (ALength >= 0) count = std::min<std::int64_t>(count, ALength);
  if (count <= 0) return;
  CheckAdd(count);
  AppendRaw(ABytes.data() + offset, static_cast<int>(count));
}

void TIdBuffer::Write(const std::uint8_t* ABytes, int ALength) {
  AppendRaw(ABytes, ALength);
}

void TIdBuffer::AdoptBytes(TIdBytes& VBytes, int ALength) {
  const int count = std::clamp(ALength, 0, static_cast<int>(VBytes.size()));
  if (FSize != 0) {
    AppendRaw(VBytes.data(), count);
    return;
  }
  if (count == 0) return;
  FBytes.swap(VBytes);
  FHeadIndex = 0;
  FSize = count;
  if (VBytes.empty()) VBytes.swap(FSpare);
}

void TIdBuffer::Write(const std::string& AString, const IIdTextEncoding* AByteEncoding) {
  const IIdTextEncoding* encoding = AByteEncoding != nullptr ? AByteEncoding : FByteEncoding;
  Write(EnsureEncoding(encoding)->GetBytes(AString));
}

void TIdBuffer::Write(TStream& AStream, std::int64_t AByteCount) {
  if (AByteCount == 0) {
    AStream.SetPosition(0);
    AByteCount = -1;
  }
  const std::int64_t left = std::max<std::int64_t>(0, AStream.Size() - AStream.Position());
  const std::int64_t count = AByteCount < 0 ? left : std::min(AByteCount, left);
  if (count <= 0) return;
  CheckAdd(count);
  TIdBytes chunk(static_cast<std::size_t>(count));
  AStream.ReadBuffer(chunk.data(), count);
  AppendRaw(chunk.data(), static_cast<int>(count));
}

void TIdBuffer::Write(std::uint8_t AValue) {
  AppendRaw(&AValue, 1);
}

void TIdBuffer::Write(std::uint16_t AValue) {
  const std::uint16_t v = HostToNetwork(AValue);
  AppendRaw(reinterpret_cast<const std::uint8_t*>(&v), sizeof v);
}

void TIdBuffer::Write(std::uint32_t AValue) {
  const std::uint32_t v = HostToNetwork(AValue);
  AppendRaw(reinterpret_cast<const std::uint8_t*>(&v), sizeof v);
}

void TIdBuffer::Write(std::uint64_t AValue) {
  const std::uint64_t v = HostToNetwork(AValue);
  AppendRaw(reinterpret_cast<const std::uint8_t*>(&v), sizeof v);
}

void TIdBuffer::Write(const TIdIPv6Address& AValue) {
  std::uint8_t bytes[16];
  for (std::size_t i = 0; i < 8; ++i) {
    bytes[i * 2] = static_cast<std::uint8_t>(AValue[i] >> 8);
    bytes[i * 2 + 1] = static_cast<std::uint8_t>(AValue[i] & 0xFF);
  }
  AppendRaw(bytes, 16);
}

void TIdBuffer::ExtractToBytes(TIdBytes& VBytes, int AByteCount, bool AAppend) {
  if (AByteCount < 0) AByteCount = FSize;
  if (AByteCount > FSize) {
    throw EIdNotEnoughDataInBuffer(Format("Not enough data in buffer. (%d/%d)", AByteCount, FSize));
  }
  if (AByteCount == 0) return;
  const std::uint8_t* from = Peek();
  if (AAppend) {
    VBytes.insert(VBytes.end(), from, from + AByteCount);
  } else {
    if (VBytes.size() < static_cast<std::size_t>(AByteCount))
      VBytes.resize(static_cast<std::size_t>(AByteCount));
    std::memcpy(VBytes.data(), from, static_cast<std::size_t>(AByteCount));
  }
  Remove(AByteCount);
}

std::string TIdBuffer::ExtractToString(int AByteCount, const IIdTextEncoding* AByteEncoding) {
  if (AByteCount < 0) AByteCount = FSize;
  if (AByteCount < 1) return {};
  if (AByteCount > FSize) {
    throw EIdNotEnoughDataInBuffer(Format("Not enough data in buffer. (%d/%d)", AByteCount, FSize));
  }
  const IIdTextEncoding* encoding = AByteEncoding != nullptr ? AByteEncoding : FByteEncoding;
  std::string result =
      EnsureEncoding(encoding)->GetString(Peek(), static_cast<std::size_t>(AByteCount));
  Remove(AByteCount);
  return result;
}

void TIdBuffer::ExtractToStream(TStream& AStream, int AByteCount) {
  if (AByteCount < 0) AByteCount = FSize;
  if (AByteCount > FSize) {
    throw EIdNotEnoughDataInBuffer(Format("Not enough data in buffer. (%d/%d)", AByteCount, FSize));
  }
  if (AByteCount == 0) return;
  AStream.WriteBuffer(Peek(), AByteCount);
  Remove(AByteCount);
}

void TIdBuffer::ExtractToIdBuffer(TIdBuffer& ABuffer, int AByteCount) {
  if (AByteCount < 0) AByteCount = FSize;
  if (AByteCount > FSize) {
    throw EIdNotEnoughDataInBuffer(Format("Not enough data in buffer. (%d/%d)", AByteCount, FSize));
  }
  if (AByteCount == 0) return;
  ABuffer.Write(Peek(), AByteCount);
  Remove(AByteCount);
}

namespace {
template <class T>
T ExtractNumber(TIdBuffer& ABuffer) {
  TIdBytes bytes;
  ABuffer.ExtractToBytes(bytes, sizeof(T));
  T value = 0;
  for (std::uint8_t b : bytes) value = static_cast<T>((value << 8) | b);
  return value;
}
}  // namespace

std::uint8_t TIdBuffer::ExtractToUInt8() {
  return ExtractNumber<std::uint8_t>(*this);
}
std::uint16_t TIdBuffer::ExtractToUInt16() {
  return ExtractNumber<std::uint16_t>(*this);
}
std::uint32_t TIdBuffer::ExtractToUInt32() {
  return ExtractNumber<std::uint32_t>(*this);
}
std::uint64_t TIdBuffer::ExtractToUInt64() {
  return ExtractNumber<std::uint64_t>(*this);
}

TIdIPv6Address TIdBuffer::ExtractToIPv6() {
  TIdIPv6Address result{};
  for (auto& group : result) group = ExtractToUInt16();
  return result;
}

int TIdBuffer::IndexOf(const TIdBytes& ABytes, int AStartPos) const {
  if (FSize == 0) return -1;
  if (ABytes.empty()) throw EIdException("Buffer terminator must be specified.");
  if (AStartPos < 0 || AStartPos >= FSize) throw EIdException("Buffer start position is invalid.");
  const std::uint8_t* begin = Peek();
  const std::uint8_t* end = begin + FSize;
  const std::uint8_t* found = std::search(begin + AStartPos, end, ABytes.begin(), ABytes.end());
  return found == end ? -1 : static_cast<int>(found - begin);
}

int TIdBuffer::IndexOf(const std::string& AString, int AStartPos,
                       const IIdTextEncoding* AByteEncoding) const {
  const IIdTextEncoding* encoding = AByteEncoding != nullptr ? AByteEncoding : FByteEncoding;
  return IndexOf(EnsureEncoding(encoding)->GetBytes(AString), AStartPos);
}

int TIdBuffer::IndexOf(std::uint8_t AByte, int AStartPos) const {
  if (FSize == 0) return -1;
  if (AStartPos < 0 || AStartPos >= FSize) throw EIdException("Buffer start position is invalid.");
  const std::uint8_t* begin = Peek();
  const void* found =
      std::memchr(begin + AStartPos, AByte, static_cast<std::size_t>(FSize - AStartPos));
  return found == nullptr ? -1 : static_cast<int>(static_cast<const std::uint8_t*>(found) - begin);
}

std::uint8_t TIdBuffer::PeekByte(int AIndex) const {
  if (FSize == 0) throw EIdException("No bytes in buffer.");
  if (AIndex < 0 || AIndex >= FSize) throw EIdException("Index out of bounds.");
  return FBytes[static_cast<std::size_t>(FHeadIndex + AIndex)];
}

void TIdBuffer::Remove(int AByteCount) {
  if (AByteCount <= 0) return;
  if (AByteCount >= FSize) {
    Clear();
  } else {
    FHeadIndex += AByteCount;
    FSize -= AByteCount;
    if (FHeadIndex > FGrowthFactor) CompactHead(true);
  }
  DoBytesRemoved(AByteCount);
}

void TIdBuffer::CompactHead(bool ACanShrink) {
  if (FHeadIndex > 0) {
    std::memmove(FBytes.data(), FBytes.data() + FHeadIndex, static_cast<std::size_t>(FSize));
    FHeadIndex = 0;
  }
  if (ACanShrink && static_cast<std::int64_t>(FBytes.size()) - FSize > FGrowthFactor) {
    FBytes.resize(static_cast<std::size_t>(FSize) +
                  static_cast<std::size_t>(std::max(0, FGrowthFactor)));
    // The memory goes back to the system once it is worth it; a block or two stays allocated
    // so that a reading loop does not allocate for every block.
    if (FBytes.capacity() > FBytes.size() + kSpareLimit) FBytes.shrink_to_fit();
  }
}

void TIdBuffer::Clear() {
  if (FBytes.size() <= kSpareLimit && FBytes.size() > FSpare.size()) FSpare.swap(FBytes);
  TIdBytes().swap(FBytes);
  FHeadIndex = 0;
  FSize = 0;
}

void TIdBuffer::SaveToStream(TStream& AStream) {
  CompactHead(false);
  AStream.WriteBuffer(FBytes.data(), FSize);
}

void TIdBuffer::DoBytesRemoved(int AByteCount) {
  if (FOnBytesRemoved) FOnBytesRemoved(this, AByteCount);
}

}  // namespace brv

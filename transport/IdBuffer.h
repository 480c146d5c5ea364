// TIdBuffer: a growable byte queue, read from the front and appended at the back. The I/O
// handler keeps its input buffer and its write buffer in one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/Streams.h"
#include "transport/IdGlobal.h"
#include "transport/IdTextEncoding.h"

namespace brv {

class TIdBuffer;

// Told how many bytes each removal took from the buffer.
using TIdBufferBytesRemoved = std::function<void(TObject* ASender, int ABytes)>;

inline constexpr int GIdBufferGrowthFactorDefault = 2048;

class TIdBuffer : public TObject {
 public:
  BRV_CLASS_NAME(TIdBuffer)
  TIdBuffer();
  explicit TIdBuffer(int AGrowthFactor);
  explicit TIdBuffer(TIdBufferBytesRemoved AOnBytesRemoved);
  // A buffer holding a copy of the first ALength bytes of ABytes (all of them when negative).
  TIdBuffer(const TIdBytes& ABytes, int ALength);

  // Number of unread bytes.
  int Size() const { return FSize; }
  // Length of the storage. Setting it below Size raises "Capacity cannot be smaller than Size".
  int Capacity() const { return static_cast<int>(FBytes.size()); }
  void SetCapacity(int AValue);
  // Spare room added on growth, and the compaction threshold.
  int GrowthFactor() const { return FGrowthFactor; }
  void SetGrowthFactor(int AValue) { FGrowthFactor = AValue; }
  // Default encoding of the text operations (nullptr: the default kind).
  const IIdTextEncoding* Encoding() const { return FByteEncoding; }
  void SetEncoding(const IIdTextEncoding* AValue) { FByteEncoding = AValue; }
  TIdBufferBytesRemoved& OnBytesRemoved() { return FOnBytesRemoved; }
  // The unread bytes decoded with Encoding.
  std::string AsString() const;

  // Appends ALength bytes of ABytes from AOffset (a negative ALength: all after AOffset).
  // Raises EIdTooMuchDataInBuffer when the buffer would hold more than 2147483647 bytes.
  void Write(const TIdBytes& ABytes, int ALength = -1, int AOffset = 0);
  void Write(const std::uint8_t* ABytes, int ALength);
  // Appends the encoded text (nullptr: Encoding, else the default kind).
  void Write(const std::string& AString, const IIdTextEncoding* AByteEncoding = nullptr);
  // Appends AByteCount bytes from the stream's position (-1: the rest; 0: the whole stream
  // from its start), limited to what the stream holds.
  void Write(TStream& AStream, std::int64_t AByteCount = 0);
  // Numbers in network byte order.
  void Write(std::uint8_t AValue);
  void Write(std::uint16_t AValue);
  void Write(std::uint32_t AValue);
  void Write(std::uint64_t AValue);
  void Write(const TIdIPv6Address& AValue);

  // Moves AByteCount bytes (-1: all) to VBytes: appended, or copied to its start (VBytes only
  // lengthened when shorter). More than Size raises EIdNotEnoughDataInBuffer.
  void ExtractToBytes(TIdBytes& VBytes, int AByteCount = -1, bool AAppend = true);
  // Moves AByteCount bytes (-1: all) out as text; a count below 1 gives "".
  std::string ExtractToString(int AByteCount = -1, const IIdTextEncoding* AByteEncoding = nullptr);
  std::string Extract(int AByteCount = -1, const IIdTextEncoding* AByteEncoding = nullptr) {
    return ExtractToString(AByteCount, AByteEncoding);
  }
  void ExtractToStream(TStream& AStream, int AByteCount = -1);
  void ExtractToIdBuffer(TIdBuffer& ABuffer, int AByteCount = -1);
  // Numbers read from the front in network order.
  std::uint8_t ExtractToUInt8();
  std::uint16_t ExtractToUInt16();
  std::uint32_t ExtractToUInt32();
  std::uint64_t ExtractToUInt64();
  TIdIPv6Address ExtractToIPv6();

  // Position (relative to the head) of the first occurrence at or after AStartPos, or -1.
  // An empty buffer gives -1; otherwise an empty pattern raises "Buffer terminator must be
  // specified." and a start outside 0..Size-1 raises "Buffer start position is invalid.".
  int IndexOf(const TIdBytes& ABytes, int AStartPos = 0) const;
  int IndexOf(const std::string& AString, int AStartPos = 0,
              const IIdTextEncoding* AByteEncoding = nullptr) const;
  int IndexOf(std::uint8_t AByte, int AStartPos = 0) const;

  // The byte AIndex places after the head.
  std::uint8_t PeekByte(int AIndex) const;
  // Drops AByteCount bytes from the front.
  void Remove(int AByteCount);
  // Moves the unread bytes to the front of the storage; with ACanShrink, trims the storage to
  // Size + GrowthFactor when more room than that is left.
  void CompactHead(bool ACanShrink = true);
  // Releases the storage.
  void Clear();
  // Writes the unread bytes to the stream without removing them.
  void SaveToStream(TStream& AStream);

  // For an empty buffer: takes VBytes itself as the storage, holding its first ALength bytes,
  // and hands the former storage back in VBytes. Saves the copy of a freshly received block.
  void AdoptBytes(TIdBytes& VBytes, int ALength);

  // Read access to the unread bytes (Size of them).
  const std::uint8_t* Peek() const { return FBytes.data() + FHeadIndex; }

 private:
  void CheckAdd(std::int64_t AByteCount);
  void AppendRaw(const std::uint8_t* AData, int ACount);
  void DoBytesRemoved(int AByteCount);

  TIdBytes FBytes;
  const IIdTextEncoding* FByteEncoding = nullptr;
  int FGrowthFactor = GIdBufferGrowthFactorDefault;
  int FHeadIndex = 0;
  TIdBufferBytesRemoved FOnBytesRemoved;
  int FSize = 0;
  // Storage of at most one receive block that Clear took out of use, kept for AdoptBytes to
  // hand back, so a read loop does not allocate and clear a block for every read.
  TIdBytes FSpare;
};

}  // namespace brv

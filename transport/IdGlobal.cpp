#include "transport/IdGlobal.h"

#include <algorithm>
#include <bit>

#include "base/AsciiText.h"

namespace brv {

TIdBytes RawToBytes(const std::string& AText) {
  return TIdBytes(AText.begin(), AText.end());
}

std::string BytesToStringRaw(const TIdBytes& ABytes, int AStartIndex, int ALength) {
  const std::int64_t size = static_cast<std::int64_t>(ABytes.size());
  const std::int64_t start = std::clamp<std::int64_t>(AStartIndex, 0, size);
  std::int64_t count = size - start;
  if (ALength >= 0) count = std::min<std::int64_t>(count, ALength);
  return std::string(ABytes.begin() + start, ABytes.begin() + start + count);
}

void AppendBytes(TIdBytes& VBytes, const TIdBytes& AToAdd, int AIndex, int ALength) {
  const std::int64_t size = static_cast<std::int64_t>(AToAdd.size());
  const std::int64_t start = std::clamp<std::int64_t>(AIndex, 0, size);
  std::int64_t count = size - start;
  if (ALength >= 0) count = std::min<std::int64_t>(count, ALength);
  VBytes.insert(VBytes.end(), AToAdd.begin() + start, AToAdd.begin() + start + count);
}

namespace {
template <class T>
T ToBigEndian(T AValue) {
  if constexpr (std::endian::native == std::endian::big) {
    return AValue;
  } else if constexpr (sizeof(T) == 2) {
    return __builtin_bswap16(AValue);
  } else if constexpr (sizeof(T) == 4) {
    return __builtin_bswap32(AValue);
  } else {
    return __builtin_bswap64(AValue);
  }
}
}  // namespace

std::uint16_t HostToNetwork(std::uint16_t AValue) {
  return ToBigEndian(AValue);
}
std::uint32_t HostToNetwork(std::uint32_t AValue) {
  return ToBigEndian(AValue);
}
std::uint64_t HostToNetwork(std::uint64_t AValue) {
  return ToBigEndian(AValue);
}
std::uint16_t NetworkToHost(std::uint16_t AValue) {
  return ToBigEndian(AValue);
}
std::uint32_t NetworkToHost(std::uint32_t AValue) {
  return ToBigEndian(AValue);
}
std::uint64_t NetworkToHost(std::uint64_t AValue) {
  return ToBigEndian(AValue);
}

std::string TrimText(const std::string& AText) {
  return Trim(AText);
}

}  // namespace brv

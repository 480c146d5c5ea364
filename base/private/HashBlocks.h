// Block buffering shared by the built-in hashes (private to base/).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace brv::detail {

// Feeds Size bytes at Data to a hash of BlockSize-byte blocks: tops up the partly filled
// Buffer (Buffered bytes held) first, hands the whole blocks that follow to
// ACompress(blocks, count) straight from Data, and keeps what is left in Buffer.
template <std::size_t BlockSize, class TCompress>
void FeedBlocks(std::array<std::uint8_t, BlockSize>& Buffer, std::size_t& Buffered,
                const std::uint8_t* Data, std::size_t Size, TCompress ACompress) {
  if (Size == 0) return;
  if (Buffered > 0) {
    const std::size_t take = std::min(Size, BlockSize - Buffered);
    std::memcpy(Buffer.data() + Buffered, Data, take);
    Buffered += take;
    Data += take;
    Size -= take;
    if (Buffered < BlockSize) return;
    ACompress(Buffer.data(), 1);
    Buffered = 0;
  }
  if (Size >= BlockSize) {
    const std::size_t blocks = Size / BlockSize;
    ACompress(Data, blocks);
    Data += blocks * BlockSize;
    Size -= blocks * BlockSize;
  }
  if (Size > 0) {
    std::memcpy(Buffer.data(), Data, Size);
    Buffered = Size;
  }
}

}  // namespace brv::detail

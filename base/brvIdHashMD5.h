// MD5 (RFC 1321): the digest the queue service states for message bodies and attributes.
// Through the crypto library behind the hash hooks when it offers MD5, else built in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brv {

// The built-in MD5: incremental, no allocation, no failure cases.
class TIdMD5Builtin {
 public:
  static constexpr std::size_t kDigestSize = 16;
  static constexpr std::size_t kBlockSize = 64;
  using TDigest = std::array<std::uint8_t, kDigestSize>;

  TIdMD5Builtin() { Reset(); }
  // Starts a new message.
  void Reset();
  // Appends Size bytes of the message.
  void Update(const void* Data, std::size_t Size);
  // The digest of everything appended since the last Reset; resets afterwards.
  TDigest Final();

  // The digest of one whole message.
  static TDigest Digest(const void* Data, std::size_t Size);

 private:
  void Compress(const std::uint8_t* Block);

  std::array<std::uint32_t, 4> state_{};
  std::array<std::uint8_t, kBlockSize> buffer_{};
  std::size_t buffered_ = 0;
  std::uint64_t length_ = 0;  // message length in bytes
};

// The MD5 of ABytes: through the hash hooks (whose load hook is called first) when they offer
// MD5, else, and after any failure of theirs, the built-in one. The same bytes either way.
TIdMD5Builtin::TDigest ComputeMD5(std::string_view ABytes);

}  // namespace brv

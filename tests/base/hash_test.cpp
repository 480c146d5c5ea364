#include "base/brvIdHMACSHA1.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/brvIdHMAC.h"
#include "base/brvIdHash.h"
#include "base/brvIdHashHooks.h"
#include "base/brvIdHashSHA.h"
#include "hash_hooks_openssl.h"

namespace brv {
namespace {

using testing::OpenSSLHashHooks;
using testing::ScopedHashHooks;

std::string Hex(const TIdSHA256Builtin::TDigest& d) { return ToHex(TIdBytes(d.begin(), d.end()), false); }

TIdBytes Bytes(const std::string& s) { return TIdBytes(s.begin(), s.end()); }

TIdBytes RandomBytes(std::mt19937& rng, std::size_t n) {
  TIdBytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

TIdBytes BuiltinHMAC(const TIdBytes& key, const TIdBytes& data) {
  const auto d = TIdHMACSHA256Builtin::Digest(key.data(), key.size(), data.data(), data.size());
  return TIdBytes(d.begin(), d.end());
}

TIdBytes BuiltinSHA(const TIdBytes& data) {
  const auto d = TIdSHA256Builtin::Digest(data.data(), data.size());
  return TIdBytes(d.begin(), d.end());
}

// Runs the built-in SHA-256 tests once with the processor's SHA instructions (where it has
// them) and once with the portable code.
class BuiltinSHA256Test : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    saved_ = TIdSHA256Builtin::HardwareAccelerated();
    TIdSHA256Builtin::SetHardwareAcceleration(GetParam());
  }
  void TearDown() override { TIdSHA256Builtin::SetHardwareAcceleration(saved_); }

 private:
  bool saved_ = false;
};

INSTANTIATE_TEST_SUITE_P(Roads, BuiltinSHA256Test, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Accelerated" : "Portable"; });

TEST_P(BuiltinSHA256Test, MatchesTheFipsExampleVectors) {
  const std::string m448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  const std::string m896 =
      "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmno"
      "pqrsmnopqrstnopqrstu";
  const std::vector<std::pair<std::string, std::string>> vectors = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {m448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {m896, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
  };
  for (const auto& [message, digest] : vectors) {
    EXPECT_EQ(Hex(TIdSHA256Builtin::Digest(message)), digest) << message;
    // the same message fed in two pieces split at every offset
    for (std::size_t cut = 0; cut <= message.size(); ++cut) {
      TIdSHA256Builtin sha;
      sha.Update(message.data(), cut);
      sha.Update(message.data() + cut, message.size() - cut);
      ASSERT_EQ(Hex(sha.Final()), digest) << message << " cut at " << cut;
    }
  }
  // one million "a", fed in uneven pieces
  const std::string a(1000000, 'a');
  TIdSHA256Builtin sha;
  std::size_t done = 0;
  for (std::size_t step = 1; done < a.size(); step = step * 7 % 1000 + 1) {
    const std::size_t n = std::min(step, a.size() - done);
    sha.Update(a.data() + done, n);
    done += n;
  }
  EXPECT_EQ(Hex(sha.Final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  // many blocks in one piece, against the portable code block by block
  std::mt19937 rng(11);
  const TIdBytes big = RandomBytes(rng, 64 * 37 + 13);
  const auto oneGo = TIdSHA256Builtin::Digest(big.data(), big.size());
  TIdSHA256Builtin::SetHardwareAcceleration(false);
  TIdSHA256Builtin bytewise;
  for (auto b : big) bytewise.Update(&b, 1);
  EXPECT_EQ(Hex(bytewise.Final()), Hex(oneGo));
  TIdSHA256Builtin::SetHardwareAcceleration(GetParam());
  // Final starts a new message
  sha.Update("abc", 3);
  EXPECT_EQ(Hex(sha.Final()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

struct HmacCase {
  TIdBytes key;
  TIdBytes data;
  std::string mac;
};

std::vector<HmacCase> Rfc4231Cases() {
  TIdBytes key4;
  for (int i = 1; i <= 25; ++i) key4.push_back(static_cast<std::uint8_t>(i));
  return {
      {TIdBytes(20, 0x0b), Bytes("Hi There"),
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {Bytes("Jefe"), Bytes("what do ya want for nothing?"),
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {TIdBytes(20, 0xaa), TIdBytes(50, 0xdd),
       "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
      {key4, TIdBytes(50, 0xcd), "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
      // case 5 is specified truncated to 128 bits; its first 16 bytes are compared
      {TIdBytes(20, 0x0c), Bytes("Test With Truncation"), "a3b6167473100ee06e0c796c2955552b"},
      {TIdBytes(131, 0xaa), Bytes("Test Using Larger Than Block-Size Key - Hash Key First"),
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {TIdBytes(131, 0xaa),
       Bytes("This is a test using a larger than block-size key and a larger than block-size "
             "data. The key needs to be hashed before being used by the HMAC algorithm."),
       "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
  };
}

TEST_P(BuiltinSHA256Test, HMACMatchesTheRfc4231Cases) {
  for (const auto& c : Rfc4231Cases()) {
    const std::string mac = ToHex(BuiltinHMAC(c.key, c.data), false);
    EXPECT_EQ(mac.substr(0, c.mac.size()), c.mac);
  }
  // the empty key and the empty text have no special case
  EXPECT_EQ(ToHex(BuiltinHMAC({}, {}), false),
            "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad");
  // a key longer than the block is the same key as its own hash
  const TIdBytes longKey(200, 0x42);
  EXPECT_EQ(BuiltinHMAC(longKey, Bytes("x")), BuiltinHMAC(BuiltinSHA(longKey), Bytes("x")));
}

TEST(HashClassesTest, WithoutHooksTheLibraryPathIsUnavailable) {
  UninstallHashHooks();
  EXPECT_TRUE(TIdHash::IsAvailable());
  EXPECT_FALSE(TIdHashIntF::IsAvailable());
  EXPECT_FALSE(TIdHashSHA256::IsAvailable());
  try {
    TIdHMACSHA256 hmac;
    FAIL() << "no exception";
  } catch (const EIdHMACHashNotAvailable& e) {
    EXPECT_EQ(e.Message(), "HMAC hash algorithm \"SHA-256\" is not available");
  }
}

TEST(HashClassesTest, OpenSSLHooksGiveTheBuiltInResults) {
  if (!OpenSSLHashHooks::Load()) GTEST_SKIP() << "libcrypto not found";
  ScopedHashHooks scoped(OpenSSLHashHooks::Table());
  ASSERT_TRUE(TIdHashSHA256::IsAvailable());

  std::mt19937 rng(7);
  // lengths around the 2048-byte chunks the hash classes feed
  for (std::size_t n : {0, 1, 55, 56, 64, 2047, 2048, 2049, 4096, 5000}) {
    const TIdBytes data = RandomBytes(rng, n);
    TIdHashSHA256 sha;
    EXPECT_EQ(sha.HashBytes(data), BuiltinSHA(data)) << n;
    EXPECT_EQ(sha.HashBytesAsHex(data), ToHex(BuiltinSHA(data), true)) << n;

    TIdHMACSHA256 hmac;
    const TIdBytes key = RandomBytes(rng, 1 + n % 150);
    hmac.SetKey(key);
    EXPECT_EQ(hmac.HashValue(data), BuiltinHMAC(key, data)) << n;
  }
  TIdHashSHA256 sha;
  EXPECT_EQ(sha.HashStringAsHex("abc"),
            "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");

  // a part of a stream, and a stream hashed from its position
  TMemoryStream stream;
  stream.WriteBuffer("xxabcyy", 7);
  EXPECT_EQ(sha.HashStream(stream, 2, 3), BuiltinSHA(Bytes("abc")));
  stream.SetPosition(5);
  EXPECT_EQ(sha.HashStream(stream), BuiltinSHA(Bytes("yy")));

  // RFC 4231 through the library, truncation included
  for (const auto& c : Rfc4231Cases()) {
    TIdHMACSHA256 hmac;
    hmac.SetKey(c.key);
    EXPECT_EQ(ToHex(hmac.HashValue(c.data, static_cast<int>(c.mac.size() / 2)), false), c.mac);
  }
}

TEST(HashClassesTest, WithoutLibraryHMACTheHMACIsBuiltOverTheDigestHooks) {
  if (!OpenSSLHashHooks::Load()) GTEST_SKIP() << "libcrypto not found";
  TIdHashHooks digestsOnly = OpenSSLHashHooks::Table();
  digestsOnly.HMACAvailable = [] { return false; };
  ScopedHashHooks scoped(digestsOnly);

  for (const auto& c : Rfc4231Cases()) {
    TIdHMACSHA256 hmac;
    hmac.SetKey(c.key);
    EXPECT_EQ(ToHex(hmac.HashValue(c.data), false).substr(0, c.mac.size()), c.mac);
    // a key longer than the block is replaced by its hash
    EXPECT_EQ(hmac.Key().size(), c.key.size() > 64 ? 32u : c.key.size());
  }
  EXPECT_EQ(TIdHMACSHA256().HashSize(), 32);
  EXPECT_EQ(TIdHMACSHA256().BlockSize(), 64);
  EXPECT_EQ(TIdHMACSHA256().HashName(), "SHA256");
}

TEST(HashClassesTest, HMACWithoutKeyDrawsARandomKey) {
  if (!OpenSSLHashHooks::Load()) GTEST_SKIP() << "libcrypto not found";
  for (bool libraryHMAC : {true, false}) {
    TIdHashHooks hooks = OpenSSLHashHooks::Table();
    if (!libraryHMAC) hooks.HMACAvailable = [] { return false; };
    ScopedHashHooks scoped(hooks);
    TIdHMACSHA256 hmac;
    const TIdBytes mac = hmac.HashValue(Bytes("data"));
    ASSERT_EQ(hmac.Key().size(), 32u);
    for (auto b : hmac.Key()) EXPECT_LE(b, 254);
    EXPECT_EQ(mac, BuiltinHMAC(hmac.Key(), Bytes("data")));
  }
}

TEST(HashClassesTest, HMACLibraryWithoutSHA256AndNoDigestsFailsCleanly) {
  // The library offers HMACs but not over SHA-256, and no digests: the HMAC cannot be built
  // here either, which is reported, not crashed on.
  TIdHashHooks hooks;
  hooks.HMACAvailable = [] { return true; };
  ScopedHashHooks scoped(hooks);
  TIdHMACSHA256 hmac;
  hmac.SetKey(Bytes("k"));
  EXPECT_THROW((void)hmac.HashValue(Bytes("data")), EIdHMACHashNotAvailable);
}

// A hook table over the built-in SHA-256 that records what the hash classes do with it.
struct Recorder {
  static inline int live = 0;         // contexts handed out and not yet finished
  static inline std::size_t largest = 0;
  static inline int updates = 0;
  static inline int failAtUpdate = -1;
};

TIdHashHooks RecordingHooks() {
  TIdHashHooks hooks;
  hooks.HashingAvailable = [] { return true; };
  hooks.SHA256Available = [] { return true; };
  hooks.NewSHA256Context = []() -> TIdHashContext {
    ++Recorder::live;
    return new TIdSHA256Builtin();
  };
  hooks.UpdateDigest = [](TIdHashContext ctx, const std::uint8_t* data, std::size_t size) {
    if (Recorder::updates++ == Recorder::failAtUpdate) throw EIdDigestInitEx("EVP_DigestUpdate error");
    Recorder::largest = std::max(Recorder::largest, size);
    static_cast<TIdSHA256Builtin*>(ctx)->Update(data, size);
  };
  hooks.FinishDigest = [](TIdHashContext ctx) {
    --Recorder::live;
    auto* sha = static_cast<TIdSHA256Builtin*>(ctx);
    const auto d = sha->Final();
    delete sha;
    return TIdBytes(d.begin(), d.end());
  };
  return hooks;
}

TEST(HashClassesTest, StreamsAreFedInChunksAndContextsAlwaysReleased) {
  ScopedHashHooks scoped(RecordingHooks());
  std::mt19937 rng(3);
  const TIdBytes data = RandomBytes(rng, 5000);
  Recorder::updates = 0;
  Recorder::failAtUpdate = -1;
  TIdHashSHA256 sha;
  EXPECT_EQ(sha.HashBytes(data), BuiltinSHA(data));
  EXPECT_EQ(Recorder::largest, 2048u);
  EXPECT_EQ(Recorder::updates, 3);
  EXPECT_EQ(Recorder::live, 0);

  Recorder::updates = 0;
  Recorder::failAtUpdate = 1;
  try {
    (void)sha.HashBytes(data);
    FAIL() << "no exception";
  } catch (const EIdDigestInitEx& e) {
    EXPECT_EQ(e.Message(), "EVP_DigestUpdate error");
  }
  EXPECT_EQ(Recorder::live, 0);

  // the HMAC built over these hooks (the library has no HMAC here)
  Recorder::failAtUpdate = -1;
  for (const auto& c : Rfc4231Cases()) {
    TIdHMACSHA256 hmac;
    hmac.SetKey(c.key);
    EXPECT_EQ(ToHex(hmac.HashValue(c.data), false).substr(0, c.mac.size()), c.mac);
  }
  EXPECT_EQ(Recorder::live, 0);
}

}  // namespace
}  // namespace brv

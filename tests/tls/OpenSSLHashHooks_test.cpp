#include "tls/OpenSSLBinding.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "base/brvIdHMACSHA1.h"
#include "base/brvIdHashMD5.h"
#include "base/brvIdHashSHA.h"

namespace brv {
namespace {

std::string Hex(const std::uint8_t* data, std::size_t size) {
  return ToHex(TIdBytes(data, data + size), false);
}

TIdBytes Bytes(const std::string& s) {
  return TIdBytes(s.begin(), s.end());
}

struct ShaVector {
  std::string message;
  const char* digest;
};

// FIPS 180-4 examples (NIST's SHA-256 test vectors).
const std::vector<ShaVector>& ShaVectors() {
  static const std::vector<ShaVector> v = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
       "lmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  return v;
}

struct HmacVector {
  TIdBytes key;
  std::string data;
  int truncate;
  const char* mac;
};

// RFC 4231, test cases 1 to 7 (HMAC-SHA-256).
const std::vector<HmacVector>& HmacVectors() {
  static const std::vector<HmacVector> v = [] {
    TIdBytes key4;
    for (int i = 1; i <= 25; ++i) key4.push_back(static_cast<std::uint8_t>(i));
    return std::vector<HmacVector>{
        {TIdBytes(20, 0x0b), "Hi There", -1,
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {Bytes("Jefe"), "what do ya want for nothing?", -1,
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {TIdBytes(20, 0xaa), std::string(50, '\xdd'), -1,
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe"},
        {key4, std::string(50, '\xcd'), -1,
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b"},
        {TIdBytes(20, 0x0c), "Test With Truncation", 16, "a3b6167473100ee06e0c796c2955552b"},
        {TIdBytes(131, 0xaa), "Test Using Larger Than Block-Size Key - Hash Key First", -1,
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
        {TIdBytes(131, 0xaa),
         "This is a test using a larger than block-size key and a larger than block-size data. "
         "The key needs to be hashed before being used by the HMAC algorithm.",
         -1, "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2"},
    };
  }();
  return v;
}

TEST(OpenSSLHashHooks, AnswerUnavailableUntilBoundThenMatchTheBuiltInPath) {
  ReleaseOpenSSL();
  InstallOpenSSLHashHooks();
  TIdHashHooks hooks = GetHashHooks();
  ASSERT_NE(hooks.HashingAvailable, nullptr) << "the binding installs its hooks when asked";
  EXPECT_FALSE(hooks.HashingAvailable());
  EXPECT_FALSE(hooks.HMACAvailable());
  EXPECT_FALSE(TIdHashSHA256::IsAvailable());

  hooks.LoadHashLibrary();
  ASSERT_TRUE(IsOpenSSLLoaded());
  EXPECT_TRUE(TIdHashSHA256::IsAvailable());
  EXPECT_TRUE(hooks.HMACAvailable());
  EXPECT_TRUE(hooks.HMACSHA256Available());

  for (const auto& v : ShaVectors()) {
    TIdHashSHA256 hash;
    const auto builtin = TIdSHA256Builtin::Digest(v.message);
    EXPECT_EQ(ToHex(hash.HashBytes(Bytes(v.message)), false), v.digest) << v.message.substr(0, 20);
    EXPECT_EQ(Hex(builtin.data(), builtin.size()), v.digest);
  }

  for (const auto& v : HmacVectors()) {
    TIdHMACSHA256 hmac;
    hmac.SetKey(v.key);
    const TIdBytes library = hmac.HashValue(Bytes(v.data), v.truncate);
    const auto builtin =
        TIdHMACSHA256Builtin::Digest(v.key.data(), v.key.size(), v.data.data(), v.data.size());
    const std::size_t n = v.truncate < 0 ? builtin.size() : static_cast<std::size_t>(v.truncate);
    EXPECT_EQ(ToHex(library, false), v.mac) << v.data;
    EXPECT_EQ(Hex(builtin.data(), n), v.mac) << v.data;
  }
}

// RFC 1321's test suite.
const std::vector<ShaVector>& MD5Vectors() {
  static const std::vector<ShaVector> v = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  return v;
}

TEST(OpenSSLHashHooks, MD5ThroughTheLibraryAndBuiltInAgreeAtEveryLength) {
  ReleaseOpenSSL();
  InstallOpenSSLHashHooks();
  const TIdHashHooks hooks = GetHashHooks();
  ASSERT_NE(hooks.MD5Available, nullptr);
  EXPECT_FALSE(hooks.MD5Available()) << "not before the library is bound";
  hooks.LoadHashLibrary();
  ASSERT_TRUE(hooks.MD5Available());
  for (const auto& v : MD5Vectors()) {
    const auto digest = ComputeMD5(v.message);
    const auto builtin = TIdMD5Builtin::Digest(v.message.data(), v.message.size());
    EXPECT_EQ(Hex(digest.data(), digest.size()), v.digest) << v.message;
    EXPECT_EQ(Hex(builtin.data(), builtin.size()), v.digest) << v.message;
  }
  // Every padding case, across two blocks: the library's context, the built-in MD5 in one
  // piece and fed a byte at a time.
  std::string message;
  for (int n = 0; n <= 130; ++n) {
    TIdHashContext context = hooks.NewMD5Context();
    hooks.UpdateDigest(context, reinterpret_cast<const std::uint8_t*>(message.data()),
                       message.size());
    const TIdBytes library = hooks.FinishDigest(context);
    const auto whole = TIdMD5Builtin::Digest(message.data(), message.size());
    TIdMD5Builtin bytewise;
    for (const char c : message) bytewise.Update(&c, 1);
    const auto pieces = bytewise.Final();
    EXPECT_EQ(ToHex(library, false), Hex(whole.data(), whole.size())) << n;
    EXPECT_EQ(Hex(pieces.data(), pieces.size()), Hex(whole.data(), whole.size())) << n;
    message += static_cast<char>(n * 37 + 11);
  }
}

// One SHA-256 object serves every digest and HMAC of the process, on every thread.
TEST(OpenSSLHashHooks, ThreadsHashingAtOnceGetTheSameResults) {
  InstallOpenSSLHashHooks();
  ASSERT_TRUE(EnsureOpenSSLLoaded());
  const auto& sha = ShaVectors()[3];
  const auto& mac = HmacVectors()[1];
  std::vector<std::string> failures(4);
  std::vector<std::thread> threads;
  for (auto& failure : failures) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200 && failure.empty(); ++i) {
        TIdHashSHA256 hash;
        TIdHMACSHA256 hmac;
        hmac.SetKey(mac.key);
        if (ToHex(hash.HashBytes(Bytes(sha.message)), false) != sha.digest)
          failure = "digest";
        else if (ToHex(hmac.HashValue(Bytes(mac.data)), false) != mac.mac)
          failure = "HMAC";
      }
    });
  }
  for (auto& t : threads) t.join();
  for (const auto& failure : failures) EXPECT_EQ(failure, "");
}

std::string HookHMAC(const TIdHashHooks& AHooks, TIdHashContext AContext, const std::string& AData) {
  AHooks.UpdateHMAC(AContext, reinterpret_cast<const std::uint8_t*>(AData.data()), AData.size());
  return ToHex(AHooks.FinishHMAC(AContext), false);
}

// A thread's finished contexts serve its next hashes: the same key again, another key, two
// contexts open at once, and contexts kept from before the library was released and loaded
// again all give the right results.
TEST(OpenSSLHashHooks, ContextsKeptForTheNextHashGiveTheSameResults) {
  InstallOpenSSLHashHooks();
  ASSERT_TRUE(EnsureOpenSSLLoaded());
  for (int round = 0; round < 2; ++round) {
    for (const auto& v : HmacVectors()) {
      for (int again = 0; again < 2; ++again) {
        TIdHMACSHA256 hmac;
        hmac.SetKey(v.key);
        EXPECT_EQ(ToHex(hmac.HashValue(Bytes(v.data), v.truncate), false), v.mac) << v.data;
      }
    }
    for (const auto& v : ShaVectors()) {
      TIdHashSHA256 hash;
      EXPECT_EQ(ToHex(hash.HashBytes(Bytes(v.message)), false), v.digest);
    }
    const TIdHashHooks hooks = GetHashHooks();
    const auto& a = HmacVectors()[0];
    const auto& b = HmacVectors()[1];
    TIdHashContext first = hooks.NewHMACSHA256Context(a.key.data(), a.key.size());
    TIdHashContext second = hooks.NewHMACSHA256Context(b.key.data(), b.key.size());
    EXPECT_EQ(HookHMAC(hooks, second, b.data), b.mac);
    EXPECT_EQ(HookHMAC(hooks, first, a.data), a.mac);
    // The kept key with its last byte changed is another key.
    TIdBytes near = a.key;
    near.back() ^= 1;
    TIdHashContext other = hooks.NewHMACSHA256Context(near.data(), near.size());
    EXPECT_NE(HookHMAC(hooks, other, a.data), a.mac);
    ReleaseOpenSSL();
    ASSERT_TRUE(EnsureOpenSSLLoaded());
  }
}

TEST(OpenSSLHashHooks, HashingGoesOnWithoutTheLibrary) {
  ReleaseOpenSSL();
  InstallOpenSSLHashHooks();
  SetOpenSSLLibraryPath(std::string(BRV_BINARY_DIR) + "/no-such-openssl-dir");
  const TIdHashHooks hooks = GetHashHooks();
  hooks.LoadHashLibrary();
  EXPECT_FALSE(hooks.HashingAvailable());
  EXPECT_FALSE(TIdHashSHA256::IsAvailable());
  // The HMAC class has nothing to build on; the signer then takes the built-in path.
  EXPECT_THROW(TIdHMACSHA256{}, EIdHMACHashNotAvailable);
  const auto builtin = TIdSHA256Builtin::Digest(std::string("abc"));
  EXPECT_EQ(Hex(builtin.data(), builtin.size()), ShaVectors()[1].digest);
  EXPECT_FALSE(hooks.MD5Available());
  const auto md5 = ComputeMD5("abc");
  EXPECT_EQ(Hex(md5.data(), md5.size()), MD5Vectors()[2].digest);
  SetOpenSSLLibraryPath("");
  EXPECT_TRUE(EnsureOpenSSLLoaded());
}

}  // namespace
}  // namespace brv

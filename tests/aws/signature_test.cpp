#include "aws/brvHTTP_Amazon_AWS_Signature.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/brvIdHashHooks.h"
#include "base/brvIdHashSHA.h"
#include "tests/base/hash_hooks_openssl.h"

namespace brv {
namespace {

using testing::OpenSSLHashHooks;
using testing::ScopedHashHooks;

constexpr long long k20210302T090507Z = 1614675907;

// The UTC instant a number of seconds after 1970-01-01 00:00 UTC.
std::chrono::system_clock::time_point UnixTime(long long seconds) {
  return std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
}

constexpr char kSecret[] = "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY";
constexpr char kWorkedURL[] =
    "https://host/123456789012/MyQueue/?Action=SendMessage&MessageBody=hi";

std::string Sha256Hex(const std::string& text) {
  const auto d = TIdSHA256Builtin::Digest(text);
  return ToHex(TIdBytes(d.begin(), d.end()), false);
}

// A signer with the example credentials whose clock stands at the given moment.
struct PinnedSigner : TbrvHTTP_Amazon_AWS_Signature_V4 {
  explicit PinnedSigner(long long unixSeconds = k20210302T090507Z) {
    SignatureV4Options().AccessKey = "AKIDEXAMPLE";
    SignatureV4Options().SecretKey = kSecret;
    SignatureV4Options().Region = "us-east-1";
    SignatureV4Options().Service = "sqs";
    At(unixSeconds);
  }
  void At(long long unixSeconds) {
    SetUTCClock([unixSeconds] { return UnixTime(unixSeconds); });
  }
};

// The moment the clocks of ReusedSignerFollowsEveryChangeOfDayAndOptions show.
long long gMoment = 0;

std::string HttpCanonicalRequest(const std::string& path, const std::string& query,
                                 const std::string& host) {
  return "GET\n" + path + "\n" + query +
         "\ncontent-type:application/x-www-form-urlencoded; charset=utf-8\nhost:" + host +
         "\nx-amz-date:20210302T090507Z\n\ncontent-type;host;x-amz-date\n" + Sha256Hex("");
}

TEST(SignatureV4Test, SignsTheWorkedExample) {
  PinnedSigner signer;
  signer.SignGET(kWorkedURL);
  EXPECT_EQ(signer.RequestDate(), "20210302T090507Z");
  EXPECT_EQ(signer.HashedCanonicalRequest(),
            Sha256Hex(HttpCanonicalRequest("/123456789012/MyQueue/",
                                           "Action=SendMessage&MessageBody=hi", "host")));
  EXPECT_EQ(signer.StringToSign(),
            "AWS4-HMAC-SHA256\n20210302T090507Z\n"
            "20210302/us-east-1/sqs/aws4_request\n" +
                signer.HashedCanonicalRequest());
  // the signature botocore computes for the same request
  EXPECT_EQ(signer.Signature(), "a253d5cdfb8f7bcc87343014900c377bf8c16ffc9ccd4c31b5574901b7e94841");
  EXPECT_EQ(signer.AuthorizationHeader(),
            "Authorization: AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20210302/us-east-1/sqs/"
            "aws4_request, SignedHeaders=content-type;host;x-amz-date, "
            "Signature=a253d5cdfb8f7bcc87343014900c377bf8c16ffc9ccd4c31b5574901b7e94841");
}

TEST(SignatureV4Test, SignsPathQueryAndHostAsTheRequestCarriesThem) {
  struct Case {
    const char* url;
    const char* path;
    const char* query;
    const char* host;
  };
  const std::vector<Case> cases = {
      {"https://host/123456789012/MyQueue", "/123456789012/MyQueue", "", "host"},
      {"https://host/123456789012/MyQueue/", "/123456789012/MyQueue/", "", "host"},
      {"https://host?Action=ListQueues", "/", "Action=ListQueues", "host"},
      {"https://host", "/", "", "host"},
      // the Host line carries the port unless it is the scheme's own
      {"https://host:443/q", "/q", "", "host"},
      {"http://host:80/q", "/q", "", "host"},
      {"https://host:8443/q", "/q", "", "host:8443"},
      {"http://127.0.0.1:4566/000000000000/q", "/000000000000/q", "", "127.0.0.1:4566"},
      {"http://host:443/q", "/q", "", "host:443"},
      {"http://[::1]:9324/q", "/q", "", "[::1]:9324"},
      // a server reads the query in its canonical form: decoded, re-encoded, sorted
      {"https://host/?b=2&a=%7e&a=1&c", "/", "a=1&a=~&b=2&c=", "host"},
      // the path goes through the same rules a server applies to it
      {"https://host/a/./b/../c//d%20e", "/a/c/d%2520e", "", "host"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    PinnedSigner signer;
    signer.SignGET(c.url);
    EXPECT_EQ(signer.HashedCanonicalRequest(),
              Sha256Hex(HttpCanonicalRequest(c.path, c.query, c.host)));
  }
}

TEST(SignatureV4Test, CanonicalQueryIsWhatAServerComputes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"Action=SendMessage&MessageBody=hi", "Action=SendMessage&MessageBody=hi"},
      // byte order: upper case sorts before lower case
      {"Action=AddPermission&AWSAccountId.1=1&ActionName.1=x",
       "AWSAccountId.1=1&Action=AddPermission&ActionName.1=x"},
      {"Attribute.10.Name=a&Attribute.1.Name=b", "Attribute.1.Name=b&Attribute.10.Name=a"},
      {"v=%e2%82%ac", "v=%E2%82%AC"},
      {"v=a+b%2Bc", "v=a%20b%2Bc"},
      {"v=%41%2d%7E", "v=A-~"},
      {"v=a&b&&=x", "=x&b=&v=a"},
      {"v=x=y", "v=x%3Dy"},
      {"v=%", "v=%25"},
      {"v=%FF", "v=%EF%BF%BD"},
      // a sequence cut short is read as one U+FFFD per byte
      {"v=%E2%82x", "v=%EF%BF%BD%EF%BF%BDx"},
      {"v=\xC3\xA9", "v=%C3%A9"},
      {"v=*'()!", "v=%2A%27%28%29%21"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(AWSCanonicalQuery(in), out) << in;
}

TEST(SignatureV4Test, CanonicalPathDropsDotAndEmptySegmentsAndEscapes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "/"},         {"/", "/"},         {"/a/b/", "/a/b/"},
      {"/a//b", "/a/b"}, {"//", "/"},        {"/a/./b/../c", "/a/c"},
      {"/a/..", "/"},    {"/a/.", "/a"},     {"/.a/..b", "/.a/..b"},
      {"a/b", "a/b"},    {"/a b", "/a%20b"}, {"/q~-_.", "/q~-_."},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(AWSCanonicalPath(in), out) << in;
}

TEST(SignatureV4Test, StampsEachSigningWithTheClock) {
  PinnedSigner signer;
  signer.SignGET(kWorkedURL);
  const std::string first = signer.Signature();
  signer.SignGET(kWorkedURL);
  EXPECT_EQ(signer.RequestDate(), "20210302T090507Z");
  EXPECT_EQ(signer.Signature(), first);

  signer.At(k20210302T090507Z + 1);
  signer.SignGET(kWorkedURL);
  EXPECT_EQ(signer.RequestDate(), "20210302T090508Z");
  EXPECT_NE(signer.Signature(), first);

  // a clock that answers zero means now
  TbrvHTTP_Amazon_AWS_Signature_V4 now;
  now.SetClock([] { return TDateTime(0); });
  now.SignGET(kWorkedURL);
  EXPECT_EQ(now.RequestDate().size(), 16u);
  EXPECT_EQ(now.RequestDate()[8], 'T');
  EXPECT_EQ(now.RequestDate()[15], 'Z');
}

TEST(SignatureV4Test, ReusedSignerFollowsEveryChangeOfDayAndOptions) {
  // one signer through a series of changes gives what a fresh signer gives each time
  PinnedSigner reused;
  const auto same = [&](const char* what) {
    reused.SignGET(kWorkedURL);
    PinnedSigner fresh;
    fresh.SignatureV4Options().Assign(&reused.SignatureV4Options());
    fresh.SetUTCClock([&] { return UnixTime(gMoment); });
    fresh.SignGET(kWorkedURL);
    EXPECT_EQ(reused.AuthorizationHeader(), fresh.AuthorizationHeader()) << what;
  };
  gMoment = k20210302T090507Z;
  reused.SetUTCClock([&] { return UnixTime(gMoment); });
  same("first");
  same("again");
  gMoment += 86400;
  same("next day");
  reused.SignatureV4Options().SecretKey = "";
  same("empty secret");
  reused.SignatureV4Options().Region = "eu-west-1";
  same("region");
  reused.SignatureV4Options().Service = "iot";
  same("service");
  reused.SignatureV4Options().SecretKey = "other";
  same("secret");
}

TEST(SignatureV4Test, AuthorizationLineReadsTheOptionsWhenRead) {
  TbrvHTTP_Amazon_AWS_Signature_V4 signer;
  EXPECT_EQ(signer.AuthorizationHeader(),
            "Authorization: AWS4-HMAC-SHA256 Credential=////aws4_request, SignedHeaders=, "
            "Signature=");
  EXPECT_EQ(signer.Protocol(), sv4pHTTP);
  EXPECT_EQ(signer.Version(), "4.4.6");

  PinnedSigner pinned;
  pinned.SignGET(kWorkedURL);
  pinned.SignatureV4Options().AccessKey = "OTHER";
  EXPECT_EQ(pinned.AuthorizationHeader().substr(0, 64),
            "Authorization: AWS4-HMAC-SHA256 Credential=OTHER/20210302/us-eas");
}

TEST(SignatureV4Test, MqttSignsOnlyTheHostOverAFixedPath) {
  PinnedSigner signer;
  signer.SetProtocol(sv4pMQTT);
  signer.SignGET("https://host:8443/any/path?Action=X");
  const std::string canonical = "GET\n/mqtt\nAction=X\nhost:host:8443\n\nhost\n" + Sha256Hex("");
  EXPECT_EQ(signer.HashedCanonicalRequest(), Sha256Hex(canonical));
  EXPECT_NE(signer.AuthorizationHeader().find(", SignedHeaders=host, Signature="),
            std::string::npos);
}

TEST(SignatureV4Test, PostSignsThePayload) {
  PinnedSigner signer;
  signer.SignPOST("https://host/", "Action=ListQueues");
  const std::string canonical =
      "POST\n/\n\ncontent-type:application/x-www-form-urlencoded; charset=utf-8\nhost:host\n"
      "x-amz-date:20210302T090507Z\n\ncontent-type;host;x-amz-date\n" +
      Sha256Hex("Action=ListQueues");
  EXPECT_EQ(signer.HashedCanonicalRequest(), Sha256Hex(canonical));
}

TEST(SignatureV4Test, ASessionTokenIsASignedHeader) {
  PinnedSigner signer;
  signer.SignatureV4Options().SessionToken = " IQoJb3JpZ2luX2VjEA  token/+= ";
  signer.SignPOST("https://host/", "Action=ListQueues");
  // Trimmed, inner blanks as one, sorted after x-amz-date.
  const std::string canonical =
      "POST\n/\n\ncontent-type:application/x-www-form-urlencoded; charset=utf-8\nhost:host\n"
      "x-amz-date:20210302T090507Z\nx-amz-security-token:IQoJb3JpZ2luX2VjEA token/+=\n\n"
      "content-type;host;x-amz-date;x-amz-security-token\n" +
      Sha256Hex("Action=ListQueues");
  EXPECT_EQ(signer.HashedCanonicalRequest(), Sha256Hex(canonical));
  EXPECT_NE(signer.AuthorizationHeader().find(
                ", SignedHeaders=content-type;host;x-amz-date;x-amz-security-token, "),
            std::string::npos);

  signer.SignatureV4Options().SessionToken.clear();
  signer.SignGET(kWorkedURL);
  EXPECT_EQ(signer.SignedHeaders(), "content-type;host;x-amz-date");
}

TEST(SignatureV4Test, OptionsCopyByAssign) {
  TbrvHTTP_Amazon_AWS_Signature_V4_Options a;
  a.AccessKey = "ak";
  a.SecretKey = "sk";
  a.Region = "r";
  a.Service = "s";
  a.SessionToken = "st";
  TbrvHTTP_Amazon_AWS_Signature_V4 signer;
  signer.SetSignatureV4Options(a);
  EXPECT_EQ(signer.SignatureV4Options().AccessKey, "ak");
  EXPECT_EQ(signer.SignatureV4Options().SecretKey, "sk");
  EXPECT_EQ(signer.SignatureV4Options().Region, "r");
  EXPECT_EQ(signer.SignatureV4Options().Service, "s");
  EXPECT_EQ(signer.SignatureV4Options().SessionToken, "st");

  TPersistent other;
  try {
    signer.SignatureV4Options().Assign(&other);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(),
              "Cannot assign a TPersistent to a TbrvHTTP_Amazon_AWS_Signature_V4_Options");
  }
}

TEST(SignatureV4Test, ClockFailureStopsTheSigningWithTheDesignedMessage) {
  PinnedSigner signer;
  signer.SignGET(kWorkedURL);
  const std::string signature = signer.Signature();
  signer.SetUTCClock(nullptr);
  signer.SetClock([] { return TDateTime(1e15); });  // far beyond any time zone rule
  try {
    signer.SignGET(kWorkedURL);
    FAIL() << "no exception";
  } catch (const EIdFailedToRetreiveTimeZoneInfo& e) {
    EXPECT_EQ(e.Message(), "Failed attempting to retrieve time zone information.");
  }
  EXPECT_EQ(signer.HashedCanonicalRequest(), "");
  EXPECT_EQ(signer.RequestDate(), "20210302T090507Z");
  EXPECT_EQ(signer.Signature(), signature);
}

TEST(SignaturePrimitivesTest, HashTheUtf8BytesOnEveryRoad) {
  TbrvHTTP_Amazon_AWS_Signature sig;
  const std::string text = "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 abc";
  const TIdBytes longKey(100, 0x61);
  const auto check = [&] {
    EXPECT_EQ(sig.GetSHA256Hex(""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sig.GetSHA256Hex(text), Sha256Hex(text));
    const auto keyHash = TIdSHA256Builtin::Digest(longKey.data(), longKey.size());
    EXPECT_EQ(sig.GetHMACSHA256(text, longKey),
              sig.GetHMACSHA256(text, TIdBytes(keyHash.begin(), keyHash.end())));
    EXPECT_EQ(ToHex(sig.GetHMACSHA256("Hi There", TIdBytes(20, 0x0b)), false),
              "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7");
  };
  UninstallHashHooks();
  check();

  // a library that fails inside: the built-in road answers instead
  TIdHashHooks broken;
  broken.HashingAvailable = [] { return true; };
  broken.SHA256Available = [] { return true; };
  broken.HMACAvailable = [] { return true; };
  broken.HMACSHA256Available = [] { return true; };
  broken.NewSHA256Context = []() -> TIdHashContext { throw std::runtime_error("no digest"); };
  broken.NewHMACSHA256Context = [](const std::uint8_t*, std::size_t) -> TIdHashContext {
    throw EIdDigestInitEx("HMAC_Init_ex error");
  };
  broken.UpdateDigest = [](TIdHashContext, const std::uint8_t*, std::size_t) {};
  broken.FinishDigest = [](TIdHashContext) { return TIdBytes(); };
  broken.UpdateHMAC = [](TIdHashContext, const std::uint8_t*, std::size_t) {};
  broken.FinishHMAC = [](TIdHashContext) { return TIdBytes(); };
  {
    ScopedHashHooks scoped(broken);
    check();
  }
  if (OpenSSLHashHooks::Load()) {
    ScopedHashHooks scoped(OpenSSLHashHooks::Table());
    check();
  }
}

TEST(SignaturePrimitivesTest, LibraryComingAndGoingChangesNoSignature) {
  if (!OpenSSLHashHooks::Load()) GTEST_SKIP() << "libcrypto not found";
  static int loads = 0;
  // the library is loaded on first need, by the load hook
  TIdHashHooks lazy;
  lazy.LoadHashLibrary = [] {
    ++loads;
    TIdHashHooks table = OpenSSLHashHooks::Table();
    table.LoadHashLibrary = [] { ++loads; };
    InstallHashHooks(table);
  };
  ScopedHashHooks scoped(lazy);

  PinnedSigner signer;
  signer.SignatureV4Options().SecretKey = "";
  signer.SignGET(kWorkedURL);
  const std::string withLibrary = signer.AuthorizationHeader();
  EXPECT_GT(loads, 0);
  EXPECT_TRUE(TIdHashSHA256::IsAvailable());

  UninstallHashHooks();
  signer.SignGET(kWorkedURL);
  EXPECT_EQ(signer.AuthorizationHeader(), withLibrary);
}

}  // namespace
}  // namespace brv

// Signing throughput: one Signature Version 4 signing of a typical SendMessage request, as the
// AWS client base does it before every request, and the hash primitives under it.
// bench/signing_vs_botocore.sh runs this next to botocore signing the same request.

#include <benchmark/benchmark.h>

#include <string>

#include "aws/brvHTTP_Amazon_AWS_Signature.h"
#include "base/brvIdHMACSHA1.h"
#include "base/brvIdHashSHA.h"

namespace {

// A SendMessage to a queue URL with an encoded body, as the SQS client builds it.
const char* const kSendMessageURL =
    "https://sqs.us-east-1.amazonaws.com/123456789012/MyQueue?Action=SendMessage&"
    "DelaySeconds=5&MessageBody=Hello%20from%20the%20signing%20benchmark%3A%20order%20%2342%20"
    "shipped%20%E2%80%94%20total%2019.99%20%E2%82%AC&MessageGroupId=orders";

void Configure(brv::TbrvHTTP_Amazon_AWS_Signature_V4& signer) {
  signer.SignatureV4Options().AccessKey = "AKIDEXAMPLE";
  signer.SignatureV4Options().SecretKey = "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY";
  signer.SignatureV4Options().Region = "us-east-1";
  signer.SignatureV4Options().Service = "sqs";
}

// The road of every request: sign with the current time, then read the header line.
void BM_SignSendMessage(benchmark::State& state) {
  brv::TbrvHTTP_Amazon_AWS_Signature_V4 signer;
  Configure(signer);
  for (auto _ : state) {
    signer.SignGET(kSendMessageURL);
    benchmark::DoNotOptimize(signer.AuthorizationHeader());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignSendMessage);

// The same with the clock pinned, leaving out reading the time and the zone.
void BM_SignSendMessagePinnedClock(benchmark::State& state) {
  brv::TbrvHTTP_Amazon_AWS_Signature_V4 signer;
  Configure(signer);
  const brv::TDateTime when = brv::LocalTimeOfUnixTime(1614675907);
  signer.SetClock([when] { return when; });
  for (auto _ : state) {
    signer.SignGET(kSendMessageURL);
    benchmark::DoNotOptimize(signer.AuthorizationHeader());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SignSendMessagePinnedClock);

void BM_BuiltinSHA256_1KiB(benchmark::State& state) {
  const std::string data(1024, 'x');
  for (auto _ : state) benchmark::DoNotOptimize(brv::TIdSHA256Builtin::Digest(data));
  state.SetBytesProcessed(state.iterations() * 1024);
}
BENCHMARK(BM_BuiltinSHA256_1KiB);

void BM_BuiltinHMACSHA256_64B(benchmark::State& state) {
  const std::string key(32, 'k');
  const std::string data(64, 'x');
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        brv::TIdHMACSHA256Builtin::Digest(key.data(), key.size(), data.data(), data.size()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuiltinHMACSHA256_64B);

}  // namespace

BENCHMARK_MAIN();

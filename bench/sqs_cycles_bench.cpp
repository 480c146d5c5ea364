// Send, receive and delete cycles of one message through the SQS client against a running SQS
// service, in one process, on one keep-alive connection. Run by bench/sqs_vs_awscli_boto3.sh,
// which starts the local SQS service and compares the figures with boto3 doing the same.
//
//   SQS_BENCH_ENDPOINT=http://127.0.0.1:PORT [SQS_BENCH_CA=ca.pem] [SQS_BENCH_BODY=text]
//   bench_sqs_cycles
//
// With SQS_BENCH_BODY every cycle sends that body (bench/sqs_canned_cycles.sh: its server's
// canned answers carry that body and its digest); otherwise each cycle's body is numbered.
//
// Besides Google Benchmark's times it reports, per request (three per cycle, more when a
// receive comes back empty), the CPU time
// of the whole process (user + system, from getrusage), so that the figures compare with any
// other client measured the same way.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>

#include "support/BenchMain.h"
#include "sqs/brvHTTP.h"

namespace {

double ProcessCPUSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string Environment(const char* Name, const char* Default = "") {
  const char* value = std::getenv(Name);
  return value != nullptr ? value : Default;
}

void BM_SendReceiveDelete(benchmark::State& state) {
  const std::string endpoint = Environment("SQS_BENCH_ENDPOINT");
  if (endpoint.empty()) {
    state.SkipWithError("set SQS_BENCH_ENDPOINT to the service's URL");
    return;
  }
  brv::TbrvHTTPAWS_SQS_Client client;
  client.AWSOptions().Region = Environment("SQS_BENCH_REGION", "us-east-1");
  client.AWSOptions().AccessKey = Environment("AWS_ACCESS_KEY_ID", "test");
  client.AWSOptions().SecretKey = Environment("AWS_SECRET_ACCESS_KEY", "test");
  client.AWSOptions().EndPointURL = endpoint;
  client.GetHTTPClient().TLSOptions().RootCertFile = Environment("SQS_BENCH_CA");
  bool failed = false;
  client.OnSQSError = [&](brv::TObject*, const std::string& Code, const std::string& Message,
                          const std::string&) {
    failed = true;
    state.SkipWithError((Code + ": " + Message).c_str());
  };
  const std::string queue = "bench-cycles-" + std::to_string(getpid());
  if (client.CreateQueue(queue).empty() || client.GetQueueURL(queue).empty()) {
    if (!failed) state.SkipWithError("the queue could not be created");
    return;
  }

  const std::string fixedBody = Environment("SQS_BENCH_BODY");
  const brv::TbrvSQSReceiveMessageRequest receive;  // one message, no wait
  using Clock = std::chrono::steady_clock;
  // Wall-clock time spent in each kind of call, to show where a cycle's time goes.
  Clock::duration sending{}, receiving{}, deleting{};
  int64_t receives = 0;
  const double cpu_before = ProcessCPUSeconds();
  int64_t cycles = 0, requests = 0;
  for (auto _ : state) {
    ++requests;
    auto start = Clock::now();
    const std::string body =
        fixedBody.empty() ? "benchmark message " + std::to_string(cycles) : fixedBody;
    if (!client.SendMessage(queue, body, 0)) break;
    sending += Clock::now() - start;
    brv::TbrvSQSReceiveMessageResponses messages;
    while (messages.Count() == 0) {
      ++requests;
      ++receives;
      start = Clock::now();
      const bool received = client.ReceiveMessage(queue, receive, messages);
      receiving += Clock::now() - start;
      if (!received) break;
    }
    ++requests;
    start = Clock::now();
    if (messages.Count() == 0 || !client.DeleteMessage(queue, messages.Items(0)->ReceiptHandle()))
      break;
    deleting += Clock::now() - start;
    ++cycles;
  }
  const double cpu = ProcessCPUSeconds() - cpu_before;
  client.DeleteQueue(queue);
  if (cycles == 0) return;
  state.counters["cycles_per_s"] =
      benchmark::Counter(static_cast<double>(cycles), benchmark::Counter::kIsRate);
  state.counters["requests"] = static_cast<double>(requests);
  state.counters["process_cpu_us_per_request"] = cpu / static_cast<double>(requests) * 1e6;
  const auto mean_ms = [](Clock::duration total, int64_t count) {
    return std::chrono::duration<double, std::milli>(total).count() / static_cast<double>(count);
  };
  state.counters["send_ms"] = mean_ms(sending, cycles);
  state.counters["receive_ms"] = mean_ms(receiving, receives);
  state.counters["delete_ms"] = mean_ms(deleting, cycles);
}

}  // namespace

// SQS_BENCH_CYCLES sets the number of cycles (1000 by default).
int main(int argc, char** argv) {
  const std::string cycles = Environment("SQS_BENCH_CYCLES", "1000");
  benchmark::RegisterBenchmark("BM_SendReceiveDelete", BM_SendReceiveDelete)
      ->Iterations(std::max<int64_t>(1, std::atoll(cycles.c_str())))
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime();
  brv::bench::RunRegisteredBenchmarks(argc, argv);
  return 0;
}

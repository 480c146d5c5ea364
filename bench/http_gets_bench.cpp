// GETs per second on one keep-alive connection to nginx serving a 1 KiB body: the HTTP client
// beside curl fetching the same URL the same number of times on one connection, in one run.
//
//   bench_http_gets [--requests=N] [benchmark flags]
//
// The side-by-side figures are printed first; the Google Benchmark run that follows measures
// one GET per iteration.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "support/BenchMain.h"
#include "http/IdHTTP.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"

namespace {

using brv::test::Nginx;

std::unique_ptr<Nginx> gNginx;

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// curl fetching AUrl ACount times on one connection (URLs of one config file reuse it).
double CurlRate(const std::string& AUrl, int ACount) {
  const brv::testing::TTempDir scratch("brv-bench-curl");
  const std::string config = scratch.File("urls.cfg");
  {
    std::ofstream cfg(config);
    for (int i = 0; i < ACount; ++i) cfg << "url = \"" << AUrl << "\"\noutput = \"/dev/null\"\n";
  }
  const auto start = std::chrono::steady_clock::now();
  const int rc = std::system(("curl -s --fail -K " + config).c_str());
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  if (rc != 0) std::fprintf(stderr, "curl failed (%d)\n", rc);
  return ACount / seconds;
}

double ClientRate(const std::string& AUrl, int ACount) {
  brv::TIdHTTP http;
  brv::TMemoryStream body;
  http.Get(AUrl, &body);  // connect outside the timing, as curl's one connect is negligible
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < ACount; ++i) {
    body.Clear();
    http.Get(AUrl, &body);
  }
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  if (body.Size() != 1024)
    std::fprintf(stderr, "unexpected body size %lld\n", static_cast<long long>(body.Size()));
  return ACount / seconds;
}

void BM_KeepAliveGet(benchmark::State& state) {
  brv::TIdHTTP http;
  brv::TMemoryStream body;
  const std::string url = gNginx->Url("/kib.txt");
  for (auto _ : state) {
    body.Clear();
    http.Get(url, &body);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KeepAliveGet)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  const int requests = brv::bench::IntOption(argc, argv, "requests", 20000);
  Nginx::Options options;
  options.Bench = true;
  gNginx = std::make_unique<Nginx>("", options);
  if (!gNginx->Running()) {
    std::fprintf(stderr, "nginx could not be started\n");
    return 1;
  }
  std::string kib;
  for (int i = 0; i < 1024; ++i) kib += static_cast<char>('a' + i % 26);
  gNginx->WriteFile("kib.txt", kib);
  const std::string url = gNginx->Url("/kib.txt");
  // Alternate the two, twice, so neither always runs on a warmer machine.
  double curl = 0, client = 0;
  for (int round = 0; round < 2; ++round) {
    curl += CurlRate(url, requests);
    client += ClientRate(url, requests);
  }
  curl /= 2;
  client /= 2;
  std::printf("GETs/s on one keep-alive connection, 1 KiB body, %d requests per run:\n", requests);
  std::printf("  TIdHTTP %10.0f\n  curl    %10.0f\n  ratio   %10.2f\n", client, curl,
              client / curl);
  brv::bench::RunRegisteredBenchmarks(argc, argv);
  gNginx.reset();
  return 0;
}

// The OpenSSL handler beside curl, against one nginx on loopback, in one run:
//   1. full TLS 1.2 handshakes per second: connect, handshake, close (no request, no session
//      resumption); curl cannot stop after the handshake, so both also run the same work with
//      one GET per connection ("Connection: close", curl with --no-sessionid);
//   2. GETs per second on one TLS keep-alive connection.
//
//   bench_tls_openssl [--handshakes=N] [--requests=N] [benchmark flags]
//
// The side-by-side figures are printed first; the Google Benchmark run that follows measures
// one handshake or one GET per iteration. Certificates and nginx come from the test support.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "support/BenchMain.h"
#include "tests/support/TlsTestServer.h"
#include "tls/IdSSLIOHandlerSocketOpenSSL.h"
#include "transport/IdTCPClient.h"

namespace {

using brv::tlstest::Nginx;
using brv::tlstest::TempDir;
using brv::tlstest::TestCertificates;

struct World {
  TempDir dir{"brv-bench-tls"};
  std::unique_ptr<TestCertificates> certs;
  std::unique_ptr<Nginx> nginx;
  int Port() const { return nginx->Ports().Main; }
  std::string Url() const { return "https://localhost:" + std::to_string(Port()) + "/"; }
};
std::unique_ptr<World> gWorld;

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// CPU seconds (user and system) of this process or of its finished children.
double CpuSeconds(int AWho) {
  rusage r{};
  ::getrusage(AWho, &r);
  return r.ru_utime.tv_sec + r.ru_utime.tv_usec / 1e6 + r.ru_stime.tv_sec +
         r.ru_stime.tv_usec / 1e6;
}

// A rate and the CPU time per operation of the client side (nginx's is the same for both).
struct Figure {
  double rate = 0;
  double cpu_ms = 0;
  void Add(double ARate, double ACpuMs, int ARounds) {
    rate += ARate / ARounds;
    cpu_ms += ACpuMs / ARounds;
  }
};

// One TLS 1.2 client as the HTTP component configures it (no verification, client mode).
struct Client {
  brv::TIdSSLIOHandlerSocketOpenSSL handler;
  brv::TIdTCPClient tcp;
  Client() {
    handler.SSLOptions()->SetMode(brv::sslmClient);
    handler.SSLOptions()->SetMethod(brv::sslvTLSv1_2);
    handler.SetPassThrough(false);
    handler.SetURIToCheck(gWorld->Url());
    tcp.SetIOHandler(&handler);
    tcp.SetHost("localhost");
    tcp.SetPort(static_cast<std::uint16_t>(gWorld->Port()));
  }
  ~Client() { tcp.SetIOHandler(nullptr); }
  // One GET; returns the body length.
  int Get(bool AClose) {
    handler.Write(std::string("GET / HTTP/1.1\r\nHost: localhost\r\n") +
                  (AClose ? "Connection: close\r\n" : "") + "\r\n");
    handler.ReadLn();
    int length = 0;
    for (std::string line = handler.ReadLn(); !line.empty(); line = handler.ReadLn())
      if (line.rfind("Content-Length:", 0) == 0) length = std::stoi(line.substr(15));
    return static_cast<int>(handler.ReadString(length).size());
  }
};

std::pair<double, double> OurHandshakes(int ACount, bool AWithGet) {
  Client c;
  const double cpu = CpuSeconds(RUSAGE_SELF);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < ACount; ++i) {
    c.tcp.Connect();
    if (AWithGet) c.Get(true);
    c.tcp.Disconnect();
  }
  return {ACount / Seconds(std::chrono::steady_clock::now() - start),
          (CpuSeconds(RUSAGE_SELF) - cpu) * 1000 / ACount};
}

std::pair<double, double> OurKeepAliveGets(int ACount) {
  Client c;
  c.tcp.Connect();
  c.Get(false);  // connect and handshake outside the timing, as for curl's one connect
  const double cpu = CpuSeconds(RUSAGE_SELF);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < ACount; ++i) c.Get(false);
  const double rate = ACount / Seconds(std::chrono::steady_clock::now() - start);
  const double cpu_ms = (CpuSeconds(RUSAGE_SELF) - cpu) * 1000 / ACount;
  c.tcp.Disconnect();
  return {rate, cpu_ms};
}

// curl fetching the URL ACount times in one process: on one connection, or each on a new
// connection with a full handshake.
std::pair<double, double> CurlRate(int ACount, bool ANewConnections) {
  const std::string config = gWorld->dir.File("curl.cfg");
  {
    std::ofstream cfg(config);
    for (int i = 0; i < ACount; ++i)
      cfg << "url = \"" << gWorld->Url() << "\"\noutput = \"/dev/null\"\n";
  }
  std::string command = "curl -s --fail -k --http1.1 --tlsv1.2 --tls-max 1.2 ";
  if (ANewConnections) command += "--no-sessionid -H 'Connection: close' ";
  command += "-K " + config;
  const double cpu = CpuSeconds(RUSAGE_CHILDREN);
  const auto start = std::chrono::steady_clock::now();
  const int rc = std::system(command.c_str());
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  if (rc != 0) std::fprintf(stderr, "curl failed (%d)\n", rc);
  return {ACount / seconds, (CpuSeconds(RUSAGE_CHILDREN) - cpu) * 1000 / ACount};
}

void BM_Handshake(benchmark::State& state) {
  Client c;
  for (auto _ : state) {
    c.tcp.Connect();
    c.tcp.Disconnect();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Handshake)->Unit(benchmark::kMicrosecond);

void BM_KeepAliveGet(benchmark::State& state) {
  Client c;
  c.tcp.Connect();
  for (auto _ : state) benchmark::DoNotOptimize(c.Get(false));
  state.SetItemsProcessed(state.iterations());
  c.tcp.Disconnect();
}
BENCHMARK(BM_KeepAliveGet)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  const int handshakes = brv::bench::IntOption(argc, argv, "handshakes", 1000);
  const int requests = brv::bench::IntOption(argc, argv, "requests", 20000);
  gWorld = std::make_unique<World>();
  gWorld->certs = std::make_unique<TestCertificates>(gWorld->dir.Path());
  gWorld->nginx = std::make_unique<Nginx>(*gWorld->certs, true);
  if (!gWorld->nginx->Error().empty()) {
    std::fprintf(stderr, "nginx could not be started: %s\n", gWorld->nginx->Error().c_str());
    return 1;
  }
  // Alternate the two, three times, so neither always runs on a warmer machine.
  constexpr int kRounds = 3;
  Figure ours_hs, ours_hs_get, curl_hs_get, ours_get, curl_get;
  for (int round = 0; round < kRounds; ++round) {
    auto add = [&](Figure& f, std::pair<double, double> r) { f.Add(r.first, r.second, kRounds); };
    add(curl_hs_get, CurlRate(handshakes, true));
    add(ours_hs_get, OurHandshakes(handshakes, true));
    add(ours_hs, OurHandshakes(handshakes, false));
    add(curl_get, CurlRate(requests, false));
    add(ours_get, OurKeepAliveGets(requests));
  }
  std::printf(
      "TLS 1.2 against nginx on loopback, %d handshakes and %d GETs per run, %d runs;\n"
      "rate per second, and the client's CPU milliseconds per operation:\n",
      handshakes, requests, kRounds);
  std::printf("  full handshakes (connect, handshake, close)  ours %7.0f/s %6.3f ms\n",
              ours_hs.rate, ours_hs.cpu_ms);
  std::printf(
      "  full handshakes with one GET each           ours %7.0f/s %6.3f ms   "
      "curl %7.0f/s %6.3f ms   ratio %.2f (CPU %.2f)\n",
      ours_hs_get.rate, ours_hs_get.cpu_ms, curl_hs_get.rate, curl_hs_get.cpu_ms,
      ours_hs_get.rate / curl_hs_get.rate, curl_hs_get.cpu_ms / ours_hs_get.cpu_ms);
  std::printf(
      "  GETs on one keep-alive connection           ours %7.0f/s %6.3f ms   "
      "curl %7.0f/s %6.3f ms   ratio %.2f (CPU %.2f)\n",
      ours_get.rate, ours_get.cpu_ms, curl_get.rate, curl_get.cpu_ms, ours_get.rate / curl_get.rate,
      curl_get.cpu_ms / ours_get.cpu_ms);
  brv::bench::RunRegisteredBenchmarks(argc, argv);
  gWorld.reset();
  return 0;
}

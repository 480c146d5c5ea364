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

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "tests/tls/support/TlsTestServer.cpp"
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

double OurHandshakes(int ACount, bool AWithGet) {
  Client c;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < ACount; ++i) {
    c.tcp.Connect();
    if (AWithGet) c.Get(true);
    c.tcp.Disconnect();
  }
  return ACount / Seconds(std::chrono::steady_clock::now() - start);
}

double OurKeepAliveGets(int ACount) {
  Client c;
  c.tcp.Connect();
  c.Get(false);  // connect and handshake outside the timing, as for curl's one connect
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < ACount; ++i) c.Get(false);
  const double rate = ACount / Seconds(std::chrono::steady_clock::now() - start);
  c.tcp.Disconnect();
  return rate;
}

// curl fetching the URL ACount times in one process: on one connection, or each on a new
// connection with a full handshake.
double CurlRate(int ACount, bool ANewConnections) {
  const std::string config = gWorld->dir.File("curl.cfg");
  {
    std::ofstream cfg(config);
    for (int i = 0; i < ACount; ++i)
      cfg << "url = \"" << gWorld->Url() << "\"\noutput = \"/dev/null\"\n";
  }
  std::string command = "curl -s --fail -k --http1.1 --tlsv1.2 --tls-max 1.2 ";
  if (ANewConnections) command += "--no-sessionid -H 'Connection: close' ";
  command += "-K " + config;
  const auto start = std::chrono::steady_clock::now();
  const int rc = std::system(command.c_str());
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  if (rc != 0) std::fprintf(stderr, "curl failed (%d)\n", rc);
  return ACount / seconds;
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
  int handshakes = 1000;
  int requests = 20000;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--handshakes=", 0) == 0) handshakes = std::atoi(a.c_str() + 13);
    if (a.rfind("--requests=", 0) == 0) requests = std::atoi(a.c_str() + 11);
  }
  gWorld = std::make_unique<World>();
  gWorld->certs = std::make_unique<TestCertificates>(gWorld->dir.Path());
  gWorld->nginx = std::make_unique<Nginx>(*gWorld->certs, true);
  if (!gWorld->nginx->Error().empty()) {
    std::fprintf(stderr, "nginx could not be started: %s\n", gWorld->nginx->Error().c_str());
    return 1;
  }
  // Alternate the two, twice, so neither always runs on a warmer machine.
  double ours_hs = 0, ours_hs_get = 0, curl_hs_get = 0, ours_get = 0, curl_get = 0;
  for (int round = 0; round < 2; ++round) {
    curl_hs_get += CurlRate(handshakes, true) / 2;
    ours_hs_get += OurHandshakes(handshakes, true) / 2;
    ours_hs += OurHandshakes(handshakes, false) / 2;
    curl_get += CurlRate(requests, false) / 2;
    ours_get += OurKeepAliveGets(requests) / 2;
  }
  std::printf("TLS 1.2 against nginx on loopback, %d handshakes and %d GETs per run:\n",
              handshakes, requests);
  std::printf("  full handshakes/s (connect, handshake, close)   ours %8.0f\n", ours_hs);
  std::printf("  full handshakes/s with one GET each            ours %8.0f  curl %8.0f  ratio %.2f\n",
              ours_hs_get, curl_hs_get, ours_hs_get / curl_hs_get);
  std::printf("  GETs/s on one keep-alive connection            ours %8.0f  curl %8.0f  ratio %.2f\n",
              ours_get, curl_get, ours_get / curl_get);
  std::fflush(stdout);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gWorld.reset();
  return 0;
}

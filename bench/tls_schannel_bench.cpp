// The second TLS engine beside the OpenSSL engine and curl, against one nginx with TLS on
// loopback (a test CA made here, verification on everywhere):
//   - full handshakes per second: connect, handshake, close (curl: a new connection with a
//     full handshake per URL, no session reuse, and a small GET it cannot leave out);
//   - GETs per second on one TLS keep-alive connection, 1 KiB body.
//
//   bench_tls_schannel [--handshakes=N] [--requests=N] [--tls=1.2|1.3] [benchmark flags]
//
// The side-by-side figures are printed first; the Google Benchmark run that follows measures
// one handshake and one GET per iteration through the second engine.
#include <signal.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "support/BenchMain.h"
#include "tests/support/Certificates.h"
#include "tests/support/Nginx.h"
#include "tests/support/TempDir.h"
#include "tls/IdSSLIOHandlerSocketOpenSSL.h"
#include "tls/brvIdSSLIOHandlerSocketSChannel.h"
#include "transport/IdTCPClient.h"

namespace {

// A test CA and a certificate for localhost, and nginx serving 1 KiB over TLS with them.
class TlsNginx {
 public:
  TlsNginx() {
    try {
      const brv::test::CertificateMaker maker(dir_.Path());
      const brv::test::KeyPair root = maker.Root("ca", "BRV Bench CA");
      localhost_ =
          maker.Issue(root, "localhost", {"localhost", "DNS:localhost", "serverAuth", false});
      ca_ = root.Cert;
    } catch (const std::exception&) {
      return;
    }
    brv::test::Nginx::Options options;
    options.Bench = true;
    options.ListenOptions = "ssl";
    nginx_ = std::make_unique<brv::test::Nginx>(
        "    ssl_certificate " + localhost_.Cert + ";\n    ssl_certificate_key " + localhost_.Key +
            ";\n    ssl_protocols TLSv1.2 TLSv1.3;\n"
            "    ssl_session_cache off;\n    ssl_session_tickets off;\n",
        options);
    std::string kib;
    for (int i = 0; i < 1024; ++i) kib += static_cast<char>('a' + i % 26);
    nginx_->WriteFile("kib.txt", kib);
  }
  bool Running() const { return nginx_ != nullptr && nginx_->Running(); }
  int Port() const { return nginx_->Port(); }
  std::string CA() const { return ca_; }
  std::string Url() const { return "https://localhost:" + std::to_string(Port()) + "/kib.txt"; }

 private:
  brv::testing::TTempDir dir_{"brv-bench-tls"};
  brv::test::KeyPair localhost_;
  std::string ca_;
  std::unique_ptr<brv::test::Nginx> nginx_;
};

std::unique_ptr<TlsNginx> gNginx;
bool gTls13 = false;

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// One TLS client of an engine: the handler and its TCP connection to nginx.
struct Client {
  std::unique_ptr<brv::TIdSSLIOHandlerSocketBase> handler;
  brv::TIdTCPClient tcp;

  explicit Client(bool ASChannel) {
    if (ASChannel) {
      auto h = std::make_unique<brv::TbrvIdSSLIOHandlerSocketSChannel>();
      h->SetTLSVersion(gTls13 ? brv::tls1_3 : brv::tls1_2);
      h->SetVerifyCertificate(true);
      h->SetRootCertFile(gNginx->CA());
      handler = std::move(h);
    } else {
      auto h = std::make_unique<brv::TIdSSLIOHandlerSocketOpenSSL>();
      h->SSLOptions()->SetMode(brv::sslmClient);
      h->SSLOptions()->SetMethod(gTls13 ? brv::sslvTLSv1_3 : brv::sslvTLSv1_2);
      h->SSLOptions()->SetRootCertFile(gNginx->CA());
      h->SSLOptions()->SetVerifyMode(brv::SSLVerifyBit(brv::sslvrfPeer));
      handler = std::move(h);
    }
    tcp.SetIOHandler(handler.get());
    tcp.SetHost("localhost");
    tcp.SetPort(static_cast<std::uint16_t>(gNginx->Port()));
    tcp.SetReadTimeout(30000);
  }
  void Connect() {
    handler->SetPassThrough(false);
    handler->SetURIToCheck(gNginx->Url());
    tcp.Connect();
  }
  // One GET of the 1 KiB file; its body length.
  int Get() {
    handler->Write(std::string("GET /kib.txt HTTP/1.1\r\nHost: localhost\r\n\r\n"));
    handler->ReadLn();
    int length = 0;
    for (std::string line = handler->ReadLn(); !line.empty(); line = handler->ReadLn())
      if (line.rfind("Content-Length:", 0) == 0) length = std::atoi(line.c_str() + 15);
    return static_cast<int>(handler->ReadString(length).size());
  }
};

double HandshakeRate(bool ASChannel, int ACount) {
  Client client(ASChannel);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < ACount; ++i) {
    client.Connect();
    client.tcp.Disconnect();
  }
  return ACount / Seconds(std::chrono::steady_clock::now() - start);
}

double GetRate(bool ASChannel, int ACount) {
  Client client(ASChannel);
  client.Connect();
  client.Get();  // the handshake stays outside the timing
  const auto start = std::chrono::steady_clock::now();
  int bytes = 0;
  for (int i = 0; i < ACount; ++i) bytes = client.Get();
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  if (bytes != 1024) std::fprintf(stderr, "unexpected body size %d\n", bytes);
  return ACount / seconds;
}

// curl fetching the URL ACount times: on one connection, or (AHandshakes) on a new connection
// with a full handshake each time.
double CurlRate(int ACount, bool AHandshakes) {
  const brv::testing::TTempDir scratch("brv-bench-curl");
  const std::string config = scratch.File("urls.cfg");
  {
    std::ofstream cfg(config);
    for (int i = 0; i < ACount; ++i)
      cfg << "url = \"" << gNginx->Url() << "\"\noutput = \"/dev/null\"\n";
  }
  std::string command = "curl -s --fail --cacert '" + gNginx->CA() + "' " +
                        (gTls13 ? "--tlsv1.3" : "--tlsv1.2 --tls-max 1.2") + " -K " + config;
  if (AHandshakes) command += " --no-sessionid -H 'Connection: close'";
  const auto start = std::chrono::steady_clock::now();
  const int rc = std::system(command.c_str());
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  if (rc != 0) std::fprintf(stderr, "curl failed (%d)\n", rc);
  return ACount / seconds;
}

void BM_SChannelHandshake(benchmark::State& state) {
  Client client(true);
  for (auto _ : state) {
    client.Connect();
    client.tcp.Disconnect();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SChannelHandshake)->Unit(benchmark::kMicrosecond);

void BM_SChannelKeepAliveGet(benchmark::State& state) {
  Client client(true);
  client.Connect();
  for (auto _ : state) benchmark::DoNotOptimize(client.Get());
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SChannelKeepAliveGet)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  const int handshakes = brv::bench::IntOption(argc, argv, "handshakes", 1000);
  const int requests = brv::bench::IntOption(argc, argv, "requests", 20000);
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--tls=1.3") gTls13 = true;
  }
  ::signal(SIGPIPE, SIG_IGN);
  gNginx = std::make_unique<TlsNginx>();
  if (!gNginx->Running()) {
    std::fprintf(stderr, "nginx could not be started\n");
    return 1;
  }
  // Alternate the three, twice, so none always runs on a warmer machine.
  double hs[3] = {}, gets[3] = {};
  for (int round = 0; round < 2; ++round) {
    hs[0] += HandshakeRate(true, handshakes);
    hs[1] += HandshakeRate(false, handshakes);
    hs[2] += CurlRate(handshakes, true);
    gets[0] += GetRate(true, requests);
    gets[1] += GetRate(false, requests);
    gets[2] += CurlRate(requests, false);
  }
  const char* names[3] = {"SChannel engine", "OpenSSL engine ", "curl           "};
  std::printf("TLS %s, verification on, nginx on loopback\n", gTls13 ? "1.3" : "1.2");
  std::printf("Full handshakes/s (%d per run; curl also sends a small GET each):\n", handshakes);
  for (int i = 0; i < 3; ++i) std::printf("  %s %10.0f\n", names[i], hs[i] / 2);
  std::printf("GETs/s on one keep-alive connection, 1 KiB body (%d per run):\n", requests);
  for (int i = 0; i < 3; ++i) std::printf("  %s %10.0f\n", names[i], gets[i] / 2);
  brv::bench::RunRegisteredBenchmarks(argc, argv);
  gNginx.reset();
  return 0;
}

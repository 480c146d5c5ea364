// GETs per second on one keep-alive connection to nginx serving a 1 KiB body: the HTTP client
// beside curl fetching the same URL the same number of times on one connection, in one run.
//
//   bench_http_gets [--requests=N] [benchmark flags]
//
// The side-by-side figures are printed first; the Google Benchmark run that follows measures
// one GET per iteration.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "http/IdHTTP.h"

namespace {

int PickPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

bool CanConnect(int APort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(APort));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

// nginx in a temporary prefix on a free port (retried: nginx cannot bind port 0).
class Nginx {
 public:
  Nginx() {
    char tmpl[] = "/tmp/brv-bench-nginx-XXXXXX";
    prefix_ = ::mkdtemp(tmpl);
    std::filesystem::create_directories(prefix_ + "/html");
    std::filesystem::create_directories(prefix_ + "/logs");
    std::string kib;
    for (int i = 0; i < 1024; ++i) kib += static_cast<char>('a' + i % 26);
    std::ofstream(prefix_ + "/html/kib.txt", std::ios::binary) << kib;
    for (int attempt = 0; attempt < 20 && pid_ < 0; ++attempt) Start(PickPort());
  }
  ~Nginx() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    std::error_code ec;
    std::filesystem::remove_all(prefix_, ec);
  }
  bool Running() const { return pid_ > 0; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/kib.txt"; }

 private:
  void Start(int APort) {
    std::ostringstream conf;
    if (::geteuid() == 0) conf << "user root;\n";
    conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
         << "pid " << prefix_ << "/logs/nginx.pid;\nerror_log " << prefix_ << "/logs/error.log;\n"
         << "events { worker_connections 64; }\nhttp {\n  access_log off;\n"
         << "  client_body_temp_path " << prefix_ << "/tmp_body;\n"
         << "  proxy_temp_path " << prefix_ << "/tmp_proxy;\n"
         << "  fastcgi_temp_path " << prefix_ << "/tmp_fastcgi;\n"
         << "  uwsgi_temp_path " << prefix_ << "/tmp_uwsgi;\n"
         << "  scgi_temp_path " << prefix_ << "/tmp_scgi;\n"
         << "  keepalive_requests 10000000;\n  keepalive_timeout 300s;\n"
         << "  server {\n    listen 127.0.0.1:" << APort << ";\n    root " << prefix_
         << "/html;\n  }\n}\n";
    const std::string path = prefix_ + "/nginx.conf";
    std::ofstream(path) << conf.str();
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::freopen("/dev/null", "w", stderr);
      ::execl("/usr/sbin/nginx", "nginx", "-p", prefix_.c_str(), "-c", path.c_str(), "-e",
              (prefix_ + "/logs/error.log").c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 500; ++i) {
      if (::waitpid(pid, nullptr, WNOHANG) == pid) return;
      if (CanConnect(APort)) {
        pid_ = pid;
        port_ = APort;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
  }

  std::string prefix_;
  pid_t pid_ = -1;
  int port_ = 0;
};

std::unique_ptr<Nginx> gNginx;

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// curl fetching AUrl ACount times on one connection (URLs of one config file reuse it).
double CurlRate(const std::string& AUrl, int ACount) {
  const std::string config = "/tmp/brv-bench-curl.cfg";
  {
    std::ofstream cfg(config);
    for (int i = 0; i < ACount; ++i) cfg << "url = \"" << AUrl << "\"\noutput = \"/dev/null\"\n";
  }
  const auto start = std::chrono::steady_clock::now();
  const int rc = std::system(("curl -s --fail -K " + config).c_str());
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  std::remove(config.c_str());
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
  if (body.Size() != 1024) std::fprintf(stderr, "unexpected body size %lld\n",
                                        static_cast<long long>(body.Size()));
  return ACount / seconds;
}

void BM_KeepAliveGet(benchmark::State& state) {
  brv::TIdHTTP http;
  brv::TMemoryStream body;
  const std::string url = gNginx->Url();
  for (auto _ : state) {
    body.Clear();
    http.Get(url, &body);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KeepAliveGet)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  int requests = 20000;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--requests=", 0) == 0) requests = std::atoi(a.c_str() + 11);
  }
  gNginx = std::make_unique<Nginx>();
  if (!gNginx->Running()) {
    std::fprintf(stderr, "nginx could not be started\n");
    return 1;
  }
  const std::string url = gNginx->Url();
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
  std::fflush(stdout);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gNginx.reset();
  return 0;
}

#include "tests/support/Nginx.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "tests/support/Programs.h"

namespace brv::test {

namespace {

bool CanConnect(int APort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(APort));
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

std::string NginxConfigHead(const std::string& APrefix) {
  std::filesystem::create_directories(APrefix + "/logs");
  std::filesystem::create_directories(APrefix + "/tmp");
  std::string conf;
  if (::geteuid() == 0) conf += "user root;\n";
  conf += "daemon off;\nmaster_process off;\nworker_processes 1;\n";
  conf += "pid " + APrefix + "/logs/nginx.pid;\n";
  conf += "error_log " + APrefix + "/logs/error.log warn;\n";
  conf += "events { worker_connections 256; }\n";
  conf += "http {\n";
  for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
    conf += std::string("  ") + kind + "_temp_path " + APrefix + "/tmp/" + kind + ";\n";
  return conf;
}

pid_t StartNginx(const std::string& APrefix, const std::string& AConfigFile,
                 const std::vector<int>& APorts, std::string& AError) {
  const std::string errors = APrefix + "/logs/error.log";
  const std::string output = APrefix + "/logs/stderr.log";
  const pid_t pid = StartProgram({"nginx", "-p", APrefix, "-c", AConfigFile, "-e", errors}, output);
  if (pid < 0) {
    AError = "nginx not found";
    return -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (std::chrono::steady_clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) {
      AError = "nginx exited: " + ReadTextFile(errors) + ReadTextFile(output);
      return -1;
    }
    // nginx writes its pid file only once it listens on every port; until then a connect may
    // reach another process that holds a port nginx is still trying to bind.
    bool all = ReadTextFile(APrefix + "/logs/nginx.pid") == std::to_string(pid) + "\n";
    for (int port : APorts) all = all && CanConnect(port);
    if (all) {
      AError.clear();
      return pid;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  StopNginx(pid);
  AError = "nginx did not start in time";
  return -1;
}

void StopNginx(pid_t APid) {
  if (APid <= 0) return;
  ::kill(APid, SIGTERM);
  for (int i = 0; i < 300; ++i) {
    if (::waitpid(APid, nullptr, WNOHANG) == APid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(APid, SIGKILL);
  ::waitpid(APid, nullptr, 0);
}

bool Nginx::Available() {
  return !FindProgram("nginx").empty();
}

Nginx::Nginx(const std::string& AServerBlock, const Options& AOptions) {
  root_ = prefix_ + "/html";
  std::filesystem::create_directories(root_);
  if (!Available()) return;
  // nginx cannot bind port 0: a port another process took meanwhile means another try.
  for (int attempt = 0; attempt < 20 && pid_ < 0; ++attempt)
    TryStart(AServerBlock, AOptions, FreePort());
}

Nginx::~Nginx() {
  Stop();
}

std::string Nginx::Url(const std::string& APath) const {
  return "http://127.0.0.1:" + std::to_string(port_) + APath;
}

void Nginx::WriteFile(const std::string& ARelative, const std::string& AContent) const {
  const std::filesystem::path p = std::filesystem::path(root_) / ARelative;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << AContent;
}

std::string Nginx::AccessLog() const {
  return ReadTextFile(prefix_ + "/logs/access.log");
}

bool Nginx::TryStart(const std::string& ATemplate, const Options& AOptions, int APort) {
  std::string AServerBlock = ATemplate;
  for (size_t p; (p = AServerBlock.find("%PREFIX%")) != std::string::npos;)
    AServerBlock.replace(p, 8, prefix_);
  std::ostringstream conf;
  conf << NginxConfigHead(prefix_);
  if (AOptions.Bench)
    conf << "  access_log off;\n";
  else
    conf << "  log_format brv '$connection $connection_requests \"$request\" $status';\n"
         << "  access_log " << prefix_ << "/logs/access.log brv;\n";
  conf << "  default_type application/octet-stream;\n"
       << (AOptions.Bench ? "  keepalive_requests 10000000;\n  keepalive_timeout 300s;\n"
                          : "  keepalive_requests 100000;\n")
       << "  server {\n"
       << "    listen 127.0.0.1:" << APort
       << (AOptions.ListenOptions.empty() ? "" : " " + AOptions.ListenOptions) << ";\n"
       << "    root " << root_ << ";\n"
       << AServerBlock << "\n"
       << "  }\n}\n";
  const std::string confPath = prefix_ + "/nginx.conf";
  std::ofstream(confPath) << conf.str();

  std::string error;
  pid_ = StartNginx(prefix_, confPath, {APort}, error);
  if (pid_ < 0) return false;
  port_ = APort;
  return true;
}

void Nginx::Stop() {
  StopNginx(pid_);
  pid_ = -1;
}

}  // namespace brv::test

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

const char* kNginx = "/usr/sbin/nginx";

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

}  // namespace

bool Nginx::Available() {
  return ::access(kNginx, X_OK) == 0;
}

Nginx::Nginx(const std::string& AServerBlock, const Options& AOptions) {
  root_ = prefix_ + "/html";
  std::filesystem::create_directories(root_);
  std::filesystem::create_directories(prefix_ + "/logs");
  std::filesystem::create_directories(prefix_ + "/tmp");
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
  std::ifstream in(prefix_ + "/logs/access.log");
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool Nginx::TryStart(const std::string& ATemplate, const Options& AOptions, int APort) {
  std::string AServerBlock = ATemplate;
  for (size_t p; (p = AServerBlock.find("%PREFIX%")) != std::string::npos;)
    AServerBlock.replace(p, 8, prefix_);
  std::ostringstream conf;
  if (::geteuid() == 0) conf << "user root;\n";
  conf << "daemon off;\nmaster_process off;\nworker_processes 1;\n"
       << "pid " << prefix_ << "/logs/nginx.pid;\n"
       << "error_log " << prefix_ << "/logs/error.log warn;\n"
       << "events { worker_connections 256; }\n"
       << "http {\n";
  if (AOptions.Bench)
    conf << "  access_log off;\n";
  else
    conf << "  log_format brv '$connection $connection_requests \"$request\" $status';\n"
         << "  access_log " << prefix_ << "/logs/access.log brv;\n";
  conf << "  client_body_temp_path " << prefix_ << "/tmp/body;\n"
       << "  proxy_temp_path " << prefix_ << "/tmp/proxy;\n"
       << "  fastcgi_temp_path " << prefix_ << "/tmp/fastcgi;\n"
       << "  uwsgi_temp_path " << prefix_ << "/tmp/uwsgi;\n"
       << "  scgi_temp_path " << prefix_ << "/tmp/scgi;\n"
       << "  default_type application/octet-stream;\n"
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

  const pid_t pid = StartProgram(
      {kNginx, "-p", prefix_, "-c", confPath, "-e", prefix_ + "/logs/error.log"},
      prefix_ + "/logs/stderr.log");
  if (pid < 0) return false;
  // Ready once the port answers; gone when the process ended (the port was taken).
  for (int i = 0; i < 500; ++i) {
    int status = 0;
    if (::waitpid(pid, &status, WNOHANG) == pid) return false;
    if (CanConnect(APort)) {
      pid_ = pid;
      port_ = APort;
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  return false;
}

void Nginx::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 300; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace brv::test

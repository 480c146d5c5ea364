// Starts tinyproxy in the foreground for a test, with a configuration of its own on a free
// loopback port (picked again when another program takes it first), optionally with Basic
// authentication, and any port reachable through CONNECT. Its log (standard output) goes to
// a file the test reads to prove a request went through the proxy. Stopped when the object
// goes. Header-only so that the library's and the command's tests share it.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "tests/support/TempDir.h"

namespace brv::testing {

class TTinyproxy {
 public:
  // With AUser not empty the proxy asks for Basic credentials AUser / APassword.
  explicit TTinyproxy(const std::string& AUser = "", const std::string& APassword = "") {
    for (int attempt = 0; attempt < 5 && !ready_; ++attempt) Start(AUser, APassword);
  }
  ~TTinyproxy() { Stop(); }
  TTinyproxy(const TTinyproxy&) = delete;
  TTinyproxy& operator=(const TTinyproxy&) = delete;

  bool Ready() const { return ready_; }
  const std::string& Failure() const { return failure_; }
  int Port() const { return port_; }
  // "http://[AUser:APassword@]127.0.0.1:PORT".
  std::string Url(const std::string& AUser = "", const std::string& APassword = "") const {
    const std::string user = AUser.empty() ? "" : AUser + ":" + APassword + "@";
    return "http://" + user + "127.0.0.1:" + std::to_string(port_);
  }
  // Everything tinyproxy logged so far.
  std::string Log() const {
    std::ifstream in(dir_.File("log"));
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // True when the log holds the request line ALine ("GET http://... HTTP/1.1",
  // "CONNECT 127.0.0.1:PORT HTTP/1.1").
  bool Logged(const std::string& ALine) const {
    return Log().find("): " + ALine) != std::string::npos;
  }

  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (::waitpid(pid_, &status, WNOHANG) == 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

 private:
  static int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
      port = ntohs(addr.sin_port);
    ::close(fd);
    return port;
  }

  void Start(const std::string& AUser, const std::string& APassword) {
    port_ = FreePort();
    const std::string config = dir_.File("tinyproxy.conf");
    {
      std::ofstream out(config);
      // No ConnectPort line: CONNECT reaches any port, the local service's included.
      out << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\nLogLevel Info\n"
          << "MaxClients 20\nAllow 127.0.0.1\nDisableViaHeader Yes\n";
      if (!AUser.empty()) out << "BasicAuth " << AUser << " " << APassword << "\n";
    }
    const std::string log = dir_.File("log");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      if (std::freopen(log.c_str(), "w", stdout) == nullptr ||
          std::freopen(log.c_str(), "a", stderr) == nullptr)
        ::_exit(127);
      ::execlp("tinyproxy", "tinyproxy", "-d", "-c", config.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    if (pid_ < 0) {
      failure_ = "cannot fork";
      return;
    }
    for (int i = 0; i < 250; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        failure_ = "tinyproxy ended: " + Log();
        return;
      }
      if (Log().find("Accepting connections") != std::string::npos) {
        ready_ = true;
        return;
      }
    }
    failure_ = "tinyproxy did not start: " + Log();
    Stop();
  }

  TTempDir dir_{"brv-tinyproxy"};
  std::string failure_;
  pid_t pid_ = -1;
  int port_ = 0;
  bool ready_ = false;
};

}  // namespace brv::testing

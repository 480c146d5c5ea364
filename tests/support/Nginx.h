// nginx started by tests and benchmarks: its own prefix in a temporary folder, temporary paths
// inside it, ports picked with retries (nginx cannot bind port 0), stopped when the test ends.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/TempDir.h"

namespace brv::test {

// The top of a configuration for nginx in APrefix: one process in the foreground, its pid and
// error log in APrefix/logs, "user root;" when run as root, and the opening "http {" with the
// temporary paths in APrefix/tmp. The caller adds its own http settings, servers and "}".
std::string NginxConfigHead(const std::string& APrefix);

// Starts nginx on AConfigFile with prefix APrefix and waits until every port of APorts
// accepts; its process id, or -1 with AError saying why (not installed, exited, for example
// because a port was taken meanwhile, or not ready within 15 s).
pid_t StartNginx(const std::string& APrefix, const std::string& AConfigFile,
                 const std::vector<int>& APorts, std::string& AError);

// Stops nginx started by StartNginx: SIGTERM, SIGKILL after 3 s.
void StopNginx(pid_t APid);

class Nginx {
 public:
  // How the benchmarks run it: no access log, and one connection may carry any number of
  // requests for as long as a run takes.
  struct Options {
    bool Bench = false;
    std::string ListenOptions;  // after the address in the listen line, e.g. "ssl"
  };

  // AServerBlock is the text inside "server { listen ...; root ...; ... }" after the root
  // line; "%PREFIX%" in it stands for the prefix folder. Files are written with WriteFile.
  explicit Nginx(const std::string& AServerBlock) : Nginx(AServerBlock, Options()) {}
  Nginx(const std::string& AServerBlock, const Options& AOptions);
  ~Nginx();
  Nginx(const Nginx&) = delete;
  Nginx& operator=(const Nginx&) = delete;

  // False when nginx is not installed; the test then skips.
  static bool Available();
  bool Running() const { return pid_ > 0; }
  int Port() const { return port_; }
  // The folder served as document root.
  const std::string& Root() const { return root_; }
  const std::string& Prefix() const { return prefix_; }
  std::string Url(const std::string& APath = "/") const;
  // Writes a file below the document root.
  void WriteFile(const std::string& ARelative, const std::string& AContent) const;
  // The access log so far.
  std::string AccessLog() const;

 private:
  bool TryStart(const std::string& AServerBlock, const Options& AOptions, int APort);
  void Stop();

  testing::TTempDir dir_{"brv-nginx"};
  std::string prefix_ = dir_.Path();
  std::string root_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace brv::test

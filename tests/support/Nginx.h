// An nginx started by a test: its own prefix in a temporary folder, temporary paths inside
// it, a port picked with retries (nginx cannot bind port 0), stopped when the object goes.
#pragma once

#include <sys/types.h>

#include <string>

#include "tests/support/TempDir.h"

namespace brv::test {

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

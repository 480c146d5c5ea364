#include "tests/support/Programs.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace brv::test {

void WriteTextFile(const std::string& APath, const std::string& AText) {
  std::ofstream out(APath, std::ios::binary | std::ios::trunc);
  out << AText;
  if (!out) throw std::runtime_error("cannot write " + APath);
}

std::string ReadTextFile(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string FindProgram(const std::string& AName) {
  if (AName.find('/') != std::string::npos)
    return ::access(AName.c_str(), X_OK) == 0 ? AName : std::string();
  std::vector<std::string> dirs;
  if (const char* path = std::getenv("PATH")) {
    std::stringstream ss(path);
    std::string dir;
    while (std::getline(ss, dir, ':'))
      if (!dir.empty()) dirs.push_back(dir);
  }
  for (const char* extra : {"/usr/sbin", "/usr/bin", "/sbin", "/bin", "/usr/local/sbin"})
    dirs.emplace_back(extra);
  for (const auto& dir : dirs) {
    const std::string candidate = dir + "/" + AName;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

pid_t StartProgram(const std::vector<std::string>& AArgs, const std::string& ALogFile) {
  const std::string program = FindProgram(AArgs.at(0));
  if (program.empty()) return -1;
  std::vector<char*> argv;
  for (const auto& a : AArgs) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    // Never outlive the test.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int out = ::open(ALogFile.empty() ? "/dev/null" : ALogFile.c_str(),
                           O_WRONLY | O_CREAT | O_APPEND, 0600);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out >= 0) {
      ::dup2(out, 1);
      ::dup2(out, 2);
    }
    if (in >= 0) ::dup2(in, 0);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

int RunProgram(const std::vector<std::string>& AArgs, const std::string& ALogFile) {
  const pid_t pid = StartProgram(AArgs, ALogFile);
  if (pid < 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("no free loopback port");
  }
  ::close(fd);
  return ntohs(addr.sin_port);
}

}  // namespace brv::test

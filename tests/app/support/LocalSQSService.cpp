#include "support/LocalSQSService.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include <gtest/gtest.h>

namespace {

// When Line is Key followed by a value, stores the value in Into.
void Take(const std::string& Line, const std::string& Key, std::string& Into) {
  if (Line.compare(0, Key.size(), Key) == 0) Into = Line.substr(Key.size());
}

}  // namespace

TLocalSQSService::TLocalSQSService(const std::string& CertificateDir) {
  int pipe_fds[2];
  int stdin_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0 || pipe2(stdin_fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return;
  }
  const std::string script = std::string(BRV_SOURCE_DIR) + "/tools/local-sqs/start.sh";
  pid_ = fork();
  if (pid_ == 0) {
    dup2(pipe_fds[1], STDOUT_FILENO);
    // The service goes when its standard input closes, should this process die first.
    dup2(stdin_fds[0], STDIN_FILENO);
    if (CertificateDir.empty()) {
      execl("/bin/bash", "bash", script.c_str(), "--exit-with-stdin", static_cast<char*>(nullptr));
    } else {
      execl("/bin/bash", "bash", script.c_str(), "--exit-with-stdin", "--certs",
            CertificateDir.c_str(), static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  close(pipe_fds[1]);
  close(stdin_fds[0]);
  out_ = pipe_fds[0];
  in_ = stdin_fds[1];
  if (pid_ < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return;
  }
  // Read its lines up to LOCAL_SQS_READY=1 (the first start may install packages).
  std::string pending;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  while (!ready_ && std::chrono::steady_clock::now() < deadline) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    char buffer[512];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, eol);
      pending.erase(0, eol + 1);
      Take(line, "LOCAL_SQS_HTTP=", http_);
      Take(line, "LOCAL_SQS_HTTPS=", https_);
      Take(line, "LOCAL_SQS_CA=", ca_);
      if (line == "LOCAL_SQS_READY=1") ready_ = true;
    }
  }
  if (!ready_) {
    ADD_FAILURE() << "the local SQS service did not come up";
    http_.clear();
  }
}

TLocalSQSService::~TLocalSQSService() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (out_ >= 0) close(out_);
  if (in_ >= 0) close(in_);
}

int UnusedLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ADD_FAILURE() << "no free port: " << std::strerror(errno);
  }
  if (fd >= 0) close(fd);
  return ntohs(address.sin_port);
}

#include "support/LocalSQSService.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace brv::testing {

namespace {

// When Line is Key followed by a value, stores the value in Into.
void Take(const std::string& Line, const std::string& Key, std::string& Into) {
  if (Line.compare(0, Key.size(), Key) == 0) Into = Line.substr(Key.size());
}

// Waits up to Timeout for the child to end; true when it did (and was reaped).
bool WaitForExit(pid_t Pid, std::chrono::milliseconds Timeout) {
  const auto deadline = std::chrono::steady_clock::now() + Timeout;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(Pid, &status, WNOHANG);
    if (done == Pid || (done < 0 && errno == ECHILD)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace

std::string LocalSQSCertificateDir() {
  return std::string(BRV_BINARY_DIR) + "/local-sqs-certs";
}

TLocalSQSService::TLocalSQSService() : TLocalSQSService(TOptions{}) {}

TLocalSQSService::TLocalSQSService(const TOptions& Options) {
  Start(Options);
}

TLocalSQSService::~TLocalSQSService() {
  Stop();
}

void TLocalSQSService::Start(const TOptions& Options) {
  int out_fds[2];
  int in_fds[2];
  if (pipe2(out_fds, O_CLOEXEC) != 0) {
    failure_ = std::string("pipe: ") + std::strerror(errno);
    return;
  }
  if (pipe2(in_fds, O_CLOEXEC) != 0) {
    failure_ = std::string("pipe: ") + std::strerror(errno);
    close(out_fds[0]);
    close(out_fds[1]);
    return;
  }
  std::vector<std::string> args = {
      "/bin/bash", std::string(BRV_SOURCE_DIR) + "/tools/local-sqs/start.sh", "--exit-with-stdin"};
  if (Options.TLS) {
    args.push_back("--certs");
    args.push_back(LocalSQSCertificateDir());
  }
  args.insert(args.end(), Options.Arguments.begin(), Options.Arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_ = fork();
  if (pid_ == 0) {
    setpgid(0, 0);  // a group of its own, so that stopping it reaches whatever it started
    dup2(out_fds[1], STDOUT_FILENO);
    dup2(in_fds[0], STDIN_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out_fds[1]);
  close(in_fds[0]);
  out_ = out_fds[0];
  in_ = in_fds[1];
  if (pid_ < 0) {
    failure_ = std::string("fork: ") + std::strerror(errno);
    return;
  }
  setpgid(pid_, pid_);  // also from here, so the group exists before anyone signals it

  // Its lines up to LOCAL_SQS_READY=1; the first start may install the packages.
  std::string pending;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
  while (!ready_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      failure_ = "the local SQS service did not report ready within 3 minutes";
      break;
    }
    pollfd p{out_, POLLIN, 0};
    const int polled = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
    if (polled < 0 && errno != EINTR) {
      failure_ = std::string("poll: ") + std::strerror(errno);
      break;
    }
    if (polled <= 0) continue;
    char buffer[512];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) {
      failure_ = "the local SQS service ended before it was ready (see its standard error)";
      break;
    }
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t eol; (eol = pending.find('\n')) != std::string::npos;) {
      const std::string line = pending.substr(0, eol);
      pending.erase(0, eol + 1);
      Take(line, "LOCAL_SQS_HTTP=", http_);
      Take(line, "LOCAL_SQS_HTTPS=", https_);
      Take(line, "LOCAL_SQS_CA=", ca_);
      Take(line, "LOCAL_SQS_REGION=", region_);
      Take(line, "LOCAL_SQS_ACCOUNT_ID=", account_);
      if (line == "LOCAL_SQS_READY=1") ready_ = true;
    }
  }
  if (!ready_) Stop();
}

void TLocalSQSService::Stop() {
  if (pid_ > 0) {
    kill(-pid_, SIGTERM);
    if (!WaitForExit(pid_, std::chrono::seconds(10))) {
      kill(-pid_, SIGKILL);
      WaitForExit(pid_, std::chrono::seconds(10));
    }
    pid_ = -1;
  }
  if (out_ >= 0) close(out_);
  if (in_ >= 0) close(in_);
  out_ = in_ = -1;
}

}  // namespace brv::testing

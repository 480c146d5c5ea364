#include "aws/brvAWSCredentialProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <thread>

#include <nlohmann/json.hpp>

#include "aws/brvAWSConfigFile.h"
#include "transport/IdDeadline.h"

extern char** environ;

namespace brv {

namespace {

// More standard output than any credentials answer needs: a runaway program is stopped.
constexpr std::size_t kMaxAnswer = 1 << 20;
// How much of the standard error an error message carries.
constexpr std::size_t kMaxErrorText = 2048;

[[noreturn]] void Fail(const std::string& Profile, const std::string& Reason,
                       const std::string& ErrorOutput = {}) {
  std::string message =
      "Error when retrieving credentials from the credential_process of profile " + Profile + ": " +
      Reason;
  std::string_view text(ErrorOutput);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  if (!text.empty()) {
    message += "\nIts error output: ";
    message += text.substr(0, kMaxErrorText);
    if (text.size() > kMaxErrorText) message += "...";
  }
  throw EbrvAWSConfigError(message);
}

// Closes a descriptor once, when it goes out of scope.
struct TFd {
  int Fd = -1;
  ~TFd() { Close(); }
  void Close() {
    if (Fd >= 0) ::close(Fd);
    Fd = -1;
  }
};

int DaysFromCivil(int y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int>(doe) - 719468;
}

}  // namespace

std::vector<std::string> SplitCredentialProcessCommand(const std::string& Command) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  for (std::size_t i = 0; i < Command.size(); ++i) {
    const char c = Command[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else if (c == '\\') {
      if (i + 1 >= Command.size())
        throw EbrvAWSConfigError("credential_process ends with a lone backslash");
      word += Command[++i];
      inWord = true;
    } else if (c == '\'') {
      const std::size_t close = Command.find('\'', i + 1);
      if (close == std::string::npos)
        throw EbrvAWSConfigError("credential_process has a ' without its closing quote");
      word.append(Command, i + 1, close - i - 1);
      i = close;
      inWord = true;
    } else if (c == '"') {
      std::size_t j = i + 1;
      for (;; ++j) {
        if (j >= Command.size())
          throw EbrvAWSConfigError("credential_process has a \" without its closing quote");
        if (Command[j] == '"') break;
        if (Command[j] == '\\' && j + 1 < Command.size() &&
            (Command[j + 1] == '"' || Command[j + 1] == '\\')) {
          ++j;
        }
        word += Command[j];
      }
      i = j;
      inWord = true;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::optional<std::chrono::system_clock::time_point> ParseRFC3339(const std::string& Text) {
  // yyyy-mm-ddThh:mm:ss[.f...](Z|+hh:mm|-hh:mm)
  auto digits = [&](std::size_t at, std::size_t count, int& value) {
    if (at + count > Text.size()) return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
      if (Text[i] < '0' || Text[i] > '9') return false;
      value = value * 10 + (Text[i] - '0');
    }
    return true;
  };
  int year, month, day, hour, minute, second;
  if (!digits(0, 4, year) || Text.size() < 19 || Text[4] != '-' || !digits(5, 2, month) ||
      Text[7] != '-' || !digits(8, 2, day) ||
      (Text[10] != 'T' && Text[10] != 't' && Text[10] != ' ') || !digits(11, 2, hour) ||
      Text[13] != ':' || !digits(14, 2, minute) || Text[16] != ':' || !digits(17, 2, second)) {
    return std::nullopt;
  }
  static constexpr int kDaysInMonth[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kDaysInMonth[month - 1] ||
      (month == 2 && day == 29 && !leap) || hour > 23 || minute > 59 || second > 60) {
    return std::nullopt;
  }
  std::size_t at = 19;
  std::chrono::nanoseconds fraction{0};
  if (at < Text.size() && Text[at] == '.') {
    std::int64_t scale = 100000000;
    std::size_t first = ++at;
    for (; at < Text.size() && Text[at] >= '0' && Text[at] <= '9'; ++at) {
      fraction += std::chrono::nanoseconds((Text[at] - '0') * scale);
      scale /= 10;
    }
    if (at == first) return std::nullopt;
  }
  int offset = 0;  // minutes east of UTC
  if (at < Text.size() && (Text[at] == 'Z' || Text[at] == 'z')) {
    ++at;
  } else if (at < Text.size() && (Text[at] == '+' || Text[at] == '-')) {
    int oh, om;
    if (!digits(at + 1, 2, oh) || at + 3 >= Text.size() || Text[at + 3] != ':' ||
        !digits(at + 4, 2, om) || oh > 23 || om > 59) {
      return std::nullopt;
    }
    offset = (Text[at] == '-' ? -1 : 1) * (oh * 60 + om);
    at += 6;
  } else {
    return std::nullopt;
  }
  if (at != Text.size()) return std::nullopt;
  const std::int64_t seconds = std::int64_t{DaysFromCivil(year, month, day)} * 86400 + hour * 3600 +
                               minute * 60 + second - offset * 60;
  // The clock counts nanoseconds in 64 bits (until 2262): a later time is as good as never.
  using TDuration = std::chrono::system_clock::duration;
  if (seconds >= std::chrono::duration_cast<std::chrono::seconds>(TDuration::max()).count())
    return std::chrono::system_clock::time_point::max();
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<TDuration>(std::chrono::seconds(seconds) + fraction));
}

TbrvAWSCredentials RunCredentialProcess(const std::string& Command, const std::string& Profile,
                                        std::chrono::milliseconds Timeout,
                                        std::chrono::system_clock::time_point Now) {
  const std::vector<std::string> words = SplitCredentialProcessCommand(Command);
  if (words.empty() || words.front().empty()) Fail(Profile, "credential_process names no program");
  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);

  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) Fail(Profile, std::strerror(errno));
  TFd outRead{outPipe[0]}, outWrite{outPipe[1]};
  if (pipe2(errPipe, O_CLOEXEC) != 0) Fail(Profile, std::strerror(errno));
  TFd errRead{errPipe[0]}, errWrite{errPipe[1]};

  // The program's own standard input stays the caller's, so a helper that asks its user
  // something on the terminal still can.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outWrite.Fd, STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errWrite.Fd, STDERR_FILENO);
  pid_t pid = -1;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    Fail(Profile, "cannot run " + words.front() + ": " + std::strerror(spawned));
  }
  outWrite.Close();
  errWrite.Close();

  std::string out, err;
  const TIdDeadline deadline = TIdDeadline::After(Timeout);
  auto stop = [&](const std::string& Reason) {
    ::kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    Fail(Profile, Reason, err);
  };
  const std::string overdue =
      "the program did not finish within " + std::to_string(Timeout.count()) + " ms";

  while (outRead.Fd >= 0 || errRead.Fd >= 0) {
    pollfd fds[2];
    nfds_t count = 0;
    for (TFd* fd : {&outRead, &errRead}) {
      if (fd->Fd >= 0) fds[count++] = pollfd{fd->Fd, POLLIN, 0};
    }
    const int wait = deadline.WaitMs();
    if (wait == 0) stop(overdue);
    const int ready = poll(fds, count, wait);
    if (ready < 0 && errno != EINTR) stop(std::string("poll: ") + std::strerror(errno));
    if (ready <= 0) continue;
    for (nfds_t i = 0; i < count; ++i) {
      if (fds[i].revents == 0) continue;
      TFd& fd = fds[i].fd == outRead.Fd ? outRead : errRead;
      std::string& into = &fd == &outRead ? out : err;
      char buffer[4096];
      const ssize_t n = ::read(fd.Fd, buffer, sizeof buffer);
      if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        fd.Close();
      }
    }
    if (out.size() > kMaxAnswer) stop("the program wrote more than 1 MiB to its standard output");
    if (err.size() > kMaxAnswer) err.erase(kMaxErrorText, std::string::npos);
  }

  // Both pipes are closed; the program may still be running without them.
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) Fail(Profile, std::string("waitpid: ") + std::strerror(errno));
    if (deadline.Expired()) stop(overdue);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFSIGNALED(status)) {
    Fail(Profile, "the program was ended by signal " + std::to_string(WTERMSIG(status)), err);
  }
  if (WEXITSTATUS(status) != 0) {
    Fail(Profile, "the program exited with status " + std::to_string(WEXITSTATUS(status)), err);
  }

  // The answer holds secrets: nothing of it may reach a message, so the parser's own error
  // text (which quotes the input) is never used.
  const nlohmann::json answer = nlohmann::json::parse(out, nullptr, false);
  if (answer.is_discarded() || !answer.is_object()) {
    Fail(Profile, "the program's output is not a JSON object", err);
  }
  const auto version = answer.find("Version");
  if (version == answer.end() || !version->is_number() || *version != 1) {
    Fail(Profile, "the program's output has no \"Version\" of 1", err);
  }
  auto text = [&](const char* Name, bool Required) {
    const auto it = answer.find(Name);
    if (it == answer.end() || it->is_null()) {
      if (Required) Fail(Profile, std::string("the program's output has no \"") + Name + "\"", err);
      return std::string();
    }
    if (!it->is_string() || (Required && it->get_ref<const std::string&>().empty())) {
      Fail(Profile, std::string("the program's output has no text in \"") + Name + "\"", err);
    }
    return it->get<std::string>();
  };
  TbrvAWSCredentials credentials;
  credentials.AccessKey = text("AccessKeyId", true);
  credentials.SecretKey = text("SecretAccessKey", true);
  credentials.SessionToken = text("SessionToken", false);
  const std::string expiration = text("Expiration", false);
  if (!expiration.empty()) {
    credentials.Expiration = ParseRFC3339(expiration);
    if (!credentials.Expiration) {
      Fail(Profile, "the program's \"Expiration\" is not an RFC 3339 time", err);
    }
    if (*credentials.Expiration <= Now) {
      Fail(Profile, "the program returned credentials that have already expired", err);
    }
  }
  return credentials;
}

}  // namespace brv

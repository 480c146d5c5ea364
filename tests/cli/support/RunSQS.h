// Runs the built `sqs` program as a user would: given arguments, an environment with no AWS_
// variables but those the test sets, and optional standard input; gives back its exit status
// and both outputs. Also reads the program's output forms back.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "cli/SQSCommandLine.h"

extern char** environ;

namespace brv::testing {

struct TSQSRun {
  int Status = -1;  // the exit status, or -1 when the program did not exit normally
  std::string Out, Err;
};

inline TSQSRun RunSQS(const std::vector<std::string>& Args,
                      const std::map<std::string, std::string>& Environment = {},
                      const std::string& Input = {}) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("AWS_", 0) != 0) env.emplace_back(*e);
  }
  for (const auto& [name, value] : Environment) env.push_back(name + "=" + value);
  std::vector<std::string> args = {BRV_SQS_PROGRAM};
  args.insert(args.end(), Args.begin(), Args.end());
  std::vector<char*> argv, envp;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  int in[2], out[2], err[2];
  TSQSRun run;
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
    return run;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    dup2(err[1], STDERR_FILENO);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // Feed the input and drain both outputs together, so no pipe fills up and blocks.
  size_t written = 0;
  int input = in[1];
  if (Input.empty()) {
    close(input);
    input = -1;
  }
  std::string* sinks[2] = {&run.Out, &run.Err};
  int sources[2] = {out[0], err[0]};
  while (sources[0] >= 0 || sources[1] >= 0 || input >= 0) {
    pollfd fds[3] = {{sources[0], POLLIN, 0}, {sources[1], POLLIN, 0}, {input, POLLOUT, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int k = 0; k < 2; ++k) {
      if (sources[k] < 0 || fds[k].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = read(sources[k], buffer, sizeof buffer);
      if (n > 0) {
        sinks[k]->append(buffer, static_cast<size_t>(n));
      } else {
        close(sources[k]);
        sources[k] = -1;
      }
    }
    if (input >= 0 && fds[2].revents != 0) {
      const ssize_t n = (fds[2].revents & POLLOUT) != 0
                            ? write(input, Input.data() + written, Input.size() - written)
                            : -1;
      if (n > 0) written += static_cast<size_t>(n);
      if (n <= 0 || written == Input.size()) {
        close(input);
        input = -1;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// Runs the command in this process with exactly the environment given (nothing of the test's
// own); ~/.aws is looked for in its HOME, else in a folder that does not exist.
inline TSQSRun RunSQSHere(const std::vector<std::string>& Args,
                          const std::map<std::string, std::string>& Environment = {}) {
  const auto lookup = [Environment](const std::string& Name) {
    const auto found = Environment.find(Name);
    return found != Environment.end() ? found->second : std::string();
  };
  const auto home = Environment.find("HOME");
  std::ostringstream out, err;
  TSQSRun run;
  run.Status = RunSQSCommandLine(Args, out, err, lookup,
                                 home != Environment.end() ? home->second : "/nonexistent/home");
  run.Out = out.str();
  run.Err = err.str();
  return run;
}

// The program's value escapes undone: \\ \n \r \t \xHH (and \= in names).
inline std::string Unescape(const std::string& Text) {
  std::string out;
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] != '\\' || i + 1 >= Text.size()) {
      out += Text[i];
      continue;
    }
    const char c = Text[++i];
    if (c == 'n') {
      out += '\n';
    } else if (c == 'r') {
      out += '\r';
    } else if (c == 't') {
      out += '\t';
    } else if (c == 'x' && i + 2 < Text.size()) {
      out += static_cast<char>(std::stoi(Text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

// The lines of an output, each split at its first unescaped "=" and unescaped; a line without
// "=" has an empty value.
inline std::vector<std::pair<std::string, std::string>> Pairs(const std::string& Output) {
  std::vector<std::pair<std::string, std::string>> pairs;
  size_t start = 0;
  while (start < Output.size()) {
    size_t end = Output.find('\n', start);
    if (end == std::string::npos) end = Output.size();
    const std::string line = Output.substr(start, end - start);
    size_t eq = 0;
    for (; eq < line.size(); ++eq) {
      if (line[eq] == '\\') {
        ++eq;
      } else if (line[eq] == '=') {
        break;
      }
    }
    pairs.emplace_back(Unescape(line.substr(0, eq)),
                       eq < line.size() ? Unescape(line.substr(eq + 1)) : std::string());
    start = end + 1;
  }
  return pairs;
}

// The lines of an output, unescaped.
inline std::vector<std::string> OutputLines(const std::string& Output) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < Output.size()) {
    size_t end = Output.find('\n', start);
    if (end == std::string::npos) end = Output.size();
    lines.push_back(Unescape(Output.substr(start, end - start)));
    start = end + 1;
  }
  return lines;
}

}  // namespace brv::testing

// Credentials from an external program (a profile's credential_process): the command line
// split as AWS's tools split it, the program run without a shell, and its JSON answer read.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace brv {

// The longest a credential process may run before it is killed.
inline constexpr std::chrono::milliseconds brvAWSCredentialProcessTimeout{60000};

// Credentials with the instant they stop being valid (none for long-term keys).
struct TbrvAWSCredentials {
  std::string AccessKey;
  std::string SecretKey;
  std::string SessionToken;
  std::optional<std::chrono::system_clock::time_point> Expiration;
};

// Splits a credential_process value into the program and its arguments like a POSIX shell's
// words, without expansions: blanks separate words; '...' keeps everything literally; "..."
// keeps everything but a backslash before " or \; outside quotes a backslash keeps the next
// character; quoted and unquoted parts of one word join, and "" is an empty word. An unclosed
// quote or a trailing backslash raises EbrvAWSConfigError.
std::vector<std::string> SplitCredentialProcessCommand(const std::string& Command);

// Reads an RFC 3339 time stamp ("2026-12-09T14:00:00Z", with optional fractions of a second,
// "t", "z", a blank for "T", or an offset such as "+01:00"). Empty on anything else.
std::optional<std::chrono::system_clock::time_point> ParseRFC3339(const std::string& Text);

// Runs a credential process and reads its answer: the program found on PATH, no shell, the
// standard output read as JSON ({"Version": 1, "AccessKeyId", "SecretAccessKey", optional
// "SessionToken" and "Expiration"}), killed when it runs longer than Timeout. A failure to
// start, a non-zero exit, a time-out, an answer that is not such JSON, and credentials that
// have already expired by Now raise EbrvAWSConfigError; its message names Profile and carries
// what the process wrote to its standard error, never its standard output.
TbrvAWSCredentials RunCredentialProcess(const std::string& Command, const std::string& Profile,
                                        std::chrono::milliseconds Timeout,
                                        std::chrono::system_clock::time_point Now);

}  // namespace brv

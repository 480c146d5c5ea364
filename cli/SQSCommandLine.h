// The `sqs` command: one subcommand per operation of the SQS client, configured from the
// standard AWS environment and the command line. All protocol work is the library's; this
// unit reads arguments, fills the client's records, calls one operation and prints what it
// gives back.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace brv {

// Exit statuses of the command.
enum TSQSExitStatus : int {
  sqsExitSuccess = 0,
  sqsExitServiceError = 1,  // the service refused the request (or answered nothing usable)
  sqsExitUsage = 2,         // the command line or the environment is wrong
  sqsExitNetwork = 3        // no answer: name resolution, connection, TLS, time-out
};

// Runs one command line (the arguments after the program name). Results go to Out, one per
// line; errors go to Err. Reads the process environment (AWS_ACCESS_KEY_ID, ...).
int RunSQSCommandLine(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

// How values are printed: "\\" "\n" "\r" "\t" for a backslash, LF, CR and tab, "\xHH" for
// the other control characters; everything else (UTF-8 included) as it is.
std::string EscapeOutputValue(const std::string& Value);
// A name printed before "=": as a value, with "=" written "\=".
std::string EscapeOutputName(const std::string& Name);

}  // namespace brv

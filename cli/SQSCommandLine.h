// The `sqs` command: one subcommand per operation of the SQS client, configured from the
// standard AWS environment and the command line. All protocol work is the library's; this
// unit reads arguments, fills the client's records, calls one operation and prints what it
// gives back.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "aws/brvAWSCredentials.h"

namespace brv {

// Exit statuses of the command.
enum TSQSExitStatus : int {
  sqsExitSuccess = 0,
  sqsExitServiceError = 1,  // the service refused the request, or some entries of a batch
  sqsExitUsage = 2,         // the command line or the environment is wrong
  sqsExitNetwork = 3,       // no answer: name resolution, connection, TLS, time-out, cancel
  sqsExitUnusable = 4       // an answer that could not be used: malformed, too large, failed
                            // integrity check
};

// Runs one command line (the arguments after the program name). Results go to Out, one per
// line; errors go to Err. Reads the process environment (AWS_ACCESS_KEY_ID, AWS_PROFILE, ...)
// and the shared AWS files of the user's home.
int RunSQSCommandLine(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);
// The same with the environment read through Environment, and ~/.aws looked for in
// HomeDirectory (when empty: Environment's HOME, else the user's home directory).
int RunSQSCommandLine(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err,
                      const TbrvEnvironmentLookup& Environment,
                      const std::string& HomeDirectory = {});

// How text from the network is printed, on either stream: "\\" "\n" "\r" "\t" for a
// backslash, LF, CR and tab, and "\xHH" for each byte of the other control characters (C0,
// DEL, C1 U+0080 to U+009F), of the bidirectional controls (U+202A to U+202E, U+2066 to
// U+2069) and of ill-formed UTF-8; every other character as it is. A terminal then shows
// nothing the server chose to make it do.
std::string EscapeOutputValue(const std::string& Value);
// A name printed before "=": as a value, with "=" written "\=".
std::string EscapeOutputName(const std::string& Name);

// The command's table of subcommands and options, as its help prints them, for what is made
// from it at build time (the manual page's command reference, shell completion).
struct TSQSOptionReference {
  std::string Name;   // without the leading "--"
  std::string Value;  // what the value is called in help; empty for a switch
  bool Required = false;
  bool Repeatable = false;
  std::string Help;
  std::vector<std::string> Choices;  // every value it takes, where that list is closed
};
struct TSQSCommandReference {
  std::string Name;
  std::string Summary;
  std::string Output;  // what a success prints
  std::vector<TSQSOptionReference> Options;
};
struct TSQSCommandTable {
  std::vector<TSQSOptionReference> GlobalOptions;  // before or after the command
  std::vector<TSQSCommandReference> Commands;
};
TSQSCommandTable SQSCommandTable();

}  // namespace brv

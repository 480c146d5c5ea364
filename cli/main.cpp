// sqs: Amazon SQS from the command line. See "sqs --help".
#include <sys/prctl.h>

#include <iostream>
#include <string>
#include <vector>

#include "cli/SQSCommandLine.h"

int main(int argc, char** argv) {
  // The process holds the secret key: no core file, and no other process of the user may
  // attach to it or read its memory.
  prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = brv::RunSQSCommandLine(args, std::cout, std::cerr);
  std::cout.flush();
  return status;
}

// sqs: Amazon SQS from the command line. See "sqs --help".
#include <iostream>
#include <string>
#include <vector>

#include "cli/SQSCommandLine.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int status = brv::RunSQSCommandLine(args, std::cout, std::cerr);
  std::cout.flush();
  return status;
}

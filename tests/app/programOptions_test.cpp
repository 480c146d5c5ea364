// The window program's --help and --version: answered on standard output, with exit status 0,
// before anything needs a display (run here with none: no DISPLAY, WAYLAND_DISPLAY or
// QT_QPA_PLATFORM).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct TRun {
  int Status = -1;
  std::string Out;
};

TRun RunWithoutDisplay(const std::string& Argument) {
  TRun run;
  const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM '" +
                              std::string(BRV_APP_PROGRAM) + "' " + Argument + " 2>/dev/null";
  FILE* program = popen(command.c_str(), "r");
  if (program == nullptr) return run;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, program)) > 0;) run.Out.append(buffer, n);
  const int status = pclose(program);
  if (WIFEXITED(status)) run.Status = WEXITSTATUS(status);
  return run;
}

TEST(AmazonSQSProgram, HelpAndVersionPrintAndExitWithoutADisplay) {
  const TRun help = RunWithoutDisplay("--help");
  EXPECT_EQ(help.Status, 0);
  EXPECT_EQ(help.Out.rfind("Usage: amazon-sqs", 0), 0u) << help.Out;
  EXPECT_NE(help.Out.find("--version"), std::string::npos) << help.Out;
  EXPECT_EQ(RunWithoutDisplay("-h").Out, help.Out);

  const TRun version = RunWithoutDisplay("--version");
  EXPECT_EQ(version.Status, 0);
  EXPECT_EQ(version.Out, "amazon-sqs " BRV_VERSION "\n");
}

}  // namespace

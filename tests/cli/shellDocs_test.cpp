// What is built beside the `sqs` program for its users: the manual page sqs(1) and the shell
// completion. Both are checked against what the built program's help prints.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/RunSQS.h"
#include "tests/support/TempDir.h"

namespace brv {
namespace {

using testing::RunSQS;

const std::string kShare = std::string(BRV_BINARY_DIR) + "/cli/share";

// The names a help text lists in its entries: "  NAME ..." lines (commands) or "  --NAME"
// lines (options), in order.
std::vector<std::string> HelpEntries(const std::string& Help, const std::string& Section,
                                     bool Options) {
  std::vector<std::string> names;
  std::istringstream lines(Help.substr(Help.find(Section)));
  std::string line;
  std::getline(lines, line);  // the section's title
  static const std::regex option("^  --([a-z0-9-]+)");
  static const std::regex command("^  ([a-z0-9-]+)");
  for (std::smatch match; std::getline(lines, line) && !line.empty();) {
    if (std::regex_search(line, match, Options ? option : command)) names.push_back(match[1]);
  }
  return names;
}

std::vector<std::string> Commands() {
  return HelpEntries(RunSQS({"--help"}).Out, "Commands:", false);
}

std::vector<std::string> OptionsOf(const std::string& Command) {
  return HelpEntries(RunSQS({Command, "--help"}).Out, "Command options:", true);
}

// The manual page as its reader sees the words: roff font changes and escapes taken out.
std::string ManPageText() {
  std::ifstream in(kShare + "/man/man1/sqs.1");
  std::stringstream roff;
  roff << in.rdbuf();
  std::string text = std::regex_replace(roff.str(), std::regex(R"(\\f[BIRP]|\\&)"), "");
  return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

// Whether Text has a line that begins with the term Name (alone or followed by its value).
bool HasTerm(const std::string& Text, const std::string& Name) {
  return Text.find("\n" + Name + "\n") != std::string::npos ||
         Text.find("\n" + Name + " ") != std::string::npos;
}

TEST(SQSManPage, DescribesEveryCommandWithItsOwnOptionsAndEveryGlobalOption) {
  const std::string page = ManPageText();
  ASSERT_NE(page.find(".SH COMMANDS"), std::string::npos) << "no manual page built";
  const std::string options = page.substr(0, page.find(".SH COMMANDS"));
  for (const std::string& option :
       HelpEntries(RunSQS({"--help"}).Out, "Options (before or after the command):", true))
    EXPECT_TRUE(HasTerm(options, "--" + option)) << option;

  const std::vector<std::string> commands = Commands();
  ASSERT_GE(commands.size(), 20u);
  for (size_t i = 0; i < commands.size(); ++i) {
    // The command's entry runs from its heading line to the next command's.
    const size_t start = page.find("\n" + commands[i] + "\n.RS");
    ASSERT_NE(start, std::string::npos) << commands[i];
    const size_t end =
        i + 1 < commands.size() ? page.find("\n" + commands[i + 1] + "\n.RS") : page.size();
    const std::string entry = page.substr(start, end - start);
    for (const std::string& option : OptionsOf(commands[i]))
      EXPECT_TRUE(HasTerm(entry, "--" + option)) << commands[i] << " --" << option;
  }
}

// What the completion offers for the words typed so far (the last one is being completed).
std::vector<std::string> Complete(const std::vector<std::string>& Words) {
  const testing::TTempDir scratch("sqs-completion");
  const std::string script = scratch.File("complete.sh");
  {
    std::ofstream out(script);
    out << "source '" << kShare << "/bash-completion/completions/sqs'\nCOMP_WORDS=(";
    for (const std::string& word : Words) out << " '" << word << "'";
    out << ")\nCOMP_CWORD=" << Words.size() - 1 << "\n_sqs\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
  }
  std::vector<std::string> offered;
  FILE* bash = popen(("bash --norc '" + script + "'").c_str(), "r");
  if (bash == nullptr) return offered;
  char buffer[4096];
  while (fgets(buffer, sizeof buffer, bash) != nullptr) {
    std::string line(buffer);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty()) offered.push_back(line);
  }
  pclose(bash);
  return offered;
}

TEST(SQSCompletion, OffersCommandsOptionsAndClosedValuesButNothingThatNeedsTheNetwork) {
  struct TRow {
    std::vector<std::string> Words;
    std::vector<std::string> Offered;
  };
  const std::string scd = kShare + "/sqs.1.scd";
  const std::vector<TRow> rows = {
      {{"sqs", "list"}, {"list-queues", "list-queue-tags", "list-dead-letter-source-queues"}},
      {{"sqs", "help", "rec"}, {"receive-message"}},
      {{"sqs", "purge-queue", "--re"}, {"--region", "--read-timeout"}},
      // A value is not taken for a command, however it looks.
      {{"sqs", "--region", "eu", "get-queue-url", "--q"}, {"--queue-name"}},
      {{"sqs", "--endpoint-url", "list-queues", "--queue-name-"}, {}},
      {{"sqs", "--no-verify-ssl", "delete-queue", "--queue-name", ""}, {}},
      {{"sqs", "--tls-engine", ""}, {"openssl", "gnutls"}},
      {{"sqs", "--tls-engine", "=", "g"}, {"gnutls"}},
      {{"sqs", "--tls-engine", "=", "gnutls", "send-message", "--message-body-file",
        scd.substr(0, scd.size() - 5)},
       {scd}},
  };
  for (const TRow& row : rows) {
    std::string typed;
    for (const std::string& word : row.Words) typed += word + " ";
    EXPECT_EQ(Complete(row.Words), row.Offered) << typed;
  }

  // The zsh completion is made from the same table; its help texts must survive its quoting.
  EXPECT_EQ(std::system(("zsh -n '" + kShare + "/zsh/vendor-completions/_sqs'").c_str()), 0);

  std::vector<std::string> commands = Commands();
  commands.push_back("help");
  EXPECT_EQ(Complete({"sqs", ""}), commands);
  for (const std::string& command : Commands()) {
    const std::vector<std::string> offered = Complete({"sqs", command, "--"});
    const std::set<std::string> options(offered.begin(), offered.end());
    for (const std::string& option : OptionsOf(command))
      EXPECT_EQ(options.count("--" + option), 1u) << command << " --" << option;
    EXPECT_EQ(options.count("--region"), 1u) << command;
  }
}

}  // namespace
}  // namespace brv

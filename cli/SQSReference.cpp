// sqs-reference: a build-time tool that writes what is made from the sqs command's own table
// of subcommands and options, so that none of it can fall behind the command:
//   sqs-reference bash              the bash completion script
//   sqs-reference zsh               the zsh completion function
//   sqs-reference man TEMPLATE      the manual page source (scdoc) with the template's
//                                   "@GLOBAL_OPTIONS@" and "@COMMANDS@" lines filled in
// The result goes to standard output.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/SQSCommandLine.h"

namespace brv {
namespace {

// --- the manual page ---

// Text as scdoc reads it literally: its markup characters escaped.
std::string ScdocText(const std::string& Text) {
  std::string out;
  for (const char c : Text) {
    if (c == '\\' || c == '*' || c == '_') out += '\\';
    out += c;
  }
  return out;
}

std::string Sentence(std::string Text) {
  if (!Text.empty() && Text[0] >= 'a' && Text[0] <= 'z') Text[0] = static_cast<char>(Text[0] - 32);
  return Text + ".";
}

// One option as a term (bold name, underlined value) and its text, indented by Depth tabs.
void WriteManOption(std::ostream& Out, const TSQSOptionReference& Option, int Depth) {
  const std::string indent(static_cast<size_t>(Depth), '\t');
  Out << indent << "*--" << ScdocText(Option.Name) << "*";
  if (!Option.Value.empty()) Out << " _" << ScdocText(Option.Value) << "_";
  Out << "\n";
  std::string notes;
  if (Option.Required) notes = "required";
  if (Option.Repeatable) notes += notes.empty() ? "repeatable" : ", repeatable";
  std::string text = Option.Help;
  if (!notes.empty()) text += " (" + notes + ")";
  Out << indent << "\t" << ScdocText(Sentence(text)) << "\n\n";
}

void WriteManGlobalOptions(std::ostream& Out, const TSQSCommandTable& Table) {
  for (const TSQSOptionReference& option : Table.GlobalOptions) WriteManOption(Out, option, 0);
}

void WriteManCommands(std::ostream& Out, const TSQSCommandTable& Table) {
  for (const TSQSCommandReference& command : Table.Commands) {
    Out << "*" << ScdocText(command.Name) << "*\n";
    Out << "\t" << ScdocText(Sentence(command.Summary)) << " Prints " << ScdocText(command.Output)
        << ".\n\n";
    for (const TSQSOptionReference& option : command.Options) WriteManOption(Out, option, 1);
  }
}

int WriteManPage(const char* Template, const TSQSCommandTable& Table) {
  std::ifstream in(Template);
  if (!in) {
    std::cerr << "sqs-reference: cannot read " << Template << "\n";
    return 1;
  }
  for (std::string line; std::getline(in, line);) {
    if (line == "@GLOBAL_OPTIONS@")
      WriteManGlobalOptions(std::cout, Table);
    else if (line == "@COMMANDS@")
      WriteManCommands(std::cout, Table);
    else
      std::cout << line << "\n";
  }
  return 0;
}

// --- bash completion ---

// How an option's value is completed: "switch" (it takes none), "file", "choice A B ..." or
// "value" (free text: nothing is offered; in particular no queue names, which would need the
// network).
std::string ValueKind(const TSQSOptionReference& Option) {
  if (Option.Value.empty()) return "switch";
  if (!Option.Choices.empty()) {
    std::string kind = "choice";
    for (const std::string& choice : Option.Choices) kind += " " + choice;
    return kind;
  }
  if (Option.Value == "FILE") return "file";
  return "value";
}

std::string Words(const std::vector<TSQSOptionReference>& Options) {
  std::string words;
  for (const TSQSOptionReference& option : Options)
    words += (words.empty() ? "--" : " --") + option.Name;
  return words;
}

void WriteKindCases(std::ostream& Out, const std::string& Prefix,
                    const std::vector<TSQSOptionReference>& Options) {
  for (const TSQSOptionReference& option : Options)
    Out << "    " << Prefix << "--" << option.Name << ") _sqs_k='" << ValueKind(option) << "' ;;\n";
}

void WriteBash(std::ostream& Out, const TSQSCommandTable& Table) {
  std::string commands;
  for (const TSQSCommandReference& command : Table.Commands)
    commands += (commands.empty() ? "" : " ") + command.Name;

  Out << "# bash completion for sqs(1), generated from the command's own table of subcommands\n"
         "# and options. Values are completed only where that needs no network: file names and\n"
         "# closed lists; never queue names.\n\n";

  Out << "# _sqs_kind OPTION COMMAND: sets _sqs_k to how OPTION's value is completed (empty for\n"
         "# an unknown option).\n"
         "_sqs_kind() {\n"
         "  case $1 in\n";
  WriteKindCases(Out, "", Table.GlobalOptions);
  Out << "    *) _sqs_k='' ;;\n"
         "  esac\n"
         "  [[ -n $_sqs_k ]] && return\n"
         "  case $2:$1 in\n";
  for (const TSQSCommandReference& command : Table.Commands)
    WriteKindCases(Out, command.Name + ":", command.Options);
  Out << "  esac\n"
         "}\n\n";

  Out << "# _sqs_options COMMAND: sets _sqs_o to the options COMMAND takes besides the global "
         "ones.\n"
         "_sqs_options() {\n"
         "  case $1 in\n";
  for (const TSQSCommandReference& command : Table.Commands)
    Out << "    " << command.Name << ") _sqs_o='" << Words(command.Options) << "' ;;\n";
  Out << "    *) _sqs_o='' ;;\n"
         "  esac\n"
         "}\n\n";

  Out << "_sqs() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev='' cmd='' opt='' i w _sqs_k _sqs_o\n"
         "  COMPREPLY=()\n"
         "  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
         "  # The command is the first word that is neither an option nor an option's value.\n"
         "  # With \"=\" among the word breaks, --name=value arrives as three words.\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    w=${COMP_WORDS[i]}\n"
         "    if [[ $w == --* ]]; then\n"
         "      if [[ ${COMP_WORDS[i + 1]} == = ]]; then\n"
         "        ((i += 2))\n"
         "      elif [[ $w != *=* ]]; then\n"
         "        _sqs_kind \"$w\" \"$cmd\"\n"
         "        [[ -n $_sqs_k && $_sqs_k != switch ]] && ((i++))\n"
         "      fi\n"
         "    elif [[ -z $cmd && $w != -h && $w != help ]]; then\n"
         "      cmd=$w\n"
         "    fi\n"
         "  done\n"
         "  if [[ $cur == = ]]; then\n"
         "    opt=$prev\n"
         "    cur=''\n"
         "  elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then\n"
         "    opt=${COMP_WORDS[COMP_CWORD - 2]}\n"
         "  elif [[ $prev == --* && $prev != *=* ]]; then\n"
         "    opt=$prev\n"
         "  fi\n"
         "  if [[ -n $opt ]]; then\n"
         "    _sqs_kind \"$opt\" \"$cmd\"\n"
         "    case $_sqs_k in\n"
         "      file)\n"
         "        compopt -o filenames 2>/dev/null\n"
         "        mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
         "        return 0\n"
         "        ;;\n"
         "      choice\\ *)\n"
         "        mapfile -t COMPREPLY < <(compgen -W \"${_sqs_k#choice }\" -- \"$cur\")\n"
         "        return 0\n"
         "        ;;\n"
         "      value) return 0 ;;\n"
         "    esac\n"
         "  fi\n"
         "  if [[ -n $cmd || $cur == -* ]]; then\n"
         "    _sqs_options \"$cmd\"\n"
         "    mapfile -t COMPREPLY < <(compgen -W \""
      << Words(Table.GlobalOptions)
      << " $_sqs_o\" -- \"$cur\")\n"
         "  else\n"
         "    mapfile -t COMPREPLY < <(compgen -W \""
      << commands
      << " help\" -- \"$cur\")\n"
         "  fi\n"
         "  return 0\n"
         "}\n\n"
         "complete -F _sqs sqs\n";
}

// --- zsh completion ---

// Text inside a single-quoted zsh word.
std::string ZshQuoted(const std::string& Text) {
  std::string out;
  for (const char c : Text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out;
}

// Text as _arguments and _describe read it literally in a description.
std::string ZshDescription(const std::string& Text) {
  std::string out;
  for (const char c : Text) {
    if (c == '\\' || c == '[' || c == ']' || c == ':') out += '\\';
    out += c;
  }
  return ZshQuoted(out);
}

// One option as an _arguments entry: "*" when it may repeat, "=" when it takes a
// value (given after "=" or as the next word), its help, and how its value is completed.
std::string ZshOptionEntry(const TSQSOptionReference& Option) {
  std::string entry = "'";
  if (Option.Repeatable) entry += "*";
  entry += "--" + Option.Name;
  if (!Option.Value.empty()) entry += "=";
  entry += "[" + ZshDescription(Option.Help) + "]";
  if (!Option.Value.empty()) {
    entry += ":" + ZshDescription(Option.Value) + ":";
    if (!Option.Choices.empty()) {
      entry += "(";
      for (size_t i = 0; i < Option.Choices.size(); ++i)
        entry += (i == 0 ? "" : " ") + ZshQuoted(Option.Choices[i]);
      entry += ")";
    } else if (Option.Value == "FILE") {
      entry += "_files";
    }
  }
  return entry + "'";
}

void WriteZsh(std::ostream& Out, const TSQSCommandTable& Table) {
  Out << "#compdef sqs\n"
         "# zsh completion for sqs(1), generated from the command's own table of subcommands\n"
         "# and options. Values are completed only where that needs no network: file names and\n"
         "# closed lists; never queue names.\n\n"
         "local curcontext=$curcontext state line ret=1\n"
         "local -a globals commands\n"
         "globals=(\n";
  for (const TSQSOptionReference& option : Table.GlobalOptions)
    Out << "  " << ZshOptionEntry(option) << "\n";
  Out << ")\n"
         "commands=(\n";
  for (const TSQSCommandReference& command : Table.Commands)
    Out << "  '" << command.Name << ":" << ZshDescription(command.Summary) << "'\n";
  Out << "  'help:explain a command'\n"
         ")\n"
         "_arguments -C $globals '1: :->command' '*:: :->option' && ret=0\n"
         "case $state in\n"
         "  command) _describe -t commands 'sqs command' commands && ret=0 ;;\n"
         "  option)\n"
         "    curcontext=${curcontext%:*}-$line[1]:\n"
         "    case $line[1] in\n"
         "      help) _describe -t commands 'sqs command' commands && ret=0 ;;\n";
  for (const TSQSCommandReference& command : Table.Commands) {
    Out << "      " << command.Name << ")\n"
        << "        _arguments $globals";
    for (const TSQSOptionReference& option : command.Options)
      Out << " \\\n          " << ZshOptionEntry(option);
    Out << " && ret=0\n"
           "        ;;\n";
  }
  Out << "    esac\n"
         "    ;;\n"
         "esac\n"
         "return ret\n";
}

}  // namespace
}  // namespace brv

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const brv::TSQSCommandTable table = brv::SQSCommandTable();
  if (args.size() == 1 && args[0] == "bash") {
    brv::WriteBash(std::cout, table);
    return 0;
  }
  if (args.size() == 1 && args[0] == "zsh") {
    brv::WriteZsh(std::cout, table);
    return 0;
  }
  if (args.size() == 2 && args[0] == "man") return brv::WriteManPage(argv[2], table);
  std::cerr << "Usage: sqs-reference bash | zsh | man TEMPLATE\n";
  return 2;
}

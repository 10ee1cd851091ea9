// The command line of raidgui, raidmon and raidctl: one option table per
// program, read by one parser with the same conventions everywhere. Options
// go before or after a command, a value follows its option as `--opt value`
// or `--opt=value`, an option is given once (a few take many), --help lists
// every option and command, --version says the version, and a mistake is
// named with its option and ends the program with exit code 2. The table
// also answers the shell's completion and is where the manual pages come
// from (help2man reads --help), so none of them can drift from the parser.
//
// Values are kept as the texts given; each program checks them after the
// parse with its own messages, so a mistake says what the option wants.
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace raid {

inline constexpr int kUsageExitCode = 2;

// How a parse ended.
struct CommandLineEnd {
  int exit = -1;      // -1: the program goes on; 0 after --help or --version; 2 after a mistake
  std::string out;    // the help or the version text
  std::string error;  // the mistake, without the program's name
};

class CommandLine {
 public:
  // summary: the help's first line.
  CommandLine(std::string program, const std::string& summary);
  ~CommandLine();
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  CLI::App& Root() { return *root_; }
  // "raidctl 0.23.1" and what follows it on --version.
  void SetVersion(const std::string& text);

  // A command (of the program or of another command), with the line --help
  // shows for it. Options of the program are taken after it too.
  CLI::App& Command(CLI::App& parent, const std::string& name, const std::string& help);
  // An option with a value (valueName: FILE, DIR, N...).
  CLI::Option* Value(CLI::App& on, const std::string& names, std::string& into, const std::string& valueName,
                     const std::string& help);
  // An option whose value may be left out: `into` is then empty and
  // `given` says it was there.
  CLI::Option* OptionalValue(CLI::App& on, const std::string& names, std::string& into, bool& given,
                             const std::string& valueName, const std::string& help);
  // An option given as often as wanted, its values in order.
  CLI::Option* Values(CLI::App& on, const std::string& names, std::vector<std::string>& into,
                      const std::string& valueName, const std::string& help);
  // One of a few words; the words are shown and completed. The value is
  // checked by the caller, with its own message.
  CLI::Option* Choice(CLI::App& on, const std::string& names, std::string& into, const std::vector<std::string>& words,
                      const std::string& help);
  CLI::Option* Flag(CLI::App& on, const std::string& names, bool& into, const std::string& help);
  // A word after a command (an image file, on or off); words: the ones it
  // takes, for help and completion (empty: any, a file).
  CLI::Option* Word(CLI::App& on, const std::string& name, std::string& into, const std::vector<std::string>& words,
                    const std::string& help);
  // An option of the program that only these commands take (raidctl's
  // --simulate: the commands that read enclosures). The parse refuses it
  // with any other ("--simulate is not an option of make-image"), and that
  // command's help and the completion leave it out; the option's line in
  // the help names the commands. Without a call, every command takes it.
  // Give it after the commands are in the table.
  void TakenOnlyBy(const CLI::Option* option, const std::vector<std::string>& commands);

  // Reads args (args[0]: how the program was started). A word or option
  // not in the table, a value missing, an option given twice, a value that
  // is the next option and a program option the command does not take are
  // mistakes. Every word after "--" is a plain word (a command's FILE or
  // ADDR), never an option or a command.
  CommandLineEnd Parse(const std::vector<std::string>& args);
  // After a parse: the commands given, outermost first ({"mail", "set"}).
  std::vector<std::string> Commands() const;
  // After a parse: whether the option (by its long name) was given.
  bool Given(const std::string& name) const;

  // The whole help: usage, options, every command with its own.
  std::string Help() const;
  // The shell's completion of the last of `words` (the words after the
  // program's name, the last one being typed): one candidate per line;
  // "@file" or "@dir" asks the shell for file or folder names.
  std::vector<std::string> Complete(const std::vector<std::string>& words) const;

 private:
  std::string program_;
  std::unique_ptr<CLI::App> root_;
  bool IsFlag(const CLI::Option* o) const;
  // Whether the command (its outermost name; "" for none) takes the
  // program's option.
  bool Takes(const std::string& command, const CLI::Option* o) const;
  // The innermost command the parse chose (the program's table without one).
  CLI::App* Deepest() const;
  // The program's options (taken with every command), for a command's help.
  std::string ProgramOptionsHelp() const;
  std::map<const CLI::Option*, std::vector<std::string>> words_;  // Choice and Word
  std::set<const CLI::Option*> flags_;
  std::map<const CLI::Option*, std::set<std::string>> takenOnlyBy_;
  std::map<const CLI::Option*, std::string> notes_;  // the help's "(not with make-image)"
};

// The command of parent's table called name; nullptr for none.
const CLI::App* CommandNamed(const CLI::App& parent, const std::string& name);

// Prints how the parse ended: help and version to stdout, a mistake to
// stderr with a hint at --help. Returns end.exit.
int PrintCommandLineEnd(const CommandLineEnd& end, const std::string& program);

}  // namespace raid

// The command lines of raidmon, raidgui and raidctl keep one set of
// conventions: every option --help lists is taken, `--opt=value` means
// `--opt value`, raidctl's options go before or after the command, every
// word after "--" is a plain word, a mistake ends with code 2 (raidctl
// check: UNKNOWN), and each raidctl command's help and the shell's
// completion offer exactly what the parser takes there.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "app/common/options.h"
#include "app/raidctl/ctl_command_line.h"

namespace raid {
namespace {

struct Outcome {
  int exit = -1;  // -1 goes on, 0 help/version, 2 mistake
  std::string error, text;
  std::string Key() const { return std::to_string(exit) + "|" + error; }
};

using Parser = Outcome (*)(const std::vector<std::string>&);

Outcome Monitor(const std::vector<std::string>& args) {
  const ProgramOptions o = ParseOptions(args, true);
  return {o.help ? 0 : o.error.empty() ? -1 : 2, o.error, o.helpText};
}
Outcome Window(const std::vector<std::string>& args) {
  const ProgramOptions o = ParseOptions(args, false, true);
  return {o.help ? 0 : o.error.empty() ? -1 : 2, o.error, o.helpText};
}
Outcome Control(const std::vector<std::string>& args) {
  const CtlOptions o = ParseCtl(args);
  return {o.exit, o.error, o.out};
}

struct Program {
  const char* name;
  Parser parse;
  std::vector<std::string> before;  // words that make a valid command line of their own
};

const Program kPrograms[] = {
    {"raidmon", Monitor, {}},
    {"raidgui", Window, {}},
    {"raidctl", Control, {"status"}},
};

// The options of one --help: each "--name VALUE" at the start of a line,
// after the command line ("raidctl mail set [OPTIONS]") it belongs to.
struct HelpOption {
  std::vector<std::string> command;
  std::string name, value;
  bool repeatable = false;
};

std::vector<HelpOption> OptionsOfHelp(const std::string& help, const std::string& program) {
  std::vector<HelpOption> out;
  std::vector<std::string> command;
  std::istringstream in(help);
  std::string line;
  const std::regex option(R"(^\s+(?:-[a-z],)?(--[a-z][a-z-]*)(?: (\S+))?)");
  while (std::getline(in, line)) {
    if (line.rfind(program + " ", 0) == 0) {
      command.clear();
      std::istringstream words(line.substr(program.size() + 1));
      for (std::string w; words >> w && w.find_first_of("[ABCDEFGHIJKLMNOPQRSTUVWXYZ") != 0;)
        command.push_back(w.back() == ':' ? w.substr(0, w.size() - 1) : w);
      continue;
    }
    std::smatch m;
    if (std::regex_search(line, m, option) && m[1] != "--help")
      out.push_back({command, m[1], m[2], line.find("(repeatable)") != std::string::npos});
  }
  return out;
}

// A value the option takes: its first choice, a number, or a name.
std::string SampleValue(const std::string& shown) {
  if (shown.find('|') != std::string::npos) return shown.substr(0, shown.find('|'));
  if (shown == "N" || shown == "S" || shown == "SECONDS" || shown == "RPM" || shown == "C") return "1";
  return "sample-value";
}

TEST(CommandLines, EveryOptionTheHelpListsIsTakenAndAnEqualsSignMeansTheSame) {
  for (const Program& p : kPrograms) {
    const Outcome help = p.parse({p.name, "--help"});
    ASSERT_EQ(help.exit, 0) << p.name;
    const Outcome version = p.parse({p.name, "--version"});
    EXPECT_EQ(version.exit, 0) << p.name;
    EXPECT_EQ(version.text.rfind(std::string(p.name) + " " + kProjectVersion + "\n", 0), 0u) << version.text;
    const std::vector<HelpOption> options = OptionsOfHelp(help.text, p.name);
    EXPECT_GE(options.size(), 4u) << help.text;
    for (const HelpOption& o : options) {
      if (o.name == "--version") continue;
      std::vector<std::string> base{p.name};
      base.insert(base.end(), o.command.begin(), o.command.end());
      if (o.command.empty()) base.insert(base.end(), p.before.begin(), p.before.end());
      std::vector<std::string> spaced = base, joined = base;
      spaced.push_back(o.name);
      joined.push_back(o.name);
      if (!o.value.empty() && o.value.front() != '[') {
        spaced.push_back(SampleValue(o.value));
        joined.back() += "=" + SampleValue(o.value);
      }
      const Outcome a = p.parse(spaced), b = p.parse(joined);
      EXPECT_EQ(a.error.find("unknown option"), std::string::npos) << p.name << " " << o.name << ": " << a.error;
      EXPECT_EQ(a.Key(), b.Key()) << p.name << " " << o.name;
      if (o.repeatable) continue;
      // Given twice, it is a mistake that names it.
      std::vector<std::string> twice = joined;
      twice.push_back(joined.back());
      const Outcome t = p.parse(twice);
      EXPECT_EQ(t.exit, 2) << p.name << " " << o.name;
      EXPECT_NE(t.error.find(o.name), std::string::npos) << p.name << " " << o.name << ": " << t.error;
    }
    // Mistakes end with code 2 and name what was wrong.
    for (const std::vector<std::string>& wrong : {std::vector<std::string>{p.name, "--no-such-option"},
                                                  {p.name, "--simulate", "--trace"},
                                                  {p.name, "--simulate", "--trace="},
                                                  {p.name, "--simulate="},
                                                  {p.name, "--version=1"}}) {
      std::vector<std::string> args = wrong;
      args.insert(args.begin() + 1, p.before.begin(), p.before.end());
      const Outcome o = p.parse(args);
      EXPECT_EQ(o.exit, 2) << p.name << " " << args.back();
      EXPECT_NE(o.error.find(args.back().substr(0, args.back().find('='))), std::string::npos)
          << p.name << ": " << o.error;
    }
    // After "--" every word is a plain word, even right after an option
    // whose value may be left out: where none is wanted it is unexpected,
    // never read as an option.
    for (const std::vector<std::string>& after :
         {std::vector<std::string>{"--", "--help"}, {"--simulate", "--", "--duration", "0"}}) {
      std::vector<std::string> args{p.name};
      args.insert(args.end(), p.before.begin(), p.before.end());
      args.insert(args.end(), after.begin(), after.end());
      const Outcome o = p.parse(args);
      EXPECT_EQ(o.exit, 2) << p.name << " " << after.back();
      EXPECT_EQ(o.error.rfind("unexpected \"--", 0), 0u) << p.name << ": " << o.error;
    }
  }
}

// The commands of a whole --help: each heading "raidctl mail set [OPTIONS]:".
std::vector<std::vector<std::string>> CommandsOfHelp(const std::string& help) {
  std::vector<std::vector<std::string>> out;
  std::istringstream in(help);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("raidctl ", 0) != 0 || line.back() != ':') continue;
    std::istringstream words(line.substr(8, line.size() - 9));
    out.emplace_back();
    for (std::string w; words >> w && w.find_first_of("[ABCDEFGHIJKLMNOPQRSTUVWXYZ") != 0;) out.back().push_back(w);
  }
  return out;
}

TEST(CommandLines, EachRaidctlCommandTakesExactlyWhatItsHelpListsAndTheCompletionOffers) {
  const std::string whole = ParseCtl({"raidctl", "--help"}).out;
  std::map<std::string, std::string> everyOption{{"--version", ""}};  // name -> a value for it, if it takes one
  for (const HelpOption& o : OptionsOfHelp(whole, "raidctl"))
    everyOption[o.name] = o.value.empty() || o.value.front() == '[' ? "" : "=" + SampleValue(o.value);
  const std::vector<std::vector<std::string>> commands = CommandsOfHelp(whole);
  EXPECT_GE(commands.size(), 12u) << whole;
  for (const std::vector<std::string>& command : commands) {
    std::string name;
    for (const std::string& w : command) name += " " + w;
    std::vector<std::string> args{"raidctl"};
    args.insert(args.end(), command.begin(), command.end());
    std::vector<std::string> asHelp = args, typed(command);
    asHelp.push_back("--help");
    typed.push_back("--");
    const CtlOptions help = ParseCtl(asHelp);
    ASSERT_EQ(help.exit, 0) << name;
    // raidctl help COMMAND is the command's --help.
    std::vector<std::string> helpCommand{"raidctl", "help"};
    helpCommand.insert(helpCommand.end(), command.begin(), command.end());
    EXPECT_EQ(ParseCtl(helpCommand).out, help.out) << name;
    std::set<std::string> listed, offered;
    for (const HelpOption& o : OptionsOfHelp(help.out, "raidctl")) listed.insert(o.name);
    for (const std::string& o : CompleteCtl(typed))
      if (o != "--help") offered.insert(o);
    EXPECT_EQ(listed, offered) << name << "\n" << help.out;
    // Every option of the table: taken here exactly when listed.
    for (const auto& [option, value] : everyOption) {
      std::vector<std::string> given = args;
      given.push_back(option + value);
      const CtlOptions o = ParseCtl(given);
      const bool refused =
          o.error.find("not an option of") != std::string::npos || o.error.find("unknown option") != std::string::npos;
      EXPECT_EQ(!refused, listed.count(option) != 0) << name << " " << option << value << ": " << o.error;
    }
  }
  EXPECT_EQ(ParseCtl({"raidctl", "help", "status", "--json"}).exit, 2);
}

TEST(CommandLines, RaidctlTakesTheOptionsOfEveryCommandBeforeOrAfterIt) {
  const CtlOptions before =
      ParseCtl({"raidctl", "--simulate", "s.json", "--trace=t.txt", "upgrade", "fw.bin", "--yes"});
  const CtlOptions after =
      ParseCtl({"raidctl", "upgrade", "--slot=1", "fw.bin", "--trace", "t.txt", "--simulate=s.json"});
  for (const CtlOptions* o : {&before, &after}) {
    EXPECT_EQ(o->exit, -1) << o->error;
    EXPECT_EQ(o->command, "upgrade");
    EXPECT_EQ(o->file, "fw.bin");
    EXPECT_TRUE(o->program.simulate);
    EXPECT_EQ(o->program.scenario, "s.json");
    EXPECT_EQ(o->program.trace, "t.txt");
  }
  EXPECT_EQ(after.slot, 1);
  // A command's own option belongs to it, and is named when misplaced.
  const CtlOptions slot = ParseCtl({"raidctl", "status", "--slot", "1"});
  EXPECT_EQ(slot.exit, 2);
  EXPECT_EQ(slot.error, "unknown option \"--slot\" of status");
  EXPECT_EQ(ParseCtl({"raidctl", "make-image", "--simulate"}).error, "--simulate is not an option of make-image");
  // The mail commands, as the monitor service reads a client's words.
  const CtlOptions mail =
      ParseCtl({"raidctl", "--service=/run/x.sock", "mail", "set", "--port=2525", "--server", "mx", "--auth=on"});
  ASSERT_EQ(mail.exit, -1) << mail.error;
  EXPECT_EQ(mail.service, "/run/x.sock");
  EXPECT_EQ(mail.mail.ServiceWords(), (std::vector<std::string>{"set", "--server=mx", "--port=2525", "--auth=on"}));
  // Values that start with '-': after '=' and after "--"; and "-o=out".
  for (const CtlOptions& dash : {ParseCtl({"raidctl", "upgrade", "--yes", "--", "-fw.bin"}),
                                 ParseCtl({"raidctl", "upgrade", "--yes", "--simulate", "--", "-fw.bin"})}) {
    EXPECT_EQ(dash.exit, -1) << dash.error;
    EXPECT_EQ(dash.file, "-fw.bin");
  }
  EXPECT_EQ(ParseCtl({"raidctl", "mail", "recipients", "add", "--", "-x@y.z"}).mail.words,
            (std::vector<std::string>{"add", "-x@y.z"}));
  EXPECT_EQ(ParseCtl({"raidctl", "mail", "set", "--name=-Admin"}).mail.set.front().second, "-Admin");
  EXPECT_EQ(ParseCtl({"raidctl", "mail", "set", "--name", "-Admin"}).exit, 2);
  EXPECT_EQ(ParseCtl({"raidctl", "make-image", "--boot=b.bin", "-o=out"}).make.out, "out");
  // What the service is sent reads back as the same command there.
  const CtlOptions templ = ParseCtl({"raidctl", "mail", "template", "1", "subject", "--", "-t.txt"});
  std::vector<std::string> sent{"raidctl", "mail"};
  for (const std::string& w : templ.mail.ServiceWords()) sent.push_back(w);
  EXPECT_EQ(ParseCtl(sent).mail.words, (std::vector<std::string>{"1", "subject", "-t.txt"}));
  // check is a monitoring plugin: its mistakes are reported by main as UNKNOWN.
  EXPECT_EQ(ParseCtl({"raidctl", "check", "--expect=9"}).command, "check");
}

TEST(CommandLines, RaidctlCompletesCommandsOptionsAndValuesFromItsTable) {
  using W = std::vector<std::string>;
  EXPECT_EQ(CompleteCtl({"sc"}), (W{"schedule", "scan"}));
  EXPECT_EQ(CompleteCtl({"schedule", ""}), (W{"on", "off"}));
  EXPECT_EQ(CompleteCtl({"schedule", "on", "--per"}), (W{"--period"}));
  EXPECT_EQ(CompleteCtl({"schedule", "on", "--period", ""}), (W{"10", "30", "60", "180"}));
  EXPECT_EQ(CompleteCtl({"schedule", "on", "--period", "=", "1"}), (W{"10", "180"}));
  EXPECT_EQ(CompleteCtl({"upgrade", ""}), (W{"@file"}));
  EXPECT_EQ(CompleteCtl({"--simulate", "=", ""}), (W{"@file"}));
  EXPECT_EQ(CompleteCtl({"mail", "set", "--tls", "re"}), (W{"required"}));
  EXPECT_EQ(CompleteCtl({"mail", "template", "1", ""}), (W{"subject", "contents"}));
  EXPECT_EQ(CompleteCtl({"upgrade", "--", "-"}), (W{"@file"}));
  EXPECT_EQ(CompleteCtl({"help", "ma"}), (W{"mail", "make-image"}));
  EXPECT_EQ(CompleteCtl({"help", "mail", "s"}), (W{"show", "set"}));
  // The options of every command are offered after a command too.
  const W options = CompleteCtl({"list", "--"});
  for (const char* o : {"--simulate", "--trace", "--service", "--help"})
    EXPECT_NE(std::find(options.begin(), options.end(), o), options.end()) << o;
}

}  // namespace
}  // namespace raid

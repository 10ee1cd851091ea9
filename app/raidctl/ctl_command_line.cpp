#include "app/raidctl/ctl_command_line.h"

#include <CLI/CLI.hpp>

#include "app/common/command_line.h"

namespace raid {

namespace {

// The table with every command, bound to the values in Table.
struct Table {
  CommandLine line{"raidctl",
                   "The external two-drive RAID enclosures from a command line: the enclosures found, their\n"
                   "status, a health check, the firmware upgrade, the Setup page's commands and the mail\n"
                   "settings. While the monitor service runs, raidctl asks it; else it reads the enclosures\n"
                   "itself, and only while no other of these programs does."};
  CtlOptions o;
  std::string slot;
  SetupTable setup;
  CheckTable check;
  MailTable mail;
  MakeImageTable make;

  Table() {
    CLI::App& root = line.Root();
    line.SetVersion(VersionText("raidctl"));
    AddProgramOptions(line, o.program, ProgramKind::Control);
    line.Value(root, "--service", o.program.service, "ADDRESS",
               "ask the monitor service at ADDRESS (raidmon --listen) instead of the\n"
               "enclosures and the mail settings here; also from the environment variable\n"
               "RAIDGUI_SERVICE");
    line.Command(root, "list", "the enclosures found: slot, drive, transport, model, firmware");
    CLI::App& status = line.Command(root, "status", "one status read per enclosure, decoded");
    line.Flag(status, "--json", o.json, "as a versioned JSON document");
    check.Add(line, root);
    CLI::App& upgrade =
        line.Command(root, "upgrade", "write a firmware image to an enclosure; asks before writing unless --yes");
    line.Word(upgrade, "FILE", o.file, {}, "the firmware image");
    line.Value(upgrade, "--slot", slot, "N", "the enclosure's slot, 0-7 (default 0; see raidctl list)");
    line.Flag(upgrade, "--yes", o.yes, "write without asking");
    setup.Add(line, root);
    mail.Add(line, root);
    make.Add(line, root);
    // Which command takes which option of raidctl's: the enclosure commands
    // read enclosures (real or simulated), the mail commands the settings;
    // system-info and make-image read neither and ask no service.
    const std::vector<std::string> enclosures{"list", "status", "check", "upgrade", "schedule", "scan", "initialize"};
    std::vector<std::string> served = enclosures;
    served.insert(served.end(), {"mail", "test-mail"});
    line.TakenOnlyBy(root.get_option("--simulate"), enclosures);
    line.TakenOnlyBy(root.get_option("--trace"), enclosures);
    line.TakenOnlyBy(root.get_option("--config-dir"), {"mail", "test-mail"});
    line.TakenOnlyBy(root.get_option("--service"), served);
    root.footer(
        "\nraidctl help COMMAND (or raidctl COMMAND --help): the command's words and options\n\n"
        "exit codes: 0 done, 1 failed, 2 wrong use, 3 another program holds the enclosures, 130 interrupted\n"
        "(check: the monitoring plugin's codes)");
  }

  // After a parse that went on, with o.command set.
  void Finish() {
    if (o.command.empty()) {
      o.error = "a command is needed";
      return;
    }
    if (std::string why = CheckProgramOptions(o.program, line, ProgramKind::Control); !why.empty()) {
      o.error = why;
      return;
    }
    o.service = o.program.service;
    if (o.command == "check") {
      o.error = check.Finish(line, o.check);
    } else if (IsSetupCommand(o.command)) {
      o.error = setup.Finish(line, o.setup);
    } else if (IsMailCommand(o.command)) {
      o.error = mail.Finish(line, o.program.configDir, o.mail);
      if (o.error.empty() && o.mail.configGiven && !o.service.empty())
        o.error = "--service and --config-dir: the monitor service keeps its own mail settings; give one of them";
    } else if (o.command == "make-image") {
      o.error = make.Finish(line, o.make);
    } else if (o.command == "upgrade") {
      if (o.file.empty()) {
        o.error = "upgrade needs the image file: raidctl upgrade FILE";
      } else if (line.Given("--slot")) {
        o.error = ReadSlot(slot, o.slot);
      }
    }
  }
};

}  // namespace

CtlOptions ParseCtl(const std::vector<std::string>& args) {
  Table t;
  // "raidctl help [COMMAND...]" is "raidctl [COMMAND...] --help".
  std::vector<std::string> asked = args;
  if (args.size() >= 2 && args[1] == "help") {
    asked = {args[0]};
    const CLI::App* at = &t.line.Root();
    for (size_t i = 2; i < args.size(); ++i) {
      const std::string& w = args[i];
      const CLI::App* named = CommandNamed(*at, w);
      if (named == nullptr) {
        t.o.exit = kUsageExitCode;
        t.o.error = "help: no command \"" + w + "\"" + (asked.size() > 1 ? " of" : "");
        for (size_t k = 1; k < asked.size(); ++k) t.o.error += " " + asked[k];
        return t.o;
      }
      at = named;
      asked.push_back(w);
    }
    asked.push_back("--help");
  }
  const CommandLineEnd end = t.line.Parse(asked);
  const std::vector<std::string> commands = t.line.Commands();
  if (!commands.empty()) t.o.command = commands.front();
  if (end.exit >= 0) {
    t.o.exit = end.exit;
    t.o.out = end.out;
    t.o.error = end.error;
    return t.o;
  }
  t.Finish();
  if (!t.o.error.empty()) t.o.exit = kUsageExitCode;
  return t.o;
}

std::vector<std::string> CompleteCtl(const std::vector<std::string>& words) {
  Table t;
  std::vector<std::string> out;
  if (words.empty() || words.front() != "help" || words.size() == 1) {
    out = t.line.Complete(words);
    if (words.size() == 1 && std::string("help").rfind(words.front(), 0) == 0) out.push_back("help");
    return out;
  }
  // help COMMAND [COMMAND]: the commands only.
  const CLI::App* at = &t.line.Root();
  for (size_t i = 1; i + 1 < words.size(); ++i) {
    if ((at = CommandNamed(*at, words[i])) == nullptr) return {};
  }
  for (const CLI::App* s : at->get_subcommands({}))
    if (s->get_name().rfind(words.back(), 0) == 0) out.push_back(s->get_name());
  return out;
}

}  // namespace raid

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
               "every command but make-image and system-info: ask the monitor service at\n"
               "ADDRESS (raidmon --listen) instead of the enclosures and the mail settings\n"
               "here; also from the environment variable RAIDGUI_SERVICE");
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
    root.footer(
        "\nexit codes: 0 done, 1 failed, 2 wrong use, 3 another program holds the enclosures, 130 interrupted\n"
        "(check: the monitoring plugin's codes)");
  }

  // An option of every command that this one does not take: make-image
  // and system-info take none, the mail commands no enclosure's.
  std::string Misplaced(const std::string& command) const {
    const bool none = command == "make-image" || command == "system-info";
    const bool mailCommand = command == "mail" || command == "test-mail";
    for (const std::string name : {"--simulate", "--trace", "--config-dir", "--service"}) {
      const bool enclosures = name == "--simulate" || name == "--trace";
      if (line.Given(name) && (none || (mailCommand && enclosures))) return name + " is not an option of " + command;
    }
    return {};
  }

  // After a parse that went on, with o.command set.
  void Finish() {
    if (o.command.empty()) {
      o.error = "a command is needed";
      return;
    }
    if (std::string why = Misplaced(o.command); !why.empty()) {
      o.error = why;
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
  // "raidctl help" is "raidctl --help".
  const bool help = args.size() == 2 && args[1] == "help";
  const CommandLineEnd end = t.line.Parse(help ? std::vector<std::string>{args[0], "--help"} : args);
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
  return t.line.Complete(words);
}

}  // namespace raid

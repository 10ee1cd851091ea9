// raidctl's command line: its commands, their options and the options of
// every command, in one table (app/common/command_line.h).
#pragma once

#include <string>
#include <vector>

#include "app/common/mail_commands.h"
#include "app/common/options.h"
#include "app/common/setup_commands.h"
#include "app/raidctl/check_command.h"
#include "app/raidctl/make_image.h"

namespace raid {

struct CtlOptions {
  std::string command;     // list, status, check, upgrade, schedule, scan, initialize, mail, ...
  std::string file;        // upgrade
  bool json = false;       // status
  int slot = 0;            // upgrade
  bool yes = false;        // upgrade
  ProgramOptions program;  // --simulate, --trace, --config-dir
  std::string service;     // --service
  SetupCommand setup;
  CheckOptions check;
  MailWords mail;
  MakeOptions make;
  // How the parse ended: -1 go on; 0 help or version (text in out); 2 a
  // mistake (in error).
  int exit = -1;
  std::string out, error;
};

// Reads raidctl's command line (args[0]: how it was started).
CtlOptions ParseCtl(const std::vector<std::string>& args);
// The shell's completion of the last of `words` (after "raidctl").
std::vector<std::string> CompleteCtl(const std::vector<std::string>& words);

}  // namespace raid

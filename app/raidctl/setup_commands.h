// raidctl's commands of the Setup page: the schedule backup, media scans and
// the array initialisation. They run the page's own logic on the core, so
// the requests, texts and results are the window's.
#pragma once

#include <string>
#include <vector>

#include "app/raidctl/ctl_view.h"
#include "maintenance/firmware_upgrade.h"
#include "monitor/raid_core.h"

namespace raid {

struct SetupCommand {
  std::string command;  // schedule, scan, initialize
  bool on = false;      // schedule on / off
  int period = 0;       // minutes; 0: keep the enclosure's
  bool stop = false;    // scan stop / start
  int drive = 0;        // 1 HDD1, 2 HDD2
  bool destroyConfirmed = false;
  int slot = 0;
};

bool IsSetupCommand(const std::string& command);
// The usage lines of the three commands.
std::string SetupUsage();
// Reads the command's words and options from args (args[1] is the command);
// --simulate and --trace with their values go to `common`. Returns the
// mistake, empty when there is none.
std::string ParseSetupCommand(const std::vector<std::string>& args, SetupCommand& out, std::vector<std::string>& common,
                              bool& help);
// Runs it on a core whose detection has been published. Exit code.
int RunSetupCommand(RaidCore& core, FirmwareUpgrade& framing, CtlView& view, const SetupCommand& c);

}  // namespace raid

// The settings commands the status thread sends to the enclosure of the
// Status page (the backup period and the scan start or stop), and the
// command sector a long operation sends to the enclosure it holds. They fill
// the command sector, lock the option controls while a command settles and
// show their failures with their fixed texts.
#pragma once

#include <cstdint>

#include "device/command_set.h"
#include "device/device_state.h"
#include "platform/user_interface.h"
#include "monitor/window_controls.h"

namespace raid {

class SettingsCommands {
 public:
  SettingsCommands(DeviceState& st, WindowControls& controls, CommandSet& cs, UserInterface& ui)
      : st_(st), controls_(controls), cs_(cs), ui_(ui) {}

  // Backup period from BackupEnabled / BackupMinutes.
  bool SendBackupPeriod();
  // Scan start or stop (ScanStop) of ScanDrive; lastSector: the array
  // capacity of the slot's status record minus 1.
  bool SendScanCommand(uint64_t lastSector);
  // The command sector as the caller prepared it, to `slot` (the slot a
  // long operation's lease holds).
  bool SendCommandBlock(uint8_t slot);

 private:
  // Opens the slot's drive, sends the command sector and closes the drive.
  bool Send(uint8_t slot);

  DeviceState& st_;
  WindowControls& controls_;
  CommandSet& cs_;
  UserInterface& ui_;
};

}  // namespace raid

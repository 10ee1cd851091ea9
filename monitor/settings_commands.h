// The settings commands the status thread sends to the enclosure they name
// (the backup period and the scan start or stop), and the
// command sector a long operation sends to the enclosure it holds. They fill
// the command sector, lock the option controls while a command settles and
// show their failures with their fixed texts.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "device/command_set.h"
#include "device/device_state.h"
#include "platform/user_interface.h"
#include "monitor/monitor_state.h"
#include "monitor/view_focus.h"

namespace raid {

// The schedule backup setting for one enclosure: on with a period in
// minutes, or off.
struct ScheduleSetting {
  uint8_t slot = 0;
  bool on = false;
  uint8_t minutes = 0;
};

// A media scan start or stop of one drive (0 HDD1, 1 HDD2) of one enclosure.
struct ScanRequest {
  uint8_t slot = 0;
  uint8_t drive = 0;
  bool stop = false;
};

// Whether the option controls take a click now: "Buzzer Mute" with the two
// scan buttons, and "Auto Scan". A settings command locks them until it has
// settled; the hold-off timer counts each enclosure's settling down.
struct OptionHoldOff {
  std::array<uint8_t, 4> SettleCounter{};
  bool OptionBoxesEnabled = false;
  bool AutoScanEnabled = false;
};

class SettingsCommands {
 public:
  SettingsCommands(DeviceState& st, const MonitorState& ms, const ViewFocus& focus, CommandSet& cs, UserInterface& ui)
      : st_(st), ms_(ms), focus_(focus), cs_(cs), ui_(ui) {}

  OptionHoldOff& HoldOff() { return holdOff_; }
  const OptionHoldOff& HoldOff() const { return holdOff_; }

  // Each send runs its device requests on the calling thread and what it
  // reads or changes of the core's state through `main` (on the main thread
  // when the caller is the device thread; at once without threads).
  bool SendBackupPeriod(const ScheduleSetting& setting, MainThreadInvoker& main = DirectCalls());
  // lastSector: the array capacity of the slot's status record minus 1.
  bool SendScanCommand(const ScanRequest& request, uint64_t lastSector, MainThreadInvoker& main = DirectCalls());
  // The command sector as the caller prepared it, to `slot` (the slot a
  // long operation's lease holds).
  bool SendCommandBlock(uint8_t slot, MainThreadInvoker& main = DirectCalls());

  // Per slot, whether a scan stop went out since the last take: a scan that
  // ends after it was stopped by the user. Taking forgets them.
  std::array<bool, 4> TakeScanStops() {
    const std::array<bool, 4> sent = scanStopsSent_;
    scanStopsSent_.fill(false);
    return sent;
  }

 private:
  // Opens the slot's drive for a command sector and closes the option
  // controls; false (with the failure shown) when it cannot.
  bool Open(uint8_t slot, MainThreadInvoker& main);
  // Sends the command sector, closes the drive and shows the result.
  bool SendAndClose(MainThreadInvoker& main, const std::function<void()>& settled);

  DeviceState& st_;
  const MonitorState& ms_;
  const ViewFocus& focus_;
  OptionHoldOff holdOff_;
  CommandSet& cs_;
  UserInterface& ui_;
  std::array<bool, 4> scanStopsSent_{};
};

}  // namespace raid

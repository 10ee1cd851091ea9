// Polling of the controller status records: the status thread's requests in
// their priority, the poll cycle with its failure counting and acceptance
// rule, the identity texts of the slots and the timers that arm polling and
// lock the option controls after a settings command.
#pragma once

#include <cstdint>
#include <array>
#include <atomic>
#include <functional>

#include "device/command_set.h"
#include "device/detection.h"
#include "device/device_state.h"
#include "monitor/core_view.h"
#include "monitor/event_log.h"
#include "monitor/monitor_state.h"
#include "monitor/settings_commands.h"
#include "platform/clock.h"
#include "monitor/view_focus.h"

namespace raid {

class StatusPoller {
 public:
  StatusPoller(DeviceState& st, const ViewFocus& focus, MonitorState& ms, CommandSet& cs, SettingsCommands& settings,
               DriveDetector& det, EventLog& log, CoreView& view);

  // Serves one request of RequestBits (poll, backup period, scan command):
  // the device requests on the calling thread, whatever reads or changes
  // the core's state through `main`. The device thread passes the main
  // thread's invoker, so a slow enclosure never holds up the window; a
  // program without threads calls it directly, in the same order.
  void ServeRequest(MainThreadInvoker& main = DirectCalls());
  // The settings requests, each naming its enclosure; served in this order
  // after a waiting poll.
  void RequestSchedule(const ScheduleSetting& setting);
  void RequestScan(const ScanRequest& request);
  void PollStatus(MainThreadInvoker& main = DirectCalls());
  void RefreshIdentity();
  void OnPollTimer();
  void OnHoldOffTimer();

  // The Status page refresh run after a cycle that read a record.
  std::function<void(bool force)> RefreshStatusPage;
  // A settings (0x02) or scan (0x04) request was served; ok: it was sent.
  std::function<void(uint8_t bit, bool ok)> RequestServed;
  // A slot's monitoring switch was cleared by the failure rule.
  std::function<void(int slot)> SlotUnchecked;

  // For a front end without the monitoring check boxes (raidmon): a slot
  // switched off by the failure rule is said on panel 4 and tried again
  // after periodMs and at the first poll after every device change.
  void EnableSlotRetry(Clock& clock, int64_t periodMs);
  void OnDeviceChange();

 private:
  // A poll in three steps around each slot's read: whether the poll runs
  // at all, whether slot s is read now, and what its reading means.
  bool BeginPoll();
  bool WillRead(uint8_t s);
  void TakeReading(uint8_t s, const DeviceResult& read, Sector& r, uint8_t& mask);
  void EndPoll(uint8_t mask);
  void RetrySwitchedOffSlots();

  ScheduleSetting schedule_;
  ScanRequest scan_;
  DeviceState& st_;
  const ViewFocus& focus_;
  MonitorState& ms_;
  CommandSet& cs_;
  SettingsCommands& settings_;
  DriveDetector& det_;
  EventLog& log_;
  CoreView& view_;

  Clock* retryClock_ = nullptr;
  int64_t retryPeriodMs_ = 0;
  std::array<bool, kShownSlots> switchedOff_{};
  std::array<bool, kShownSlots> retrying_{};
  std::array<int64_t, kShownSlots> offSinceMs_{};
  std::atomic<bool> deviceChanged_{false};
};

}  // namespace raid

// The program's core: every piece of state the main window owns and the
// handlers its timers, its device-change message and its worker threads run.
// Both front ends own one RaidCore and wire their window or console to it.
#pragma once

#include <array>
#include <functional>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "device/command_set.h"
#include "device/detection.h"
#include "device/detection_worker.h"
#include "device/device_state.h"
#include "monitor/core_view.h"
#include "monitor/device_messages.h"
#include "monitor/settings_commands.h"
#include "monitor/device_report.h"
#include "monitor/event_log.h"
#include "monitor/monitor_state.h"
#include "monitor/status_page.h"
#include "monitor/status_poller.h"
#include "monitor/view_focus.h"
#include "platform/clock.h"
#include "platform/datetime_text.h"
#include "platform/device_io.h"
#include "platform/app_version.h"

namespace raid {

class RaidCore {
 public:
  // focus: what the front end shows, owned by the front end.
  RaidCore(DeviceIo& io, Clock& clock, const DateTimeFormat& fmt, CoreView& view, const std::string& logDir,
           ViewFocus& focus);

  // The main window's creation: everything into its start state, the
  // letters and drives counted and the first detection requested.
  void Start();
  // Start and one detection on this thread, published at once: for a
  // front end that runs no timers (raidctl).
  void DetectOnce();
  // The main window's closing: polling disarmed, clock timer stopped.
  void Close();

  // Timer handlers.
  void OnProgressTimer();
  void OnPollTimer() { poller_.OnPollTimer(); }
  void OnClockTimer();
  void OnDetectionTimer();
  void OnHoldOffTimer() { poller_.OnHoldOffTimer(); }
  // A device arrived or left (WM_DEVICECHANGE, udev, the simulator).
  void OnDeviceChange();

  // Worker thread bodies. DriveDetectThread: runs a requested scan; returns
  // whether it did.
  bool DetectionStep() { return detection_.RunOnce(); }
  // TRaidThread: whether a request waits, and what serves it: its device
  // requests on the calling thread, the rest through `main` (see
  // StatusPoller::ServeRequest).
  bool StatusRequestWaiting() const;
  void ServeStatusRequest(MainThreadInvoker& main = DirectCalls()) { poller_.ServeRequest(main); }
  // TEmailThread.
  bool MailRequestWaiting() const { return ms_.MailRequestFlags.load() != 0; }
  void ServeMailRequest();

  // Navigation: accepted only once the first refresh has happened.
  bool NavigationAccepted() const;
  // Brings a page to the front; Status redraws its page, Upgrade the
  // identity of its enclosure.
  bool SelectPage(ShownPage page);

  // What the front ends read. Every piece has one owner inside the core;
  // outside it is read-only.
  const DeviceState& Devices() const { return st_; }                    // the published table and hand-over flags
  const ViewFocus& Focus() const { return focus_; }                     // the front end's page and selections
  const OptionHoldOff& HoldOff() const { return settings_.HoldOff(); }  // whether the option controls take a click
  const MonitorState& Monitoring() const { return ms_; }                // status records and monitoring memories
  const DriveDetector& Detected() const { return det_; }                // identification sectors of the last detection
  const StatusPageModel& StatusModel() const { return page_.Model; }
  // The status record and the identification sector of the enclosure a
  // published slot addresses.
  const Sector& StatusRecordOf(int slot) const;
  const Sector& IdentSectorOf(int slot) const;
  // Whether a poll has read that record since the enclosure was connected.
  bool StatusRecordRead(int slot) const { return ms_.RecordAccepted[DriveOf(slot)]; }
  const std::string& DetectionBanner() const { return banner_; }
  bool DetectionBannerVisible() const { return bannerVisible_; }
  bool NavigationEnabled() const { return navigationEnabled_; }
  bool DetectionPending() const { return detection_.Pending(); }
  // Timers 1 to 4 of the window: progress, poll, clock, detection.
  bool ProgressTimerEnabled() const { return progressTimer_; }
  bool PollTimerEnabled() const { return pollTimer_; }
  bool ClockTimerEnabled() const { return clockTimer_; }
  bool DetectionTimerEnabled() const { return detectionTimer_; }

  // What the front ends do.
  // CheckBox1Click / CheckBox3Click: the monitoring switch of a slot.
  void SetSlotMonitored(uint8_t slot, bool on) { page_.SetSlotMonitored(slot, on); }
  // Image0_D1Click / Image0_D2Click: the slot the Status page shows.
  void SelectStatusSlot(uint8_t slot) { page_.SelectSlot(slot); }
  // The slot the Upgrade page shows and an upgrade started there will lease
  // (the page redraws its header).
  void SelectUpgradeSlot(uint8_t slot);
  // Tries again, every periodMs, the slots that stopped answering.
  void EnableSlotRetry(Clock& clock, int64_t periodMs) { poller_.EnableSlotRetry(clock, periodMs); }
  // One read of a slot's status record into `record`, outside the polling
  // (raidctl's status).
  DeviceResult ReadStatusRecord(uint8_t slot, Sector& record);
  // For one-shot tools that make no poll: shows `slot` on the Status page,
  // disarms polling, reads its record into the monitoring memory as the
  // first refresh would and ends the start phase.
  DeviceResult LoadStatusRecordOnce(uint8_t slot);
  EventLog& Log() { return log_; }
  const EventLog& Log() const { return log_; }
  // The system information block of the notification mails and the About
  // page.
  void SetSystemInfo(std::vector<std::string> lines) { systemInfo_ = std::move(lines); }
  const std::vector<std::string>& SystemInfo() const { return systemInfo_; }
  // The notification callback (SendNotification); without one a request
  // is dropped.
  void SetMailHandler(std::function<void()> handler) { mailHandler_ = std::move(handler); }
  // The mail request flags: set here when an event is mailed, cleared by
  // the notifier when it has served them.
  std::atomic<uint8_t>& MailRequestFlags() { return ms_.MailRequestFlags; }

  // What the device operations of the Upgrade and Setup pages use.
  CommandSet& Commands() { return cs_; }
  const CommandSet& Commands() const { return cs_; }
  // Whether an operation may start: none runs and no detection publishes.
  bool OperationAllowed() const { return !st_.Lease.Taken() && !st_.Detecting; }
  bool OperationBusy() const { return st_.Lease.Taken(); }
  // An operation runs while its lease lives (empty when one already runs):
  // the poller reads no enclosure meanwhile, and once the lease holds a
  // slot, detection leaves that drive alone and the settings commands wait.
  // The operation addresses its requests to the lease's slot.
  [[nodiscard]] OperationLease BeginOperation() { return st_.Lease.Take(); }
  // Ends the operation: clears a stop request and releases the lease.
  void EndOperation(OperationLease& lease);
  void SetProgressTimerEnabled(bool on) { progressTimer_ = on; }
  // Redraws the slot identity texts of the slot the page shown selects.
  void RefreshIdentity() { poller_.RefreshIdentity(); }
  // The schedule and scan values the next settings command carries, and
  // the requests that send it.
  void RequestSchedule(const ScheduleSetting& setting) { poller_.RequestSchedule(setting); }
  void RequestScan(const ScanRequest& request) { poller_.RequestScan(request); }
  // The caption of a drive's scan button on the Status page (0 HDD1, 1 HDD2).
  void SetScanButtonCaption(uint8_t drive, std::string caption);
  // Sends the command sector the caller prepared to `slot` (initialisation
  // steps, to the slot their lease holds).
  bool SendCommandBlock(uint8_t slot, MainThreadInvoker& main = DirectCalls()) {
    return settings_.SendCommandBlock(slot, main);
  }
  // Called on the main thread when the status thread has served a
  // settings request (bit, whether it was accepted).
  void SetRequestServedHandler(std::function<void(uint8_t, bool)> handler) {
    poller_.RequestServed = std::move(handler);
  }

 private:
  // Tests and fuzzers that need a state no real path reaches (a fuzzed
  // report kind, a record poked in place) reach the parts through this
  // (tests/core/core_access.h); the program never does.
  friend struct CoreTestAccess;

  // Asks the detection thread for a scan of the drives just counted.
  void RequestDetection();
  void Publish(const DetectionResult& result);
  void SetDetectText(const std::string& text, bool visible);
  uint8_t DriveOf(int slot) const;

  ViewFocus& focus_;  // the front end's, lent for the core's life
  DeviceState st_;
  MonitorState ms_;
  // The status-bar texts of a running detection (before the pieces that
  // report to it).
  StatusBarDetectionProgress detectionMessages_;
  CommandSet cs_;
  DriveDetector det_;  // counts letters and drives; holds the published tables
  DetectionWorker detection_;
  SettingsCommands settings_;
  DeviceReport report_;
  EventLog log_;
  StatusPoller poller_;
  StatusPage page_;

  std::string banner_ = "Drive detecting";
  bool bannerVisible_ = true;
  bool navigationEnabled_ = false;
  // Switched by a long operation, which may run on the device thread.
  std::atomic<bool> progressTimer_{false};
  bool pollTimer_ = false, clockTimer_ = false, detectionTimer_ = false;
  LocalDateTime startTime_;
  LocalDateTime eventTime_;  // sampled by the clock timer
  std::array<double, kPhysicalDrives> connectTime_{};
  int connectTimeRef_ = -1;  // drive whose connect time the log and page read
  std::vector<std::string> systemInfo_;
  std::function<void()> mailHandler_;

  Clock& clock_;
  CoreView& view_;
};

}  // namespace raid

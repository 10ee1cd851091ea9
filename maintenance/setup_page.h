// The Setup page as logic: the array initialisation ("Auto Partition", eight
// steps of command 0x22), the schedule backup setting (command 0x20), the
// media scan requests (command 0x24) and the buzzer and auto-scan switches.
// The settings and scan requests are queued in RequestBits and sent by the
// status thread; the initialisation runs on the main thread inside the
// framing of long device operations that the firmware upgrade owns. Both the
// window and raidctl drive this one class; what it shows leaves through the
// CoreView it is given.
#pragma once

#include <array>
#include <cstdint>
#include <atomic>
#include <functional>
#include <string>

#include "maintenance/enclosure_verbs.h"
#include "monitor/device_jobs.h"
#include "maintenance/firmware_upgrade.h"
#include "monitor/core_view.h"
#include "monitor/decoded_status.h"
#include "monitor/raid_core.h"

namespace raid {

struct SetupPageModel {
  uint8_t SetupSubPage = 0;  // 0 Initialize ("Default"), 1 Schedule ("1")
  bool ScheduleChecked = false;
  bool ScheduleSwitchEnabled = true;
  int PeriodChecked = -1;  // index into kBackupPeriods, -1 none
  bool ScheduleMessageVisible = false;
  std::string ScheduleMessage = setup_text::kScheduleDisabled;
  bool SetButtonVisible = true;
  std::string StepText;  // the running step's text
  bool StepPanelVisible = false;
  std::string StepPanelCaption;
  uint32_t ProgressMax = 100;
};

enum class SetOutcome {
  ScheduleQueued,  // the schedule settings wait for the status thread
  NoPeriod,        // schedule on without a period: nothing queued
  Ignored,         // an operation (or a detection) was running
  Declined,        // the confirmation was answered no
  Failed,          // a step failed; its text is in panel 4
  Succeeded,       // all eight steps done
  Started,         // the steps run on the device thread; Running() says when they end
};

enum class ScanOutcome {
  Ignored,     // no enclosure is monitored
  Declined,    // "terminate?" answered no
  NoCapacity,  // the record gives no array capacity
  Queued,      // the request waits for the status thread
};

class SetupPage {
 public:
  // The framing of long device operations is the upgrade's (one busy flag
  // for both operations).
  SetupPage(RaidCore& core, CoreView& view, FirmwareUpgrade& framing);

  // OpenPage: loads the page from the Status page slot's record and
  // makes it current. False when navigation is not accepted yet.
  bool OpenPage();
  // Steps 1-3 of the loading without the page change.
  void LoadFromStatus();

  void ShowInitialize();
  void ShowSchedule();
  void SelectPeriod(int index);
  void RefreshScheduleLabel();
  // A user click on "Schedule Backup enable"; `checked`: its new state.
  void ScheduleSwitchClick(bool checked);
  SetOutcome SetClick();

  // Hdd1ScanClick (HDD1) and Hdd2ScanClick (HDD2).
  ScanOutcome Hdd1ScanClick() { return ScanClick(0); }
  ScanOutcome Hdd2ScanClick() { return ScanClick(1); }
  ScanOutcome ScanClick(uint8_t drive);
  // The request itself, once any question is answered.
  ScanOutcome RequestScan(uint8_t drive, bool stop);

  // "Buzzer Mute" and "Auto Scan" clicked by the user.
  void BuzzerMuteClick() { OptionBoxClick(); }
  void AutoScanClick() { OptionBoxClick(); }

  // Asked before the initialisation starts (service mode: the window with
  // --maintenance). Unset: the sequence runs without a question.
  std::function<bool(const std::string& question)> ConfirmInitialize;
  // The question naming the enclosure of the Status page and its capacity.
  std::string InitializeQuestion() const;

  // The schedule the enclosure's record reports.
  bool RecordScheduleOn() const;
  uint8_t RecordSchedulePeriod() const;

  // Whether an initialisation is running now.
  bool Running() const { return running_; }
  // Where the initialisation runs. Unset: at once, inside SetClick.
  DeviceJobs* Jobs = nullptr;
  // Called on the main thread when an initialisation started by SetClick
  // has ended, wherever it ran.
  std::function<void()> InitialisationEnded;
  // The last settings or scan request the status thread served: its bit
  // (0 none yet) and whether it was sent.
  uint8_t LastServed() const { return lastServed_; }
  bool LastServedOk() const { return lastServedOk_; }

  SetupPageModel Model;

 private:
  // The enclosure the page shows (the Status page's), and its record.
  uint8_t PageSlot() const;
  DecodedStatus PageStatus() const;
  void SetBackupChecked(bool checked);
  void TakeScheduleFromRecord();
  void RedrawTabs();
  void SetMessagePanel(const std::string& text);
  void OptionBoxClick();
  void RequestServed(uint8_t bit, bool ok);
  // Queues the schedule setting of the page's enclosure with the page's
  // period.
  void SendSchedule(bool on);

  RaidCore& core_;
  CoreView& view_;
  EnclosureVerbs verbs_;
  bool periodChosen_ = false;  // a radio button was clicked since the load
  // What the schedule controls hold: "Schedule Backup enable" and the
  // period that "Set" sends; and what the last queued setting sent.
  bool backupEnabled_ = false;
  uint8_t backupMinutes_ = 0;
  bool sentOn_ = false;
  uint8_t sentMinutes_ = 0;
  std::atomic<bool> running_{false};
  uint8_t lastServed_ = 0;
  bool lastServedOk_ = false;
};

}  // namespace raid

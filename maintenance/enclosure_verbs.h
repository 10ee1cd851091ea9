// What the program asks of an enclosure, each request naming the enclosure
// by its slot in the published table: the schedule backup, a media scan
// start or stop, the array initialisation. The Setup page, raidctl and a
// service all call these; the page keeps only what it shows. The texts,
// progress and boxes of the initialisation go through the CoreView, as
// they always have.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "maintenance/firmware_upgrade.h"
#include "monitor/core_view.h"
#include "monitor/decoded_status.h"
#include "monitor/raid_core.h"

namespace raid {

namespace setup_text {
inline constexpr const char* kAutoPartition = "Auto Partition...";
inline constexpr const char* kCaption = "Auto Patition Message";
inline constexpr const char* kCompleted =
    "Auto Patition 8/8 completed!\n\nPlease power off this device or the system,\nand power on it to start data "
    "synchronize!";
inline constexpr const char* kCreatePartitionOk = "Create partition OK";
inline constexpr const char* kScheduleDisabled = "Schedule Backup Disable";
inline constexpr const char* kTerminateHdd1 = "Do You Want to terminate the scan process?";
inline constexpr const char* kTerminateHdd2 = "Do You want to terminate the scan process?";
// Without an array capacity there is no last sector to scan to.
inline constexpr const char* kNoCapacity = "No array capacity known: the scan was not requested.";
// Switching the schedule on needs one of the four periods.
inline constexpr const char* kChoosePeriod = "Choose a backup period first.";
}  // namespace setup_text

// One step of the initialisation: the command bytes 3 and 4 (byte 4 < 0:
// left as it is), the words shown and the progress after it.
struct InitialisationStep {
  const char* caption;
  uint8_t code;
  int argument;
  const char* successText;
  const char* failureText;
  uint32_t progressAfter;
};
inline constexpr std::array<InitialisationStep, 7> kInitialisationSteps{{
    {"Process 1 / 8", 2, -1, "HDD2 ID OK", "HDD2 ID Fail.", 10},
    {"Process 2 / 8", 1, -1, "HDD1 ID OK", "HDD1 ID Fail.", 20},
    {"Process 3 / 8", 4, 0, "Clr HDD LBA0 OK", "Clr LBA0 Fail.", 35},
    {"Process 4 / 8", 4, 16, "Clr HDD LBA16 OK", "Clr LBA16 Fail.", 50},
    {"Process 5 / 8", 4, 32, "Clr HDD LBA32 OK", "Clr LBA32 Fail.", 65},
    {"Process 6 / 8", 4, 48, "Clr HDD LBA48 OK", "Clr LBA48 Fail.", 80},
    {"Process 7 / 8", 3, 1, "Save configure OK", "Save configure Fail.", 90},
}};
inline constexpr const char* kLastStepCaption = "Process 8 / 8";

// The schedule periods of the four radio buttons, in their order.
inline constexpr std::array<uint8_t, 4> kBackupPeriods{10, 30, 60, 180};

enum class VerbStatus {
  Queued,       // waits for the status thread (schedule, scan)
  Succeeded,    // done (initialisation)
  NoEnclosure,  // no enclosure in that slot, or none monitored
  NoPeriod,     // schedule on, but no period given and the enclosure has none
  NoCapacity,   // a scan start without an array capacity to scan to
  Busy,         // an operation or a detection is running
  Failed,       // a step failed; its text is in panel 4
};

// Told how a running initialisation goes, for a page that shows its steps.
struct InitialisationSteps {
  // Each runs where the core's state lives (the main thread).
  std::function<void()> started;
  std::function<void(size_t step)> stepDone;  // index into kInitialisationSteps
  std::function<void(bool ok)> ended;         // before the closing box
};

class EnclosureVerbs {
 public:
  // The framing of long device operations is the upgrade's (one lease for
  // both operations).
  EnclosureVerbs(RaidCore& core, CoreView& view, FirmwareUpgrade& framing)
      : core_(core), view_(view), framing_(framing) {}

  // The enclosure's record, decoded.
  DecodedStatus StatusOf(uint8_t slot) const;

  // Schedule backup on every `minutes` (0: keep the period the enclosure
  // has), or off. Queued for the status thread; `sentMinutes` gets the
  // period that goes out.
  VerbStatus SetSchedule(uint8_t slot, bool on, uint8_t minutes, uint8_t* sentMinutes = nullptr);

  // Starts or stops a media scan of `drive` (0 HDD1, 1 HDD2) over the whole
  // array. Queued for the status thread.
  VerbStatus Scan(uint8_t slot, uint8_t drive, bool stop);
  // The last sector a scan of the enclosure covers.
  uint64_t ScanLastSector(uint8_t slot) const;

  // The eight steps of the initialisation, run now under the operation's
  // lease on `slot`. On the device thread, `main` is the main thread's
  // invoker (the steps' callbacks run there too) and the view must deliver
  // its calls there.
  VerbStatus Initialise(uint8_t slot, const InitialisationSteps& steps = {}, MainThreadInvoker& main = DirectCalls());

 private:
  void SetMessagePanel(const std::string& text);
  void ShowProgress(uint32_t value);

  RaidCore& core_;
  CoreView& view_;
  FirmwareUpgrade& framing_;
  std::string messageText_;
};

}  // namespace raid

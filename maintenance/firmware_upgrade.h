// The Upgrade page as logic: loading and checking an image file, the
// firmware upgrade of one enclosure (update mode, controller record checks,
// erase, program, read back and compare), its progress panel, the framing
// of every long device operation and the page header. Both the window and
// the command-line tool drive this one class; what it shows leaves through
// the CoreView it is given.
#pragma once

#include <cstdint>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "maintenance/firmware_image.h"
#include "monitor/core_view.h"
#include "monitor/raid_core.h"

namespace raid {

namespace upgrade_text {
inline constexpr const char* kFileOpenFailed = "Fail to open firmware file";
inline constexpr const char* kFileNotCorrect = "The firmware file is not correct.\nPlease check it.";
inline constexpr const char* kLoadFirst = "Please Load Firmware File First ";
inline constexpr const char* kRecordFailed = "Get SPI Record fail ";
inline constexpr const char* kVersionError = "SPI Configuration Version Error";
inline constexpr const char* kActivityRunning = "Don't upgrade new firmware when device is rebuilding or scanning.";
inline constexpr const char* kUpdating = "Firmware Update...";
inline constexpr const char* kEraseFail = "SPI Erase Fail.";
inline constexpr const char* kEraseOk = "SPI Erase OK";
inline constexpr const char* kProgramFail = "SPI Program Fail.";
inline constexpr const char* kProgramOk = "SPI Program OK";
inline constexpr const char* kVerifyOk = "SPI Verify OK";
inline constexpr const char* kVerifyFail = "SPI Verify fail !!!";
inline constexpr const char* kCompleted =
    "Firmware Upgrade 3/3 completed!\n\nPlease power off this device or the system,\nand power on it to enable the new "
    "firmware!";
inline constexpr const char* kCompletedCaption = "Firmware Upgrade Message";
// The new firmware is written and verified, but the controller did not take
// the request to leave update mode.
inline constexpr const char* kStillInUpdateMode =
    "The new firmware is written and verified, but the controller did not confirm leaving update mode and may "
    "still be in it. Power the enclosure off and on again before using it.";
// A stop asked for by the user (closing the program) ends the upgrade at the
// next request.
inline constexpr const char* kStopped =
    "Firmware upgrade stopped. The flash may be half written: keep the device powered and upgrade again.";
inline constexpr const char* kStoppedUnchanged = "Firmware upgrade stopped before the flash was changed.";
}  // namespace upgrade_text

// Bar maximum for the fixed flash length: two steps per 512 bytes (program,
// read back), one per 4 KiB erased, and 30 to spare.
constexpr uint32_t kUpgradeProgressMax = kFlashImageLength / 512 * 2 + kFlashImageLength / 4096 + 30;

struct UpgradePageModel {
  bool ProgressPanelVisible = false;
  std::string ProgressPanelCaption;  // "Process 1 / 3" ...
  std::string ProgressText;          // "Firmware Update..."
  uint32_t ProgressMax = kUpgradeProgressMax;
  std::string FileNameText;         // full name of the last chosen file
  std::string FirmwareVersionText;  // firmware version of the page's enclosure
  bool SlotBoxesEnabled = true;
};

enum class UpgradeOutcome {
  Ignored,          // an operation was running (or a detection): nothing done
  NoImage,          // "Please Load Firmware File First "
  ModeFailed,       // update mode could not be entered
  RecordFailed,     // "Get SPI Record fail "
  VersionMismatch,  // "SPI Configuration Version Error"
  ActivityRunning,  // rebuild or scan running
  Declined,         // the write question was answered no
  Failed,           // a flash phase or the comparison failed
  Stopped,          // stopped by the user at a request boundary
  Succeeded,        // "SPI Verify OK"
};

class FirmwareUpgrade {
 public:
  FirmwareUpgrade(RaidCore& core, CoreView& view);

  // Image2_LoadClick: the file dialog may open only while no long operation
  // runs.
  bool LoadAllowed() const { return !queued_ && !core_.OperationBusy(); }
  // LoadImageFile: loads and checks the chosen file.
  void LoadImageFile(const std::string& fileName);
  void LoadImageFile(const std::string& fileName, ImageReader& reader);
  bool ImageLoaded() const { return !image_.empty(); }
  // An image made by the image builder takes the loaded image's place, so it
  // can be upgraded at once. It passes the same check as a loaded file: one
  // that does not leaves no image, as such a file does. name (the file it
  // was saved as, if any) is shown as a loaded file's name is. Refused while
  // an operation runs; returns whether an image is now loaded.
  bool UseBuiltImage(std::vector<uint8_t> image, const std::string& name);
  const std::vector<uint8_t>& Image() const { return image_; }

  // Writes the loaded image into the flash of the enclosure in `slot`, with
  // the Upgrade page's texts, progress and boxes. Called on the device
  // thread, `main` is the main thread's invoker: the page model changes
  // there, and the view given at construction must deliver its calls there.
  UpgradeOutcome Upgrade(uint8_t slot, MainThreadInvoker& main = DirectCalls());
  // The Upgrade button: the upgrade of the page's slot.
  UpgradeOutcome UpgradeClick();
  // Main thread, before an upgrade is posted to the device thread: from now
  // on the image stays as it is (no load replaces it) until that upgrade
  // has taken its lease or been refused.
  void Queue() { queued_ = true; }
  // Asked after the record checks passed, before anything is written; false
  // leaves the flash untouched. Unset: no question (the window's way).
  std::function<bool()> ConfirmWrite;

  // The user wants the running upgrade to end (closing the program): the
  // flash loops stop at the next request boundary and update mode is left.
  void RequestStop();
  // Whether an upgrade runs, or waits on the device thread to start.
  bool Running() const { return running_ || queued_; }

  // Framing of every long device operation: takes the operation's lease,
  // which the caller names its slot on, and releases it at the end.
  OperationLease& BeginDeviceOperation(MainThreadInvoker& main = DirectCalls());
  void EndDeviceOperation(MainThreadInvoker& main = DirectCalls());

  // Image2_D1Click / Image2_D2Click, and the header redraw when the page is
  // shown.
  void SelectSlot(uint8_t slot);
  void RedrawHeader();

  UpgradePageModel Model;

 private:
  void SetMessagePanel(const std::string& text);
  void ShowProgress();
  bool LeaveUpdateMode();
  // Shows a failed result with its fixed texts; true on success.
  bool Shown(const DeviceResult& result);
  UpgradeOutcome FlashPhases(MainThreadInvoker& main);
  // Changes the page model where it is drawn and redraws it.
  void ChangePage(MainThreadInvoker& main, const std::function<void()>& change);

  RaidCore& core_;
  CoreView& view_;
  std::vector<uint8_t> image_;
  std::atomic<bool> running_{false};
  std::atomic<bool> queued_{false};
  // The lease of the operation running, empty between operations.
  OperationLease lease_;
};

}  // namespace raid

// What the main window keeps about the enclosures it monitors: the last
// accepted status record per physical drive, the per-slot poll and event
// memories, the identity texts and the notification request.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "device/device_state.h"

namespace raid {

constexpr uint8_t kNoProgress = 255;

// MailRequestFlags bits.
namespace mail_request {
constexpr uint8_t kReloadSettings = 0x01;
constexpr uint8_t kPending = 0x02;
}  // namespace mail_request

struct MonitorState {
  // The monitoring switches of the first two slots ("Device1", "Device2"):
  // a slot switched off is not polled.
  std::array<bool, kShownSlots> SlotChecked{true, true};
  bool AnySlotChecked() const { return SlotChecked[0] || SlotChecked[1]; }

  std::array<Sector, kPhysicalDrives> StatusBlock{};
  // Whether a poll has accepted the drive's record since its enclosure was
  // connected; until then StatusBlock holds nothing of this enclosure.
  std::array<bool, kPhysicalDrives> RecordAccepted{};
  // How many records a poll has accepted per drive since the start (main
  // thread): a new one is a poll, even when the record did not change.
  std::array<uint64_t, kPhysicalDrives> AcceptedCount{};
  std::array<uint8_t, kShownSlots> PollSkip{};
  // The last logged rebuild or scan percentage; 255: no activity followed.
  std::array<uint8_t, 4> LastProgress{kNoProgress, kNoProgress, 0, 0};
  uint8_t StatusErrCount = 0;
  // The drive whose record the poll is looking at (SlotStatus), -1 none.
  int SlotStatusDrive = -1;

  // Identity of the selected slot.
  std::string FirmwareVersion;
  bool ScanCapable = false;
  bool FanCapable = false;
  std::array<std::string, kShownSlots> SlotNames;  // hints of the slot controls
  std::string Caption;
  uint8_t SelectedMember = 0;  // member of a grouped enclosure (buttons hidden)

  // Event memories per slot.
  std::array<uint8_t, 4> PrevDriveState{};
  std::array<uint8_t, 4> ScanRunning{};
  std::array<uint8_t, 4> ActivityTarget{};
  std::array<uint8_t, 4> BadSectorsReported{};

  // The notification request.
  std::vector<std::string> MailEventText;
  uint8_t MailCategory = 0;
  std::atomic<uint8_t> MailRequestFlags{0};
};

}  // namespace raid

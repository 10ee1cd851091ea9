// The state of the window's controls that the logic reads and sets: the
// page shown, which enclosure each page shows, the monitoring switches, the
// enabled states of the option controls and what the settings controls
// hold. Owned by the core and written on the main thread only; the device
// layer never sees it.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "device/device_state.h"

namespace raid {

// The notebook's pages, in their order.
namespace notebook_page {
constexpr uint8_t kStatus = 0, kSetup = 1, kUpgrade = 2, kEmail = 3, kAbout = 4;
constexpr uint8_t kCount = 5;
}  // namespace notebook_page

struct WindowControls {
  // The monitoring switches "Device1" (CheckBox1) and "Device2" (CheckBox3).
  std::array<bool, kShownSlots> SlotChecked{true, true};
  uint8_t StatusPageSlot = 0;
  uint8_t UpgradePageSlot = 0;
  uint8_t CurrentPage = notebook_page::kStatus;
  uint8_t TabSwitching = 0;

  // Settings commands: hold-off counters.
  std::array<uint8_t, 4> SettleCounter{};
  // Enabled states of "Buzzer Mute" with the two scan buttons, and of
  // "Auto Scan".
  bool OptionBoxesEnabled = false;
  bool AutoScanEnabled = false;

  bool AnySlotChecked() const { return SlotChecked[0] || SlotChecked[1]; }
};

}  // namespace raid

// The Status page as data: the captions, colours and enabled states its
// controls show for the selected enclosure, redrawn from the slot's status
// record. Each front end draws this model; tests read it directly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "device/device_state.h"
#include "monitor/decoded_status.h"
#include "monitor/core_view.h"
#include "monitor/monitor_state.h"
#include "monitor/status_poller.h"
#include "monitor/settings_commands.h"
#include "monitor/view_focus.h"

namespace raid {

enum class TextColor { Default, Navy, Red, Blue, Fuchsia };

struct LabelModel {
  std::string text;
  TextColor color = TextColor::Default;
  bool enabled = true;
};

struct StatusPageModel {
  LabelModel ModeText;                                 // mode
  LabelModel ArrayCapacityText;                        // system capacity
  LabelModel Hdd1CapacityText, Hdd1IdentityText;       // HDD1 capacity and identity
  LabelModel Hdd2CapacityText, Hdd2IdentityText;       // HDD2 capacity and identity
  LabelModel StateText{"", TextColor::Fuchsia, true};  // state text
  LabelModel FirmwareVersionText;                      // firmware version
  LabelModel FanSpeedText, TemperatureText;            // fan RPM, temperature
  bool EnvironmentPanelVisible = false;                // fan and temperature panel
  bool Hdd1ScanButtonVisible = false, Hdd2ScanButtonVisible = false;
  std::string Hdd1ScanButtonCaption = "Start P0 Scan", Hdd2ScanButtonCaption = "Start P1 Scan";
  bool LogButtonVisible = false;
  bool BuzzerMuteChecked = false;  // "Buzzer Mute"
  bool AutoScanChecked = false;    // "Auto Scan"
  uint8_t LastDriveStateDrawn = 255;
  uint8_t LastProgressDrawn = 255;
  int Refreshes = 0;  // how many refreshes drew anything
};

class StatusPage {
 public:
  StatusPage(DeviceState& st, ViewFocus& focus, MonitorState& ms, StatusPoller& poller, OptionHoldOff& holdOff,
             CoreView& view);

  // Returns -1 when no slot is monitored (nothing drawn), else 0.
  int RefreshStatusPage(bool force);
  // Image0_D1Click / Image0_D2Click.
  void SelectSlot(uint8_t slot);
  // CheckBox1Click / CheckBox3Click: the monitoring switch of a slot.
  void SetSlotMonitored(uint8_t slot, bool checked);

  StatusPageModel Model;
  // Called by each refresh that drew from a record; the core ends its start
  // phase on the first.
  std::function<void()> Filled;

 private:
  void DrivePart(const DecodedStatus& s);
  void StateText(const DecodedStatus& s);

  DeviceState& st_;
  ViewFocus& focus_;
  MonitorState& ms_;
  StatusPoller& poller_;
  OptionHoldOff& holdOff_;
  CoreView& view_;
};

}  // namespace raid

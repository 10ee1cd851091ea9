// The Status page as data: the captions, colours and enabled states its
// controls show for the selected enclosure, redrawn from the slot's status
// record. Each front end draws this model; tests read it directly.
#pragma once

#include <cstdint>
#include <string>

#include "device/device_state.h"
#include "monitor/core_view.h"
#include "monitor/monitor_state.h"
#include "monitor/status_poller.h"

namespace raid {

enum class TextColor { Default, Navy, Red, Blue, Fuchsia };

struct LabelModel {
  std::string text;
  TextColor color = TextColor::Default;
  bool enabled = true;
};

struct StatusPageModel {
  LabelModel Label17;  // mode
  LabelModel Label27;  // system capacity
  LabelModel Label25, Label51;  // HDD1 capacity and identity
  LabelModel Label26, Label52;  // HDD2 capacity and identity
  LabelModel Label18{"", TextColor::Fuchsia, true};  // state text
  LabelModel Label48;  // firmware version
  LabelModel Label5, Label7;  // fan RPM, temperature
  bool Panel11Visible = false;  // fan and temperature panel
  bool Button3Visible = false, Button4Visible = false;
  std::string Button3Caption = "Start P0 Scan", Button4Caption = "Start P1 Scan";
  bool LogButtonVisible = false;
  bool CheckBox6Checked = false;  // "Buzzer Mute"
  bool CheckBox7Checked = false;  // "Auto Scan"
  uint8_t LastDriveStateDrawn = 255;
  uint8_t LastProgressDrawn = 255;
  int Refreshes = 0;  // how many refreshes drew anything
};

class StatusPage {
 public:
  StatusPage(DeviceState& st, MonitorState& ms, StatusPoller& poller, CoreView& view);

  // Returns -1 when no slot is monitored (nothing drawn), else 0.
  int RefreshStatusPage(bool force);
  // Image0_D1Click / Image0_D2Click.
  void SelectSlot(uint8_t slot);
  // CheckBox1Click / CheckBox3Click: the monitoring switch of a slot.
  void SetSlotMonitored(uint8_t slot, bool checked);

  StatusPageModel Model;

 private:
  void DrivePart(const Sector& b);
  void StateText(const Sector& b);

  DeviceState& st_;
  MonitorState& ms_;
  StatusPoller& poller_;
  CoreView& view_;
};

}  // namespace raid

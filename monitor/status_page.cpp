#include "monitor/status_page.h"

#include "monitor/decoded_status.h"

namespace raid {

StatusPage::StatusPage(DeviceState& st, ViewFocus& focus, MonitorState& ms, StatusPoller& poller,
                       OptionHoldOff& holdOff, CoreView& view)
    : st_(st), focus_(focus), ms_(ms), poller_(poller), holdOff_(holdOff), view_(view) {}

int StatusPage::RefreshStatusPage(bool force) {
  if (!ms_.AnySlotChecked()) return -1;
  StatusPageModel& m = Model;
  const uint8_t slot = focus_.StatusSlot() % kMaxSlots;
  const Sector& b = ms_.StatusBlock[drive_flags::Drive(st_.DeviceList[slot]) % kPhysicalDrives];
  // The selected slot's revision and capabilities, as RefreshIdentity read them.
  const DecodedStatus s = DecodeStatus(b, {ms_.FirmwareVersion, ms_.ScanCapable, ms_.FanCapable});

  m.FirmwareVersionText.text = s.firmware;

  const DecodedEnvironment& env = s.environment;
  m.FanSpeedText.color = env.fanAlarm ? TextColor::Red : TextColor::Blue;
  m.TemperatureText.color = env.temperatureAlarm ? TextColor::Red : TextColor::Blue;
  m.FanSpeedText.text = std::to_string(env.fanRpm);
  m.TemperatureText.text = std::to_string(env.celsius);
  m.EnvironmentPanelVisible = env.shown;

  const bool mute = !s.buzzerSounds;
  if (m.BuzzerMuteChecked != mute) m.BuzzerMuteChecked = mute;
  if (m.AutoScanChecked != s.autoScan) m.AutoScanChecked = s.autoScan;
  // The page has been filled from a record: the start phase is over.
  if (Filled) Filled();

  m.ModeText.text = s.mode;

  if (force || s.stateByte != m.LastDriveStateDrawn) {
    m.LastDriveStateDrawn = s.stateByte;
    DrivePart(s);
  }
  StateText(s);
  ++m.Refreshes;
  view_.StatusPageChanged();
  return 0;
}

void StatusPage::DrivePart(const DecodedStatus& s) {
  StatusPageModel& m = Model;
  for (int x = 0; x < 2; ++x) {
    LabelModel& cap = x == 0 ? m.Hdd1CapacityText : m.Hdd2CapacityText;
    LabelModel& name = x == 0 ? m.Hdd1IdentityText : m.Hdd2IdentityText;
    const DecodedDrive& d = s.drives[static_cast<size_t>(x)];
    const std::string gb = std::to_string(Gigabytes(d.sectors)) + " GB\n";
    switch (d.state) {
      case DriveState::Absent:
        if (d.serialRecorded) {
          cap.text = gb;
          name.text = d.model;
        }
        cap.enabled = false;
        name.enabled = false;
        break;
      case DriveState::Present:
        cap.color = TextColor::Navy;
        cap.text = gb;
        name.text = d.model;
        cap.enabled = true;
        name.enabled = true;
        break;
      case DriveState::Failed:
        cap.color = TextColor::Red;
        if (x == 1) {
          if (s.activity.matchedSsd)
            view_.ShowNotice(
                {"Matched SSD is inserted.\nPlease power off this device or the system,\nand power on it "
                 "to start rebuilding.",
                 "Message", BoxIcon::Information, BoxButtons::Ok});
          else if (!s.activity.scanBit)
            view_.ShowNotice({"Unmatched SSD is inserted.\nThe Matched SSD's Serial# is " + d.serial, "Message",
                              BoxIcon::Information, BoxButtons::Ok});
        }
        cap.text = gb;
        name.text = d.model;
        cap.enabled = true;
        name.enabled = false;
        break;
      case DriveState::Inserted: break;  // the captions stay as they were
      case DriveState::None:
        cap.text.clear();
        name.text.clear();
        break;
    }
  }
  m.ArrayCapacityText.text = std::to_string(Gigabytes(s.capacitySectors)) + " GB";
}

void StatusPage::StateText(const DecodedStatus& s) {
  StatusPageModel& m = Model;
  const DecodedActivity& a = s.activity;
  if (a.Running()) {
    const uint8_t p = a.progress;
    const bool redraw = m.LastProgressDrawn == 255 || m.LastProgressDrawn != p;
    if (redraw) {
      const std::string pct = std::to_string(p);
      if (a.kind == ActivityKind::Scan) {
        if (a.drive == 0) {
          m.StateText.text = pct + "%\nHDD1 Scan";
          m.Hdd1ScanButtonCaption = "Stop HDD1 Scan";
        } else {
          m.StateText.text = pct + "%\nHDD2 Scan";
          m.Hdd2ScanButtonCaption = "Stop HDD2 Scan";
        }
      } else {
        m.StateText.text = pct + (a.drive == 0 ? "%\n<<<<\nRebuilding" : "%\n>>>>\nRebuilding");
      }
      m.LastProgressDrawn = p;
    }
    if (!m.LogButtonVisible) {
      m.LogButtonVisible = true;
      view_.LogButtonVisibleChanged(true);
    }
  } else {
    m.Hdd1ScanButtonVisible = false;
    m.Hdd2ScanButtonVisible = false;
    m.StateText.text = s.array == ArrayState::Failure  ? "Failure"
                       : s.array == ArrayState::Normal ? "Normal"
                                                       : "Single HDD\nPresent";
    m.LastProgressDrawn = 255;
  }
}

void StatusPage::SelectSlot(uint8_t slot) {
  if (slot >= kShownSlots) return;
  focus_.SetStatusSlot(slot);
  focus_.SetSelecting(true);
  view_.NavigationChanged();
  poller_.RefreshIdentity();
  holdOff_.AutoScanEnabled = true;
  view_.OptionControlsChanged();
  RefreshStatusPage(true);
  focus_.SetSelecting(false);
}

void StatusPage::SetSlotMonitored(uint8_t slot, bool checked) {
  if (slot >= kShownSlots) return;
  const uint8_t other = slot ^ 1;
  ms_.SlotChecked[slot] = checked;
  view_.SlotControlsChanged(slot, checked, checked);
  if (checked) {
    if (!ms_.SlotChecked[other]) {
      focus_.SetStatusSlot(slot);
      view_.NavigationChanged();
    }
  } else {
    if (!ms_.SlotChecked[other]) return;
    focus_.SetStatusSlot(other);
    view_.NavigationChanged();
  }
  ms_.PollSkip[slot] = 0;
  poller_.RefreshIdentity();
  view_.NavigationChanged();
  if (focus_.Page() == ShownPage::Status) RefreshStatusPage(true);
}

}  // namespace raid

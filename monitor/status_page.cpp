#include "monitor/status_page.h"

#include "monitor/status_record.h"

namespace raid {

StatusPage::StatusPage(DeviceState& st, WindowControls& controls, MonitorState& ms, StatusPoller& poller,
                       CoreView& view)
    : st_(st), controls_(controls), ms_(ms), poller_(poller), view_(view) {}

int StatusPage::RefreshStatusPage(bool force) {
  if (!controls_.AnySlotChecked()) return -1;
  StatusPageModel& m = Model;
  const uint8_t slot = controls_.StatusPageSlot % kMaxSlots;
  const Sector& b = ms_.StatusBlock[drive_flags::Drive(st_.DeviceList[slot]) % kPhysicalDrives];

  m.FirmwareVersionText.text = ms_.FirmwareVersion + "." + ConfigCode(b);

  const uint8_t env = b[status::kEnvironment];
  m.FanSpeedText.color = (env & 0x01) ? TextColor::Red : TextColor::Blue;
  m.TemperatureText.color = (env & 0x04) ? TextColor::Red : TextColor::Blue;
  m.FanSpeedText.text = std::to_string(LoadLE(b, status::kFanRpm, 2));
  m.TemperatureText.text = std::to_string(b[status::kTemperature]);
  m.EnvironmentPanelVisible = ms_.FanCapable && (env >> 4) == 0xA && env != 0xAA;

  const bool mute = !(b[status::kOptions] & 0x01);
  const bool autoScan = (b[status::kOptions] & 0x02) != 0;
  if (m.BuzzerMuteChecked != mute) m.BuzzerMuteChecked = mute;
  if (m.AutoScanChecked != autoScan) m.AutoScanChecked = autoScan;
  // The page has been filled from a record: the start phase is over.
  if (Filled) Filled();

  m.ModeText.text = ModeName(b[status::kMode]);

  if (force || b[status::kState] != m.LastDriveStateDrawn) {
    m.LastDriveStateDrawn = b[status::kState];
    DrivePart(b);
  }
  StateText(b);
  ++m.Refreshes;
  view_.StatusPageChanged();
  return 0;
}

void StatusPage::DrivePart(const Sector& b) {
  StatusPageModel& m = Model;
  const uint8_t state = b[status::kState];
  for (int x = 0; x < 2; ++x) {
    LabelModel& cap = x == 0 ? m.Hdd1CapacityText : m.Hdd2CapacityText;
    LabelModel& name = x == 0 ? m.Hdd1IdentityText : m.Hdd2IdentityText;
    const int shift = x * 4;
    const size_t modelAt = x == 0 ? status::kHdd1Model : status::kHdd2Model;
    const size_t capAt = x == 0 ? status::kHdd1Capacity : status::kHdd2Capacity;
    const size_t serialAt = x == 0 ? status::kHdd1Serial : status::kHdd2Serial;
    const std::string gb = std::to_string(Gigabytes(Sectors40(b, capAt))) + " GB\n";
    const std::string model = AtaText(b, modelAt, 40);
    if (state & (status::kAbsent << shift)) {
      if (!SerialEmpty(b, serialAt)) {
        cap.text = gb;
        name.text = model;
      }
      cap.enabled = false;
      name.enabled = false;
    } else if (state & (status::kPresent << shift)) {
      cap.color = TextColor::Navy;
      cap.text = gb;
      name.text = model;
      cap.enabled = true;
      name.enabled = true;
    } else if (state & (status::kFailed << shift)) {
      cap.color = TextColor::Red;
      if (x == 1) {
        const uint8_t a = b[status::kActivity];
        if (a & status::kMatchedSsd)
          view_.ShowNotice(
              {"Matched SSD is inserted.\nPlease power off this device or the system,\nand power on it "
               "to start rebuilding.",
               "Message", BoxIcon::Information, BoxButtons::Ok});
        else if (!(a & status::kActIsScan))
          view_.ShowNotice({"Unmatched SSD is inserted.\nThe Matched SSD's Serial# is " +
                                AtaText(b, status::kHdd2Serial, status::kSerialLen),
                            "Message", BoxIcon::Information, BoxButtons::Ok});
      }
      cap.text = gb;
      name.text = model;
      cap.enabled = true;
      name.enabled = false;
    } else if (!(state & (status::kInserted << shift))) {
      cap.text.clear();
      name.text.clear();
    }
  }
  m.ArrayCapacityText.text = std::to_string(Gigabytes(Sectors40(b, status::kCapacity))) + " GB";
}

void StatusPage::StateText(const Sector& b) {
  StatusPageModel& m = Model;
  const uint8_t a = b[status::kActivity];
  const uint8_t p = b[status::kProgress];
  if (a & (status::kActHdd1 | status::kActHdd2)) {
    const bool redraw = m.LastProgressDrawn == 255 || m.LastProgressDrawn != p;
    if (redraw) {
      const std::string pct = std::to_string(p);
      if (ms_.ScanCapable && (a & status::kActIsScan)) {
        if (a & status::kActHdd1) {
          m.StateText.text = pct + "%\nHDD1 Scan";
          m.Hdd1ScanButtonCaption = "Stop HDD1 Scan";
        } else {
          m.StateText.text = pct + "%\nHDD2 Scan";
          m.Hdd2ScanButtonCaption = "Stop HDD2 Scan";
        }
      } else {
        m.StateText.text = pct + ((a & status::kActHdd1) ? "%\n<<<<\nRebuilding" : "%\n>>>>\nRebuilding");
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
    const uint8_t present = b[status::kState] & status::kBothPresent;
    m.StateText.text = present == 0 ? "Failure" : present == status::kBothPresent ? "Normal" : "Single HDD\nPresent";
    m.LastProgressDrawn = 255;
  }
}

void StatusPage::SelectSlot(uint8_t slot) {
  if (slot >= kShownSlots) return;
  controls_.StatusPageSlot = slot;
  st_.CurrentSlot = slot;
  controls_.TabSwitching = 1;
  view_.NavigationChanged();
  poller_.RefreshIdentity();
  controls_.AutoScanEnabled = true;
  view_.OptionControlsChanged();
  RefreshStatusPage(true);
  controls_.TabSwitching = 0;
}

void StatusPage::SetSlotMonitored(uint8_t slot, bool checked) {
  if (slot >= kShownSlots) return;
  const uint8_t other = slot ^ 1;
  controls_.SlotChecked[slot] = checked;
  view_.SlotControlsChanged(slot, checked, checked);
  if (checked) {
    if (!controls_.SlotChecked[other]) {
      controls_.StatusPageSlot = slot;
      st_.CurrentSlot = slot;
      view_.NavigationChanged();
    }
  } else {
    if (!controls_.SlotChecked[other]) return;
    controls_.StatusPageSlot = other;
    st_.CurrentSlot = other;
    view_.NavigationChanged();
  }
  ms_.PollSkip[slot] = 0;
  poller_.RefreshIdentity();
  view_.NavigationChanged();
  if (controls_.CurrentPage == notebook_page::kStatus) RefreshStatusPage(true);
}

}  // namespace raid

#include "monitor/device_messages.h"

#include <string>

namespace raid {

void ShowDeviceResult(UserInterface& ui, const DeviceResult& r, bool raisedByPolling) {
  if (r.outOfMemory) ui.ShowMessage({"Menory Alloc Error!!", "", BoxIcon::Error, BoxButtons::Ok});
  switch (r.failure) {
    case DeviceFailure::None:
    case DeviceFailure::Silent: return;
    case DeviceFailure::NoDevice:
      ui.SetPanelText(kMessagePanel, "Device not found!!!");
      ui.ShowMessage({"No Device found !", "Message", BoxIcon::Information, BoxButtons::Ok});
      return;
    case DeviceFailure::NoUpgradeMode:
      ui.SetPanelText(kMessagePanel, "No Upgrade Mode!!!");
      ui.ShowMessage({"No Upgrade Mode !", "Message", BoxIcon::Information, BoxButtons::Ok});
      return;
    case DeviceFailure::InvalidDrive: {
      const MessageBoxRequest box{"Invalid Drive", "", BoxIcon::None, BoxButtons::Ok};
      if (raisedByPolling)
        ui.ShowNotice(box);
      else
        ui.ShowMessage(box);
      return;
    }
    case DeviceFailure::Request:
      if (!r.error().empty()) ui.SetPanelText(kMessagePanel, r.error());
      return;
  }
}

void StatusBarDetectionProgress::Probing(uint8_t drive) {
  ui_.SetPanelText(kDetectionPanel, "Detecting D" + std::to_string(drive));
}

void StatusBarDetectionProgress::TryingMode(int mode) { ui_.SetPanelText(kProbePanel, "Mode " + std::to_string(mode)); }

void StatusBarDetectionProgress::IdentReadFailed() { ui_.SetPanelText(kMessagePanel, "Error code 580"); }

void StatusBarDetectionProgress::TooManyVolumes() {
  ui_.ShowMessage({"Drive Count Must less than 20.", "", BoxIcon::None, BoxButtons::Ok});
}

}  // namespace raid

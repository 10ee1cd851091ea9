// What the user is shown of the device layer's results: the fixed
// status-bar texts and message boxes for each kind of failure, and the
// status-bar texts of a running detection.
#pragma once

#include "device/detection.h"
#include "device/device_result.h"
#include "platform/user_interface.h"

namespace raid {

// Shows a failed result: "Device not found!!!" with the box "No Device
// found !", "No Upgrade Mode!!!" with "No Upgrade Mode !", the box "Invalid
// Drive", or the failing request's text in panel 4 (after the box "Menory
// Alloc Error!!" when an ATA request had no memory). A box raised by the
// polling is shown without waiting for it (`raisedByPolling`). Nothing for
// success or a silent failure.
void ShowDeviceResult(UserInterface& ui, const DeviceResult& result, bool raisedByPolling = false);

// A detection's progress in the status bar: "Detecting D<k>" in panel 1,
// "Mode <n>" in panel 2, "Error code 580" in panel 4, and the box "Drive
// Count Must less than 20.".
class StatusBarDetectionProgress final : public DetectionProgress {
 public:
  explicit StatusBarDetectionProgress(UserInterface& ui) : ui_(ui) {}
  void Probing(uint8_t drive) override;
  void TryingMode(int mode) override;
  void IdentReadFailed() override;
  void TooManyVolumes() override;
  void Failed(const DeviceResult& result) override { ShowDeviceResult(ui_, result); }
  void BetweenRequests() override { ui_.ProcessMessages(); }

 private:
  UserInterface& ui_;
};

}  // namespace raid

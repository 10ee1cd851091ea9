// The device information block that describes one enclosure slot, in its log
// and mail forms, and the notification request raised when a member drive or
// a whole enclosure goes away.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/detection.h"
#include "device/device_state.h"
#include "monitor/monitor_state.h"

namespace raid {

enum class ReportForm { Log, Mail };

class DeviceReport {
 public:
  DeviceReport(DeviceState& st, MonitorState& ms, DriveDetector& det) : st_(st), ms_(ms), det_(det) {}

  void AppendDeviceInfoBlock(std::vector<std::string>& lines, uint8_t slot, ReportForm form,
                             uint8_t category = 0) const;
  // kind 1: member drive removed (port 0 HDD1, 1 HDD2); 2: enclosure removed.
  void BuildDeviceReport(uint8_t kind, uint8_t slot, uint8_t port);

 private:
  DeviceState& st_;
  MonitorState& ms_;
  DriveDetector& det_;
};

}  // namespace raid

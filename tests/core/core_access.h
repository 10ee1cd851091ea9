// The core's parts, for tests and fuzzers that set up a state no real path
// reaches. Everything else in the tests goes through RaidCore's own methods.
#pragma once

#include "monitor/raid_core.h"

namespace raid {

struct CoreTestAccess {
  static DeviceState& State(RaidCore& c) { return c.st_; }
  static OptionHoldOff& HoldOff(RaidCore& c) { return c.settings_.HoldOff(); }
  static MonitorState& Monitoring(RaidCore& c) { return c.ms_; }
  static StatusPoller& Poller(RaidCore& c) { return c.poller_; }
  static StatusPage& Page(RaidCore& c) { return c.page_; }
  static DeviceReport& Report(RaidCore& c) { return c.report_; }
  static DriveDetector& Detector(RaidCore& c) { return c.det_; }
  // The day log's buffer, for log window tests that stand lines in for new
  // ones.
  static std::vector<std::string>& DayLog(RaidCore& c) { return c.log_.dayLog_; }
  static void SetPollTimerEnabled(RaidCore& c, bool on) { c.pollTimer_ = on; }
};

}  // namespace raid

// Event detection and the day log: after every poll cycle the status records
// just read are compared with what was remembered, and every difference
// becomes time-stamped lines of the day log buffer, which is then saved to
// the day's file. After every re-detection the old and new enclosure lists
// are compared and the differences wait in the pending-line buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/detection.h"
#include "device/device_state.h"
#include "monitor/core_view.h"
#include "monitor/device_report.h"
#include "monitor/monitor_state.h"
#include "platform/clock.h"
#include "platform/datetime_text.h"

namespace raid {

class EventLog {
 public:
  EventLog(DeviceState& st, MonitorState& ms, DriveDetector& det, DeviceReport& report, Clock& clock,
           const DateTimeFormat& fmt, CoreView& view, std::string logDir);

  void DetectEvents(uint8_t slotMask);
  void DetectDeviceChanges();

  // Saves lines that have not reached the day file yet (at exit).
  void SaveNow();

  // "yymmdd.log" in the log folder.
  std::string LogPath(const LocalDateTime& t) const;
  const std::string& LogDir() const { return logDir_; }

  std::vector<std::string> DayLog;        // the day's lines, as in its file
  std::vector<std::string> PendingLines;  // device-change lines awaiting their stamp
  uint8_t PendingDeviceLines = 0;
  LocalDateTime EventTime;
  uint8_t ReportListSelector = 0;

  static const std::string& DashLine();

 private:
  void Append(const std::string& line);
  void OpenDay(const std::string& path, bool& full);
  void DriveEvents(uint8_t s, const Sector& b, uint8_t oldState, const std::string& stamp);
  void DetailLines(const Sector& b, int x);
  bool Activity(uint8_t s, const Sector& b, const std::string& stamp);
  bool BadSectors(uint8_t s, const Sector& b, const std::string& stamp);
  void TakeOverStates(int limit);
  void Save(const std::string& path);
  const Sector& SlotBlock(uint8_t s) const;

  DeviceState& st_;
  MonitorState& ms_;
  DriveDetector& det_;
  DeviceReport& report_;
  Clock& clock_;
  const DateTimeFormat& fmt_;
  CoreView& view_;
  std::string logDir_;

  // Which day the buffer holds, and whether it has reached its file.
  bool haveDay_ = false;
  LocalDateTime bufferDay_;
  bool bufferSaved_ = false;
  // A day file that exists but could not be read at start: it is not
  // written over until its lines have been read and kept.
  std::string unreadPath_;
  bool saveErrorShown_ = false;
  bool dirty_ = false;
};

}  // namespace raid

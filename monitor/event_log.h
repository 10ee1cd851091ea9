// Event detection and the day log: after every poll cycle the status records
// just read are compared with what was remembered, and every difference
// becomes an event (raid_event.h) whose time-stamped lines join the day log
// buffer, which is then saved to the day's file. After every re-detection
// the old and new enclosure lists are compared and the differences wait as
// events for the next pass. Each line reaches the view with its event.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/detection.h"
#include "device/device_state.h"
#include "monitor/core_view.h"
#include "monitor/decoded_status.h"
#include "monitor/event_detector.h"
#include "monitor/device_report.h"
#include "monitor/monitor_state.h"
#include "monitor/raid_event.h"
#include "platform/clock.h"
#include "platform/datetime_text.h"
#include "platform/file_io.h"

namespace raid {

class EventLog {
 public:
  EventLog(DeviceState& st, MonitorState& ms, DriveDetector& det, DeviceReport& report, Clock& clock,
           const DateTimeFormat& fmt, CoreView& view, std::string logDir);

  // One pass over the slots of slotMask; scanStopsSent: per slot, whether
  // a scan stop went out since the last pass.
  void DetectEvents(uint8_t slotMask, const std::array<bool, 4>& scanStopsSent = {});
  void DetectDeviceChanges();
  // The window's creation: no device-change lines wait, the report list is
  // not chosen yet.
  void StartOver() {
    ReportListSelector_ = 0;
    PendingDeviceLines_ = 0;
    owedBlocks_ = 0;
  }
  // The first detection was published: its report list is the start list.
  void FirstDetectionPublished() { ReportListSelector_ = 1; }

  // Saves lines that have not reached the day file yet (at exit).
  void SaveNow();
  // A window that shows the monitor service writes no day log of its own
  // (the service writes it): its lines stay in memory and count as saved.
  void SetFileless() { fileless_ = true; }

  // A line about the program's own doings (the mail retries and reminders),
  // time-stamped like the event lines and saved at once. Before the day's
  // first pass it waits for that pass, after the start lines.
  void AppendNote(const std::string& text);

  // Lines known to be on disk are the only ones that ever leave the buffer.
  // While saves fail, at most this many unsaved lines of a day are kept; the
  // oldest give way to one line that counts them.
  static constexpr size_t kMaxUnsavedLines = 20000;
  void SetUnsavedLimit(size_t lines) { unsavedLimit_ = lines < 2 ? 2 : lines; }
  // The lines that have not reached their day file, per file (earlier days
  // whose last save failed first).
  struct UnsavedDay {
    std::string path;
    std::vector<std::string> lines;
  };
  std::vector<UnsavedDay> Unsaved() const;
  size_t UnsavedLineCount() const;
  // Lines dropped so far because the buffer was full.
  uint64_t DroppedLines() const { return droppedTotal_; }

  // "yymmdd.log" in the log folder.
  std::string LogPath(const LocalDateTime& t) const;
  const std::string& LogDir() const { return logDir_; }

  // The day's lines, as in its file.
  const std::vector<std::string>& DayLog() const { return dayLog_; }
  // What the waiting enclosure list events will say, without their stamp.
  std::vector<std::string> PendingLines;
  LocalDateTime EventTime;

  static const std::string& DashLine();

 private:
  // Tests that stand lines in for new ones reach the buffer through this
  // (tests/core/core_access.h); the program never does.
  friend struct CoreTestAccess;
  std::vector<std::string> dayLog_;
  uint8_t PendingDeviceLines_ = 0;
  // Enclosures found by the last device change whose information block is
  // still to be written (their first record was not read in that pass).
  uint8_t owedBlocks_ = 0;  // "Device had changed." follows the pending lines
  uint8_t ReportListSelector_ = 0;
  std::vector<RaidEvent> pendingEvents_;  // enclosure list events awaiting the next pass
  void Append(const std::string& line, const RaidEvent* event = nullptr, bool headline = false);
  // The event, at EventTime, as its day log lines.
  void Log(RaidEvent e, const std::string& stamp);
  void Queue(const RaidEvent& e);
  // Raises the mail report the event calls for, if any.
  void RaiseReport(const RaidEvent& e);
  std::vector<std::string> notes_;  // notes waiting for the next pass
  bool noteOpenedDay_ = false;      // a note began the day's file anew
  void OpenDay(const std::string& path, bool& full);
  // The comparison's memory of a slot, kept in the monitoring state.
  SlotMemory Memory(uint8_t s) const;
  void Remember(uint8_t s, const SlotMemory& m);
  // Logs each event and raises the mail report it calls for; whether there
  // was any.
  bool LogAll(const std::vector<RaidEvent>& events, const std::string& stamp);
  void TakeOverStates(int limit);
  void Save(const std::string& path);
  bool MergeFromFile(const std::string& path);
  bool SetAside(const std::string& path, const std::string& why);
  void DropSavedLines();
  void CarryUnsaved(const std::string& path);
  void RetryCarried();
  void Bound();
  void SaveFailed(const std::string& why);
  const Sector& SlotBlock(uint8_t s) const;
  DecodedStatus SlotStatus(uint8_t s) const;

  DeviceState& st_;
  MonitorState& ms_;
  DriveDetector& det_;
  DeviceReport& report_;
  Clock& clock_;
  const DateTimeFormat& fmt_;
  CoreView& view_;
  std::string logDir_;
  bool fileless_ = false;

  // Which day the buffer holds.
  bool haveDay_ = false;
  LocalDateTime bufferDay_;
  // The first savedCount_ lines of dayLog_ are in the day file as it was
  // when last read or written (fileStamp_). A file that differs from that
  // stamp changed under us: its lines are read and ours follow them, so a
  // save never writes over lines it has not seen.
  size_t savedCount_ = 0;
  FileStamp fileStamp_;
  // Unsaved lines of earlier days, retried with every save.
  std::vector<UnsavedDay> carried_;
  size_t unsavedLimit_ = kMaxUnsavedLines;
  // Lines dropped from the current unsaved run, and where its counting line is.
  uint64_t dropped_ = 0;
  uint64_t droppedTotal_ = 0;
  bool haveDropLine_ = false;
  bool saveErrorShown_ = false;
};

}  // namespace raid

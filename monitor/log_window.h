// The event log window's behaviour, apart from its widgets: real-time mode
// following the day log buffer once a second while polling is armed, the
// paused state, and viewing a log file chosen from disk.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/outcome.h"

namespace raid {

class LogWindowModel {
 public:
  LogWindowModel(const std::vector<std::string>& dayLog, const std::atomic<uint8_t>& requestBits)
      : dayLog_(dayLog), requestBits_(requestBits) {}

  void Open();
  void Show();
  void OnFollowTimer();
  // "Real Time Log".
  void ShowRealTime();
  // "View Log File": chooseFile returns the chosen path, or "" when the user
  // cancelled (which is no failure). A file that cannot be read leaves the
  // window as it was and fails with the reason.
  Outcome ViewLogFile(const std::function<std::string()>& chooseFile);

  std::vector<std::string> Lines;  // the window's copy of the lines
  uint64_t LineResets = 0;         // counts the times Lines was cleared
  std::string Caption = "Event Log";
  bool Grey = false;
  bool TimerEnabled = false;
  size_t Shown = 0;  // day log lines already copied

 private:
  bool Armed() const;
  void RealTimeCaption();
  void ClearLines();

  const std::vector<std::string>& dayLog_;
  const std::atomic<uint8_t>& requestBits_;
};

}  // namespace raid

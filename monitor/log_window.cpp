#include "monitor/log_window.h"

#include "device/device_state.h"
#include "monitor/day_log_file.h"

namespace raid {

bool LogWindowModel::Armed() const { return (requestBits_.load() & request_bits::kArmed) != 0; }

void LogWindowModel::RealTimeCaption() {
  if (Armed()) {
    Caption = "Event log - Real Time";
    Grey = false;
  } else {
    Caption = "Event log - Real Time( Paused )";
    Grey = true;
  }
}

void LogWindowModel::ClearLines() {
  Lines.clear();
  ++LineResets;
}

void LogWindowModel::Open() {
  ClearLines();
  Shown = dayLog_.size();
}

void LogWindowModel::Show() {
  RealTimeCaption();
  for (size_t i = 0; i < Shown && i < dayLog_.size(); ++i) Lines.push_back(dayLog_[i]);
  TimerEnabled = true;
}

void LogWindowModel::OnFollowTimer() {
  if (!TimerEnabled) return;
  const size_t c = dayLog_.size();
  if (!Armed()) {
    RealTimeCaption();
    return;
  }
  RealTimeCaption();
  if (Shown < c) {
    for (size_t i = Shown; i < c; ++i) Lines.push_back(dayLog_[i]);
    Shown = c;
  } else if (c < Shown) {
    // The buffer restarted (a new day): show it whole again.
    ClearLines();
    Lines.insert(Lines.end(), dayLog_.begin(), dayLog_.end());
    Shown = c;
  }
}

void LogWindowModel::ShowRealTime() {
  TimerEnabled = false;
  RealTimeCaption();
  Shown = dayLog_.size();
  ClearLines();
  Lines.insert(Lines.end(), dayLog_.begin(), dayLog_.end());
  TimerEnabled = true;
}

Outcome LogWindowModel::ViewLogFile(const std::function<std::string()>& chooseFile) {
  TimerEnabled = false;
  const std::string path = chooseFile ? chooseFile() : std::string();
  if (path.empty()) return Outcome::Ok();  // cancelled: text and caption stay, the timer stays off
  std::vector<std::string> lines;
  const Outcome r = ReadTextLines(path, lines);
  if (!r.ok()) return Outcome::Fail(path + ": " + r.error());
  ClearLines();
  Lines = std::move(lines);
  const size_t slash = path.find_last_of("/\\");
  Caption = "Event log - " + (slash == std::string::npos ? path : path.substr(slash + 1));
  return Outcome::Ok();
}

}  // namespace raid

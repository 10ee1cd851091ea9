// raidmon's view of the core: every line appended to the day log goes to
// standard output as it is appended; status and message texts go to
// standard error, and so do the enclosures' status lines (one per enclosure
// after each detection, or after every poll when verbose). Nothing waits
// for an answer.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "monitor/core_view.h"

namespace raid {

class RaidCore;

class ConsoleView final : public CoreView {
 public:
  explicit ConsoleView(std::FILE* out = stdout, std::FILE* err = stderr) : out_(out), err_(err) {}
  // The core whose enclosures the status lines describe; verbose: a line
  // per enclosure after every poll, not only after a detection.
  void ShowStatusLines(const RaidCore* core, bool verbose) {
    core_ = core;
    verbose_ = verbose;
  }
  // Where the day log lines, each with its event, go instead of standard
  // output (the journal); a line the sink does not take is printed as
  // before, so none is lost.
  void SendLogLinesTo(std::function<bool(const DayLogEntry&)> sink) { lineSink_ = std::move(sink); }
  // Also shown every day log line, whoever takes it (the monitor service).
  void WatchLogLines(std::function<void(const DayLogEntry&)> watcher) { lineWatcher_ = std::move(watcher); }
  void SetPanelText(StatusBarPanel panel, const std::string& text) override;
  BoxResult ShowMessage(const MessageBoxRequest& box) override;
  void DayLogEntryAppended(const DayLogEntry& entry) override;
  void DetectTextChanged(const std::string& text, bool visible) override;
  void NavigationEnabledChanged(bool enabled) override;
  void StatusPageChanged() override;
  // The mail sender's texts ("Send mail Success!", a failure and its
  // reason); safe from any thread.
  void MailStatus(const std::string& text);

 private:
  std::FILE* out_;
  std::FILE* err_;
  std::string lastMessage_;
  const RaidCore* core_ = nullptr;
  bool verbose_ = false;
  bool announce_ = false;
  std::function<bool(const DayLogEntry&)> lineSink_;
  std::function<void(const DayLogEntry&)> lineWatcher_;
};

}  // namespace raid

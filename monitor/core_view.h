// Everything the core shows leaves through this interface: the status-bar
// panels and message boxes of UserInterface, plus the main window's own
// controls. Each front end implements what it has; the defaults do nothing.
#pragma once

#include <cstdint>
#include <string>

#include "monitor/raid_event.h"
#include "platform/user_interface.h"

namespace raid {

// A line appended to the day log and the event it renders: null for the
// program's own lines (start, separators, the enclosures' blocks, notes);
// headline: the event's first line, not one of its detail lines.
struct DayLogEntry {
  const std::string& line;
  const RaidEvent* event = nullptr;
  bool headline = false;
};

// The two progress bars of long operations.
enum class ProgressBar { Upgrade, Setup };

class CoreView : public UserInterface {
 public:
  // DetectionBanner: the detection text and whether it is shown.
  virtual void DetectTextChanged(const std::string& text, bool visible) {}
  // The seven navigation and Upgrade page buttons.
  virtual void NavigationEnabledChanged(bool enabled) {}
  virtual void UpgradeButtonEnabledChanged(bool enabled) {}
  // A slot's monitoring check box and its Status and Upgrade tabs.
  virtual void SlotControlsChanged(int slot, bool visible, bool checked) {}
  virtual void LogButtonVisibleChanged(bool visible) {}
  // Caption, slot hints and firmware version text.
  virtual void IdentityChanged() {}
  // The Status page model changed.
  virtual void StatusPageChanged() {}
  // A line was appended to the day log buffer (not lines loaded from file).
  virtual void LogLineAppended(const std::string& line) {}
  // The same line with the event it renders, for views that tell events
  // apart (the journal's priorities, the tray's notifications); by default
  // only the line is passed on.
  virtual void DayLogEntryAppended(const DayLogEntry& entry) { LogLineAppended(entry.line); }
  // The navigation pictures and slot tabs are to be redrawn (page or slot
  // selection changed).
  virtual void NavigationChanged() {}
  // The progress timer: a long operation's progress copied into its bar
  // (the Setup page's bar while that page is shown, else the Upgrade page's).
  virtual void ProgressChanged(ProgressBar bar, uint32_t value) {}
  // The option check boxes and scan buttons changed their enabled state.
  virtual void OptionControlsChanged() {}
  // The Upgrade page's own controls changed (progress panel, file name,
  // version text, enabled states).
  virtual void UpgradePageChanged() {}
  // The Setup page's own controls changed (sub-page, schedule controls,
  // initialisation panel).
  virtual void SetupPageChanged() {}
  // The text a status-bar panel shows now (a failed long operation repeats
  // panel 4 as its last message). Views without panels keep the last text.
  virtual std::string PanelText(StatusBarPanel panel) const { return {}; }
};

// Shows nothing and answers every box with OK: for benchmarks and fuzzers.
class SilentView final : public CoreView {
 public:
  void SetPanelText(StatusBarPanel, const std::string&) override {}
  BoxResult ShowMessage(const MessageBoxRequest&) override { return BoxResult::Ok; }
};

}  // namespace raid

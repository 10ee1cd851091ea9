// raidctl's view of the core: status-bar texts and message boxes become
// lines of text, a running upgrade draws one progress line on a terminal,
// and a quit signal during the upgrade asks before it stops anything.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "monitor/core_view.h"

namespace raid {

class FirmwareUpgrade;
class CommandSet;

// Quit signals seen so far (SIGINT, SIGTERM); the handler only counts.
std::atomic<int>& QuitSignalCount();
void InstallQuitSignalCounter();

class CtlView final : public CoreView {
 public:
  explicit CtlView(std::FILE* out) : out_(out) {}

  void SetPanelText(StatusBarPanel panel, const std::string& text) override;
  std::string PanelText(StatusBarPanel panel) const override;
  BoxResult ShowMessage(const MessageBoxRequest& box) override;
  void ProcessMessages() override;
  void UpgradePageChanged() override;

  // Where the core's texts go (standard output during an upgrade, standard
  // error otherwise).
  void SetOutput(std::FILE* out) { out_ = out; }
  // The running upgrade whose progress is drawn and which a signal may stop.
  void WatchUpgrade(FirmwareUpgrade* upgrade, CommandSet* cs, bool progressLine, bool askOnSignal);
  // Asks a yes/no question on the terminal; false on anything but yes.
  bool AskYesNo(const std::string& question);
  // The progress line of an upgrade (redrawn only when it changed), and its
  // end before other output.
  void DrawProgress(const std::string& text, const std::string& caption, int percent);
  void EndProgressLine();

 private:
  void HandleSignals();

  std::FILE* out_;
  std::string panels_[kStatusBarPanels];
  FirmwareUpgrade* upgrade_ = nullptr;
  CommandSet* cs_ = nullptr;
  bool progressLine_ = false;
  bool askOnSignal_ = false;
  bool lineOpen_ = false;
  int lastPercent_ = -1;
  std::string lastCaption_;
  int signalsHandled_ = 0;
  bool warned_ = false;
};

}  // namespace raid

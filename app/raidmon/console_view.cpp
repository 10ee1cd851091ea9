#include "app/raidmon/console_view.h"

#include "app/raidmon/status_line.h"
#include "monitor/raid_core.h"

namespace raid {

void ConsoleView::SetPanelText(StatusBarPanel panel, const std::string& text) {
  // Panel 4 carries the device operations' messages; the others only show
  // detection progress.
  if (panel != kMessagePanel || text == lastMessage_) return;
  lastMessage_ = text;
  if (text.find_first_not_of(' ') != std::string::npos) std::fprintf(err_, "raidmon: %s\n", text.c_str());
}

BoxResult ConsoleView::ShowMessage(const MessageBoxRequest& box) {
  std::fprintf(err_, "raidmon: %s%s%s\n", box.caption.c_str(), box.caption.empty() ? "" : ": ", box.text.c_str());
  return box.buttons == BoxButtons::YesNo ? BoxResult::No : BoxResult::Ok;
}

void ConsoleView::MailStatus(const std::string& text) {
  std::fprintf(err_, "raidmon: %s\n", text.c_str());
  std::fflush(err_);
}

void ConsoleView::DayLogEntryAppended(const DayLogEntry& entry) {
  if (lineWatcher_) lineWatcher_(entry);
  if (lineSink_ && lineSink_(entry)) return;
  std::fprintf(out_, "%s\n", entry.line.c_str());
  std::fflush(out_);
}

void ConsoleView::DetectTextChanged(const std::string& text, bool visible) {
  if (text == "No Drive found! " && visible) {
    std::fprintf(err_, "raidmon: No Drive found!\n");
  }
}

void ConsoleView::NavigationEnabledChanged(bool enabled) {
  // Enclosures were found: the first refresh after it says how they are.
  if (enabled) announce_ = true;
}

void ConsoleView::StatusPageChanged() {
  if (!core_ || !(announce_ || verbose_)) return;
  announce_ = false;
  for (int s = 0; s < kShownSlots && s < core_->Devices().DeviceCount; ++s) {
    if (!core_->Monitoring().SlotChecked[s]) continue;
    const uint32_t flags = core_->Devices().DeviceList[s];
    std::fprintf(err_, "raidmon: %s\n",
                 EnclosureStatusLine(s, flags, core_->IdentSectorOf(s), core_->StatusRecordOf(s)).c_str());
  }
  std::fflush(err_);
}

}  // namespace raid

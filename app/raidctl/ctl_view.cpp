#include "app/raidctl/ctl_view.h"

#include <csignal>
#include <cstring>

#include "app/common/setup_commands.h"
#include "maintenance/firmware_upgrade.h"

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace raid {

namespace {
std::atomic<int> g_quitSignals{0};
extern "C" void CountQuitSignal(int) { ++g_quitSignals; }
}  // namespace

std::atomic<int>& QuitSignalCount() { return g_quitSignals; }

void InstallQuitSignalCounter() {
#ifdef _WIN32
  std::signal(SIGINT, CountQuitSignal);
  std::signal(SIGTERM, CountQuitSignal);
#else
  // No SA_RESTART: a question waiting on the terminal returns on a signal.
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = CountQuitSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
#endif
}

void CtlView::EndProgressLine() {
  if (!lineOpen_) return;
  std::fputc('\n', stdout);
  std::fflush(stdout);
  lineOpen_ = false;
}

void CtlView::SetPanelText(StatusBarPanel panel, const std::string& text) {
  if (!IsStatusBarPanel(panel)) return;
  panels_[panel] = text;
  if (const std::string line = CommandPanelLine(panel, text); !line.empty()) {
    EndProgressLine();
    std::fputs(line.c_str(), out_);
    std::fflush(out_);
  }
}

std::string CtlView::PanelText(StatusBarPanel panel) const {
  return IsStatusBarPanel(panel) ? panels_[panel] : std::string();
}

BoxResult CtlView::ShowMessage(const MessageBoxRequest& box) {
  EndProgressLine();
  std::fputs(CommandBoxLine(box).c_str(), out_);
  std::fflush(out_);
  return box.buttons == BoxButtons::YesNo ? BoxResult::No : BoxResult::Ok;
}

void CtlView::WatchUpgrade(FirmwareUpgrade* upgrade, CommandSet* cs, bool progressLine, bool askOnSignal) {
  upgrade_ = upgrade;
  cs_ = cs;
  progressLine_ = progressLine;
  askOnSignal_ = askOnSignal;
  signalsHandled_ = QuitSignalCount().load();
}

void CtlView::UpgradePageChanged() {
  if (!upgrade_) return;
  if (!upgrade_->Model.ProgressPanelVisible) {
    EndProgressLine();
    lastPercent_ = -1;
    lastCaption_.clear();
  }
}

bool CtlView::AskYesNo(const std::string& question) {
  EndProgressLine();
  // Counted from before the question shows, so a Ctrl-C the moment it
  // appears is seen.
  [[maybe_unused]] const int signalsBefore = QuitSignalCount().load();
  std::fprintf(stdout, "%s [y/N] ", question.c_str());
  std::fflush(stdout);
#ifndef _WIN32
  // The answer is read a byte at a time while the signal count is watched:
  // a Ctrl-C that comes just before the read would otherwise leave the
  // question waiting for a line nobody types.
  std::string line;
  for (;;) {
    if (QuitSignalCount().load() != signalsBefore) {
      std::fputc('\n', stdout);
      return false;
    }
    pollfd p{STDIN_FILENO, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    char c = 0;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      std::fputc('\n', stdout);
      return false;
    }
    if (c == '\n') break;
    if (line.size() < 64) line += c;
  }
  return !line.empty() && (line[0] == 'y' || line[0] == 'Y');
#else
  char line[64];
  if (!std::fgets(line, sizeof line, stdin)) {
    std::fputc('\n', stdout);
    return false;
  }
  return line[0] == 'y' || line[0] == 'Y';
#endif
}

void CtlView::HandleSignals() {
  const int seen = QuitSignalCount().load();
  if (seen == signalsHandled_ || !upgrade_ || !upgrade_->Running()) return;
  // Every signal counts, also when several came while one request blocked:
  // the first warns (on a terminal: asks), a second stops.
  const int fresh = seen - signalsHandled_;
  signalsHandled_ = seen;
  bool stop = fresh >= 2 || (!askOnSignal_ && warned_);
  if (!stop && askOnSignal_) {
    const int before = QuitSignalCount().load();
    stop = AskYesNo("A firmware upgrade is running. Stop it at the next request? The flash may be left half written.");
    // A second signal while the question waits counts as yes.
    signalsHandled_ = QuitSignalCount().load();
    stop = stop || signalsHandled_ != before;
    if (!stop) return;
  } else if (!stop) {
    warned_ = true;
    EndProgressLine();
    std::fprintf(stderr,
                 "raidctl: a firmware upgrade is running; stopping it now may leave the flash half written. "
                 "Send the signal again to stop at the next request.\n");
    return;
  }
  EndProgressLine();
  std::fprintf(askOnSignal_ ? stdout : stderr, "raidctl: stopping at the next request\n");
  upgrade_->RequestStop();
}

void CtlView::ProcessMessages() {
  HandleSignals();
  if (!progressLine_ || !upgrade_ || !cs_ || !upgrade_->Model.ProgressPanelVisible) return;
  DrawProgress(upgrade_->Model.ProgressText, upgrade_->Model.ProgressPanelCaption,
               UpgradePercent(cs_->ProgressValue.load(), upgrade_->Model.ProgressMax));
}

void CtlView::DrawProgress(const std::string& text, const std::string& caption, int percent) {
  if (percent == lastPercent_ && caption == lastCaption_) return;
  lastPercent_ = percent;
  lastCaption_ = caption;
  std::fputs(UpgradeProgressLine(text, caption, percent).c_str(), stdout);
  std::fflush(stdout);
  lineOpen_ = true;
}

}  // namespace raid

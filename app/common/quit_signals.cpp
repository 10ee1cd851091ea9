#include "app/common/quit_signals.h"

#include <atomic>
#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

namespace raid {

namespace {
std::atomic<bool> g_signalled{false};
std::atomic<bool> g_finished{false};

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      g_signalled = true;
      // The system ends the process when this returns after a close,
      // log-off or shut-down: hold it until the log is saved (the system
      // allows a few seconds).
      for (int i = 0; i < 450 && !g_finished; ++i) Sleep(10);
      return TRUE;
    default:
      return FALSE;
  }
}
#else
extern "C" void OnQuitSignal(int) { g_signalled = true; }
#endif
}  // namespace

QuitOnSignals::QuitOnSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  struct sigaction sa {};
  sa.sa_handler = OnQuitSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
#endif
  connect(&watch_, &QTimer::timeout, this, &QuitOnSignals::Check);
  watch_.start(50);
}

void QuitOnSignals::Check() {
  if (g_signalled && !fired_) {
    fired_ = true;
    onSignal_();
  }
}

void QuitOnSignals::Finished() { g_finished = true; }

}  // namespace raid

#include "app/common/console_quit.h"

#include <atomic>

#ifdef _WIN32
#include <windows.h>
#endif

namespace raid {

namespace {
std::atomic<bool> g_finished{false};
std::atomic<void (*)()> g_action{nullptr};
// A quit asked for before the action was set (a service stopped while it
// starts): the action is called when it is set.
std::atomic<bool> g_pending{false};
std::atomic<bool> g_service{false};

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD type) {
  switch (type) {
    case CTRL_LOGOFF_EVENT:
      // A service hears every user's log-off: it is no reason to stop.
      if (g_service) return TRUE;
      [[fallthrough]];
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      if (void (*action)() = g_action.load()) action();
      // Held until the log is saved, 4.5 s at the most.
      for (int i = 0; i < 450 && !g_finished; ++i) Sleep(10);
      return TRUE;
    default: return FALSE;
  }
}
#endif
}  // namespace

void CallOnConsoleQuit(void (*action)()) {
  g_action = action;
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#endif
  if (g_pending.exchange(false) && action) action();
}

void RunningAsService() { g_service = true; }

void ConsoleQuitFinished() { g_finished = true; }

void RequestConsoleQuit() {
  if (void (*action)() = g_action.load())
    action();
  else
    g_pending = true;
}

}  // namespace raid

#include "app/raidmon/windows_service.h"

#ifdef _WIN32
#include <windows.h>

#include "app/common/console_quit.h"
#endif

namespace raid {

#ifdef _WIN32
namespace {

const char* g_name = nullptr;
const std::function<int()>* g_monitor = nullptr;
SERVICE_STATUS_HANDLE g_handle = nullptr;
int g_exit = 0;

void Report(DWORD state, DWORD waitHintMs, DWORD exitCode = NO_ERROR) {
  if (!g_handle) return;
  SERVICE_STATUS s{};
  s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  s.dwCurrentState = state;
  s.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  s.dwWin32ExitCode = exitCode == NO_ERROR ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
  s.dwServiceSpecificExitCode = exitCode;
  s.dwWaitHint = waitHintMs;
  SetServiceStatus(g_handle, &s);
}

DWORD WINAPI OnControl(DWORD control, DWORD, LPVOID, LPVOID) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      // The bounded stop: a client's command at most 60 s, then the mails.
      Report(SERVICE_STOP_PENDING, 90000);
      RequestConsoleQuit();
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;
    default: return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, LPSTR*) {
  g_handle = RegisterServiceCtrlHandlerExA(g_name, OnControl, nullptr);
  if (!g_handle) return;
  RunningAsService();
  Report(SERVICE_START_PENDING, 30000);
  g_exit = (*g_monitor)();
  Report(SERVICE_STOPPED, 0, static_cast<DWORD>(g_exit));
}

}  // namespace

int RunAsWindowsService(const char* name, const std::function<int()>& monitor) {
  g_name = name;
  g_monitor = &monitor;
  SERVICE_TABLE_ENTRYA table[] = {{const_cast<LPSTR>(name), ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) return -1;
  return g_exit;
}

void WindowsServiceRunning() { Report(SERVICE_RUNNING, 0); }
void WindowsServiceStopping() { Report(SERVICE_STOP_PENDING, 90000); }

#else

int RunAsWindowsService(const char*, const std::function<int()>&) { return -1; }
void WindowsServiceRunning() {}
void WindowsServiceStopping() {}

#endif

}  // namespace raid

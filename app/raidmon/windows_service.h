// raidmon as a Windows service (raidmon --windows-service, as the installer
// registers it): the service control manager starts it, a stop or a
// shut-down ends it as a console close would (the day log saved, running
// commands of clients let end), and the manager is told when the monitor
// runs and when it stops. Elsewhere these do nothing.
#pragma once

#include <functional>

namespace raid {

// Runs `monitor` as the service `name` and returns its exit code; -1 when
// the process was not started by the service control manager.
int RunAsWindowsService(const char* name, const std::function<int()>& monitor);
// The monitor has started (its first detection runs) or is stopping.
void WindowsServiceRunning();
void WindowsServiceStopping();

}  // namespace raid

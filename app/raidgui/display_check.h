// Whether the window has a display to open on, decided before Qt starts:
// Qt's platform plugin aborts the whole program when it finds none, with a
// message about plugins that says nothing useful to the user. Plain C++.
#pragma once

#include <functional>
#include <string>

namespace raid {

// Reads one environment variable (empty when unset).
using EnvLookup = std::function<std::string(const char* name)>;

// Empty when the window can open: a platform other than X11 or Wayland is
// asked for with QT_QPA_PLATFORM (offscreen, vnc ...: Qt's own business), an
// X server answers at DISPLAY, or a Wayland compositor at WAYLAND_DISPLAY.
// Otherwise one line saying that no display was found, why, and that the
// headless monitor raidmon runs without one. Always empty on Windows.
std::string NoDisplayReason(const EnvLookup& env);

// The process environment.
std::string ProcessEnv(const char* name);

}  // namespace raid

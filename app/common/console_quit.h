// On Windows: Ctrl+C, Ctrl+Break, the console window closed, log-off and
// shut-down call the given action on the system's handler thread, which then
// holds the process until ConsoleQuitFinished (the system ends the process
// when the handler returns after a close, log-off or shut-down, and allows a
// few seconds for it). Elsewhere the action is never called: the programs
// take the quit signals instead.
#pragma once

namespace raid {

// The action must be safe to call from another thread.
void CallOnConsoleQuit(void (*action)());
// The program has saved what it had to save: the handler may return.
void ConsoleQuitFinished();
// Calls the action now, as a console close would (a Windows service's stop);
// before an action is set, when it is set.
void RequestConsoleQuit();
// A Windows service: a user's log-off does not end the program.
void RunningAsService();

}  // namespace raid

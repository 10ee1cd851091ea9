// raidctl's mail commands: the notification settings of a machine without a
// desktop (show, set, recipients, templates), a test mail and the system
// information block the mails carry. They edit the
// same store through the same E-mail page model and OK as the window.
#pragma once

#include <string>
#include <vector>

namespace raid {

// Whether args[1] is one of these commands.
bool IsMailCommand(const std::vector<std::string>& args);
// Runs it; returns the exit code (0 done, 1 failed, 2 wrong use).
int RunMailCommand(const std::vector<std::string>& args);
std::string MailUsage();

}  // namespace raid

// raidctl's mail commands: the notification settings of a machine without a
// desktop (show, set, recipients, templates), a test mail and the system
// information block the mails carry. They edit the same store through the
// same E-mail page model and OK as the window. raidctl runs them on the
// store of --config-dir; the monitor service runs them on its own store for
// a client, which reads what only the user may read (the password from its
// standard input, a template file) and sends it along.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/common/setup_commands.h"
#include "notify/notifier.h"
#include "platform/settings_store.h"

namespace raid {

// Whether args[1] is one of these commands.
bool IsMailCommand(const std::vector<std::string>& args);
std::string MailUsage();

// What a client read on its side for the command.
struct MailInput {
  std::optional<std::string> password;      // --password-stdin's password
  std::optional<std::string> templateText;  // mail template's FILE, its bytes
  std::optional<std::string> caFile;        // mail set's --ca-file, checked, by its absolute name
};

// Runs a mail command; returns the exit code (0 done, 1 failed, 2 wrong
// use). store: the settings to edit, and then --config-dir is refused and
// nothing is read from standard input or a named file (the input comes in
// `input`); null: the store of --config-dir, input read here.
int RunMailCommand(const std::vector<std::string>& args, CommandOutput& out, const MailInput& input = {},
                   SettingsStore* store = nullptr);

// A client's side of a mail command sent to the monitor service: reads the
// password and the template file as RunMailCommand would, into `input`.
// Returns the exit code when the command has ended here (help, or a
// mistake it found), nothing when it goes to the service.
std::optional<int> GatherMailInput(const std::vector<std::string>& args, CommandOutput& out, MailInput& input);

// What a test mail's sending printed and its exit code, from the panel
// texts (connection, transfer) already written to out and the outcome.
int TestMailResult(const SmtpOutcome& outcome, CommandOutput& out);

}  // namespace raid

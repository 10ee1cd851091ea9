// raidctl's mail commands: the notification settings of a machine without a
// desktop (show, set, recipients, templates), a test mail and the system
// information block the mails carry. They edit the same store through the
// same E-mail page model and OK as the window. raidctl runs them on the
// store of --config-dir; the monitor service runs them on its own store for
// a client, which reads what only the user may read (the password from its
// standard input, a template file) and sends it along.
#pragma once

#include <optional>
#include <utility>
#include <string>
#include <vector>

#include "app/common/setup_commands.h"

namespace CLI {
class App;
}
#include "notify/notifier.h"
#include "platform/settings_store.h"

namespace raid {

class CommandLine;

// A mail command as read from a command line.
struct MailWords {
  std::string command;  // mail, test-mail, system-info
  std::string sub;      // mail's show, set, recipients or template
  std::string configDir;
  bool configGiven = false;
  // mail set's options given, in the order they are applied (the value of
  // --password-stdin is empty).
  std::vector<std::pair<std::string, std::string>> set;
  std::vector<std::string> words;  // recipients: add|remove ADDR; template: 1|2 subject|contents FILE
  // The words after "mail" as the monitor service is sent them.
  std::vector<std::string> ServiceWords() const;
};

// The mail commands in a command-line table (raidctl's, or the one the
// monitor service reads a client's words with); the values are kept here
// until Finish.
class MailTable {
 public:
  void Add(CommandLine& line, CLI::App& root);
  // After a parse that chose one of these commands: the command, or the
  // mistake (empty when there is none).
  std::string Finish(const CommandLine& line, const std::string& configDir, MailWords& w) const;

 private:
  std::string server_, port_, name_, address_, timeout_, auth_, caFile_, tls_, retry_, reminder_;
  bool passwordStdin_ = false;
  std::string action_, mailbox_, category_, part_, file_;
};

bool IsMailCommand(const std::string& command);

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
int RunMailWords(const MailWords& w, CommandOutput& out, const MailInput& input = {}, SettingsStore* store = nullptr);
// The same from the command's words ({"raidctl", "mail", "set", ...}), as
// the monitor service gets them from a client.
int RunMailCommand(const std::vector<std::string>& args, CommandOutput& out, const MailInput& input = {},
                   SettingsStore* store = nullptr);

// A client's side of a mail command sent to the monitor service: reads the
// password and the template file as RunMailCommand would, into `input`.
// Returns the exit code when the command has ended here (help, or a
// mistake it found), nothing when it goes to the service.
std::optional<int> GatherMailInput(const MailWords& w, CommandOutput& out, MailInput& input);

// What a test mail's sending printed and its exit code, from the panel
// texts (connection, transfer) already written to out and the outcome.
int TestMailResult(const SmtpOutcome& outcome, CommandOutput& out);

}  // namespace raid

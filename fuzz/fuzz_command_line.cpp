// raidctl's command line from any words (split at NUL bytes), as a user
// types them and, for the mail commands, as the monitor service reads a
// client's words: a parse ends in going on (with a command), help or a
// usage error that says why; a mail command sent on to the service reads
// back there as the same command; completion never fails.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/raidctl/ctl_command_line.h"

using namespace raid;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args{"raidctl"};
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  args.push_back(word);
  if (args.size() > 40) return 0;
  (void)CompleteCtl({args.begin() + 1, args.end()});
  if (args[1] == "__complete") return 0;
  const CtlOptions o = ParseCtl(args);
  if (o.exit != -1 && o.exit != 0 && o.exit != 2) std::abort();
  if (o.exit == 2 && o.error.empty()) std::abort();
  if (o.exit == 0 && o.out.empty()) std::abort();
  if (o.exit == -1 && o.command.empty()) std::abort();
  if (o.exit == -1 && o.command == "mail") {
    std::vector<std::string> sent{"raidctl", "mail"};
    for (const std::string& w : o.mail.ServiceWords()) sent.push_back(w);
    const CtlOptions there = ParseCtl(sent);
    if (there.exit != -1 || there.mail.sub != o.mail.sub || there.mail.set != o.mail.set ||
        there.mail.words != o.mail.words)
      std::abort();
  }
  return 0;
}

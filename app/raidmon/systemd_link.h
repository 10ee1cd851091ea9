// raidmon under systemd: the two small protocols a service speaks.
//  - Readiness: "READY=1", "STOPPING=1", "STATUS=..." sent to the socket
//    named by $NOTIFY_SOCKET (a path, or "@name" in the abstract namespace).
//  - The journal's native socket: one datagram of "FIELD=value" lines per
//    entry, a value holding a newline sent in the length-prefixed form.
// Built with libsystemd (RAID_HAVE_LIBSYSTEMD), sd_notify and
// sd_journal_sendv speak them; without it (Windows, RAID_SYSTEMD=OFF) the
// datagrams are written here. Both do nothing where the socket is not there
// (not under systemd, or on another system), so the program runs the same
// everywhere.
#pragma once

#include <string>

namespace raid {

// Sends one state text to the service manager; false when there is none to
// tell or the send failed.
bool NotifyServiceManager(const std::string& state);

// The journal entry as the native protocol lays it out (exposed for tests).
std::string JournalDatagram(int priority, const std::string& identifier, const std::string& message);

// Where the system journal takes native entries.
inline constexpr const char* kSystemJournalSocket = "/run/systemd/journal/socket";

class JournalWriter {
 public:
  explicit JournalWriter(std::string identifier, std::string socketPath = kSystemJournalSocket);
  ~JournalWriter();
  JournalWriter(const JournalWriter&) = delete;
  JournalWriter& operator=(const JournalWriter&) = delete;

  // Whether a journal socket could be opened at all.
  bool Available() const { return fd_ >= 0; }
  // priority: syslog level 0-7 (clamped). False when the entry was not taken.
  bool Write(int priority, const std::string& message);

 private:
  std::string identifier_, path_;
  int fd_ = -1;
};

}  // namespace raid

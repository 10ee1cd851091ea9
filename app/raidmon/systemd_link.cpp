#include "app/raidmon/systemd_link.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifdef __linux__
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#ifdef RAID_HAVE_LIBSYSTEMD
#include <sys/uio.h>
// The entries carry the program's fields only, not the source file and line.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-daemon.h>
#include <systemd/sd-journal.h>
#endif

namespace raid {

namespace {

#ifdef __linux__
// Fills addr for a path or "@abstract" name; false when it does not fit.
bool Address(const std::string& name, sockaddr_un& addr, socklen_t& len) {
  std::memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  if (name.empty() || name.size() >= sizeof addr.sun_path) return false;
  if (name[0] != '/' && name[0] != '@') return false;
  std::memcpy(addr.sun_path, name.data(), name.size());
  if (name[0] == '@') addr.sun_path[0] = '\0';  // abstract: no terminating NUL counted
  len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + (name[0] == '@' ? 0 : 1));
  return true;
}

bool SendTo(int fd, const std::string& name, const std::string& data) {
  sockaddr_un addr{};
  socklen_t len = 0;
  if (!Address(name, addr, len)) return false;
  const ssize_t n = ::sendto(fd, data.data(), data.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), len);
  return n == static_cast<ssize_t>(data.size());
}
#endif

}  // namespace

bool NotifyServiceManager(const std::string& state) {
#if defined(RAID_HAVE_LIBSYSTEMD)
  // 0: no service manager to tell; below 0: an unusable address or a failed send.
  return ::sd_notify(0, state.c_str()) > 0;
#elif defined(__linux__)
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (!name || !*name) return false;
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = SendTo(fd, name, state);
  ::close(fd);
  return ok;
#else
  return false;
#endif
}

std::string JournalDatagram(int priority, const std::string& identifier, const std::string& message) {
  const int p = std::clamp(priority, 0, 7);
  std::string d = "PRIORITY=" + std::to_string(p) + "\nSYSLOG_IDENTIFIER=" + identifier + "\n";
  if (message.find('\n') == std::string::npos) {
    d += "MESSAGE=" + message + "\n";
  } else {
    // FIELD NEWLINE, the length as 64-bit little endian, the bytes, NEWLINE.
    d += "MESSAGE\n";
    uint64_t n = message.size();
    for (int i = 0; i < 8; ++i) d += static_cast<char>((n >> (8 * i)) & 0xFF);
    d += message + "\n";
  }
  return d;
}

JournalWriter::JournalWriter(std::string identifier, std::string socketPath)
    : identifier_(std::move(identifier)), path_(std::move(socketPath)) {
#ifdef __linux__
  if (::access(path_.c_str(), F_OK) == 0) fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
#endif
}

JournalWriter::~JournalWriter() {
#ifdef __linux__
  if (fd_ >= 0) ::close(fd_);
#endif
}

bool JournalWriter::Write(int priority, const std::string& message) {
#ifdef __linux__
  if (fd_ < 0) return false;
#ifdef RAID_HAVE_LIBSYSTEMD
  // The system journal through its library (which knows its socket); any
  // other socket (the tests' own) gets the datagram written here.
  if (path_ == kSystemJournalSocket) {
    const std::string fields[] = {"PRIORITY=" + std::to_string(std::clamp(priority, 0, 7)),
                                  "SYSLOG_IDENTIFIER=" + identifier_, "MESSAGE=" + message};
    iovec iov[3];
    for (size_t i = 0; i < 3; ++i) iov[i] = {const_cast<char*>(fields[i].data()), fields[i].size()};
    return ::sd_journal_sendv(iov, 3) == 0;
  }
#endif
  return SendTo(fd_, path_, JournalDatagram(priority, identifier_, message));
#else
  return false;
#endif
}

}  // namespace raid

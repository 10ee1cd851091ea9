// raidmon as a service: the readiness datagrams, the journal's native
// protocol and the priority each day log line gets there.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/common/log_event.h"
#include "app/raidmon/systemd_link.h"

namespace raid {
namespace {

// A datagram socket bound at a path in a fresh folder, as the service
// manager or the journal holds it.
class Listener {
 public:
  Listener() {
    dir_ = std::filesystem::temp_directory_path() / ("raid-svc-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "sock").string();
    std::filesystem::remove(path_);
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path_.c_str(), sizeof a.sun_path - 1);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }
  ~Listener() {
    ::close(fd_);
    std::filesystem::remove_all(dir_);
  }
  const std::string& Path() const { return path_; }
  // The next datagram; empty when none is waiting.
  std::string Receive() {
    char buf[4096];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  }

 private:
  std::filesystem::path dir_;
  std::string path_;
  int fd_ = -1;
};

TEST(ServiceTest, ReadinessGoesToTheNotifySocketOnlyWhenThereIsOne) {
  ::unsetenv("NOTIFY_SOCKET");
  EXPECT_FALSE(NotifyServiceManager("READY=1"));
  Listener manager;
  ::setenv("NOTIFY_SOCKET", manager.Path().c_str(), 1);
  EXPECT_TRUE(NotifyServiceManager("READY=1\nSTATUS=Monitoring"));
  EXPECT_TRUE(NotifyServiceManager("STOPPING=1"));
  EXPECT_EQ(manager.Receive(), "READY=1\nSTATUS=Monitoring");
  EXPECT_EQ(manager.Receive(), "STOPPING=1");
  // A relative or over-long name is not a socket address.
  ::setenv("NOTIFY_SOCKET", "relative/sock", 1);
  EXPECT_FALSE(NotifyServiceManager("READY=1"));
  ::setenv("NOTIFY_SOCKET", ("/" + std::string(200, 'x')).c_str(), 1);
  EXPECT_FALSE(NotifyServiceManager("READY=1"));
  ::unsetenv("NOTIFY_SOCKET");
}

TEST(ServiceTest, JournalEntriesInTheNativeLayout) {
  EXPECT_EQ(JournalDatagram(4, "raidmon", "D1 HDD2 was removed, 2010/05/03 09:00:06"),
            "PRIORITY=4\nSYSLOG_IDENTIFIER=raidmon\nMESSAGE=D1 HDD2 was removed, 2010/05/03 09:00:06\n");
  // A newline in the text: the length-prefixed form, 64-bit little endian.
  const std::string d = JournalDatagram(9, "raidmon", "a\nb");
  static const char kWant[] = "PRIORITY=7\nSYSLOG_IDENTIFIER=raidmon\nMESSAGE\n\x03\0\0\0\0\0\0\0a\nb\n";
  EXPECT_EQ(d, std::string(kWant, sizeof kWant - 1));

  Listener journal;
  JournalWriter w("raidmon", journal.Path());
  ASSERT_TRUE(w.Available());
  EXPECT_TRUE(w.Write(6, "hello"));
  EXPECT_EQ(journal.Receive(), "PRIORITY=6\nSYSLOG_IDENTIFIER=raidmon\nMESSAGE=hello\n");
  JournalWriter none("raidmon", journal.Path() + ".missing");
  EXPECT_FALSE(none.Available());
  EXPECT_FALSE(none.Write(6, "lost"));
}

TEST(ServiceTest, EachLogLineHasTheKindAndPriorityOfItsEvent) {
  struct Case {
    const char* line;
    LogEventKind kind;
    int priority;
    bool notified;
  };
  const Case cases[] = {
      {"D1 HDD2 was removed, 2010/05/03 09:00:06", LogEventKind::DriveRemoved, 4, true},
      {"D2 HDD1 was failed, Capacity too small.2010/05/03 09:00:14", LogEventKind::DriveFailed, 4, true},
      {"D1 HDD2 was inserted, 2010/05/03 09:00:20", LogEventKind::DriveInserted, 5, true},
      {"D1 HDD2 was initialized, (SATA 3.0Gbps), 2010/05/03", LogEventKind::DriveInitialized, 5, false},
      {"D1 HDD1 --> HDD2 Done, 2010/05/03 09:04:00", LogEventKind::ActivityFinished, 5, true},
      {"D1 HDD1 OK, HDD2 OK, 2010/05/03 09:04:00", LogEventKind::ActivityFinished, 5, true},
      {"D1 HDD1 --> HDD2 41%, 2010/05/03 09:00:04", LogEventKind::Other, 6, false},
      {"D1 HDD2 Scan User Abort, 2010/05/03", LogEventKind::ActivityAborted, 5, false},
      {"D1 HDD1 Bad Sector was found. 2010/05/03", LogEventKind::BadSectors, 4, false},
      {"D1 New Device was found.", LogEventKind::EnclosureFound, 5, true},
      {"D2 Device was removed.", LogEventKind::EnclosureRemoved, 4, true},
      {"  Model no.: ST1000DM003 was removed, ", LogEventKind::Other, 6, false},
      {"Device was removed.", LogEventKind::Other, 6, false},
      {"", LogEventKind::Other, 6, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyLogLine(c.line), c.kind) << c.line;
    EXPECT_EQ(LogLinePriority(c.line), c.priority) << c.line;
    EXPECT_EQ(IsNotifiedEvent(ClassifyLogLine(c.line)), c.notified) << c.line;
  }
}

}  // namespace
}  // namespace raid

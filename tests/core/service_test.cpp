// raidmon as a service: the readiness datagrams, the journal's native
// protocol and the priority each day log line gets there; the events behind
// the day log lines and what the journal and the tray make of them.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <map>
#include <random>

#include "app/common/log_event.h"
#include "app/common/service_mirror.h"
#include "app/common/status_report.h"
#include "app/raidmon/systemd_link.h"
#include "core_harness.h"
#include "day_log_text_rules.h"

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

// Records every day log line with its event and checks, as the lines
// arrive, that each event's lines are exactly its rendering, in order.
class EventRecorder final : public CoreView {
 public:
  void SetPanelText(StatusBarPanel, const std::string&) override {}
  BoxResult ShowMessage(const MessageBoxRequest&) override { return BoxResult::Ok; }
  void DayLogEntryAppended(const DayLogEntry& entry) override {
    lines.push_back(entry.line);
    if (!rest_.empty()) {
      // A detail line of the event whose headline came before.
      ASSERT_TRUE(entry.event) << entry.line;
      EXPECT_FALSE(entry.headline) << entry.line;
      EXPECT_EQ(entry.line, rest_.front());
      rest_.erase(rest_.begin());
    } else if (entry.event) {
      std::vector<std::string> r = DayLogLines(*entry.event, fmt.Stamp(entry.event->time));
      ASSERT_FALSE(r.empty());
      EXPECT_EQ(entry.line, r.front());
      EXPECT_EQ(entry.headline, HasHeadline(*entry.event));
      rest_.assign(r.begin() + 1, r.end());
      ++kinds[entry.event->kind];
    }
    // The journal and the tray from the event agree with the old text rules.
    const LogEventKind old = ClassifyLogLine(entry.line);
    EXPECT_EQ(JournalPriority(entry), LogLinePriority(entry.line)) << entry.line;
    const std::optional<TrayNotice> notice = TrayNoticeOf(entry);
    EXPECT_EQ(notice.has_value(), IsNotifiedEvent(old)) << entry.line;
    if (notice) {
      EXPECT_EQ(notice->title, LogEventTitle(old));
      EXPECT_EQ(notice->warning, old == LogEventKind::DriveRemoved || old == LogEventKind::DriveFailed ||
                                     old == LogEventKind::EnclosureRemoved);
    }
    // Reworded, the line keeps its priority and its notification.
    const std::string reworded = "D9 was removed, Device was removed. HDD1 OK, HDD2 OK, " + entry.line;
    const DayLogEntry other{reworded, entry.event, entry.headline};
    EXPECT_EQ(JournalPriority(other), JournalPriority(entry));
    EXPECT_EQ(TrayNoticeOf(other).has_value(), notice.has_value());
  }
  bool Between() const { return rest_.empty(); }
  FixedDateTimeFormat fmt;
  std::vector<std::string> lines;
  std::map<EventKind, int> kinds;

 private:
  std::vector<std::string> rest_;
};

TEST(ServiceTest, EveryEventLineIsItsEventRenderedAndItsPriorityAndNoticeFollowTheEvent) {
  const auto dir = test::TestDir();
  test::SimMachine m(test::Scenario(R"({"enclosures":[{"name":"A"},{"name":"B"}],
    "disks":[{"drive":0,"enclosure":"A"},{"drive":1,"enclosure":"B"}]})"));
  EventRecorder view;
  PageSelection pages;
  RaidCore core(m.io, m.clock, view.fmt, view, dir.string(), pages);
  CoreScheduler sched(core, m.clock, &m.clock, true, [&m] { m.io.Pump(); });
  m.io.Start([&core] { core.OnDeviceChange(); });
  core.Start();
  auto run = [&](int64_t ms) { sched.RunUntil(m.clock.MonotonicMs() + ms); };
  run(2000);
  // A long random story: drives come and go, fail and are initialised,
  // rebuilds and scans run, end or are stopped, bad sectors are counted,
  // and one enclosure is unplugged and plugged in again.
  std::mt19937 rng(23);
  const uint8_t nibbles[] = {0, status::kInserted, status::kPresent, status::kAbsent, status::kFailed};
  const uint8_t activities[] = {0, 0, 0x01, 0x02, 0x81, 0x82};
  bool bPlugged = true;
  for (int round = 0; round < 400; ++round) {
    for (const char* name : {"A", "B"}) {
      sim::Enclosure& e = *m.io.FindEnclosure(name);
      Sector& rec = e.Status();
      if (rng() % 3 == 0) rec[status::kState] = static_cast<uint8_t>(nibbles[rng() % 5] | nibbles[rng() % 5] << 4);
      if (rng() % 4 == 0) rec[status::kState] = status::kBothPresent;
      if (rng() % 3 == 0) rec[status::kActivity] = activities[rng() % 6];
      rec[status::kProgress] = static_cast<uint8_t>(rng() % 3 == 0 ? 99 : rng() % 100);
      if (rng() % 5 == 0) {
        rec[status::kActivity] |= static_cast<uint8_t>(rng() % 4) << 2;  // bad sector flags
        rec[status::kBadCount] = static_cast<uint8_t>(rec[status::kBadCount] + rng() % 14);
        for (size_t k = 0; k < 40; ++k) rec[status::kBadRing + k] = static_cast<uint8_t>(rng());
      }
      e.LogStatus();
    }
    if (rng() % 8 == 0) core.RequestScan({.slot = 0, .drive = 0, .stop = true});
    if (rng() % 25 == 0) m.io.SetPlugged("B", bPlugged = !bPlugged);
    run(1000 + static_cast<int64_t>(rng() % 4000));
  }
  EXPECT_TRUE(view.Between());
  // Every line of the day log reached the view, each once.
  EXPECT_EQ(view.lines, core.Log().DayLog());
  for (EventKind k :
       {EventKind::EnclosureFound, EventKind::EnclosureRemoved, EventKind::EnclosureListChanged,
        EventKind::DriveRemoved, EventKind::DriveInitialized, EventKind::DriveFailed, EventKind::DriveInserted,
        EventKind::ActivityProgress, EventKind::ActivityFinished, EventKind::ScanAborted, EventKind::BadSectors})
    EXPECT_GT(view.kinds[k], 0) << static_cast<int>(k);
  std::filesystem::remove_all(dir);
}

// A window's core on the mirror of the monitor's enclosures draws the
// Status page the monitor's own core draws: at checkpoints through a
// drive's removal, its return, the rebuild and a bad-sector scan, and
// across the enclosure leaving and coming back.
TEST(ServiceMirror, AWindowOnTheMirrorDrawsWhatTheMonitorDraws) {
  std::ifstream in(std::string(RAID_TEST_DATA) + "/../../scenarios/removal-rebuild-badsectors.json");
  const std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  test::Harness monitor(json);
  ManualClock clock(LocalDateTime{2010, 5, 3, 9, 0, 0, 0});
  sim::SimDeviceIo io(clock, ServiceMirror::MirrorScenario());
  ServiceMirror mirror(io);
  test::HarnessView view;
  PageSelection pages;
  const auto dir = test::TestDir() / "window";
  std::filesystem::create_directories(dir);
  FixedDateTimeFormat fmt;
  RaidCore window(io, clock, fmt, view, dir.string(), pages);
  CoreScheduler sched(window, clock, &clock, true, [&io] { io.Pump(); });
  io.Start([&window] { window.OnDeviceChange(); });
  window.Start();
  auto shown = [](const RaidCore& c) {
    const StatusPageModel& m = c.StatusModel();
    std::string t;
    for (const LabelModel* l :
         {&m.ModeText, &m.ArrayCapacityText, &m.Hdd1CapacityText, &m.Hdd1IdentityText, &m.Hdd2CapacityText,
          &m.Hdd2IdentityText, &m.StateText, &m.FirmwareVersionText, &m.FanSpeedText, &m.TemperatureText})
      t += l->text + "|" + std::to_string(static_cast<int>(l->color)) + "|" + (l->enabled ? "on" : "off") + "\n";
    t += std::to_string(m.Hdd1ScanButtonVisible) + std::to_string(m.Hdd2ScanButtonVisible) + m.Hdd1ScanButtonCaption +
         m.Hdd2ScanButtonCaption + std::to_string(m.BuzzerMuteChecked) + std::to_string(m.AutoScanChecked);
    return t;
  };
  std::set<std::string> states;
  for (int step = 0; step < 40; ++step) {
    // The monitor goes on; the window catches up with what it published.
    monitor.RunFor(4000);
    if (step == 30) monitor.m.io.SetPlugged("E1", false);
    if (step == 34) monitor.m.io.SetPlugged("E1", true);
    ASSERT_TRUE(mirror.Apply(MirrorDocument(monitor.core)));
    sched.RunUntil(clock.MonotonicMs() + 12000);
    ASSERT_EQ(window.Devices().DeviceCount, monitor.core.StatusRecordRead(0) ? monitor.core.Devices().DeviceCount : 0)
        << "step " << step;
    if (window.Devices().DeviceCount == 0) continue;
    ASSERT_EQ(shown(window), shown(monitor.core)) << "step " << step;
    states.insert(shown(monitor.core));
  }
  // The walk saw the page change: removal, rebuild, scan.
  EXPECT_GE(states.size(), 5u);
  // Nothing the mirror is given breaks it or changes what it shows.
  for (const char* bad : {R"({"enclosures": 3})", R"({"enclosures": [{"drive": 12}]})",
                          R"({"enclosures": [{"drive": 0, "transport": "usb", "ident": "", "record": null}]})",
                          R"({"enclosures": [{"drive": 0, "transport": "read58", "ident": "AAAA", "record": null}]})"})
    EXPECT_FALSE(mirror.Apply(nlohmann::json::parse(bad))) << bad;
  EXPECT_EQ(shown(window), shown(monitor.core));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace raid

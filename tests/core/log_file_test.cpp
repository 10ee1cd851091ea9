// The day file survives failed saves, unreadable and oversized files,
// removed files, planted links and other writers; no line leaves the
// buffer before it is on disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "core_harness.h"
#include "device/record_layout.h"
#include "monitor/day_log_file.h"
#include "monitor/log_fallback.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using test::Harness;
using test::kOneEnclosure;

// A disk that takes no more than `bytes` per file while it lives (a full
// disk, also for root): writes beyond fail with EFBIG.
struct DiskFull {
  explicit DiskFull(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit l = saved;
    l.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &l);
  }
  ~DiskFull() { setrlimit(RLIMIT_FSIZE, &saved); }
  rlimit saved{};
};

size_t Count(const std::vector<std::string>& lines, const std::string& what) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), what));
}
bool Has(const std::vector<std::string>& lines, const std::string& what) { return Count(lines, what) > 0; }

TEST(DayFileSafety, FailedSaveLeavesThePreviousFileAndKeepsEveryLine) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  const auto before = h.DayFile();
  ASSERT_EQ(before.size(), 15u);
  {
    DiskFull full(100);
    h.Set(status::kState, 0x24);
    h.RunFor(4000);
    EXPECT_EQ(h.DayFile(), before);
    EXPECT_EQ(h.view.panels[4].rfind("Log file cannot be saved", 0), 0u);
    EXPECT_EQ(h.core.Log().DayLog().size(), 16u);
    EXPECT_EQ(h.core.Log().UnsavedLineCount(), 1u);
  }
  // The disk has room again: the next pass saves everything, unasked.
  h.view.panels[4].clear();
  h.RunFor(4000);
  const auto after = h.DayFile();
  ASSERT_EQ(after.size(), 16u);
  EXPECT_EQ(after[15], "D1 HDD1 was removed, 2010/05/03 9:00:04");
  EXPECT_EQ(h.core.Log().UnsavedLineCount(), 0u);
  // No temporary file is left behind.
  for (const auto& e : fs::directory_iterator(h.dir)) EXPECT_EQ(e.path().extension(), ".log") << e.path();
}

TEST(DayFileSafety, NotesAreStampedSavedAtOnceAndWaitForTheFirstPass) {
  Harness h(kOneEnclosure);
  // Before the first pass a note waits, and comes after the start block.
  h.core.Log().AppendNote("Mail: early");
  h.RunFor(1000);
  auto lines = h.DayFile();
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[15], "Mail: early, 2010/05/03 9:00:00");  // stamped when noted
  // Later notes reach the file without waiting for a pass.
  h.m.clock.Advance(500);
  h.core.Log().AppendNote("Mail: the notification was sent (try 2)");
  lines = h.DayFile();
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[16], "Mail: the notification was sent (try 2), 2010/05/03 9:00:01");
  // The file removed meanwhile: the next pass writes the enclosure block again.
  fs::remove(h.core.Log().LogPath(h.m.clock.Now()));
  h.core.Log().AppendNote("Mail: after removal");
  h.RunFor(4000);
  lines = h.DayFile();
  EXPECT_TRUE(Has(lines, "Mail: after removal, 2010/05/03 9:00:01"));
  EXPECT_GT(lines.size(), 10u) << "the enclosure block was not written again";
}

TEST(DayFileSafety, UnsavedDayIsNotThrownAwayWhenItsFileNeverAppeared) {
  Harness h(kOneEnclosure);
  const std::string path = h.core.Log().LogPath({2010, 5, 3});
  {
    DiskFull full(0);
    h.RunFor(1000);
    EXPECT_FALSE(FileExists(path));
    h.Set(status::kState, 0x24);
    h.RunFor(4000);
  }
  h.Set(status::kState, 0x22);
  h.RunFor(4000);
  const auto lines = h.DayFile();
  ASSERT_GE(lines.size(), 17u);
  EXPECT_EQ(lines[1], "RAID GUI v0.23-1 has started from 2010/05/03 9:00:00");
  EXPECT_EQ(lines[15], "D1 HDD1 was removed, 2010/05/03 9:00:04");
}

TEST(DayFileSafety, FileRemovedWhileSavesFailKeepsTheUnsavedLines) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  const std::string path = h.core.Log().LogPath({2010, 5, 3});
  {
    DiskFull full(0);
    h.Set(status::kState, 0x24);
    h.RunFor(4000);
    fs::remove(path);  // the user removes the day file meanwhile
    h.RunFor(8000);
    EXPECT_EQ(h.core.Log().DayLog()[0], "D1 HDD1 was removed, 2010/05/03 9:00:04");
  }
  h.RunFor(4000);
  const auto lines = h.DayFile();
  ASSERT_FALSE(lines.empty());
  // The removed file's lines are gone with it; the unsaved one is not, and
  // the day restarts after it with one dash line and report.
  EXPECT_EQ(lines[0], "D1 HDD1 was removed, 2010/05/03 9:00:04");
  EXPECT_EQ(lines[1], EventLog::DashLine());
  EXPECT_EQ(Count(lines, "Device1 information :"), 1u);
}

TEST(DayFileSafety, DayFileThatCanNeverBeCreatedKeepsTheDayAndBoundsTheBuffer) {
  Harness h(kOneEnclosure);
  const std::string path = h.core.Log().LogPath({2010, 5, 3});
  fs::create_directory(path);  // a folder in the file's place
  h.core.Log().SetUnsavedLimit(40);
  h.RunFor(60000);
  // One start, one report: the same day goes on, not a new one every poll.
  EXPECT_EQ(Count(h.view.appended, EventLog::DashLine()), 2u);
  EXPECT_EQ(Count(h.view.appended, "Device1 information :"), 1u);
  EXPECT_EQ(h.core.Log().DayLog().size(), 15u);
  for (int i = 0; i < 12; ++i) {  // 12 x (1 + 4) event lines
    h.Set(status::kState, 0x24);
    h.RunFor(4000);
    h.Set(status::kState, 0x22);
    h.RunFor(4000);
  }
  const auto& buf = h.core.Log().DayLog();
  ASSERT_EQ(buf.size(), 40u);
  EXPECT_EQ(buf[0], "*** 36 log lines could not be saved and were dropped ***");
  EXPECT_EQ(buf.back(), "  Capacity : 931 GB(1953525168 Sectors)");
  EXPECT_EQ(h.core.Log().DroppedLines(), 36u);
  EXPECT_NE(h.view.panels[4].find("dropped"), std::string::npos);
  // The folder goes: everything kept reaches the file, the counting line first.
  fs::remove(path);
  h.RunFor(4000);
  EXPECT_EQ(h.DayFile(), buf);
  EXPECT_EQ(h.DayFile()[0].substr(0, 7), "*** 36 ");
}

TEST(DayFileSafety, UnsavedLinesOfADayReachTheirOwnFileAfterMidnight) {
  Harness h(kOneEnclosure, {2010, 5, 3, 23, 59, 0, 0});
  h.RunFor(1000);
  {
    DiskFull full(0);
    h.Set(status::kState, 0x24);
    h.RunFor(4000);
    h.RunFor(60000);  // past midnight, saves still failing
    EXPECT_GE(h.core.Log().Unsaved().size(), 2u);
  }
  h.RunFor(4000);
  const auto first = h.DayFile({2010, 5, 3});
  ASSERT_EQ(first.size(), 16u);
  EXPECT_EQ(first[15], "D1 HDD1 was removed, 2010/05/03 23:59:04");
  const auto second = h.DayFile({2010, 5, 4});
  ASSERT_FALSE(second.empty());
  EXPECT_FALSE(Has(second, first[15]));
  EXPECT_EQ(h.core.Log().UnsavedLineCount(), 0u);
}

TEST(DayFileSafety, FileChangedUnderUsIsMergedNotOverwritten) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  const std::string path = h.core.Log().LogPath({2010, 5, 3});
  {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << "a line of another writer\r\n";
  }
  h.Set(status::kState, 0x24);
  h.RunFor(4000);
  const auto lines = h.DayFile();
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[15], "a line of another writer");
  EXPECT_EQ(lines[16], "D1 HDD1 was removed, 2010/05/03 9:00:04");
  EXPECT_EQ(h.core.Log().DayLog(), lines);
}

TEST(DayFileSafety, PlantedLinksAreReplacedNeverFollowed) {
  Harness h(kOneEnclosure);
  const fs::path outside = h.dir.parent_path() / (h.dir.filename().string() + "-outside");
  fs::create_directories(outside);
  const auto write = [](const fs::path& p, const std::string& text) { std::ofstream(p, std::ios::binary) << text; };
  const auto read = [](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  write(outside / "victim", "precious\n");
  write(outside / "secret", "secret text\n");
  const std::string path = h.core.Log().LogPath({2010, 5, 3});
  // The old fixed temporary name, and the day file itself, as links.
  fs::create_symlink(outside / "victim", path + ".new");
  fs::create_symlink(outside / "secret", path);
  h.RunFor(1000);
  h.Set(status::kState, 0x24);
  h.RunFor(4000);
  EXPECT_EQ(read(outside / "victim"), "precious\n");
  EXPECT_EQ(read(outside / "secret"), "secret text\n");
  EXPECT_FALSE(Has(h.core.Log().DayLog(), "secret text"));
  EXPECT_TRUE(fs::is_symlink(path + ".old1"));  // the link itself was moved aside
  EXPECT_FALSE(fs::is_symlink(path));
  EXPECT_EQ(h.DayFile().back(), "D1 HDD1 was removed, 2010/05/03 9:00:04");
  fs::remove_all(outside);
}

TEST(DayFileSafety, OneWriterPerLogFolder) {
  const fs::path dir = test::TestDir();
  FolderLock first, second;
  ASSERT_TRUE(first.Acquire(dir.string()));
  const Outcome held = second.Acquire(dir.string());
  EXPECT_FALSE(held);
  EXPECT_TRUE(second.HeldElsewhere());
  EXPECT_EQ(held.error(), "another copy is writing its day log in " + dir.string());
  first.Release();
  EXPECT_TRUE(second.Acquire(dir.string()));
  FolderLock missing;
  EXPECT_FALSE(missing.Acquire((dir / "nothing-here").string()));
  EXPECT_FALSE(missing.HeldElsewhere());
  fs::remove_all(dir);
}

TEST(DayFileSafety, UnsavedLinesAtExitGoToTheDaysFileInTheStateFolder) {
  const fs::path dir = test::TestDir();
  const std::vector<EventLog::UnsavedDay> days = {{"/logs/100503.log", {"a", "b"}}, {"/logs/100504.log", {"c"}}};
  const FallbackResult r = WriteFallbackFiles(days, (dir / "state" / "raidgui").string());
  ASSERT_TRUE(r.ok()) << r.error();
  EXPECT_EQ(r.lines, 3u);
  ASSERT_EQ(r.files.size(), 2u);
  EXPECT_EQ(r.files[0], (dir / "state" / "raidgui" / "100503.log.unsaved-1").string());
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadTextLines(r.files[0], lines).ok());
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b"}));
  // A second exit adds to the day's file, never over it and never through a
  // link planted at the next day's name.
  fs::remove(dir / "state" / "raidgui" / "100504.log.unsaved-1");
  fs::create_symlink(dir / "elsewhere", dir / "state" / "raidgui" / "100504.log.unsaved-1");
  const FallbackResult again = WriteFallbackFiles(days, (dir / "state" / "raidgui").string());
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again.files[0], r.files[0]);
  ASSERT_TRUE(ReadTextLines(r.files[0], lines).ok());
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "a", "b"}));
  EXPECT_EQ(again.files[1], (dir / "state" / "raidgui" / "100504.log.unsaved-2").string());
  EXPECT_FALSE(fs::exists(dir / "elsewhere"));
  EXPECT_EQ(FallbackMessage(r, "/logs"),
            "3 log lines could not be saved to /logs; they are in " + r.files[0] + ", " + r.files[1]);
  // Nowhere to go: said, not hidden.
  fs::create_directories(dir / "file");
  std::ofstream(dir / "file" / "x") << "x";
  const FallbackResult none = WriteFallbackFiles(days, (dir / "file" / "x" / "raidgui").string());
  EXPECT_FALSE(none.ok());
  EXPECT_NE(FallbackMessage(none, "/logs").find("nor set aside"), std::string::npos);
  fs::remove_all(dir);
}

TEST(DayFileSafety, EarlierLinesOfTheDayAreKeptAndCrLfEnded) {
  Harness probe(kOneEnclosure);
  const std::string path = probe.core.Log().LogPath({2010, 5, 3});
  {
    std::ofstream out(path, std::ios::binary);
    out << "earlier line one\r\nearlier line two\n";
  }
  probe.RunFor(1000);
  const auto lines = probe.DayFile();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "earlier line one");
  EXPECT_EQ(lines[1], "earlier line two");
  std::ifstream in(path, std::ios::binary);
  std::string raw((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(raw.substr(0, 18), "earlier line one\r\n");
  EXPECT_EQ(raw.substr(raw.size() - 2), "\r\n");
}

TEST(DayFileSafety, OversizedDayFileIsKeptAsideAndNeverLoaded) {
  Harness h(kOneEnclosure);
  const std::string path = h.core.Log().LogPath({2010, 5, 3});
  {
    std::ofstream out(path, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(kMaxDayLogBytes) + 10);
    out.put('x');
  }
  h.RunFor(1000);
  EXPECT_TRUE(FileExists(path + ".old1"));
  EXPECT_EQ(fs::file_size(path + ".old1"), kMaxDayLogBytes + 11);
  EXPECT_EQ(h.DayFile().size(), 15u);
  EXPECT_NE(h.view.panels[4].find("kept as"), std::string::npos);
}

TEST(DayFileSafety, LinesAreReadWithAnyLineEnd) {
  const fs::path dir = test::TestDir();
  const std::string p = (dir / "x.log").string();
  {
    std::ofstream out(p, std::ios::binary);
    out << "a\r\nb\rc\nd";
  }
  std::vector<std::string> lines;
  ASSERT_TRUE(ReadTextLines(p, lines).ok());
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_FALSE(ReadTextLines((dir / "missing.log").string(), lines).ok());
  fs::remove_all(dir);
}

// --keep-days over random days and spans (month ends, leap days, the turn
// of the century of the two-digit years): exactly the day files dated more
// than N days back go; every other name, a link (and its target) and a
// folder named like a day file stay.
TEST(DayFileRetention, OnlyDayFilesOlderThanTheSpanGo) {
  using namespace std::chrono;
  const fs::path dir = test::TestDir();
  const fs::path outside = dir.parent_path() / (dir.filename().string() + "-target.log");
  std::ofstream(outside) << "not ours to remove";
  auto nameOf = [](sys_days d) {
    const year_month_day ymd{d};
    char name[16];
    std::snprintf(name, sizeof name, "%02d%02u%02u.log", static_cast<int>(ymd.year()) % 100,
                  static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
    return std::string(name);
  };
  std::mt19937 rng(26);
  for (int round = 0; round < 20; ++round) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    const sys_days today = sys_days{2000y / 1 / 1} + days{std::uniform_int_distribution<int>(0, 36000)(rng)};
    const int keep = std::uniform_int_distribution<int>(1, 400)(rng);
    for (sys_days d = today - days{keep + 40}; d <= today + days{3}; d += days{1})
      if (d >= sys_days{2000y / 1 / 1}) std::ofstream(dir / nameOf(d)) << "x\r\n";
    const std::vector<std::string> others = {"000230.log",           "991332.log", "1005031.log",   "100503.log.old1",
                                             "100503.log.unsaved-1", "abcdef.log", ".raidlog.lock", "unsent-mail.conf"};
    for (const std::string& n : others) std::ofstream(dir / n) << "x";
    const std::string old = nameOf(today - days{keep + 1});
    fs::remove(dir / old);
    fs::create_symlink(outside, dir / old);
    fs::remove(dir / nameOf(today - days{keep + 2}));
    fs::create_directories(dir / nameOf(today - days{keep + 2}));

    const year_month_day t{today};
    const LocalDateTime now{static_cast<int>(t.year()), static_cast<int>(static_cast<unsigned>(t.month())),
                            static_cast<int>(static_cast<unsigned>(t.day())), 12};
    std::string error;
    const std::vector<std::string> removed = RemoveOldDayLogs(dir.string(), keep, now, error);
    EXPECT_EQ(error, "");
    for (const std::string& n : removed) EXPECT_FALSE(fs::exists(fs::symlink_status(dir / n))) << n;
    for (sys_days d = today - days{keep + 40}; d <= today + days{3}; d += days{1}) {
      if (d < sys_days{2000y / 1 / 1}) continue;
      const std::string n = nameOf(d);
      const bool kept = fs::exists(fs::symlink_status(dir / n));
      if (n == old || d == today - days{keep + 2})
        EXPECT_TRUE(kept) << n << " (a link or a folder)";
      else
        EXPECT_EQ(kept, d >= today - days{keep}) << n << ", today " << nameOf(today) << ", keep " << keep;
    }
    for (const std::string& n : others) EXPECT_TRUE(fs::exists(dir / n)) << n;
    // 0 keeps everything.
    const size_t before = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    EXPECT_TRUE(RemoveOldDayLogs(dir.string(), 0, now, error).empty());
    EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator())), before);
  }
  EXPECT_TRUE(fs::exists(outside));
  fs::remove(outside);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace raid

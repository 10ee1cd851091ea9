// The day file survives failed saves, unreadable and oversized files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core_harness.h"
#include "device/record_layout.h"

namespace raid {
namespace {

namespace fs = std::filesystem;
using test::Harness;
using test::kOneEnclosure;

TEST(DayFileSafety, FailedSaveLeavesThePreviousFileAndKeepsEveryLine) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  const auto before = h.DayFile();
  ASSERT_EQ(before.size(), 15u);
  // The next save cannot write its new file (as if killed or the disk full).
  const std::string path = h.core.log.LogPath({2010, 5, 3});
  fs::create_directory(path + ".new");
  h.Set(status::kState, 0x24);
  h.RunFor(4000);
  EXPECT_EQ(h.DayFile(), before);
  EXPECT_EQ(h.view.panels[4].rfind("Log file cannot be saved", 0), 0u);
  EXPECT_EQ(h.core.log.DayLog.size(), 16u);
  // The way clears: the next pass that writes saves everything.
  fs::remove(path + ".new");
  h.view.panels[4].clear();
  h.Set(status::kState, 0x22);
  h.RunFor(4000);
  const auto after = h.DayFile();
  ASSERT_GE(after.size(), 17u);
  EXPECT_EQ(after[15], "D1 HDD1 was removed, 2010/05/03 9:00:04");
}

TEST(DayFileSafety, UnsavedDayIsNotThrownAwayWhenItsFileNeverAppeared) {
  Harness h(kOneEnclosure);
  const std::string path = h.core.log.LogPath({2010, 5, 3});
  fs::create_directory(path + ".new");
  h.RunFor(1000);
  EXPECT_FALSE(FileExists(path));
  h.Set(status::kState, 0x24);
  h.RunFor(4000);
  fs::remove(path + ".new");
  h.Set(status::kState, 0x22);
  h.RunFor(4000);
  const auto lines = h.DayFile();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], "RAID GUI v0.23-1 has started from 2010/05/03 9:00:00");
}

TEST(DayFileSafety, EarlierLinesOfTheDayAreKeptAndCrLfEnded) {
  Harness probe(kOneEnclosure);
  const std::string path = probe.core.log.LogPath({2010, 5, 3});
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
  const std::string path = h.core.log.LogPath({2010, 5, 3});
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
  ASSERT_TRUE(ReadTextLines(p, lines).ok);
  EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_FALSE(ReadTextLines((dir / "missing.log").string(), lines).ok);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace raid

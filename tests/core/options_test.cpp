// Command-line options: every value is checked before anything starts, and
// a mistake is named with the option it belongs to (exit code 2).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "app/common/options.h"

namespace raid {
namespace {

std::string ErrorOf(std::vector<std::string> args, bool allowDuration = true) {
  args.insert(args.begin(), "raidmon");
  return ParseOptions(args, allowDuration).error;
}

TEST(OptionValues, DurationIsAPlainFiniteNumberOfSeconds) {
  // NaN used to pass every comparison and run forever.
  for (const char* bad : {"nan", "NaN", "inf", "-inf", "-0", "-5", "+5", "1e400", "0x10", " 5", "5 ", "5s", "", ".",
                          "1.2.3", "316224001", "99999999999999999999"}) {
    const std::string e = ErrorOf({"--duration", bad});
    EXPECT_NE(e.find("--duration"), std::string::npos) << "accepted \"" << bad << "\": " << e;
  }
  for (const auto& [text, seconds] : std::vector<std::pair<std::string, double>>{
           {"0", 0}, {"12.5", 12.5}, {".5", 0.5}, {"7.", 7}, {"316224000", 316224000}}) {
    const auto o = ParseOptions({"raidmon", "--duration", text}, true);
    EXPECT_EQ(o.error, "") << text;
    EXPECT_DOUBLE_EQ(o.duration, seconds) << text;
  }
}

TEST(OptionValues, EmptyNamesAndFilesWhereFoldersBelongAreRefused) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-option-values";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "plain.txt").string();
  std::ofstream(file) << "x";
  // An empty folder used to mean "beside the program" without a word.
  EXPECT_NE(ErrorOf({"--log-dir", ""}).find("--log-dir"), std::string::npos);
  EXPECT_NE(ErrorOf({"--log-dir", file}).find("not a folder"), std::string::npos);
  EXPECT_NE(ErrorOf({"--simulate", "--trace", ""}).find("--trace"), std::string::npos);
  EXPECT_NE(ErrorOf({"--simulate", "--trace", dir.string()}).find("folder"), std::string::npos);
  EXPECT_NE(ErrorOf({"--simulate", ""}).find("--simulate"), std::string::npos);
  EXPECT_NE(ErrorOf({"--simulate", dir.string()}).find("folder"), std::string::npos);
  // A missing log folder is created later; a missing trace file is written.
  EXPECT_EQ(ErrorOf({"--simulate", "--log-dir", (dir / "new").string(), "--trace", (dir / "t.txt").string()}), "");
  std::filesystem::remove_all(dir);
}

#ifndef _WIN32
TEST(SharedFolders, AFolderOthersMayWriteIsRefusedWithTheReason) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-shared-folders";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "open");
  std::filesystem::create_directories(dir / "sticky");
  std::filesystem::create_directories(dir / "ours");
  ::chmod((dir / "open").c_str(), 0777);
  ::chmod((dir / "sticky").c_str(), 01777);
  ::chmod((dir / "ours").c_str(), 0755);
  for (const char* option : {"--log-dir", "--config-dir"}) {
    const std::string e = ErrorOf({option, (dir / "open").string()});
    EXPECT_NE(e.find(option), std::string::npos) << e;
    EXPECT_NE(e.find("other users may write"), std::string::npos) << e;
    EXPECT_EQ(ErrorOf({option, (dir / "sticky").string()}), "");
    EXPECT_EQ(ErrorOf({option, (dir / "ours").string()}), "");
    EXPECT_EQ(ErrorOf({option, (dir / "ours" / "new").string()}), "");
    // Whoever may write the parent could put a folder of theirs in its place.
    std::filesystem::create_directories(dir / "open" / "sub");
    EXPECT_NE(ErrorOf({option, (dir / "open" / "sub").string()}).find("its parent folder"), std::string::npos);
    EXPECT_EQ(ErrorOf({option, (dir / "sticky" / "sub").string()}), "");
  }
  // Another user's folder or link, where root can hand one to nobody.
  if (::geteuid() == 0) {
    std::filesystem::create_directory_symlink(dir / "ours", dir / "link");
    ASSERT_EQ(::lchown((dir / "link").c_str(), 65534, 65534), 0);
    EXPECT_NE(ErrorOf({"--config-dir", (dir / "link").string()}).find("a link another user owns"), std::string::npos);
    ASSERT_EQ(::chown((dir / "ours").c_str(), 65534, 65534), 0);
    EXPECT_NE(ErrorOf({"--log-dir", (dir / "ours").string()}).find("another user"), std::string::npos);
  }
  std::filesystem::remove_all(dir);
}

TEST(TraceFile, ANewFileOnlyNeverALinkNorAFileThatIsThere) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-trace-file";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  auto machineWithTrace = [](const std::string& trace, std::string& error) {
    ProgramOptions opt = ParseOptions({"raidmon", "--simulate", "--trace", trace}, true);
    EXPECT_EQ(opt.error, "");
    Machine m;
    return BuildMachine(opt, m, error);
  };
  std::string error;
  // A new file is made, the owner's alone.
  ASSERT_TRUE(machineWithTrace((dir / "new.trace").string(), error)) << error;
  struct stat st {};
  ASSERT_EQ(::stat((dir / "new.trace").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A file that is there keeps its bytes; a link is not followed to its target.
  std::ofstream(dir / "kept.txt") << "precious";
  std::filesystem::create_symlink(dir / "kept.txt", dir / "link.trace");
  std::filesystem::create_symlink(dir / "absent.txt", dir / "dangling.trace");
  for (const char* name : {"kept.txt", "link.trace", "dangling.trace", "new.trace"}) {
    EXPECT_FALSE(machineWithTrace((dir / name).string(), error)) << name;
    EXPECT_NE(error.find("trace file"), std::string::npos) << error;
  }
  std::ifstream in(dir / "kept.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "precious");
  EXPECT_FALSE(std::filesystem::exists(dir / "absent.txt"));
  std::filesystem::remove_all(dir);
}
#endif

TEST(OptionValues, AnOptionGivenTwiceIsRefused) {
  EXPECT_NE(ErrorOf({"--log-dir", "a", "--log-dir", "b"}).find("--log-dir"), std::string::npos);
  EXPECT_NE(ErrorOf({"--simulate", "a.json", "--simulate"}).find("--simulate"), std::string::npos);
  EXPECT_NE(ErrorOf({"--duration", "1", "--duration", "2"}).find("--duration"), std::string::npos);
  EXPECT_NE(ErrorOf({"--simulate", "a.json", "b.json"}).find("b.json"), std::string::npos);
}

TEST(OptionValues, VerboseIsTheMonitorsAndTheLogFolderIsSaidAbsolute) {
  EXPECT_TRUE(ParseOptions({"raidmon", "--simulate", "--verbose"}, true).verbose);
  EXPECT_FALSE(ParseOptions({"raidmon", "--simulate"}, true).verbose);
  EXPECT_NE(ErrorOf({"--verbose"}, false).find("--verbose"), std::string::npos);  // not the window's
  EXPECT_NE(ErrorOf({"--verbose", "--verbose"}).find("given twice"), std::string::npos);
  // A relative --log-dir is the user's folder's; the programs say it whole.
  ProgramOptions o;
  o.logDir = "raid-options-test-logs";
  const std::string dir = PrepareLogDir(o, "/nonexistent");
  EXPECT_TRUE(std::filesystem::path(dir).is_absolute());
  EXPECT_EQ(std::filesystem::path(dir), std::filesystem::current_path() / "raid-options-test-logs");
  EXPECT_TRUE(std::filesystem::is_directory(dir));
  std::filesystem::remove_all(dir);
}

TEST(OptionValues, MistakesEndWithExitCodeTwo) {
  ProgramOptions o = ParseOptions({"raidmon", "--duration", "nan"}, true);
  testing::internal::CaptureStderr();
  EXPECT_EQ(EarlyExitCode(o, "raidmon"), 2);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("raidmon: --duration"), std::string::npos);
}

TEST(OptionValues, MaintenanceIsTheWindowsOptionOnly) {
  EXPECT_TRUE(ParseOptions({"raidgui", "--maintenance", "--simulate"}, false, true).maintenance);
  EXPECT_FALSE(ParseOptions({"raidgui", "--simulate"}, false, true).maintenance);
  EXPECT_NE(ErrorOf({"--maintenance"}).find("unknown option"), std::string::npos);
  EXPECT_NE(ParseOptions({"raidgui", "--maintenance", "--maintenance"}, false, true).error.find("twice"),
            std::string::npos);
  EXPECT_NE(UsageText("raidgui", false, true).find("--maintenance"), std::string::npos);
  EXPECT_EQ(UsageText("raidmon", true).find("--maintenance"), std::string::npos);
}

TEST(OptionValues, JournalIsTheMonitorsAndMinimizedTheWindows) {
  EXPECT_TRUE(ParseOptions({"raidmon", "--journal"}, true).journal);
  EXPECT_NE(ParseOptions({"raidgui", "--journal"}, false, true).error, "");
  EXPECT_TRUE(ParseOptions({"raidgui", "--minimized"}, false, true).minimized);
  EXPECT_NE(ParseOptions({"raidmon", "--minimized"}, true).error, "");
  EXPECT_EQ(ParseOptions({"raidmon", "--journal", "--journal"}, true).error, "--journal is given twice");
  // Without them nothing changes.
  const ProgramOptions plain = ParseOptions({"raidgui"}, false, true);
  EXPECT_FALSE(plain.journal);
  EXPECT_FALSE(plain.minimized);
}

}  // namespace
}  // namespace raid

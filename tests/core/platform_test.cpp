// The platform pieces that carry no device: clock arithmetic, the instance
// lock, the Linux disk order and the program options.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/common/options.h"
#include "platform/clock.h"
#include "platform/instance_lock.h"
#include "platform/outcome.h"
#ifndef _WIN32
#include <unistd.h>

#include "platform/linux/linux_device_io.h"
#endif

namespace raid {
namespace {

// A failure without a text is still a failure, and a text value is never
// taken for an error text.
TEST(Outcome, FailureAndValueAreToldApartWhateverTheirText) {
  EXPECT_TRUE(Outcome());
  const Outcome silent = Outcome::Fail({});
  EXPECT_FALSE(silent);
  EXPECT_EQ(silent.error(), "");
  const Expected<std::string> text = std::string("no error");
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, "no error");
  EXPECT_EQ(text.error(), "");
  const Expected<std::string> none = Outcome::Fail("why not");
  EXPECT_FALSE(none);
  EXPECT_EQ(none.error(), "why not");
  EXPECT_FALSE(none.outcome());
  EXPECT_EQ(none.outcome().error(), "why not");
}

TEST(ClockArithmetic, LocalTimeRoundTripsAcrossLeapDaysAndMidnight) {
  for (const LocalDateTime t : {LocalDateTime{2010, 5, 3, 9, 0, 0, 0}, LocalDateTime{2012, 2, 29, 23, 59, 59, 999},
                                LocalDateTime{1969, 12, 31, 12, 0, 0, 0}, LocalDateTime{2100, 3, 1, 0, 0, 0, 0}}) {
    EXPECT_EQ(FromLocalMs(ToLocalMs(t)), t);
  }
  EXPECT_EQ(FromLocalMs(ToLocalMs({2010, 5, 3, 23, 59, 59, 500}) + 500), (LocalDateTime{2010, 5, 4, 0, 0, 0, 0}));
  EXPECT_DOUBLE_EQ(ToDayFraction({1899, 12, 30, 0, 0, 0, 0}), 0.0);
  EXPECT_DOUBLE_EQ(ToDayFraction({1900, 1, 1, 12, 0, 0, 0}), 2.5);
}

TEST(ClockArithmetic, ManualClockMovesOnlyWhenTold) {
  ManualClock c({2010, 5, 3, 9, 0, 0, 0});
  EXPECT_EQ(c.MonotonicMs(), 0);
  c.Sleep(500);
  c.Charge(250);
  EXPECT_EQ(c.MonotonicMs(), 750);
  EXPECT_EQ(c.Now().millisecond, 750);
}

TEST(SingleInstance, SecondHolderIsRefusedUntilTheFirstLetsGo) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-lock-test";
  std::filesystem::create_directories(dir);
  setenv("XDG_RUNTIME_DIR", dir.string().c_str(), 1);
  InstanceLock first, second;
  ASSERT_TRUE(first.Acquire("QV_GUI_TEST"));
  const Outcome refused = second.Acquire("QV_GUI_TEST");
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.error(), "another copy is running");
  EXPECT_TRUE(second.HeldElsewhere());
  first.Release();
  EXPECT_TRUE(second.Acquire("QV_GUI_TEST"));
  std::filesystem::remove_all(dir);
}

#ifndef _WIN32
TEST(SingleInstance, ALaterStartReadsWhichProgramHoldsTheLock) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-lock-holder";
  std::filesystem::create_directories(dir);
  setenv("XDG_RUNTIME_DIR", dir.string().c_str(), 1);
  {
    InstanceLock monitor, window;
    ASSERT_TRUE(monitor.Acquire("QV_GUI_TEST", "raidmon"));
    EXPECT_FALSE(window.Acquire("QV_GUI_TEST", "raidgui"));
    EXPECT_TRUE(window.HeldElsewhere());
    EXPECT_TRUE(window.HeldBy("raidmon"));
    EXPECT_FALSE(window.HeldBy("raidgui"));
  }
  // A holder that names nothing, or a file with junk in it, is no known
  // program; a longer name left by an earlier holder is not mixed in or
  // left behind.
  {
    std::ofstream(dir / "QV_GUI_TEST.lock") << "raidgui-with-a-long-tail\n";
    InstanceLock quiet, other;
    ASSERT_TRUE(quiet.Acquire("QV_GUI_TEST", "raidmon"));
    EXPECT_FALSE(other.Acquire("QV_GUI_TEST"));
    EXPECT_TRUE(other.HeldBy("raidmon"));
    quiet.Release();
    ASSERT_TRUE(quiet.Acquire("QV_GUI_TEST"));
    EXPECT_FALSE(other.Acquire("QV_GUI_TEST"));
    EXPECT_FALSE(other.HeldBy("raidmon"));  // the earlier name is gone
    EXPECT_FALSE(other.HeldBy(""));
    std::ofstream(dir / "QV_GUI_TEST.lock", std::ios::binary) << std::string("\x01\x7f\xff", 3);
    EXPECT_FALSE(other.Acquire("QV_GUI_TEST"));
    EXPECT_FALSE(other.HeldBy("raidmon"));
  }
  std::filesystem::remove_all(dir);
}
#endif

#ifndef _WIN32
TEST(SingleInstance, ALockThatCannotBeHadIsAnErrorNotAnotherCopy) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-lock-missing";
  std::filesystem::remove_all(dir);
  setenv("XDG_RUNTIME_DIR", dir.string().c_str(), 1);
  InstanceLock lock;
  const Outcome missing = lock.Acquire("QV_GUI_TEST");
  EXPECT_FALSE(missing);
  EXPECT_FALSE(lock.HeldElsewhere());
  EXPECT_EQ(missing.error().rfind("cannot create the lock file " + dir.string() + "/QV_GUI_TEST.lock: ", 0), 0u)
      << missing.error();
  // A link in the lock's place is not followed.
  std::filesystem::create_directories(dir);
  std::filesystem::create_symlink(dir / "elsewhere", dir / "QV_GUI_TEST.lock");
  EXPECT_FALSE(lock.Acquire("QV_GUI_TEST"));
  EXPECT_FALSE(lock.HeldElsewhere());
  EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
  std::filesystem::remove_all(dir);
}

TEST(SingleInstance, WithoutARuntimeFolderEachUserHasItsOwnLockName) {
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(InstanceLock::PathFor("QV_GUI"), "/tmp/QV_GUI-" + std::to_string(geteuid()) + ".lock");
}

// Runs on the real disks share one lock for the whole machine when they run
// as root, whatever their runtime folder; a lock folder or file that someone
// else could write is refused, not used.
TEST(SingleInstance, RootOnTheRealDisksTakesOneLockForTheMachine) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const auto dir = std::filesystem::temp_directory_path() / ("raid-machine-lock-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  const std::string saved = InstanceLock::MachineFolder();
  InstanceLock::MachineFolder() = (dir / "run").string();
  std::filesystem::create_directories(dir / "a");
  std::filesystem::create_directories(dir / "b");
  {
    setenv("XDG_RUNTIME_DIR", (dir / "a").c_str(), 1);
    InstanceLock monitor, shell;
    const Outcome taken = monitor.Acquire("QV_GUI_TEST", "raidmon", InstanceLock::Scope::Machine);
    ASSERT_TRUE(taken) << taken.error();
    setenv("XDG_RUNTIME_DIR", (dir / "b").c_str(), 1);
    EXPECT_FALSE(shell.Acquire("QV_GUI_TEST", {}, InstanceLock::Scope::Machine));
    EXPECT_TRUE(shell.HeldBy("raidmon"));
    // A simulated run keeps to the user's lock.
    EXPECT_TRUE(shell.Acquire("QV_GUI_TEST", {}, InstanceLock::Scope::User));
    EXPECT_EQ(std::filesystem::status(dir / "run" / "QV_GUI_TEST.lock").permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  // A file of another user's in the lock's place, or a folder others may
  // write, is an error that names it.
  ASSERT_EQ(chown((dir / "run" / "QV_GUI_TEST.lock").c_str(), 65534, 65534), 0);
  InstanceLock l;
  EXPECT_FALSE(l.Acquire("QV_GUI_TEST", {}, InstanceLock::Scope::Machine));
  EXPECT_FALSE(l.HeldElsewhere());
  std::filesystem::remove(dir / "run" / "QV_GUI_TEST.lock");
  std::filesystem::permissions(dir / "run", std::filesystem::perms::others_write, std::filesystem::perm_options::add);
  const Outcome open = l.Acquire("QV_GUI_TEST", {}, InstanceLock::Scope::Machine);
  EXPECT_FALSE(open);
  EXPECT_NE(open.error().find("is not a folder that only root may write"), std::string::npos) << open.error();
  InstanceLock::MachineFolder() = saved;
  std::filesystem::remove_all(dir);
}

TEST(SingleInstance, AHardLinkInTheSharedFolderIsRefusedAndLeftAsItWas) {
  unsetenv("XDG_RUNTIME_DIR");
  const std::filesystem::path lock = InstanceLock::PathFor("QV_GUI_LINKTEST");
  const std::filesystem::path target = "/tmp/raid-lock-link-target-" + std::to_string(getpid());
  std::filesystem::remove(lock);
  std::ofstream(target) << "precious\n";
  std::filesystem::create_hard_link(target, lock);
  InstanceLock l;
  const Outcome linked = l.Acquire("QV_GUI_LINKTEST", "raidmon");
  EXPECT_FALSE(linked);
  EXPECT_FALSE(l.HeldElsewhere());
  EXPECT_NE(linked.error().find("is not a plain file of this user"), std::string::npos) << linked.error();
  std::ifstream in(target);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "precious");
  std::filesystem::remove(lock);
  std::filesystem::remove(target);
}
#endif

#ifndef _WIN32
TEST(LinuxDiskOrder, ScsiDisksFirstInNaturalOrderWithoutVirtualDevices) {
  const auto dir = std::filesystem::temp_directory_path() / "raid-sysblock";
  std::filesystem::remove_all(dir);
  for (const char* n : {"sdb", "sdaa", "sda", "loop0", "nvme0n1", "sr0", "dm-0", "zram0", "sdz"})
    std::filesystem::create_directories(dir / n);
  EXPECT_EQ(LinuxDeviceIo::ListDisks(dir.string()), (std::vector<std::string>{"sda", "sdb", "sdz", "sdaa", "nvme0n1"}));
  std::filesystem::remove_all(dir);
}
#endif

TEST(ProgramOptions, SimulateTakesAnOptionalScenario) {
  auto o = ParseOptions({"raidmon", "--simulate"}, true);
  EXPECT_TRUE(o.simulate);
  EXPECT_TRUE(o.scenario.empty());
  o = ParseOptions({"raidmon", "--simulate", "--log-dir", "/tmp/x"}, true);
  EXPECT_TRUE(o.scenario.empty());
  EXPECT_EQ(o.logDir, "/tmp/x");
  o = ParseOptions({"raidmon", "--simulate", "s.json", "--duration", "12.5", "--trace", "t.txt"}, true);
  EXPECT_EQ(o.scenario, "s.json");
  EXPECT_DOUBLE_EQ(o.duration, 12.5);
  EXPECT_EQ(o.trace, "t.txt");
  EXPECT_TRUE(o.error.empty());
}

TEST(ProgramOptions, MistakesAreRefusedWithAReason) {
  EXPECT_NE(ParseOptions({"raidmon", "--duration", "soon"}, true).error, "");
  EXPECT_NE(ParseOptions({"raidmon", "--duration", "-1"}, true).error, "");
  EXPECT_NE(ParseOptions({"raidgui", "--duration", "5"}, false).error, "");  // raidmon only
  EXPECT_NE(ParseOptions({"raidmon", "--trace", "t.txt"}, true).error, "");  // needs --simulate
  EXPECT_NE(ParseOptions({"raidmon", "--log-dir"}, true).error, "");
  EXPECT_NE(ParseOptions({"raidmon", "-x"}, true).error, "");
}

TEST(ProgramOptions, BadScenarioFileStopsTheStartWithItsReason) {
  ProgramOptions o;
  o.simulate = true;
  o.scenario = "/nonexistent/s.json";
  Machine m;
  std::string error;
  EXPECT_FALSE(BuildMachine(o, m, error));
  EXPECT_NE(error.find("/nonexistent/s.json"), std::string::npos);
}

}  // namespace
}  // namespace raid

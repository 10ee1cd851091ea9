// Sleeping between wake-ups: the scheduler names the next moment anything
// can happen (a timer, a loop with a request waiting, the next timeline
// event), and running from one such moment to the next replays a scenario
// exactly as running it in small steps does.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core_harness.h"
#include "sim/scenario.h"

namespace raid {
namespace {

struct SimRun {
  SimRun(const sim::ScenarioSpec& sc, LocalDateTime start, const std::filesystem::path& folder)
      : dir(folder),
        m(sc, start),
        core(m.io, m.clock, fmt, view, (std::filesystem::create_directories(dir), dir.string()), pages),
        sched(
            core, m.clock, &m.clock, true, [this] { m.io.Pump(); }, [this] { return m.io.NextEventMs(); }) {
    m.io.Start([this] { core.OnDeviceChange(); });
    core.Start();
  }
  // Runs until program time `end`, waking only when the scheduler says;
  // returns the number of wake-ups.
  int SleepUntil(int64_t end) {
    int wakes = 0;
    while (m.clock.MonotonicMs() < end) {
      const int64_t next = sched.NextWakeMs();
      sched.RunUntil(next < end ? next : end);
      ++wakes;
    }
    return wakes;
  }
  std::string File(const char* name) {
    std::ifstream in(dir / name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::filesystem::path dir;
  test::SimMachine m;
  FixedDateTimeFormat fmt;
  test::HarnessView view;
  PageSelection pages;
  RaidCore core;
  CoreScheduler sched;
};

sim::ScenarioSpec ScenarioFile(const char* name) {
  return test::Must(sim::LoadScenarioFile(std::string(RAID_TEST_DATA) + "/../../scenarios/" + name));
}

TEST(IdleWakeUps, SleepingBetweenWakeUpsReplaysExactlyAsSmallSteps) {
  // A removal, a rebuild, bad sectors, a day change and an unplug.
  const sim::ScenarioSpec sc = ScenarioFile("removal-rebuild-badsectors.json");
  const LocalDateTime start{2010, 5, 3, 23, 58, 0, 0};
  const auto base = test::TestDir();
  SimRun stepped(sc, start, base / "stepped"), sleeping(sc, start, base / "sleeping");
  const int64_t end = 150000;
  while (stepped.m.clock.MonotonicMs() < end) stepped.sched.RunUntil(stepped.m.clock.MonotonicMs() + 10);
  const int wakes = sleeping.SleepUntil(end);
  EXPECT_EQ(stepped.m.trace.str(), sleeping.m.trace.str());
  EXPECT_EQ(stepped.view.appended, sleeping.view.appended);
  EXPECT_EQ(stepped.File("100503.log"), sleeping.File("100503.log"));
  EXPECT_EQ(stepped.File("100504.log"), sleeping.File("100504.log"));
  EXPECT_FALSE(sleeping.File("100504.log").empty());
  // Far fewer wake-ups than 10 ms steps (15,000) or the 50 ms loop (3,000).
  EXPECT_LT(wakes, 700);
}

TEST(IdleWakeUps, AnIdleMachineWakesOnlyForItsTimers) {
  SimRun r(sim::DefaultScenario(), {2010, 5, 3, 9, 0, 0, 0}, test::TestDir());
  r.SleepUntil(10000);  // detection, the start report, the first polls
  ASSERT_EQ(r.core.Devices().DeviceCount, 1);
  const int wakes = r.SleepUntil(70000);
  // Timer4 (500 ms) and the 1 s timers share their moments: two a second,
  // plus the status loop's ticks while each 4 s poll is served.
  EXPECT_LE(wakes, 2 * 60 + 2 * 15 + 5);
  EXPECT_GE(wakes, 2 * 60);
}

TEST(IdleWakeUps, NextWakeIsTheLoopTickAfterARequestOrTimelineEvent) {
  const char* json = R"({"enclosures":[{"name":"E1"}],"disks":[{"drive":0,"enclosure":"E1"}],
    "volumes":[{"letter":"E","drive":0,"length":1000}],
    "timeline":[{"at":20.25,"enclosure":"E1","set":{"hdd2":"absent"}}]})";
  SimRun r(test::Scenario(json), {2010, 5, 3, 9, 0, 0, 0}, test::TestDir());
  r.SleepUntil(20000);
  // The scheduler's tasks started at 0: Timer4 next at 20,500, the pump's
  // 100 ms grid reaches the event at 20,300.
  EXPECT_EQ(r.sched.NextWakeMs(), 20300);
  r.sched.RunUntil(20300);
  EXPECT_EQ(r.m.io.NextEventMs(), std::numeric_limits<int64_t>::max());
  // A request left waiting makes the status loop's next 50 ms tick count.
  r.sched.RunUntil(20400);
  EXPECT_EQ(r.sched.NextWakeMs(), 20500);
  r.core.OnPollTimer();  // a poll falls due between the status loop's ticks
  ASSERT_TRUE(r.core.Devices().RequestBits.load() & request_bits::kPoll);
  EXPECT_EQ(r.sched.NextWakeMs(), 20450);
}

TEST(IdleWakeUps, TheDemoShowsARemovalARebuildAndBadSectorsWithinThreeMinutes) {
  SimRun r(ScenarioFile("demo.json"), {2010, 5, 3, 9, 0, 0, 0}, test::TestDir());
  r.SleepUntil(180000);
  const auto has = [&r](const std::string& start) {
    return std::any_of(r.view.appended.begin(), r.view.appended.end(),
                       [&](const std::string& l) { return l.rfind(start, 0) == 0; });
  };
  EXPECT_TRUE(has("D1 HDD2 was removed, "));
  EXPECT_TRUE(has("D1 HDD2 was inserted, "));
  EXPECT_TRUE(has("D1 HDD1 --> HDD2 48%, "));
  EXPECT_TRUE(has("D1 HDD1 OK, HDD2 OK, "));
  EXPECT_TRUE(has("D1 HDD1 Bad Sector was found. "));
  EXPECT_EQ(r.core.Devices().DeviceCount, 1);
}

}  // namespace
}  // namespace raid

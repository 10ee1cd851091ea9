// The scheduler that runs the window's timers and, for simulated machines,
// the worker loops: order, restart on enabling, and no bursts after a stall.
#include <gtest/gtest.h>

#include <sstream>

#include "tests/core/core_access.h"
#include "core_harness.h"
#include "device/record_layout.h"
#include "monitor/log_window.h"

namespace raid {
namespace {

TEST(Scheduling, PollingStartsRightAfterPublishAndRepeatsEveryFourSeconds) {
  test::Harness h(test::kOneEnclosure);
  std::vector<int64_t> polls;
  h.m.ClearTrace();
  for (int i = 0; i < 200; ++i) {
    const size_t before = h.m.TraceLines().size();
    h.RunFor(50);
    if (h.m.TraceLines().size() > before) polls.push_back(h.m.clock.MonotonicMs());
  }
  // Detection reads block 33 once (at 600 ms, after the IDENTIFY pause);
  // then the first poll 50 ms after the publish, then every 4 s.
  ASSERT_GE(polls.size(), 3u);
  EXPECT_EQ(polls[1] - polls[0], 50);
  EXPECT_EQ(polls[2] - polls[1], 4000);
}

TEST(Scheduling, DisabledTimerRestartsItsIntervalWhenEnabled) {
  test::Harness h(test::kOneEnclosure);
  h.RunFor(1000);
  EXPECT_TRUE(h.core.PollTimerEnabled());
  CoreTestAccess::SetPollTimerEnabled(h.core, false);
  CoreTestAccess::State(h.core).RequestBits = request_bits::kArmed;
  h.m.ClearTrace();
  h.RunFor(10000);
  // No tick while off: no poll reached the enclosure.
  EXPECT_TRUE(h.m.TraceLines().empty());
  EXPECT_EQ(h.core.Devices().RequestBits.load(), request_bits::kArmed);
  CoreTestAccess::SetPollTimerEnabled(h.core, true);
  h.RunFor(3950);
  EXPECT_TRUE(h.m.TraceLines().empty());
  h.RunFor(100);  // 4 s after enabling: a poll
  EXPECT_EQ(h.m.TraceLines().size(), 1u);
}

TEST(Scheduling, HungRequestsDoNotMakeTimersFireInABurst) {
  test::Harness h(test::kOneEnclosure);
  h.RunFor(1000);
  h.m.io.AddFault({"read10", "hang", 0, 3});
  h.m.ClearTrace();
  h.RunFor(30000);
  // Each hung read costs its 2 s time-out; the polls that follow still come
  // 4 s apart (a failed read makes the next poll of the slot skip it).
  std::vector<double> reads;
  std::istringstream trace(h.m.trace.str());
  for (std::string line; std::getline(trace, line);)
    if (line.find("CDB 28 00 00 00 00 21") != std::string::npos) reads.push_back(std::stod(line));
  ASSERT_GE(reads.size(), 3u);
  for (size_t i = 1; i < reads.size(); ++i) EXPECT_GE(reads[i] - reads[i - 1], 3.999) << i;
  EXPECT_EQ(h.core.Monitoring().PollSkip[0], 0);  // the reads answer again once the faults are used up
}

TEST(LogWindowBehaviour, UnreadableFileKeepsThePreviousText) {
  std::vector<std::string> day{"a", "b"};
  std::atomic<uint8_t> bits{request_bits::kArmed};
  LogWindowModel w(day, bits);
  w.Open();
  w.Show();
  EXPECT_EQ(w.Lines, day);
  const Outcome viewed = w.ViewLogFile([] { return std::string("/nonexistent/100101.log"); });
  EXPECT_EQ(w.Lines, day);
  EXPECT_FALSE(viewed);
  EXPECT_NE(viewed.error().find("/nonexistent/100101.log"), std::string::npos);
  EXPECT_EQ(w.Caption, "Event log - Real Time");
  EXPECT_FALSE(w.TimerEnabled);
  day.push_back("c");
  w.OnFollowTimer();  // the timer is off until "Real Time Log"
  EXPECT_EQ(w.Lines.size(), 2u);
  w.ShowRealTime();
  EXPECT_EQ(w.Lines.size(), 3u);
}

}  // namespace
}  // namespace raid

namespace raid {
namespace {

TEST(OptionControls, LockedDuringStartAndForFourSecondsAfterASettingsCommand) {
  test::Harness h(test::kOneEnclosure);
  h.core.OnHoldOffTimer();
  EXPECT_FALSE(h.core.HoldOff().OptionBoxesEnabled);  // FirstFill
  h.RunFor(2000);
  EXPECT_TRUE(h.core.HoldOff().OptionBoxesEnabled);
  EXPECT_TRUE(h.core.HoldOff().AutoScanEnabled);
  h.core.RequestSchedule({.slot = 0, .on = true, .minutes = 10});
  h.RunFor(100);
  EXPECT_EQ(h.Enc().BackupMinutes(), 10);
  EXPECT_FALSE(h.core.HoldOff().OptionBoxesEnabled);
  h.RunFor(3000);
  EXPECT_FALSE(h.core.HoldOff().OptionBoxesEnabled);
  h.RunFor(2000);
  EXPECT_TRUE(h.core.HoldOff().OptionBoxesEnabled);
  // While a tab switch redraws, only "Auto Scan" comes back.
  OptionHoldOff& holdOff = CoreTestAccess::HoldOff(h.core);
  holdOff.OptionBoxesEnabled = holdOff.AutoScanEnabled = false;
  h.pages.SetSelecting(true);
  h.core.OnHoldOffTimer();
  EXPECT_TRUE(h.core.HoldOff().AutoScanEnabled);
  EXPECT_FALSE(h.core.HoldOff().OptionBoxesEnabled);
}

}  // namespace
}  // namespace raid

namespace raid {
namespace {

TEST(Scheduling, AModalBoxDoesNotLetThePollRunAgainInsideItself) {
  test::Harness h(test::kOneEnclosure);
  h.RunFor(1000);
  int nested = 0;
  h.view.whileBoxOpen = [&] {
    const int64_t before = h.m.clock.MonotonicMs();
    h.RunFor(8000);  // the box's event loop paces the program
    if (h.m.clock.MonotonicMs() != before) ++nested;
  };
  h.Set(status::kActivity, 0x10);
  h.Set(status::kState, 0x82);  // "Matched SSD is inserted." during the poll
  h.RunFor(4000);
  ASSERT_EQ(h.view.boxes.size(), 1u);
  EXPECT_EQ(nested, 0);
}

}  // namespace
}  // namespace raid

// A slot the failure rule switched off: without a check box to tick again
// (raidmon) it is said and tried again every five minutes and at every
// device change, so a later drive removal is still logged.
#include <gtest/gtest.h>

#include <algorithm>

#include "core_harness.h"
#include "device/record_layout.h"

namespace raid {
namespace {

bool Logged(test::Harness& h, const std::string& line) {
  const auto& l = h.core.Log().DayLog();
  return std::find(l.begin(), l.end(), line) != l.end();
}

struct RetryRig {
  RetryRig() : h(test::kOneEnclosure) {
    h.core.EnableSlotRetry(h.m.clock, 5 * 60 * 1000);
    h.RunFor(1000);
  }
  // Every request to the enclosure's drive fails for `seconds` from now.
  void Silence(double seconds) {
    sim::FaultSpec f;
    f.kind = "any";
    f.drive = 0;
    f.from = static_cast<double>(h.m.clock.MonotonicMs()) / 1000.0;
    f.until = f.from + seconds;
    h.m.io.AddFault(f);
  }
  test::Harness h;
};

TEST(SlotRetry, SwitchedOffSlotIsSaidAndTriedAgainAfterFiveMinutes) {
  RetryRig r;
  r.Silence(60);
  r.h.RunFor(60000);
  ASSERT_FALSE(r.h.core.Monitoring().SlotChecked[0]);
  EXPECT_EQ(r.h.view.panels[4].rfind("D1 does not answer: monitoring switched off", 0), 0u) << r.h.view.panels[4];
  r.h.RunFor(200000);
  EXPECT_FALSE(r.h.core.Monitoring().SlotChecked[0]);  // not before five minutes
  r.h.RunFor(120000);
  ASSERT_TRUE(r.h.core.Monitoring().SlotChecked[0]);
  EXPECT_EQ(r.h.view.panels[4], "D1 answers again: monitoring resumed");
  r.h.Set(status::kState, 0x24);
  r.h.RunFor(8000);
  EXPECT_TRUE(std::any_of(r.h.core.Log().DayLog().begin(), r.h.core.Log().DayLog().end(),
                          [](const std::string& l) { return l.rfind("D1 HDD1 was removed, ", 0) == 0; }));
}

TEST(SlotRetry, DeviceChangeTriesASwitchedOffSlotAtOnce) {
  RetryRig r;
  r.Silence(50);
  r.h.RunFor(55000);
  ASSERT_FALSE(r.h.core.Monitoring().SlotChecked[0]);
  r.h.core.OnDeviceChange();
  r.h.RunFor(20000);
  EXPECT_TRUE(r.h.core.Monitoring().SlotChecked[0]);
  EXPECT_EQ(r.h.view.panels[4], "D1 answers again: monitoring resumed");
  EXPECT_FALSE(Logged(r.h, "D1 Device was removed."));
}

TEST(SlotRetry, TheWindowKeepsItsCheckBoxRule) {
  test::Harness h(test::kOneEnclosure);  // no retry: the user ticks the box
  h.RunFor(1000);
  sim::FaultSpec f;
  f.kind = "any";
  f.drive = 0;
  f.until = 60;
  h.m.io.AddFault(f);
  h.RunFor(400000);
  EXPECT_FALSE(h.core.Monitoring().SlotChecked[0]);
}

}  // namespace
}  // namespace raid

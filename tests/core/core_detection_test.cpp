// Start-up, publishing and re-detection through the core's timer handlers,
// driven by hand (no threads) on a manual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "monitor/event_detector.h"
#include "monitor/raid_core.h"
#include "core_harness.h"
#include "platform/device_events.h"

namespace raid {
namespace {

const char* kTwo =
    R"({"enclosures":[{"name":"E1","model":"First"},{"name":"E2","model":"Second","transport":"vendor1"}],
  "disks":[{"drive":0,"enclosure":"E1"},{"drive":1,"enclosure":"E2"}],
  "volumes":[{"letter":"E","drive":0,"length":1000},{"letter":"F","drive":1,"length":1000}]})";

using CoreRig = test::Harness;

TEST(StartUp, DetectsAndPublishesInDriveOrderThenArmsPolling) {
  CoreRig r(kTwo);
  EXPECT_EQ(r.core.DetectionBanner(), "Drive detecting");
  EXPECT_FALSE(r.view.navigation);
  EXPECT_EQ(r.core.Monitoring().Caption, "RAID GUI v0.23-1");
  EXPECT_EQ(r.core.Devices().RequestBits.load(), 0);
  r.Tick();
  EXPECT_EQ(r.view.panels[1], "Detected OK");
  EXPECT_EQ(r.view.panels[2], " ");
  ASSERT_EQ(r.core.Devices().DeviceCount, 2);
  EXPECT_EQ(r.core.Devices().DeviceList[0], 0x40u);
  EXPECT_EQ(r.core.Devices().DeviceList[1], 0xA1u);
  EXPECT_TRUE(r.view.navigation);
  EXPECT_TRUE(r.view.slotVisible[0] && r.view.slotVisible[1]);
  EXPECT_EQ(r.core.Devices().RequestBits.load(), 0x11);
  EXPECT_FALSE(r.core.DetectionBannerVisible());
  EXPECT_EQ(r.core.Monitoring().SlotNames[0], "First  [E]");
  EXPECT_EQ(r.core.Monitoring().Caption, "RAID GUI v0.23-1 - First  [E]");  // six characters always stay
  // Clicks are refused until the first Status page refresh.
  EXPECT_FALSE(r.core.SelectPage(ShownPage::About));
}

TEST(StartUp, NoEnclosureLeavesNavigationDisabled) {
  CoreRig r(R"({"enclosures":[],"disks":[{"drive":0}]})");
  r.Tick();
  EXPECT_EQ(r.core.Devices().DeviceCount, 0);
  EXPECT_FALSE(r.view.navigation);
  EXPECT_EQ(r.core.DetectionBanner(), "No Drive found! ");
  EXPECT_TRUE(r.core.DetectionBannerVisible());
  EXPECT_FALSE(r.core.ClockTimerEnabled());
}

TEST(StartUp, DetectingTextBlinksWhileTheScanIsPending) {
  CoreRig r(kTwo);
  r.core.OnDetectionTimer();
  EXPECT_FALSE(r.core.DetectionBannerVisible());
  r.core.OnDetectionTimer();
  EXPECT_TRUE(r.core.DetectionBannerVisible());
}

TEST(Redetection, BurstWaitsFiveSecondsAfterTheLastChangeThenScansAndAnUnchangedMachineLogsNothing) {
  CoreRig r(kTwo);
  r.Tick();
  r.view.panels[1].clear();
  r.m.ClearTrace();
  r.core.OnDeviceChange();
  for (int i = 0; i < 5; ++i) r.Tick();
  r.core.OnDeviceChange();  // another message restarts the wait
  for (int i = 0; i < 10; ++i) {
    r.Tick();
    EXPECT_EQ(r.core.Devices().RedetectCountdown, 17 + i) << i;
  }
  for (const auto& l : r.m.TraceLines()) EXPECT_EQ(l.find("CDB"), std::string::npos) << l;
  r.Tick();  // the 26th: a detection, although the counts are as before
  EXPECT_EQ(r.core.Devices().RedetectCountdown, 0);
  r.Tick();
  EXPECT_EQ(r.view.panels[1], "Detected OK");
  EXPECT_EQ(r.core.Devices().DeviceCount, 2);
  EXPECT_TRUE(r.core.Log().PendingLines.empty());
}

// Changes that leave the counts of disks and enclosures as they were, or
// that come while an earlier one is still being looked at, are each seen.
TEST(Redetection, SwapsAndChangesDuringTheSettlingAreEachSeen) {
  const char* kSpare =
      R"({"enclosures":[{"name":"E1","model":"First"},{"name":"E2","model":"Second","transport":"vendor1"},
                        {"name":"E3","model":"Third"}],
  "disks":[{"drive":0,"enclosure":"E1"},{"drive":1,"enclosure":"E2"},{"drive":2,"enclosure":"E3"}]})";
  CoreRig r(kSpare);
  r.m.io.SetPlugged("E3", false);
  r.Tick();
  r.core.SelectStatusSlot(0);
  ASSERT_EQ(r.core.Devices().DeviceCount, 2);
  auto settle = [&] {
    for (int i = 0; i < 14; ++i) r.Tick();
  };
  // E2 unplugged and E3 plugged in its place: two disks, two enclosures.
  r.m.io.SetPlugged("E2", false);
  r.core.OnDeviceChange();
  r.m.io.SetPlugged("E3", true);
  r.core.OnDeviceChange();
  settle();
  EXPECT_EQ(r.core.Log().PendingLines, (std::vector<std::string>{"D2 Device was removed.", "D2 New Device was found.",
                                                                 "    Device had changed."}));
  EXPECT_EQ(r.core.Monitoring().SlotNames[1].substr(0, 5), "Third");
  r.core.Log().PendingLines.clear();

  // Unplugged for as long as the settling takes, then back while that
  // detection runs: both the removal and the return are seen.
  r.m.io.SetPlugged("E3", false);
  r.core.OnDeviceChange();
  for (int i = 0; i < 11; ++i) r.Tick();
  ASSERT_TRUE(r.core.DetectionPending());
  r.m.io.SetPlugged("E3", true);
  r.core.OnDeviceChange();
  r.Tick();
  EXPECT_EQ(r.core.Devices().DeviceCount, 1);
  settle();
  EXPECT_EQ(r.core.Devices().DeviceCount, 2);
}

TEST(Redetection, UnpluggedEnclosureIsDroppedAndLoggedAndThePageSlotClamped) {
  CoreRig r(kTwo);
  r.Tick();
  r.core.SelectStatusSlot(1);  // the page is drawn: the start phase is over
  ASSERT_EQ(r.core.Devices().FirstFill, 0);
  ASSERT_EQ(r.core.Focus().StatusSlot(), 1);
  r.m.io.SetPlugged("E2", false);
  r.core.OnDeviceChange();
  for (int i = 0; i < 11 && r.core.Devices().DeviceCount == 2; ++i) r.Tick();
  r.Tick();
  EXPECT_EQ(r.core.Devices().DeviceCount, 1);
  EXPECT_EQ(r.core.Focus().StatusSlot(), 0);
  EXPECT_EQ(r.core.Log().PendingLines, (std::vector<std::string>{"D2 Device was removed.", "    Device had changed."}));
  EXPECT_EQ(r.core.Monitoring().MailCategory, 2);
  EXPECT_EQ(r.core.Monitoring().MailRequestFlags.load(), mail_request::kPending);
  EXPECT_FALSE(r.view.slotVisible[1]);
}

TEST(Redetection, HeldSlotWaitsWhileAnOperationRuns) {
  CoreRig r(kTwo);
  r.Tick();
  OperationLease lease = r.core.BeginOperation();
  r.core.OnDeviceChange();
  for (int i = 0; i < 10; ++i) r.core.OnDetectionTimer();
  ASSERT_EQ(r.core.Devices().RedetectCountdown, 26);
  r.core.OnDetectionTimer();
  EXPECT_EQ(r.core.Devices().RedetectCountdown, 26);  // checked again next tick
  r.core.EndOperation(lease);
  r.core.OnDetectionTimer();
  EXPECT_EQ(r.core.Devices().RedetectCountdown, 0);
}

TEST(StartUp, SlotNamesListFixedVolumesByTheNameTheUserKnows) {
  CoreRig r(R"({"enclosures":[{"name":"E","model":"Box"}],"disks":[{"drive":0,"enclosure":"E"}],
      "volumes":[{"letter":"E","drive":0},{"letter":"F","drive":0,"name":"/media/backup"},
                 {"letter":"G","drive":0,"type":2}]})");
  r.Tick();
  EXPECT_EQ(r.core.Detected().VolumeTable[1].Name, "/media/backup");
  // Six characters of the model always stay; G: is removable, so not listed.
  EXPECT_EQ(r.core.Monitoring().SlotNames[0], "Box    [E /media/backup]");
}

}  // namespace
}  // namespace raid

namespace raid {
namespace {

// Forwards to the simulated machine and, like udev's watch rule on a
// desktop, announces a "change" of the disk after every close.
class ChangeOnEveryClose final : public DeviceIo {
 public:
  explicit ChangeOnEveryClose(DeviceIo& inner) : in_(inner) {}
  Expected<DeviceHandleValue> Open(DeviceId id) override { return in_.Open(id); }
  void Close(DeviceHandleValue h) override {
    in_.Close(h);
    if (onEvent) onEvent("change", "disk");
  }
  Outcome Scsi(DeviceHandleValue h, ScsiRequest& r) override { return in_.Scsi(h, r); }
  Outcome Ata(DeviceHandleValue h, AtaRegisters& regs, uint8_t* d, uint32_t n, ReplyStatus& s) override {
    return in_.Ata(h, regs, d, n, s);
  }
  Outcome RescanBus(DeviceHandleValue h) override { return in_.RescanBus(h); }
  Expected<VolumeExtent> DiskExtents(DeviceHandleValue h) override { return in_.DiskExtents(h); }
  uint32_t LogicalDriveMask() override { return in_.LogicalDriveMask(); }
  unsigned DriveTypeOf(char l) override { return in_.DriveTypeOf(l); }
  std::function<void(const char*, const char*)> onEvent;

 private:
  DeviceIo& in_;
};

TEST(Redetection, ChangeEventsFromOurOwnClosesDoNotKeepDetectionSpinning) {
  const auto dir = test::TestDir();
  test::SimMachine m(test::Scenario(kTwo));
  ChangeOnEveryClose io(m.io);
  FixedDateTimeFormat fmt;
  test::HarnessView view;
  PageSelection pages;
  RaidCore core(io, m.clock, fmt, view, dir.string(), pages);
  CoreScheduler sched(core, m.clock, &m.clock, true, nullptr);
  int changes = 0;
  // The hot-plug source passes on what the program counts as a device change.
  io.onEvent = [&](const char* action, const char* devtype) {
    if (IsDiskArrivalOrRemoval(action, devtype)) {
      ++changes;
      core.OnDeviceChange();
    }
  };
  core.Start();
  sched.RunUntil(m.clock.MonotonicMs() + 5000);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(view.panels[1], "Detected OK");
  EXPECT_EQ(core.Devices().DeviceCount, 2);
  EXPECT_EQ(core.DetectionBanner(), " ");
  // A real arrival still counts.
  io.onEvent("add", "disk");
  EXPECT_EQ(core.Devices().RedetectCountdown, 16);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace raid

namespace raid {
namespace {

// For any two enclosure lists, what was not removed from the old one is,
// in order, what was not found in the new one; and nothing is said when
// the lists are the same.
TEST(EnclosureListEvents, WhatIsKeptIsTheSameOnBothSidesForRandomLists) {
  std::mt19937 rng(7);
  auto ident = [](int id) {
    Sector s{};
    s[0] = static_cast<uint8_t>(id);
    return s;
  };
  for (int round = 0; round < 2000; ++round) {
    std::vector<Sector> before, after;
    for (int id = 0; id < 6; ++id) {
      if (rng() % 2) before.push_back(ident(id));
      if (rng() % 2) after.push_back(ident(id));
    }
    if (rng() % 4 == 0) std::shuffle(after.begin(), after.end(), rng);
    const std::vector<RaidEvent> events = EnclosureListEvents(before, after);
    std::vector<bool> removed(before.size()), found(after.size());
    for (const RaidEvent& e : events) {
      if (e.kind == EventKind::EnclosureRemoved) removed.at(static_cast<size_t>(e.slot)) = true;
      if (e.kind == EventKind::EnclosureFound) found.at(static_cast<size_t>(e.slot)) = true;
    }
    std::vector<Sector> keptBefore, keptAfter;
    for (size_t i = 0; i < before.size(); ++i)
      if (!removed[i]) keptBefore.push_back(before[i]);
    for (size_t i = 0; i < after.size(); ++i)
      if (!found[i]) keptAfter.push_back(after[i]);
    ASSERT_EQ(keptBefore, keptAfter) << round;
    ASSERT_EQ(events.empty(), before == after) << round;
    if (!events.empty()) {
      ASSERT_EQ(events.back().kind, EventKind::EnclosureListChanged) << round;
    }
  }
}

}  // namespace
}  // namespace raid

// Start-up, publishing and re-detection through the core's timer handlers,
// driven by hand (no threads) on a manual clock.
#include <gtest/gtest.h>

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
  EXPECT_FALSE(r.core.SelectPage(notebook_page::kAbout));
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

TEST(Redetection, BurstWaitsFiveSecondsAfterTheLastChangeAndEqualCountsEndWithoutScan) {
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
  r.Tick();  // the 26th: counts taken, unchanged
  EXPECT_EQ(r.core.Devices().RedetectCountdown, 0);
  EXPECT_EQ(r.core.Devices().Detecting.load(), 0);
  EXPECT_FALSE(r.core.DetectionPending());
  EXPECT_TRUE(r.view.panels[1].empty());
  for (const auto& l : r.m.TraceLines()) EXPECT_EQ(l.find("CDB"), std::string::npos) << l;
}

TEST(Redetection, UnpluggedEnclosureIsDroppedAndLoggedAndThePageSlotClamped) {
  CoreRig r(kTwo);
  r.Tick();
  r.core.SelectStatusSlot(1);  // the page is drawn: the start phase is over
  ASSERT_EQ(r.core.Devices().FirstFill, 0);
  ASSERT_EQ(r.core.Controls().StatusPageSlot, 1);
  r.m.io.SetPlugged("E2", false);
  r.core.OnDeviceChange();
  for (int i = 0; i < 11 && r.core.Devices().DeviceCount == 2; ++i) r.Tick();
  r.Tick();
  EXPECT_EQ(r.core.Devices().DeviceCount, 1);
  EXPECT_EQ(r.core.Controls().StatusPageSlot, 0);
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
  DeviceHandleValue Open(DeviceId id) override { return in_.Open(id); }
  void Close(DeviceHandleValue h) override {
    in_.Close(h);
    if (onEvent) onEvent("change", "disk");
  }
  bool Scsi(DeviceHandleValue h, ScsiRequest& r) override { return in_.Scsi(h, r); }
  bool Ata(DeviceHandleValue h, AtaRegisters& regs, uint8_t* d, uint32_t n, ReplyStatus& s) override {
    return in_.Ata(h, regs, d, n, s);
  }
  bool RescanBus(DeviceHandleValue h) override { return in_.RescanBus(h); }
  bool DiskExtents(DeviceHandleValue h, VolumeExtent& e) override { return in_.DiskExtents(h, e); }
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
  RaidCore core(io, m.clock, fmt, view, dir.string());
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

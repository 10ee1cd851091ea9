// The day log a monitored enclosure produces, line for line.
#include <gtest/gtest.h>

#include "core_harness.h"
#include "device/record_layout.h"

namespace raid {
namespace {

using test::Harness;
using test::kOneEnclosure;
using V = std::vector<std::string>;

TEST(DayLog, StartWritesBannerAndFullReport) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  EXPECT_EQ(h.DayFile(), (V{std::string(83, '-'), "RAID GUI v0.23-1 has started from 2010/05/03 9:00:00",
                            "Device1 information :", "Model# Two-bay RAID", "Mirroring(RAID1), F/W Rev. 100607.1.A12",
                            "Configured Capacity : 931 GB(1953525168 Sectors)", "  HDD1 is present.(SATA3G)",
                            "    Model no.: WDC WD10EZEX-00BN5A0", "    Serial no.: \"WD-WCC3F0123456     \"",
                            "    Capacity : 931 GB(1953525168 Sectors)", "  HDD2 is present.(SATA3G)",
                            "    Model no.: ST1000DM003-1SB102", "    Serial no.: \"Z1D2X3C4            \"",
                            "    Capacity : 931 GB(1953525168 Sectors)", std::string(83, '-')}));
  EXPECT_EQ(h.core.Devices().FirstFill, 0);  // the first Status page refresh cleared it
  EXPECT_EQ(h.view.appended.size(), 15u);
}

TEST(DayLog, DriveRemovalRaisesAMemberNotificationAndLaterBitsWriteNothing) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  h.Set(status::kState, 0x24);
  h.RunFor(4000);
  EXPECT_EQ(h.Events(), (V{"D1 HDD1 was removed, 2010/05/03 9:00:04"}));
  EXPECT_EQ(h.core.Monitoring().MailCategory, 1);
  ASSERT_FALSE(h.core.Monitoring().MailEventText.empty());
  EXPECT_EQ(h.core.Monitoring().MailEventText[0], "Device1 P0 Hard Disk Drive fail.");
  // The removed drive's identity is still listed in the mail form.
  EXPECT_EQ(h.core.Monitoring().MailEventText[6], "    Model no.: WDC WD10EZEX-00BN5A0");
  h.Set(status::kState, 0x26);  // present rises while absent stays: nothing
  h.RunFor(4000);
  EXPECT_EQ(h.Events().size(), 1u);
}

TEST(DayLog, InitialisedAndFailedLinesKeepTheirExactPunctuation) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  h.Set(status::kState, 0x44);
  h.RunFor(4000);
  h.Set(status::kState, 0x22);
  h.RunFor(4000);
  h.Set(status::kState, 0x82);
  h.RunFor(4000);
  EXPECT_EQ(h.Events(),
            (V{"D1 HDD1 was removed, 2010/05/03 9:00:04", "D1 HDD2 was removed, 2010/05/03 9:00:04",
               "D1 HDD1 was initialized (SATA3G), 2010/05/03 9:00:08", "  Model no.: WDC WD10EZEX-00BN5A0",
               "  Serial no.: \"WD-WCC3F0123456     \"", "  Capacity : 931 GB(1953525168 Sectors)",
               "D1 HDD2 was initialized, (SATA3G), 2010/05/03 9:00:08", "  Model no.: ST1000DM003-1SB102",
               "  Serial no.: \"Z1D2X3C4            \"", "  Capacity : 931 GB(1953525168 Sectors)",
               "D1 HDD2 was failed, Capacity too small.2010/05/03 9:00:12", "  Model no.: ST1000DM003-1SB102",
               "  Serial no.: \"Z1D2X3C4            \"", "  Capacity : 931 GB(1953525168 Sectors)"}));
}

TEST(DayLog, RebuildEndsInOkUnlessItsNinetyNineWasSeen) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  h.Set(status::kProgress, 97);
  h.Set(status::kActivity, 0x01);
  h.RunFor(4000);
  h.RunFor(4000);  // the same percentage again: written once
  h.Set(status::kActivity, 0x00);
  h.RunFor(4000);
  h.Set(status::kProgress, 99);
  h.Set(status::kActivity, 0x02);
  h.RunFor(4000);
  h.Set(status::kActivity, 0x00);
  h.RunFor(4000);
  EXPECT_EQ(h.Events(), (V{"D1 HDD2 --> HDD1 97%, 2010/05/03 9:00:04", "D1 HDD1 OK, HDD2 OK, 2010/05/03 9:00:12",
                           "D1 HDD1 --> HDD2 99%, 2010/05/03 9:00:16", "D1 HDD1 --> HDD2 Done, 2010/05/03 9:00:20"}));
}

TEST(DayLog, ScanStoppedByTheUserIsLoggedAsUserAbort) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  h.Set(status::kProgress, 12);
  h.Set(status::kActivity, 0x81);
  h.RunFor(4000);
  // The stop command goes out on the status thread, then the scan ends.
  h.core.RequestScan({.slot = 0, .drive = 0, .stop = true});
  h.RunFor(4000);
  EXPECT_EQ(h.Events(), (V{"D1 HDD1 Scan 12%, 2010/05/03 9:00:04", "D1 HDD1 Scan User Abort, 2010/05/03 9:00:08"}));
  EXPECT_EQ(h.core.Monitoring().ScanRunning[0], 0);
}

TEST(DayLog, BadSectorsListOnlyTheLastTenAndForgetDownwardCounts) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  for (int k = 0; k < 10; ++k) StoreLE(h.Enc().Status(), status::kBadRing + 4 * k, 4, 1000 + k);
  h.Set(status::kActivity, 0x04);
  h.Set(status::kBadCount, 3);
  h.RunFor(4000);
  h.Set(status::kBadCount, 17);
  h.RunFor(4000);
  h.Set(status::kBadCount, 5);
  h.RunFor(4000);
  h.Set(status::kBadCount, 0);
  h.RunFor(4000);
  EXPECT_EQ(h.core.Monitoring().BadSectorsReported[0], 5);
  EXPECT_EQ(h.Events(), (V{"D1 HDD1 Bad Sector was found. 2010/05/03 9:00:04", "  LBA: 1000", "  LBA: 1001",
                           "  LBA: 1002", "D1 HDD1 Bad Sector was found. 2010/05/03 9:00:08", "  LBA: 1007",
                           "  LBA: 1008", "  LBA: 1009", "  LBA: 1000", "  LBA: 1001", "  LBA: 1002", "  LBA: 1003",
                           "  LBA: 1004", "  LBA: 1005", "  LBA: 1006"}));
}

TEST(DayLog, DayChangeStartsANewFileWithAFullReport) {
  Harness h(kOneEnclosure, {2010, 5, 3, 23, 59, 55, 0});
  h.RunFor(1000);
  h.RunFor(8000);
  const auto next = h.DayFile({2010, 5, 4});
  ASSERT_GE(next.size(), 3u);
  EXPECT_EQ(next[0], std::string(83, '-'));
  EXPECT_EQ(next[1], "Device1 information :");
  EXPECT_EQ(next.back(), std::string(83, '-'));
  EXPECT_EQ(h.DayFile().size(), 15u);  // yesterday's file as last saved
}

TEST(DayLog, StampAtExactMidnightLeavesOutTheTime) {
  FixedDateTimeFormat f;
  EXPECT_EQ(f.Stamp({2010, 5, 4, 0, 0, 0, 0}), "2010/05/04");
  EXPECT_EQ(f.Stamp({2010, 5, 4, 0, 0, 0, 1}), "2010/05/04 0:00:00");
}

TEST(DayLog, EnclosureListChangesWaitForTheNextPassForTheirStamp) {
  Harness h(R"({"enclosures":[{"name":"A","model":"Alpha"},{"name":"B","model":"Beta"},{"name":"C","model":"Gamma"}],
               "disks":[{"drive":0,"enclosure":"A"},{"drive":1,"enclosure":"B"}]})");
  h.RunFor(2000);  // each IDENTIFY probe pauses 500 ms
  h.m.io.SetPlugged("A", false);
  h.RunFor(10000);
  EXPECT_EQ(h.core.Devices().DeviceCount, 1);
  auto ev = h.Events();
  ASSERT_GE(ev.size(), 3u);
  EXPECT_EQ(ev[0], std::string(83, '-'));
  EXPECT_EQ(ev[1].substr(0, 22), "D1 Device was removed.");
  EXPECT_EQ(ev[2].substr(0, 23), "    Device had changed.");
  EXPECT_EQ(h.core.Monitoring().MailEventText[0], "Device1 RAID system fail.");

  // [B] to [B, C]: C shows up on drive 2.
  sim::DiskSpec d;
  d.kind = sim::DiskKind::Enclosure;
  d.enclosure = "C";
  h.m.io.SetDisk(2, d);
  h.core.OnDeviceChange();
  h.RunFor(10000);
  ev = h.Events();
  EXPECT_NE(std::find_if(ev.begin(), ev.end(),
                         [](const std::string& l) { return l.rfind("D2 New Device was found.2010", 0) == 0; }),
            ev.end());
}

// A replugged enclosure whose first status read fails (through a real
// kernel the disk is often not ready yet) still gets its information block,
// with its first record, after "New Device was found".
TEST(DayLog, AnEnclosureFoundWhoseFirstReadFailsGetsItsBlockWithItsFirstRecord) {
  Harness h(R"({"enclosures":[{"name":"E1","transport":"read58","model":"Alpha"}],
               "disks":[{"drive":0,"enclosure":"E1"}]})");
  h.RunFor(2000);
  h.m.io.SetPlugged("E1", false);
  h.core.OnDeviceChange();
  h.RunFor(10000);
  ASSERT_EQ(h.core.Devices().DeviceCount, 0);
  // Back: the identification read and the identity refresh pass, the first
  // poll's read fails.
  sim::FaultSpec f;
  f.kind = "read10";
  f.drive = 0;
  f.from = h.m.io.Elapsed();
  f.after = 2;
  f.count = 1;
  h.m.io.AddFault(f);
  h.m.io.SetPlugged("E1", true);
  h.core.OnDeviceChange();
  h.RunFor(40000);
  const auto ev = h.Events();
  const auto found = std::find_if(ev.begin(), ev.end(),
                                  [](const std::string& l) { return l.rfind("D1 New Device was found.", 0) == 0; });
  ASSERT_NE(found, ev.end());
  const auto block = std::find(found, ev.end(), "Device1 information :");
  ASSERT_NE(block, ev.end()) << ::testing::PrintToString(ev);
  // The group reads as when the first read succeeds: the block right after
  // the change lines, one dash line after it.
  EXPECT_EQ(block[-1].rfind("    Device had changed.", 0), 0u) << ::testing::PrintToString(ev);
  EXPECT_EQ(ev.back(), std::string(83, '-'));
  EXPECT_NE(ev.end()[-2], std::string(83, '-'));
}

TEST(Polling, SixthFailureInARowClearsTheSlotsMonitoringSwitch) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  h.m.io.AddFault({"read10", "fail"});
  std::vector<int> skips;
  for (int i = 0; i < 11; ++i) {
    h.RunFor(4000);
    skips.push_back(h.core.Monitoring().PollSkip[0]);
  }
  EXPECT_EQ(skips, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0}));
  EXPECT_FALSE(h.core.Monitoring().SlotChecked[0]);
  EXPECT_EQ(h.view.panels[4], "Error code 330");
}

TEST(Polling, StateByteZeroIsAcceptedOnlyWhileNoActivityIsFollowed) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  h.Set(status::kState, 0x00);
  h.RunFor(4000);
  EXPECT_EQ(h.core.Monitoring().StatusBlock[0][status::kState], 0x00);
  h.Set(status::kState, 0x22);
  h.Set(status::kActivity, 0x01);
  h.Set(status::kProgress, 50);
  h.RunFor(4000);
  h.Set(status::kState, 0x00);
  h.RunFor(4000);
  EXPECT_EQ(h.core.Monitoring().StatusBlock[0][status::kState], 0x22);
  EXPECT_EQ(h.view.panels[4], "HDD Status = 0x00, Err Count = 0x00");
  EXPECT_EQ(h.core.Monitoring().StatusErrCount, 1);
}

TEST(Polling, DriveLeavingTheArrayKeepsItsIdentity) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  auto& s = h.Enc().Status();
  std::fill(s.begin() + status::kHdd1Model, s.begin() + status::kHdd1Model + 40, 0);
  h.Set(status::kState, 0x20);
  h.RunFor(4000);
  const Sector& kept = h.core.Monitoring().StatusBlock[0];
  EXPECT_EQ(kept[status::kHdd1Model], 'D');  // "WDC ..." in ATA order
  EXPECT_EQ(kept[status::kState], 0x20);
}

TEST(Polling, BothSwitchesClearedReadsNothingButStillRunsTheDetector) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  h.core.SetSlotMonitored(0, false);
  ASSERT_FALSE(h.core.Monitoring().AnySlotChecked());
  h.m.ClearTrace();
  h.Set(status::kState, 0x24);
  h.RunFor(8000);
  EXPECT_TRUE(h.m.TraceLines().empty());
  EXPECT_TRUE(h.Events().empty());
}

// A settings request that waits while polling is disarmed (on real devices
// the device thread runs a long operation meanwhile) is kept when polling
// is armed again, and sent at the next turn.
TEST(Polling, ArmingKeepsPendingSettingsRequests) {
  Harness h(kOneEnclosure);
  h.RunFor(1000);
  h.core.Close();  // polling disarmed
  h.core.RequestSchedule({});
  ASSERT_EQ(h.core.Devices().Detecting.load(), 0);
  h.core.OnPollTimer();
  EXPECT_EQ(h.core.Devices().RequestBits.load(), request_bits::kArmed | request_bits::kBackupPeriod);
}

}  // namespace
}  // namespace raid

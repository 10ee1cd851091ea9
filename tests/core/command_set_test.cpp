// The transport wrappers against the simulated enclosure: what goes on the
// wire, in which order, and how each failure is reported.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/common/page_selection.h"
#include "device/command_set.h"
#include "device/record_layout.h"
#include "monitor/device_messages.h"
#include "monitor/settings_commands.h"
#include "test_support.h"

namespace raid {
namespace {

using test::RecordingUi;
using test::SimMachine;

sim::ScenarioSpec OneEnclosure(const std::string& transport) {
  return test::Scenario(R"({"enclosures":[{"name":"E1","transport":")" + transport +
                        R"("}],"disks":[{"drive":0,"enclosure":"E1"}]})");
}

uint32_t FlagsFor(const std::string& transport) {
  if (transport == "read58") return drive_flags::kRead58;
  if (transport == "ata") return drive_flags::kAtaIdentify;
  if (transport == "vendor1") return drive_flags::kVendor | drive_flags::kVendorShift;
  return drive_flags::kVendor;
}

struct Rig {
  explicit Rig(const std::string& transport) : m(OneEnclosure(transport)), cs(m.io, m.clock, st) {
    st.DeviceCount = 1;
    st.DeviceList[0] = FlagsFor(transport);
  }
  std::vector<std::string> Commands() {
    std::vector<std::string> out;
    for (const auto& l : m.TraceLines())
      if (l.find(" CMD ") != std::string::npos) out.push_back(l.substr(l.find("CMD ") + 4, 11));
    return out;
  }
  sim::Enclosure& Enc() { return *m.io.FindEnclosure("E1"); }
  SimMachine m;
  RecordingUi ui;
  DeviceState st;
  CommandSet cs;
  MonitorState ms;
  PageSelection pages;
  SettingsCommands settings{st, ms, pages, cs, ui};
  // What the layer above does with a result: shows it, and goes on by
  // whether it succeeded.
  bool Shown(const DeviceResult& result) {
    ShowDeviceResult(ui, result);
    return result.ok();
  }
};

TEST(StatusSectorRead, BlockCommandDriveReadsBlock33) {
  Rig r("read58");
  Sector s{};
  ASSERT_TRUE(r.Shown(r.cs.ReadSlotStatus(0, s.data())));
  EXPECT_EQ(s[status::kState], 0x22);
  EXPECT_EQ(r.m.TraceLines(), std::vector<std::string>{"PD0 CDB 28 00 00 00 00 21 00 00 01 00 IN 512 ok"});
  EXPECT_EQ(r.m.io.OpenHandles(), 0u);
}

TEST(StatusSectorRead, ShortOrFailedReplyFailsAndLeavesNoStaleBytes) {
  Rig r("read58");
  r.m.io.AddFault({"read10", "short", -1, 1});
  Sector s;
  s.fill(0xAA);
  EXPECT_FALSE(r.Shown(r.cs.ReadSlotStatus(0, s.data())));
  EXPECT_EQ(r.ui.panels[4], "Error code 330");
  // The half that arrived is the record's; the rest reads as zero.
  EXPECT_EQ(s[status::kState], 0x22);
  EXPECT_TRUE(std::all_of(s.begin() + 256, s.end(), [](uint8_t b) { return b == 0; }));

  r.m.io.AddFault({"read10", "fail", -1, 1});
  s.fill(0xAA);
  EXPECT_FALSE(r.Shown(r.cs.ReadSlotStatus(0, s.data())));
  EXPECT_TRUE(std::all_of(s.begin(), s.end(), [](uint8_t b) { return b == 0; }));
}

TEST(StatusSectorRead, VendorDriveSearchesTheFlashLogForTheNewestRecord) {
  Rig r("vendor2");
  // Three more records logged after the first one.
  for (int i = 0; i < 3; ++i) {
    r.Enc().Status()[status::kProgress] = static_cast<uint8_t>(10 + i);
    r.Enc().LogStatus();
  }
  Sector s{};
  ASSERT_TRUE(r.Shown(r.cs.ReadSlotStatus(0, s.data())));
  EXPECT_EQ(s[status::kProgress], 12);
  EXPECT_EQ(r.cs.FlashRecordAddr, 0x78300u);
  const auto t = r.m.TraceLines();
  // Probe 0x78000 (in use), probe it again, then 0x78100..0x78400, the last
  // erased; then the 512-byte read at 0x78300.
  ASSERT_EQ(t.size(), 7u);
  EXPECT_EQ(t[0], "PD0 CDB FE FE 85 00 07 80 00 00 01 00 IN 512 ok");
  EXPECT_EQ(t[1], "PD0 CDB FE FE 85 00 07 80 00 00 01 00 IN 512 ok");
  EXPECT_EQ(t[2], "PD0 CDB FE FE 85 00 07 81 00 00 01 00 IN 512 ok");
  EXPECT_EQ(t[5], "PD0 CDB FE FE 85 00 07 84 00 00 01 00 IN 512 ok");
  EXPECT_EQ(t[6], "PD0 CDB FE FE 85 00 07 83 00 00 00 00 IN 512 ok");
}

TEST(StatusSectorRead, FailuresNameTheirTransport) {
  Rig block("read58");
  block.m.io.AddFault({"read10", "fail"});
  Sector s{};
  EXPECT_FALSE(block.Shown(block.cs.ReadSlotStatus(0, s.data())));
  EXPECT_EQ(block.ui.panels[4], "Error code 330");

  Rig vendor("vendor1");
  vendor.m.io.AddFault({"vendor", "fail"});
  EXPECT_FALSE(vendor.Shown(vendor.cs.ReadSlotStatus(0, s.data())));
  EXPECT_EQ(vendor.ui.panels[4], "Read Error for USB");
  EXPECT_EQ(vendor.m.io.OpenHandles(), 0u);
}

TEST(StatusSectorRead, ShortHungAndVanishedRepliesFailWithinTheTimeout) {
  Sector s{};
  {
    Rig r("read58");
    r.m.io.AddFault({"read10", "short"});
    EXPECT_FALSE(r.Shown(r.cs.ReadSlotStatus(0, s.data())));
    EXPECT_EQ(r.ui.panels[4], "Error code 330");
  }
  {
    Rig r("read58");
    r.m.io.AddFault({"read10", "hang"});
    const int64_t before = r.m.clock.MonotonicMs();
    EXPECT_FALSE(r.Shown(r.cs.ReadSlotStatus(0, s.data())));
    EXPECT_EQ(r.m.clock.MonotonicMs() - before, 2000);  // charged, not slept
  }
  {
    // Opened, then the enclosure is unplugged before the request.
    Rig r("read58");
    ASSERT_NE(r.cs.OpenDevice(0), kInvalidHandle);
    r.m.io.SetPlugged("E1", false);
    EXPECT_FALSE(r.cs.ReadSectors(r.cs.Handle(), 33, s.data(), 1));
    r.cs.CloseDevice();
    EXPECT_FALSE(r.Shown(r.cs.ReadSlotStatus(0, s.data())));
    ASSERT_EQ(r.ui.boxes.size(), 1u);
    EXPECT_EQ(r.ui.boxes[0].text, "Invalid Drive");
  }
}

TEST(StatusSectorRead, NoDeviceIsReportedTwice) {
  Rig r("read58");
  r.st.DeviceCount = 0;
  Sector s{};
  EXPECT_FALSE(r.Shown(r.cs.ReadSlotStatus(0, s.data())));
  EXPECT_EQ(r.ui.panels[4], "Device not found!!!");
  ASSERT_EQ(r.ui.boxes.size(), 1u);
  EXPECT_EQ(r.ui.boxes[0].text, "No Device found !");
  EXPECT_EQ(r.ui.boxes[0].caption, "Message");
  EXPECT_TRUE(r.m.TraceLines().empty());
}

TEST(SpiWrapper, BlockCommandWriteBelowProtectedAreaIsBracketedInOrder) {
  Rig r("read58");
  std::vector<uint8_t> data(512);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(r.Shown(r.cs.WriteSpi(0, 0x1000, 512, data.data())));
  // Control 3, control 4, two pages, control 5, control 2.
  EXPECT_EQ(r.Commands(), (std::vector<std::string>{"33 58 03 01", "33 58 04 01", "33 58 02 02", "33 58 02 02",
                                                    "33 58 04 00", "33 58 03 00"}));
  EXPECT_EQ(r.cs.ProgressValue.load(), 1u);
  EXPECT_FALSE(r.Enc().SpiMode());
  EXPECT_EQ(r.Enc().Flash().Peek(0x1000 + 300), static_cast<uint8_t>(300 * 7));
  const auto t = r.m.TraceLines();
  EXPECT_NE(std::find(t.begin(), t.end(), "PD0 CMD 33 58 02 02 00 11 00 00 07 0E 15 1C 23 2A 31 38 3F 46 4D sum ok"),
            t.end());
}

TEST(SpiWrapper, WriteAtOrAboveProtectedAreaSendsNoOpenOrClose) {
  Rig r("ata");
  std::vector<uint8_t> data(256, 0x5A);
  ASSERT_TRUE(r.Shown(r.cs.WriteSpi(0, 0xC000, 256, data.data())));
  const auto t = r.m.TraceLines();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0], "PD0 ATA 03 00 00 00 00 00 88 NONE 0 ok");
  EXPECT_EQ(t[1], "PD0 CDB 2A 00 00 00 00 14 00 00 01 00 OUT 512 ok");
  EXPECT_EQ(t[3], "PD0 ATA 02 00 00 00 00 00 88 NONE 0 ok");
}

TEST(SpiWrapper, AddressWalkStopsAtFirstFailureButStillClosesSpiMode) {
  Rig r("read58");
  // Control 3 and the first page pass; the second page fails.
  sim::FaultSpec f;
  f.kind = "write10";
  f.after = 2;
  f.count = 1;
  r.m.io.AddFault(f);
  std::vector<uint8_t> data(1024, 0);
  EXPECT_FALSE(r.Shown(r.cs.WriteSpi(0, 0x20000, 1024, data.data())));
  EXPECT_EQ(r.ui.panels[4], "Error code 201");
  EXPECT_EQ(r.Commands(), (std::vector<std::string>{"33 58 03 01", "33 58 02 02", "33 58 02 02", "33 58 03 00"}));
  EXPECT_FALSE(r.Enc().SpiMode());
  EXPECT_EQ(r.m.io.OpenHandles(), 0u);

  // A failing closing control fails the whole wrapper.
  Rig c("read58");
  sim::FaultSpec last;
  last.kind = "write10";
  last.after = 2;
  c.m.io.AddFault(last);
  EXPECT_FALSE(c.Shown(c.cs.WriteSpi(0, 0x20000, 256, data.data())));
}

TEST(SpiWrapper, VendorDriveSendsNoModeControlsAndEveryWrittenByteCanBeVerified) {
  Rig r("vendor1");
  std::vector<uint8_t> data(4096);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i ^ 0x3C);
  const uint32_t before = r.Enc().Flash().UnverifiedBytes();  // the status log
  ASSERT_TRUE(r.Shown(r.cs.EraseSpi(0, 0x10000, 4096)));
  ASSERT_TRUE(r.Shown(r.cs.WriteSpi(0, 0x10000, 4096, data.data())));
  EXPECT_EQ(r.Enc().Flash().UnverifiedBytes(), before + 4096u);
  std::vector<uint8_t> back(4096);
  ASSERT_TRUE(r.Shown(r.cs.ReadSpi(0, 0x10000, 4096, back.data())));
  EXPECT_EQ(back, data);
  EXPECT_EQ(r.Enc().Flash().UnverifiedBytes(), before);
  const auto t = r.m.TraceLines();
  EXPECT_EQ(t[0], "PD0 CDB FE 81 00 01 00 00 00 00 00 00 IN 8 ok");
  EXPECT_EQ(t[1], "PD0 CDB FE 89 00 01 00 00 00 00 00 00 OUT 256 ok");
  EXPECT_EQ(t.back(), "PD0 CDB FE 85 00 01 0E 00 00 00 00 00 IN 512 ok");
  EXPECT_EQ(t.size(), 1u + 16u + 8u);
}

TEST(SpiWrapper, AtaDriveReadsThroughCommand88ThenBlock60) {
  Rig r("ata");
  const uint8_t pattern[4] = {1, 2, 3, 4};
  r.Enc().Flash().Fill(0x20200, pattern, 4);
  std::vector<uint8_t> out(512);
  ASSERT_TRUE(r.Shown(r.cs.ReadSpi(0, 0x20200, 512, out.data())));
  EXPECT_EQ(out[3], 4);
  const auto t = r.m.TraceLines();
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[1], "PD0 ATA 01 00 00 02 02 E0 88 NONE 0 ok");
  EXPECT_EQ(t[2], "PD0 CDB 28 00 00 00 00 3C 00 00 01 00 IN 512 ok");
}

TEST(SpiWrapper, PreambleRefusesWithoutDeviceOrHeldSlot) {
  Rig r("read58");
  uint8_t b[512];
  EXPECT_FALSE(r.Shown(r.cs.ReadSpi(kNoOperationSlot, 0, 512, b)));
  EXPECT_EQ(r.ui.panels[4], "No Upgrade Mode!!!");
  ASSERT_EQ(r.ui.boxes.size(), 1u);
  EXPECT_EQ(r.ui.boxes[0].text, "No Upgrade Mode !");
  r.st.DeviceCount = 0;
  EXPECT_FALSE(r.Shown(r.cs.EraseSpi(0, 0, 4096)));
  EXPECT_EQ(r.ui.panels[4], "Device not found!!!");
  EXPECT_TRUE(r.m.TraceLines().empty());
}

TEST(SpiWrapper, ModeControlsAndTheirFailureTexts) {
  Rig vendor("vendor2");
  ASSERT_NE(vendor.cs.OpenDevice(0), kInvalidHandle);
  EXPECT_TRUE(vendor.Shown(vendor.cs.SpiControl(0, spi_control::kMode11)));  // vendor drive: nothing sent
  EXPECT_TRUE(vendor.m.TraceLines().empty());

  Rig ata("ata");
  ata.m.io.AddFault({"ata", "fail"});
  EXPECT_FALSE(ata.Shown(ata.cs.SpiControl(0, spi_control::kMode10)));
  EXPECT_EQ(ata.ui.panels[4], "VU command 0x88 FEA 10 Error");

  Rig block("read58");
  block.cs.SeedRandom(7);
  CommandSet probe(block.m.io, block.m.clock, block.st);
  probe.SeedRandom(7);
  block.m.io.AddFault({"write10", "fail"});
  EXPECT_FALSE(block.Shown(block.cs.SpiControl(0, spi_control::kMode11)));
  EXPECT_EQ(block.ui.panels[4], "Error code " + std::to_string(probe.NextRandomBlock()) + "1");
}

TEST(SpiWrapper, RandomCommandBlocksStayWithin3To130) {
  Rig r("read58");
  for (int i = 0; i < 2000; ++i) {
    const uint32_t b = r.cs.NextRandomBlock();
    ASSERT_GE(b, 3u);
    ASSERT_LE(b, 130u);
  }
}

TEST(NorFlashRules, ProgramOnlyClearsBitsAndWritesNeedSpiModeAndTheOpenArea) {
  sim::NorFlash f;
  const uint8_t a = 0xF0, b = 0x3C;
  f.Program(0x100, &a, 1);
  f.Program(0x100, &b, 1);
  EXPECT_EQ(f.Peek(0x100), 0x30);
  f.EraseSector(0x100);
  EXPECT_EQ(f.Peek(0x100), 0xFF);
  EXPECT_FALSE(f.Programmed(0x100));

  // A write command sector sent without entering SPI access mode is refused.
  Rig r("read58");
  CommandBlock blk;
  blk.SetHeader(cmd::kSpiWrite, 2);
  blk.SetAddress(0x20000);
  blk.Bytes()[cmd::kWriteMark] = cmd::kWriteMarkValue;
  blk.Bytes()[7] = 0x00;
  blk.UpdateChecksum();
  ASSERT_NE(r.cs.OpenDevice(0), kInvalidHandle);
  EXPECT_FALSE(r.cs.WriteSectors(r.cs.Handle(), 20, blk.Bytes().data(), 1));
  // A bad checksum is refused too, and the trace says so.
  blk.Bytes()[8] = 1;
  EXPECT_FALSE(r.cs.WriteSectors(r.cs.Handle(), 20, blk.Bytes().data(), 1));
  EXPECT_NE(r.m.TraceLines().back().find("sum bad"), std::string::npos);
  r.cs.CloseDevice();

  // Below 0xC000 the area must be opened first: erase without control 4.
  Rig low("read58");
  ASSERT_TRUE(low.Shown(low.cs.EraseSpi(0, 0xC000, 4096)));
  EXPECT_TRUE(low.Shown(low.cs.EraseSpi(0, 0x0000, 4096)));  // opened by the wrapper itself
  EXPECT_EQ(low.Enc().Flash().EraseCount(), 2u);
}

TEST(SettingsCommands, ScanCommandCarriesDriveAndSectorRangeAndLocksTheControls) {
  Rig r("read58");
  ASSERT_TRUE(r.settings.SendScanCommand({.slot = 0, .drive = 1, .stop = true}, 1953525168ULL - 1));
  ASSERT_EQ(r.Enc().AcceptedCommands().size(), 1u);
  const Sector& s = r.Enc().AcceptedCommands()[0];
  EXPECT_EQ(s[2], 0x24);
  EXPECT_EQ(s[3], 1);
  EXPECT_EQ(s[4], 1);
  EXPECT_EQ(LoadLE(s, 7, 6), 0u);
  EXPECT_EQ(LoadLE(s, 13, 6), 1953525167ULL);
  EXPECT_EQ(r.settings.HoldOff().SettleCounter[0], 4);
  EXPECT_TRUE(r.settings.TakeScanStops()[0]);
  EXPECT_FALSE(r.settings.HoldOff().OptionBoxesEnabled);

  OperationLease lease = r.st.Lease.Take();  // an operation holds a slot: refused, nothing sent
  lease.Hold(0);
  EXPECT_FALSE(r.settings.SendScanCommand({}, 0));
  EXPECT_EQ(r.Enc().AcceptedCommands().size(), 1u);
}

TEST(SettingsCommands, BackupPeriodIsStoredByTheControllerAndShown) {
  Rig r("read58");
  const ScheduleSetting thirty{.slot = 0, .on = true, .minutes = 30};
  ASSERT_TRUE(r.settings.SendBackupPeriod(thirty));
  EXPECT_EQ(r.Enc().BackupOn(), 1);
  EXPECT_EQ(r.Enc().BackupMinutes(), 30);
  r.ms.SlotChecked = {false, false};  // no slot monitored: silently refused
  EXPECT_FALSE(r.settings.SendBackupPeriod(thirty));
  EXPECT_TRUE(r.ui.boxes.empty());
  r.ms.SlotChecked = {true, false};
  r.pages.SetSelecting(true);
  EXPECT_FALSE(r.settings.SendBackupPeriod(thirty));
}

}  // namespace
}  // namespace raid

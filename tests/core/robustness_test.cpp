// Damaged and random status records and identification sectors must never
// crash the program or break the line structure of the log and the mail.
#include <gtest/gtest.h>

#include <random>

#include "tests/core/core_access.h"
#include "core_harness.h"
#include "device/record_layout.h"

namespace raid {
namespace {

bool OneLine(const std::string& s) { return s.find('\n') == std::string::npos && s.find('\r') == std::string::npos; }

TEST(DamagedRecords, RandomRecordsKeepEveryLogAndMailLineWhole) {
  test::Harness h(test::kOneEnclosure);
  h.RunFor(1000);
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; ++round) {
    Sector& s = h.Enc().Status();
    for (auto& b : s) b = static_cast<uint8_t>(rng());
    h.Enc().LogStatus();
    Sector& id = CoreTestAccess::Detector(h.core).PrevIdentSector[0];
    for (size_t i = 0; i < 512; i += 1 + rng() % 7) id[i] = static_cast<uint8_t>(rng());
    h.RunFor(4000);
    CoreTestAccess::Report(h.core).BuildDeviceReport(1 + rng() % 4, 0, rng() % 2);
  }
  for (const auto& l : h.core.Log().DayLog()) ASSERT_TRUE(OneLine(l)) << l;
  for (const auto& l : h.core.Monitoring().MailEventText) ASSERT_TRUE(OneLine(l)) << l;
  EXPECT_GT(h.core.Log().DayLog().size(), 20u);
  // The file holds exactly the buffer's lines.
  EXPECT_EQ(h.DayFile(), h.core.Log().DayLog());
}

TEST(DamagedRecords, GarbageRepliesDuringDetectionLeaveTheMachineUsable) {
  test::Harness h(R"({"seed":9,"enclosures":[{"name":"E1","transport":"vendor2"}],
    "disks":[{"drive":0,"enclosure":"E1"},{"drive":1}],
    "faults":[{"kind":"any","mode":"corrupt","count":40,"until":20},{"kind":"scsi","mode":"short","after":3,"count":5,"until":20}]})");
  h.RunFor(30000);
  for (const auto& l : h.core.Log().DayLog()) ASSERT_TRUE(OneLine(l)) << l;
  // Once the faults are over, unplugging and plugging the enclosure back
  // in finds it again on its drive, and it is polled.
  h.m.io.SetPlugged("E1", false);
  h.RunFor(10000);
  h.m.io.SetPlugged("E1", true);
  h.RunFor(12000);
  ASSERT_EQ(h.core.Devices().DeviceCount, 1);
  EXPECT_EQ(drive_flags::Drive(h.core.Devices().DeviceList[0]), 0);
  EXPECT_EQ(h.core.Monitoring().PollSkip[0], 0);
  EXPECT_EQ(h.core.Monitoring().StatusBlock[0], h.Enc().Status());
}

}  // namespace
}  // namespace raid
